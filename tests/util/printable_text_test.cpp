// Text from outside made safe for a log line or a terminal: nothing may move the cursor, start an
// escape sequence or break the line, and a backslash stays readable as what it was.
#include "util/printable_text.h"

#include <gtest/gtest.h>

#include <string>

namespace fg {
namespace {

TEST(PrintableText, NamesKeepTheirCharactersButNoControls) {
  const struct {
    const char* name;
    const char* shown;
  } cases[] = {
      {"/tmp/fw 1.fq", "/tmp/fw 1.fq"},
      {"/tmp/a\x1b[2Jb.fq", "/tmp/a\\x1B[2Jb.fq"},
      {"/tmp/two\nlines.fq", "/tmp/two\\x0Alines.fq"},
      {"C:\\fw\\wx2040.fq", "C:\\fw\\wx2040.fq"},          // a Windows path stays readable
      {"/tmp/M\xC3\xBCller.fq", "/tmp/M\xC3\xBCller.fq"},  // UTF-8 text stays
      {"/tmp/\xC2\x9B" "2J.fq", "/tmp/\\xC2\\x9B2J.fq"},   // C1 CSI is a control
      {"/tmp/\xC3(.fq", "/tmp/\\xC3(.fq"},                 // a broken sequence
      {"/tmp/\xC0\xAF.fq", "/tmp/\\xC0\\xAF.fq"},          // an overlong "/"
      {"/tmp/del\x7F.fq", "/tmp/del\\x7F.fq"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeName(c.name), c.shown) << c.shown;
  EXPECT_EQ(EscapeName(nullptr), "");
}

TEST(PrintableText, BytesKeepOnlyPrintableAscii) {
  const char reply[] = "OK\\\x00\xC3\xBC\r\n";
  EXPECT_EQ(EscapeBytes(reply, sizeof reply - 1), "OK\\x5C\\x00\\xC3\\xBC\\x0D\\x0A");
}

}  // namespace
}  // namespace fg
