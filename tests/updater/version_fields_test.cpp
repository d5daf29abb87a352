// Installed versions out of the identification reply, and their text order.
#include "updater/version_fields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace fg {
namespace {

TEST(VersionFields, ExtractorsTakeTheirSubFieldOfTheFourthField) {
  const struct {
    const char* reply;
    const char* field0;
    const char* field2;
    const char* field3;
    const char* field4;
    const char* field5;
  } cases[] = {
      {"VANDRELL,WX2040,SN1,2.10-0-01-02-03-0105\n", "2.10", "01", "02", "03", "0105"},
      {"WRITER,WX2050,SN1,1.05-XX-07", "1.05", "07", "", "", ""},
      // A short sub-field brings the following hyphen along; a reply that ends early gives less.
      {"A,B,C,1-2-3-4-5-6", "1-2-", "3-", "4-", "5-", "6"},
      {"A,B,C,9", "9", "", "", "", ""},
      {"A,B,C,", "", "", "", "", ""},
      // Not enough commas or hyphens: the empty text.
      {"A,B,2.10-0-01-02-03-0105", "", "", "", "", ""},
      {"", "", "", "", "", ""},
      {"A,B,C,D,E-F", "D,E-", "", "", "", ""},  // fields beyond the fourth are plain text
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    char out[kVersionTextSize];
    const std::pair<VersionExtractor, const char*> expected[] = {
        {ExtractVersionField0, c.field0}, {ExtractVersionField2, c.field2},
        {ExtractVersionField3, c.field3}, {ExtractVersionField4, c.field4},
        {ExtractVersionField5, c.field5}};
    for (const auto& [extract, text] : expected) {
      std::memset(out, 'Z', sizeof out);
      const bool read = extract(out, c.reply);
      EXPECT_STREQ(out, text);
      EXPECT_EQ(read, text[0] != '\0') << text;
    }
  }
}

TEST(VersionFields, AnEmptySubFieldIsNotRead) {
  char out[kVersionTextSize];
  EXPECT_FALSE(ExtractVersionField2(out, "A,B,C,2.10-0--02"));  // starts with the next hyphen
  EXPECT_STREQ(out, "-0");
  EXPECT_FALSE(ExtractVersionField0(out, "A,B,C,\r\n"));
  EXPECT_FALSE(ExtractVersionField0(out, "A,B,C,,2.10"));
  EXPECT_FALSE(ExtractVersionField0(out, nullptr));
  EXPECT_TRUE(ExtractVersionField0(out, "A,B,C,1-2-3"));
}

TEST(VersionFields, VersionsOrderAsUnsignedText) {
  EXPECT_LT(CompareVersionText("10.0", "2.00"), 0);  // text order, not numeric
  EXPECT_GT(CompareVersionText("0105", "01"), 0);
  EXPECT_EQ(CompareVersionText("2.00", "2.00"), 0);
  EXPECT_GT(CompareVersionText("\x80", "A"), 0);      // bytes above 0x7F are large, not negative
  EXPECT_LT(CompareVersionText("2.00", "2.01"), 0);
}

}  // namespace
}  // namespace fg
