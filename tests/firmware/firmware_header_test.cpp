// Header parsing: line reading, keys, values, bounds, the end of the header, and file size.
#include <gtest/gtest.h>

#include <ostream>
#include <unistd.h>

#include <cstring>
#include <string>

#include "firmware/firmware_header.h"
#include "tests/firmware/firmware_test_files.h"

namespace fg {
namespace {

using test::Lines;
using namespace std::string_literals;

struct Parsed {
  int32_t error;
  FirmwareHeader header;
  long streamPosition;  // where the parser left the stream
};

Parsed Parse(const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  EXPECT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  Parsed p{};
  std::memset(&p.header, 0x5A, sizeof p.header);  // the parser must clear it
  p.error = ParseFirmwareHeader(&p.header, f);
  p.streamPosition = std::ftell(f);
  std::fclose(f);
  return p;
}

struct FieldCase {
  const char* name;
  std::string text;
  int32_t error;
  const char* imageRev;
  const char* modelName;
  const char* description;
};
// Names the case in test listings instead of dumping its bytes.
void PrintTo(const FieldCase& c, std::ostream* os) { *os << c.name; }

class HeaderFieldTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(HeaderFieldTest, StoresWhatTheLinesSay) {
  const FieldCase& c = GetParam();
  Parsed p = Parse(c.text);
  EXPECT_EQ(p.error, c.error);
  EXPECT_STREQ(p.header.ImageRev, c.imageRev);
  EXPECT_STREQ(p.header.ModelName, c.modelName);
  EXPECT_STREQ(p.header.UpdatedDescription, c.description);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HeaderFieldTest,
    ::testing::Values(
        FieldCase{"ValueUpperCasedKeyCaseSensitive",
                  Lines({"# ModelName = wx2040", "# modelname = SB7300", "# imagerev = 9"}), 0, "",
                  "WX2040", ""},
        FieldCase{"BlankBeforeHashIsNoHeaderLine", Lines({" # ModelName = WX2040"}), 0, "", "", ""},
        FieldCase{"ValueEndsAtSecondEquals", Lines({"# ImageRev = 1.05 = B"}), 0, "1.05", "", ""},
        FieldCase{"LineWithoutEqualsChangesNothing",
                  Lines({"# ImageRev = 1.0", "# ImageRev", "# ImageRev =   ", "# ImageRev ="}), 0,
                  "1.0", "", ""},
        FieldCase{"LastOfTwoWins", Lines({"#ModelName=WX2040", "#ModelName=WX2050"}), 0, "",
                  "WX2050", ""},
        FieldCase{"LeadingEqualsSignsAreSkipped",
                  Lines({"#==ModelName==wx2050", "#=", "#  = 1.0", "#ImageRev===2.0"}), 0, "2.0",
                  "WX2050", ""},
        FieldCase{"TabsAndOtherBlanksAreStripped", Lines({"#\t\vImageRev\f=\t1.05b \r"}), 0,
                  "1.05B", "", ""},
        FieldCase{"OtherLinesAreSkipped",
                  Lines({"", "plain text", "# ModelName = WX2040", "", "; ImageRev = 3",
                         "#ImageRev=1.1"}),
                  0, "1.1", "WX2040", ""},
        FieldCase{"DescriptionKeepsBlanksAndCase", Lines({"# UpdatedDescription =  Fixed Bugs  "}),
                  0, "", "", "  Fixed Bugs  "},
        FieldCase{"DescriptionKeepsCarriageReturn", "#UpdatedDescription= New\r\n# FileStart\r\n",
                  0, "", "", " New\r"},
        FieldCase{"DescriptionOfBlanksOnlyChangesNothing",
                  Lines({"#UpdatedDescription=old", "#UpdatedDescription=   "}), 0, "", "", "old"},
        // A NUL would hide the rest of its line ("WX2040\0junk" read as WX2040): refused.
        FieldCase{"NulByteInAHeaderLineIsRefused",
                  "#ImageRev=1.2\n# ModelName = WX2040\0junk\n#ImageRev=1.3\n"s,
                  kErrNulInHeader, "1.2", "", ""},
        FieldCase{"UnknownKeysAreIgnored", Lines({"# Vendor = ACME", "# ImageRev = 1"}), 0, "1",
                  "", ""},
        FieldCase{"NothingAfterFileStartIsRead",
                  Lines({"# ImageRev = 1", "# FileStart", "# ModelName = WX2040"}), 0, "1", "",
                  ""},
        FieldCase{"LowerCaseFileStartDoesNotEndTheHeader",
                  Lines({"# filestart", "# ModelName = WX2040"}), 0, "", "WX2040", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Each bound: the longest text that fits is stored; one more character is the field's error,
// the parse stops there and what was stored before stays.
struct BoundCase {
  const char* key;
  size_t capacity;
  int32_t error;
};
// Names the case in test listings instead of dumping its bytes.
void PrintTo(const BoundCase& c, std::ostream* os) { *os << c.key; }

class HeaderBoundTest : public ::testing::TestWithParam<BoundCase> {};

TEST_P(HeaderBoundTest, LongestFitsOneMoreFails) {
  const BoundCase& c = GetParam();
  const std::string key = c.key;
  const bool raw = key == "UpdatedDescription";
  // The bound applies to the stored text: stripped for most fields, the raw value (blanks
  // included) for the description.
  auto line = [&](size_t stored) {
    return raw ? "#" + key + "= " + std::string(stored - 1, 'x')
               : "# " + key + " =  " + std::string(stored, 'x') + "  ";
  };
  Parsed ok = Parse(Lines({"#ModelName=WX2040", line(c.capacity - 1)}));
  EXPECT_EQ(ok.error, 0);

  Parsed bad =
      Parse(Lines({"#ModelName=WX2040", line(c.capacity), "#ImageRev=1.0", "# FileStart"}));
  EXPECT_EQ(bad.error, c.error);
  EXPECT_STREQ(bad.header.ModelName, "WX2040");  // stored before the error: kept
  EXPECT_STREQ(bad.header.ImageRev, "");         // after the error: never read
  EXPECT_EQ(bad.header.payloadOffset, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, HeaderBoundTest,
    ::testing::Values(BoundCase{"ImageRev", 16, kErrImageRevTooLong},
                      BoundCase{"ModelName", 64, kErrModelNameTooLong},
                      BoundCase{"RevsNotSupport", 16, kErrRevsNotSupportTooLong},
                      BoundCase{"UpdatedDescription", 512, kErrDescriptionTooLong},
                      BoundCase{"UtilityRev", 16, kErrUtilityRevTooLong}),
    [](const auto& info) { return std::string(info.param.key); });

TEST(HeaderBounds, StoredTextsFillTheirFieldsExactly) {
  Parsed p = Parse(Lines({"#ImageRev=" + std::string(15, 'a'), "#ModelName=" + std::string(63, 'b'),
                          "#RevsNotSupport=" + std::string(15, 'c'),
                          "#UpdatedDescription=" + std::string(511, 'd'),
                          "#UtilityRev=" + std::string(15, 'e')}));
  ASSERT_EQ(p.error, 0);
  EXPECT_EQ(std::string(p.header.ImageRev), std::string(15, 'A'));
  EXPECT_EQ(std::string(p.header.ModelName), std::string(63, 'B'));
  EXPECT_EQ(std::string(p.header.RevsNotSupport), std::string(15, 'C'));
  EXPECT_EQ(std::string(p.header.UpdatedDescription), std::string(511, 'd'));
  EXPECT_EQ(std::string(p.header.UtilityRev), std::string(15, 'E'));
}

TEST(HeaderBounds, FirstErrorInFileOrderWins) {
  Parsed p = Parse(Lines({"#UtilityRev=" + std::string(16, '1'), "#ImageRev=" + std::string(16, '1')}));
  EXPECT_EQ(p.error, kErrUtilityRevTooLong);
}

struct EndCase {
  const char* name;
  std::string header;  // the text up to and including the FileStart line
};
// Names the case in test listings instead of dumping its bytes.
void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

class FileStartTest : public ::testing::TestWithParam<EndCase> {};

TEST_P(FileStartTest, PayloadStartsAfterTheLineFeed) {
  const EndCase& c = GetParam();
  const std::string payload("\x00\x01#ModelName=SB7300\n\xff", 22);
  Parsed p = Parse(c.header + payload);
  ASSERT_EQ(p.error, 0);
  EXPECT_EQ(p.header.payloadOffset, static_cast<int32_t>(c.header.size()));
  EXPECT_EQ(p.streamPosition, static_cast<long>(c.header.size()));  // nothing beyond is read
  EXPECT_STREQ(p.header.ModelName, "WX2040");
}

INSTANTIATE_TEST_SUITE_P(
    Forms, FileStartTest,
    ::testing::Values(EndCase{"NoBlank", Lines({"#ModelName=WX2040", "#FileStart"})},
                      EndCase{"Blank", Lines({"#ModelName=WX2040", "# FileStart"})},
                      EndCase{"WithValue", Lines({"#ModelName=WX2040", "# FileStart = 1"})},
                      EndCase{"EmptyValue", Lines({"#ModelName=WX2040", "# FileStart ="})},
                      EndCase{"CrLf", "#ModelName=WX2040\r\n#FileStart\r\n"},
                      // The skipped tail of a long line still counts towards the position.
                      EndCase{"LongLine",
                              Lines({"#ModelName=WX2040", "# FileStart" + std::string(3000, ' ')})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FileStart, LastLineGivesAnEmptyPayload) {
  std::string text = Lines({"#ModelName=WX2040", "#FileStart"});
  Parsed p = Parse(text);
  EXPECT_EQ(p.error, 0);
  EXPECT_EQ(p.header.payloadOffset, static_cast<int32_t>(text.size()));
}

TEST(FileStart, MissingMeansNoErrorAndOffsetZero) {
  Parsed p = Parse("#ModelName=WX2040\n#ImageRev=1.0");  // last line without line feed
  EXPECT_EQ(p.error, 0);
  EXPECT_EQ(p.header.payloadOffset, 0);
  EXPECT_STREQ(p.header.ImageRev, "1.0");
}

TEST(FileStart, EmptyFileLeavesEverythingEmpty) {
  Parsed p = Parse("");
  EXPECT_EQ(p.error, 0);
  FirmwareHeader zero{};
  EXPECT_EQ(std::memcmp(&p.header, &zero, sizeof zero), 0);
}

// A line longer than the 1022 characters of the line buffer: the rest up to its line feed is
// dropped, never read as a line of its own.
TEST(LongLines, TailIsNeverReadAsALine) {
  std::string head = "# Comment = ";
  std::string longLine = head + std::string(1022 - head.size(), 'z') + "#ModelName=EVIL";
  ASSERT_EQ(longLine.find("#ModelName"), 1022u);
  Parsed p = Parse(Lines({"#ModelName=WX2040", longLine, "#ImageRev=1.0", "#FileStart"}));
  EXPECT_EQ(p.error, 0);
  EXPECT_STREQ(p.header.ModelName, "WX2040");
  EXPECT_STREQ(p.header.ImageRev, "1.0");
}

TEST(LongLines, FirstCharactersAreParsed) {
  // Key and value lie within the first 1022 characters; blanks beyond them are cut off.
  Parsed p = Parse(Lines({"#ImageRev=1.0" + std::string(2000, ' ') + "X", "#ModelName=WX2040"}));
  EXPECT_EQ(p.error, 0);
  EXPECT_STREQ(p.header.ImageRev, "1.0");
  EXPECT_STREQ(p.header.ModelName, "WX2040");
}

TEST(LongLines, ExactlyFullBufferEndsAtItsLineFeed) {
  std::string head = "#Comment=";
  std::string line = head + std::string(1022 - head.size(), 'q');
  Parsed p = Parse(Lines({line, "#ModelName=WX2050"}));
  EXPECT_STREQ(p.header.ModelName, "WX2050");
}

TEST(LongLines, DescriptionCutAtTheBufferIsTooLong) {
  Parsed p = Parse(Lines({"#UpdatedDescription=" + std::string(5000, 'd')}));
  EXPECT_EQ(p.error, kErrDescriptionTooLong);
}

TEST(Reparse, EveryParseStartsFromAnEmptyRecord) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fputs("#ImageRev=1.0\n", f);
  std::rewind(f);
  FirmwareHeader h{};
  std::strcpy(h.ModelName, "WX2040");
  h.payloadOffset = 77;
  EXPECT_EQ(ParseFirmwareHeader(&h, f), 0);
  EXPECT_STREQ(h.ModelName, "");
  EXPECT_EQ(h.payloadOffset, 0);
  std::fclose(f);
}

// Files of 2 GiB or more cannot be described by the 32-bit payload offset. Sparse files keep
// this cheap.
class LargeFileTest : public ::testing::Test {
 protected:
  const std::string header_ = Lines({"#ModelName=WX2040", "#FileStart"});

  int32_t ParseSparse(off_t size, FirmwareHeader* h) {
    std::string path = dir_.File("big.fq");
    test::WriteFile(path, header_);
    std::error_code resized;
    std::filesystem::resize_file(path, static_cast<uintmax_t>(size), resized);
    EXPECT_FALSE(resized) << resized.message();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    EXPECT_NE(f, nullptr);
    int32_t err = ParseFirmwareHeader(h, f);
    EXPECT_EQ(std::ftell(f), err == 0 ? static_cast<long>(header_.size()) : 0);  // refused before any line was read
    std::fclose(f);
    return err;
  }
  test::TempDir dir_;
};

TEST_F(LargeFileTest, TwoGibibytesAreRefused) {
  FirmwareHeader h{};
  EXPECT_EQ(ParseSparse(off_t{1} << 31, &h), kErrFileTooLarge);
  EXPECT_STREQ(h.ModelName, "");
}

TEST_F(LargeFileTest, JustBelowTwoGibibytesIsRead) {
  FirmwareHeader h{};
  EXPECT_EQ(ParseSparse((off_t{1} << 31) - 1, &h), 0);
  EXPECT_STREQ(h.ModelName, "WX2040");
  EXPECT_EQ(h.payloadOffset, static_cast<int32_t>(header_.size()));
}

}  // namespace
}  // namespace fg
