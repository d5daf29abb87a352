// Whether a parsed header may be installed: catalogue match, revision characters, tool version.
#include <gtest/gtest.h>

#include <ostream>

#include <cstring>
#include <string>

#include "firmware/file_acceptance.h"

namespace fg {
namespace {

struct AcceptanceCase {
  const char* name;
  const char* modelName;
  const char* imageRev;
  const char* utilityRev;
  int32_t error;
  const char* matched;  // row name, or null
};
// Names the case in test listings instead of dumping its bytes.
void PrintTo(const AcceptanceCase& c, std::ostream* os) { *os << c.name; }

class AcceptanceTest : public ::testing::TestWithParam<AcceptanceCase> {};

TEST_P(AcceptanceTest, Decides) {
  const AcceptanceCase& c = GetParam();
  FirmwareHeader h{};
  std::strcpy(h.ModelName, c.modelName);
  std::strcpy(h.ImageRev, c.imageRev);
  std::strcpy(h.UtilityRev, c.utilityRev);
  const ModelInfo* matched = reinterpret_cast<const ModelInfo*>(&h);  // must be overwritten
  EXPECT_EQ(CheckFirmwareAcceptance(&h, &matched), c.error);
  if (c.matched == nullptr) {
    EXPECT_EQ(matched, nullptr);
  } else {
    ASSERT_NE(matched, nullptr);
    EXPECT_STREQ(matched->name, c.matched);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Headers, AcceptanceTest,
    ::testing::Values(
        AcceptanceCase{"Wx2040", "WX2040", "1.05B", "2.04", 0, "WX2040"},
        AcceptanceCase{"Wx2050", "WX2050", "1.0", "", 0, "WX2050"},
        AcceptanceCase{"Sb7300WithoutUpdaterIsAccepted", "SB7300", "", "", 0, "SB7300"},
        AcceptanceCase{"EmptyModel", "", "1.0", "2.04", kErrModelNotInCatalog, nullptr},
        AcceptanceCase{"UnknownModel", "WX9999", "1.0", "2.04", kErrModelNotInCatalog, nullptr},
        AcceptanceCase{"PrefixOfModelIsNoMatch", "WX20", "1.0", "2.04", kErrModelNotInCatalog,
                       nullptr},
        AcceptanceCase{"ModelWithSuffixIsNoMatch", "WX2040A", "1.0", "2.04",
                       kErrModelNotInCatalog, nullptr},
        AcceptanceCase{"LowerCaseNameIsNoMatch", "wx2040", "1.0", "2.04", kErrModelNotInCatalog,
                       nullptr},
        // The model is checked before the revision texts.
        AcceptanceCase{"ModelFirst", "NOPE", "V1-05", "9.9", kErrModelNotInCatalog, nullptr},
        AcceptanceCase{"InnerBlank", "WX2040", "1.05 B", "2.04", kErrForeignRevisionChar,
                       "WX2040"},
        AcceptanceCase{"Dash", "WX2040", "V1-05", "2.04", kErrForeignRevisionChar, "WX2040"},
        AcceptanceCase{"LowerCaseLetter", "WX2040", "1.05b", "2.04", kErrForeignRevisionChar,
                       "WX2040"},
        AcceptanceCase{"HighByte", "WX2040", "1.0\xC3", "2.04", kErrForeignRevisionChar,
                       "WX2040"},
        AcceptanceCase{"ForeignInUtilityRev", "WX2040", "1.0", "2_04", kErrForeignRevisionChar,
                       "WX2040"},
        // Characters are checked before the tool version.
        AcceptanceCase{"CharactersBeforeVersion", "WX2040", "1.0", "9.9-", kErrForeignRevisionChar,
                       "WX2040"},
        AcceptanceCase{"NewerTool", "WX2050", "1.0", "2.05", kErrNeedsNewerTool, "WX2050"}),
    [](const auto& info) { return std::string(info.param.name); });

// The line beside "The firmware revision file is corrupted.": the box is the same for every
// rejection, so this line has to say which rule refused the file, quoting the header escaped.
TEST(RejectionDetail, NamesTheRuleThatRefusedTheFile) {
  FirmwareHeader h{};
  std::strcpy(h.ModelName, "WX2041\x1b[2J");
  std::strcpy(h.ImageRev, "V1-05");
  std::strcpy(h.UtilityRev, "2.05");
  const struct {
    int32_t error;
    const char* line;
  } cases[] = {
      {kErrImageRevTooLong, "The header's ImageRev is longer than 15 characters."},
      {kErrModelNameTooLong, "The header's ModelName is longer than 63 characters."},
      {kErrDescriptionTooLong, "The header's UpdatedDescription is longer than 511 characters."},
      {kErrFileTooLarge, "The file is 2 GiB or larger, more than a firmware file can be."},
      {kErrNulInHeader,
       "A header line holds a NUL byte; such a file is refused, since the text after it would go "
       "unseen."},
      {kErrModelNotInCatalog,
       "The file is for the model \"WX2041\\x1B[2J\", which is not in Flintgate's catalogue "
       "(WX2040, WX2050 and SB7300)."},
      {kErrForeignRevisionChar,
       "The header's ImageRev \"V1-05\" holds a character other than 0-9, \".\" and A-Z."},
      // Not "corrupted": the file is sound, this Flintgate is too old for it.
      {kErrNeedsNewerTool,
       "This file needs Flintgate 2.05 or later (its UtilityRev); this is Flintgate 2.04: use a "
       "newer Flintgate."},
      {0, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FileRejectionDetail(c.error, h), c.line) << c.error;

  // The revision rule names the field that broke it.
  std::strcpy(h.ImageRev, "1.05");
  std::strcpy(h.UtilityRev, "2_04");
  EXPECT_EQ(FileRejectionDetail(kErrForeignRevisionChar, h),
            "The header's UtilityRev \"2_04\" holds a character other than 0-9, \".\" and A-Z.");
  h.ModelName[0] = '\0';
  EXPECT_EQ(FileRejectionDetail(kErrModelNotInCatalog, h), "The header names no model (ModelName).");
}

// Beside the model name: a header refused while it was read was never compared with the
// catalogue, so it must not be called "not in the catalogue".
TEST(RejectionDetail, TheModelNoteSaysWhetherTheCatalogueWasAsked) {
  const ModelInfo* wx2040 = &kModelCatalog.models[0];
  EXPECT_STREQ(ModelNote(0, wx2040, "WX2040"), "");
  EXPECT_STREQ(ModelNote(kErrNeedsNewerTool, wx2040, "WX2040"), "");
  EXPECT_STREQ(ModelNote(kErrModelNotInCatalog, nullptr, "WX2041"), "(not in the catalogue)");
  EXPECT_STREQ(ModelNote(kErrModelNotInCatalog, nullptr, ""), "(none given)");
  for (int32_t parseError : {kErrImageRevTooLong, kErrDescriptionTooLong, kErrNulInHeader}) {
    EXPECT_STREQ(ModelNote(parseError, nullptr, "WX2040"),
                 "(not checked: the header was refused first)");
  }
}

struct ToolVersionCase {
  const char* utilityRev;
  bool newer;
};
// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ToolVersionCase& c, std::ostream* os) { *os << c.utilityRev; }

class ToolVersionTest : public ::testing::TestWithParam<ToolVersionCase> {};

TEST_P(ToolVersionTest, ComparesWithTwoPointOhFour) {
  EXPECT_EQ(NeedsNewerTool(GetParam().utilityRev), GetParam().newer) << GetParam().utilityRev;
}

INSTANTIATE_TEST_SUITE_P(
    Versions, ToolVersionTest,
    ::testing::Values(
        // Accepted
        ToolVersionCase{"2.04", false}, ToolVersionCase{"2.4", false},
        ToolVersionCase{"1.99", false}, ToolVersionCase{"2", false}, ToolVersionCase{"", false},
        ToolVersionCase{"2.00B", false}, ToolVersionCase{"2.", false},
        ToolVersionCase{".9", false}, ToolVersionCase{"2.A", false},
        // Without a "." the major number is 0, whatever the digits.
        ToolVersionCase{"10", false}, ToolVersionCase{"0.99", false},
        // Needs a newer tool
        ToolVersionCase{"2.05", true}, ToolVersionCase{"2.10", true}, ToolVersionCase{"2.40", true},
        ToolVersionCase{"3.0", true}, ToolVersionCase{"10.1", true}, ToolVersionCase{"3.", true},
        // Digits that would overflow a plain integer still compare as large.
        ToolVersionCase{"99999999999.0", true}, ToolVersionCase{"2.9999999999999", true},
        ToolVersionCase{"1.9999999999999", false},
        // More than one ".": compared number by number with 2.4.0.
        ToolVersionCase{"2.04.0", false}, ToolVersionCase{"1.99.9", false},
        ToolVersionCase{"2.03.99", false}, ToolVersionCase{"2.04.1", true},
        ToolVersionCase{"2.05.0", true}, ToolVersionCase{"2.4.0.1", true},
        ToolVersionCase{"2..5", false}, ToolVersionCase{"3..", true}));

}  // namespace
}  // namespace fg
