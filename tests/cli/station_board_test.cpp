// The station's board: its rows fitted to narrow terminals, a long session keeping every row at
// work in sight, and off a terminal one line per event with the run's own states worded for the
// station.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/line_fitting.h"
#include "cli/run_board.h"
#include "cli/station_board.h"

namespace fg {
namespace {

std::vector<StationRow> SomeRows() {
  return {{"SN-000123", "WX2040", "programming", 42},
          {"B7", "WX2050", "refused: not a WX2040", -1},
          {"C", "", "failed: the instrument did not answer in time", -1}};
}

TEST(StationBoardLayout, EveryLineFitsAndColumnsGoBeforeTheStateIsCut) {
  const std::vector<StationRow> rows = SomeRows();
  for (size_t limit : {19u, 25u, 30u, 40u, 79u, 199u}) {
    SCOPED_TRACE(limit);
    const std::vector<std::string> lines = LayOutStation(rows, "1 done, 0 failed", limit);
    ASSERT_EQ(lines.size(), 5u);  // heading, three rows, totals
    for (const std::string& line : lines) EXPECT_LE(VisibleColumns(line), limit) << line;
    // Where the narrowest columns leave room for it, a row at work shows its whole state.
    if (limit >= 27) {
      EXPECT_NE(lines[1].find("programming 42 %"), std::string::npos) << lines[1];
    }
  }
  const std::vector<std::string> wide = LayOutStation(rows, "", 79);
  EXPECT_EQ(wide[0], "SERIAL     MODEL   STATE");
  EXPECT_EQ(wide[1], "SN-000123  WX2040  programming 42 %");
  EXPECT_EQ(wide[3], "C          -       failed: the instrument did not answer in time");
  // Narrow: the model column goes before the state is cut, and a cut ends at a word.
  const std::vector<std::string> narrow = LayOutStation(rows, "", 30);
  EXPECT_EQ(narrow[1], "SN-000123 programming 42 %");
  EXPECT_EQ(narrow[3], "C         failed: the");
  // Too narrow even for the serials and a few letters of the state: nothing is drawn.
  EXPECT_TRUE(LayOutStation(rows, "", 14).empty());
}

TEST(StationBoardLayout, ALongSessionShowsEveryRowAtWorkAndTheLatestFinished) {
  std::vector<StationRow> rows;
  for (int i = 0; i < 40; ++i) {
    const bool atWork = i == 0 || i == 5;
    rows.push_back({"S" + std::to_string(i), "WX2040", atWork ? kStationWaiting : "done", -1});
  }
  const std::vector<std::string> lines = LayOutStation(rows, "38 done", 80);
  ASSERT_EQ(lines.size(), 1 + kStationShownRows + 2);
  EXPECT_EQ(lines[1].rfind("S0 ", 0), 0u);
  EXPECT_EQ(lines[2].rfind("S5 ", 0), 0u);
  EXPECT_EQ(lines[3].rfind("S22 ", 0), 0u);  // the 18 latest that finished follow
  EXPECT_EQ(lines[kStationShownRows].rfind("S39 ", 0), 0u);
  EXPECT_EQ(lines[kStationShownRows + 1],
            "(20 more that finished: see the summary at the end)");
  EXPECT_EQ(lines.back(), "38 done");
}

std::string ReadAll(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buffer[512];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
  return text;
}

TEST(StationBoardEvents, OffATerminalEachChangeIsOneLineAndProgressGoesByTenths) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  {
    StationBoardSettings settings;
    settings.out = out;
    StationBoard board(settings);
    EXPECT_FALSE(board.redrawsInPlace());
    const size_t row = board.AddRow("S1", "WX2040", kStationWaiting);
    RunBoard& run = board;
    run.SetState(row, kRowConnecting);  // still waiting: an up-to-date one is never switched
    run.SetState(row, kRowUpdating);
    run.SetState(row, kRowUpdating);
    for (int32_t p : {0, 3, 9, 10, 15, 27, 100}) run.SetProgress(row, p, "MAIN", "");
    run.SetState(row, kRowCompleted);  // the station words the end itself
    run.LogLine(row, "Connecting ... OK");
    board.SetOutcome(row, "done");
    board.SetTotals("1 done");
    board.Close();
    EXPECT_EQ(board.rows()[0].state, "done");
  }
  EXPECT_EQ(ReadAll(out),
            "S1 WX2040: waiting\n"
            "S1 WX2040: switching\n"
            "S1 WX2040: programming 0 %\n"
            "S1 WX2040: programming 10 %\n"
            "S1 WX2040: programming 27 %\n"
            "S1 WX2040: programming 100 %\n"
            "S1 WX2040: done\n");
  std::fclose(out);
}

bool g_stopped = false;

TEST(StationBoardEvents, OnATerminalAStopHoldsTheBoardAndCloseDrawsItAnewBelow) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  g_stopped = false;
  StationBoardSettings settings;
  settings.out = out;
  settings.isTerminal = true;
  settings.width = WidthSource{[](void*) { return 60; }, nullptr};
  settings.stopped = [] { return g_stopped; };
  StationBoard board(settings);
  EXPECT_TRUE(board.redrawsInPlace());
  const size_t row = board.AddRow("S1", "WX2040", kStationWaiting);
  board.SetProgress(row, 40, "MAIN", "");
  const std::string before = ReadAll(out);
  // Drawn in place: the second drawing goes back over the first.
  EXPECT_NE(before.find("\033[2F"), std::string::npos);
  EXPECT_NE(before.find("programming 40 %"), std::string::npos);

  // The stop notice goes below the board; nothing may go back over it.
  g_stopped = true;
  std::fseek(out, 0, SEEK_END);
  std::fputs("\nstopping\n", out);
  const long held = std::ftell(out);
  board.SetProgress(row, 70, "MAIN", "");
  board.SetOutcome(row, "done");
  board.SetTotals("1 done");
  std::fflush(out);
  EXPECT_EQ(std::ftell(out), held);

  board.Close();
  const std::string all = ReadAll(out);
  const std::string after = all.substr(static_cast<size_t>(held));
  EXPECT_EQ(after.find("\033["), after.find("\033[K"));  // erased lines, never a move up
  EXPECT_NE(after.find("SERIAL"), std::string::npos) << after;
  EXPECT_NE(after.find("S1      WX2040  done"), std::string::npos) << after;
  EXPECT_NE(after.find("1 done"), std::string::npos) << after;
  std::fclose(out);
}

}  // namespace
}  // namespace fg
