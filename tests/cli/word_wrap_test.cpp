// Report sentences broken at words: within the width, a hanging indent where there is room for
// it, quoted texts and long words whole.
#include <gtest/gtest.h>

#include "cli/word_wrap.h"

namespace fg {
namespace {

TEST(WordWrap, BreaksAtWordsWithinTheWidth) {
  EXPECT_EQ(WrapWords("Verdict: ", "installable on WX2040", 9, 40),
            "Verdict: installable on WX2040\n");
  // 30 columns, indent 4: the first line takes the label, the others the indent.
  EXPECT_EQ(WrapWords("Label: ", "one two three four five six seven eight nine", 4, 30),
            "Label: one two three four five\n"
            "    six seven eight nine\n");
  // Blanks in the text do not survive as empty words.
  EXPECT_EQ(WrapWords("", "  a   b  ", 0, 30), "a b\n");
}

TEST(WordWrap, KeepsQuotedTextsAndLongWordsWhole) {
  EXPECT_EQ(WrapWords("", "no \"# FileStart\" line", 0, 8), "no\n\"# FileStart\"\nline\n");
  EXPECT_EQ(WrapWords("At: ", "/a/very/long/path/that/does/not/fit here", 2, 22),
            "At: /a/very/long/path/that/does/not/fit\n  here\n");
}

TEST(WordWrap, ANarrowWidthDropsTheIndent) {
  // 14 blanks would leave 5 of 19 columns: the lines after the first start at column 0.
  EXPECT_EQ(WrapWords("Verdict:      ", "not installable on WX2040", 14, 19),
            "Verdict:      not\ninstallable on\nWX2040\n");
}

TEST(WordWrap, ReportsOutsideATerminalAreOneHundredColumnsWide) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(ReportColumns(file), 100u);
  std::fclose(file);
}

}  // namespace
}  // namespace fg
