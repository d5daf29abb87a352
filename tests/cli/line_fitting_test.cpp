// The fitting of what a terminal shows to its width: the single instrument's progress line, the
// board's rows and the summary table, each over the widths 20, 40, 80 and 200.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/board_layout.h"
#include "cli/line_fitting.h"
#include "cli/summary_table.h"

namespace fg {
namespace {

TEST(LineFitting, CutsNeverSplitACharacterAndPreferWholeWords) {
  struct Case {
    const char* text;
    size_t limit;
    const char* hard;  // CutToColumns
    const char* word;  // CutAtWord
  } cases[] = {
      {"failed, 0x10008", 15, "failed, 0x10008", "failed, 0x10008"},
      {"failed, 0x10008", 14, "failed, 0x1000", "failed"},
      {"failed, 0x10008", 7, "failed,", "failed"},
      {"failed, 0x10008", 6, "failed", "failed"},
      {"checks passed", 7, "checks ", "checks"},
      {"programming", 6, "progra", "progra"},  // no word fits: cut hard
      {"", 3, "", ""},
      {"gr\xC3\xBC\xC3\x9F", 3, "gr\xC3\xBC", "gr\xC3\xBC"},  // two bytes, one column each
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " in " + std::to_string(c.limit));
    EXPECT_EQ(CutToColumns(c.text, c.limit), c.hard);
    EXPECT_EQ(CutAtWord(c.text, c.limit), c.word);
  }
  EXPECT_EQ(VisibleColumns("gr\xC3\xBC\xC3\x9F"), 4u);
}

TEST(LineFitting, TheLastColumnIsNeverUsedAndAnUnknownWidthHasNoLimit) {
  EXPECT_EQ(RedrawLimit(20), 19u);
  EXPECT_EQ(RedrawLimit(1), 0u);
  EXPECT_GT(RedrawLimit(0), 100000u);
}

TEST(LineFitting, ProgressLineKeepsTheOpenLogTextAndDropsFiguresByImportance) {
  ProgressFigures withImage;
  withImage.percent = 42;
  withImage.image = "MAIN";
  withImage.doneBytes = 655360;
  withImage.totalBytes = 2752512;
  withImage.seconds = 73;
  ProgressFigures percentOnly;  // no plan: no image and no bytes
  percentOnly.percent = 7;
  percentOnly.seconds = 5;
  const std::string open = "Updating ... ";
  struct Case {
    const ProgressFigures* figures;
    std::string prefix;
    int columns;
    std::string expected;
  } cases[] = {
      {&withImage, open, 200, "Updating ... [ 42%] MAIN     655360/2752512 bytes  1:13"},
      {&withImage, open, 80, "Updating ... [ 42%] MAIN     655360/2752512 bytes  1:13"},
      {&withImage, open, 56, "Updating ... [ 42%] MAIN     655360/2752512 bytes  1:13"},
      {&withImage, open, 55, "Updating ... [ 42%] MAIN 655360/2752512 1:13"},
      {&withImage, open, 40, "Updating ... [ 42%] MAIN 1:13"},
      {&withImage, open, 25, "Updating ... [ 42%] MAIN"},
      {&withImage, open, 24, "Updating ... [ 42%]"},
      {&withImage, open, 20, "Updating ... [ 42%]"},
      {&withImage, open, 19, ""},  // not even the open text and the percent
      {&withImage, "", 20, "[ 42%] MAIN 1:13"},
      {&withImage, "", 40, "[ 42%] MAIN 655360/2752512 1:13"},
      {&withImage, "", 0, "[ 42%] MAIN     655360/2752512 bytes  1:13"},  // width unknown
      {&percentOnly, open, 200, "Updating ... [  7%]  0:05"},
      {&percentOnly, open, 26, "Updating ... [  7%]  0:05"},
      {&percentOnly, open, 25, "Updating ... [  7%] 0:05"},
      {&percentOnly, open, 20, "Updating ... [  7%]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("'" + c.prefix + "' at " + std::to_string(c.columns));
    const std::string line = FitProgressLine(c.prefix, *c.figures, RedrawLimit(c.columns));
    EXPECT_EQ(line, c.expected);
    if (c.columns > 0) {
      EXPECT_LT(VisibleColumns(line), static_cast<size_t>(c.columns));
    }
  }
}

TEST(BoardLayout, ShortNamesAreTheSerialNumbersWhereTheyTellTheInstrumentsApart) {
  EXPECT_EQ(ShortResourceNames({"USB0::0x2E5B::0x3A01::SIM2040A::INSTR",
                                "USB1::0x2E5B::0x3A02::LAB7::0::INSTR", "TCPIP0::10.0.0.2::INSTR",
                                "USB0::0x2E5B::0x3A01::::INSTR"}),
            (std::vector<std::string>{"SIM2040A", "LAB7", "TCPIP0::10.0.0.2::INSTR",
                                      "USB0::0x2E5B::0x3A01::::INSTR"}));
  // One serial number on two models: both keep their whole names.
  EXPECT_EQ(ShortResourceNames({"USB0::0x2E5B::0x3A01::X1::INSTR",
                                "USB0::0x2E5B::0x3A02::X1::INSTR",
                                "USB0::0x2E5B::0x3A02::X2::INSTR"}),
            (std::vector<std::string>{"USB0::0x2E5B::0x3A01::X1::INSTR",
                                      "USB0::0x2E5B::0x3A02::X1::INSTR", "X2"}));
}

TEST(BoardLayout, RowsNarrowStepByStepAndGiveWayToPlainLinesBelowTheMinimum) {
  const std::string a = "USB0::0x2E5B::0x3A01::A::INSTR";
  const std::string b = "USB0::0x2E5B::0x3A01::B::INSTR";
  const std::vector<BoardRowFields> rows = {
      {a, "A", "MAIN", 42, "programming"},
      {b, "B", "", 0, "failed, 0x10008"},
  };
  // Resource column, two blanks, image column of 8, percent, state: 63 columns at most.
  const std::vector<std::string> whole = {
      a + "  MAIN       42%  programming",
      b + "  -           0%  failed, 0x10008",
  };
  struct Case {
    int columns;
    std::vector<std::string> expected;
  } cases[] = {
      {200, whole},
      {80, whole},
      {64, whole},
      {63, {"A  MAIN       42%  programming", "B  -           0%  failed, 0x10008"}},
      {40, {"A  MAIN       42%  programming", "B  -           0%  failed, 0x10008"}},
      {34, {"A MAIN     42% programming", "B -         0% failed, 0x10008"}},
      {30, {"A  42% programming", "B   0% failed, 0x10008"}},
      {20, {"A  42% programming", "B   0% failed"}},
      {14, {"A  42% progra", "B   0% failed"}},
      {13, {}},  // below the minimum: plain lines
  };
  EXPECT_EQ(BoardMinColumns(rows), 13u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.columns);
    const std::vector<std::string> lines = LayOutBoard(rows, RedrawLimit(c.columns));
    EXPECT_EQ(lines, c.expected);
    for (const std::string& line : lines) EXPECT_LT(line.size(), static_cast<size_t>(c.columns));
  }
}

TEST(SummaryTable, ATableWhereItFitsElseOneWholeRecordPerLine) {
  const std::vector<SummaryRecord> records = {
      {"USB0::0x2E5B::0x3A01::A::INSTR", "completed", 0, 4.66},
      {"USB0::0x2E5B::0x3A02::C::INSTR", "failed", 0x10008, 12.0},
  };
  const std::string table =
      "RESOURCE                        RESULT         ERROR    SECONDS\n"
      "USB0::0x2E5B::0x3A01::A::INSTR  completed      0x0000       4.7\n"
      "USB0::0x2E5B::0x3A02::C::INSTR  failed         0x10008     12.0\n";
  const std::string records1 =
      "USB0::0x2E5B::0x3A01::A::INSTR: completed, 0x0000, 4.7 s\n"
      "USB0::0x2E5B::0x3A02::C::INSTR: failed, 0x10008, 12.0 s\n";
  struct Case {
    int columns;
    const std::string& expected;
  } cases[] = {{0, table}, {200, table}, {80, table}, {64, table},
               {63, records1}, {40, records1}, {20, records1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.columns);
    EXPECT_EQ(SummaryText(records, RedrawLimit(c.columns)), c.expected);
  }
}

}  // namespace
}  // namespace fg
