// The verdict on a whole firmware file: installable on its model, or the first thing that keeps
// an update from installing it, in words that name the number the update would end with.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "sequence/inspection_verdict.h"
#include "tests/firmware/firmware_test_files.h"
#include "updater/firmware_inspection.h"

namespace fg {
namespace {

using test::Lines;
using test::RecordBytes;

std::string Header(const std::string& model) {
  return Lines({"# ModelName = " + model, "# ImageRev = 2.10", "# UtilityRev = 2.04",
                "# FileStart"});
}

// Records for the given block ids, each 34 bytes (an 8-byte body).
std::string Records(const std::vector<uint8_t>& blocks) {
  std::string bytes;
  for (uint8_t block : blocks) bytes += RecordBytes({.blockId = block});
  return bytes;
}

// Every WX2040 image: 1C3, 1C6DDS, 1C6POUT, MAIN, HTTP, and the OEM image last.
const std::vector<uint8_t> kWx2040Blocks = {3, 4, 6, 14, 8, 67};
const std::string kWx2040Package = Records(kWx2040Blocks);

std::string Cut(const std::string& bytes, size_t dropped) {
  return bytes.substr(0, bytes.size() - dropped);
}

// An HTTP record two bytes shorter than the least the programmer takes.
std::string ShortHttpRecord() {
  std::string record = RecordBytes({.blockId = 8, .bodySize = 0});
  record.erase(16, 2);
  test::StoreBe32Into(&record, 8, 18);
  return record;
}

struct VerdictCase {
  const char* name;
  std::string file;
  InstallBlocker blocker;
  int32_t packageError;                  // the driver's number, 0 when none
  std::vector<std::string> verdictParts; // each must be in the verdict's text
};
void PrintTo(const VerdictCase& c, std::ostream* os) { *os << c.name; }

class InspectionVerdictTest : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(InspectionVerdictTest, NamesTheFirstBlocker) {
  const VerdictCase& c = GetParam();
  test::TempDir dir;
  const std::string path = dir.File("fw.fq");
  test::WriteFile(path, c.file);
  auto r = std::make_unique<FirmwareInspection>();
  InspectFirmwareFile(path.c_str(), r.get());
  EXPECT_EQ(r->blocker, c.blocker);
  EXPECT_EQ(r->packageError, c.packageError);
  const std::string verdict = InspectionVerdictText(*r);
  for (const std::string& part : c.verdictParts) {
    EXPECT_NE(verdict.find(part), std::string::npos) << "\"" << part << "\" not in: " << verdict;
  }
  EXPECT_EQ(InstallBlockerWord(r->blocker) == nullptr, c.blocker == InstallBlocker::kNone);
}

INSTANTIATE_TEST_SUITE_P(
    Files, InspectionVerdictTest,
    ::testing::Values(
        VerdictCase{"Wx2040Complete", Header("WX2040") + kWx2040Package, InstallBlocker::kNone, 0,
                    {"installable on WX2040"}},
        // The OEM image may be left out; a record for no rule is ignored.
        VerdictCase{"Wx2050WithoutOem", Header("wx2050") + Records({4, 9, 254}),
                    InstallBlocker::kNone, 0, {"installable on WX2050"}},
        VerdictCase{"Without1C3", Header("WX2040") + Records({4, 6, 14, 8, 67}),
                    InstallBlocker::kPackageRefused, 0x101,
                    {"not installable on WX2040: the package has no 1C3 image",
                     "error number 0x10101"}},
        VerdictCase{"OversizeMain",
                    Header("WX2040") + Records({3, 4, 6}) +
                        RecordBytes({.blockId = 14, .bodySize = 0x100000 - 26 + 1}) + Records({8}),
                    InstallBlocker::kPackageRefused, 0x102,
                    {"the MAIN image is 1048577 bytes, more than the 1048576 of its partition",
                     "error number 0x10102"}},
        VerdictCase{"RecordTheProgrammerRefuses",
                    Header("WX2040") + Records({3, 4, 6, 14}) + ShortHttpRecord(),
                    InstallBlocker::kPackageRefused, 8,
                    {"the HTTP image would be refused before programming", "0x10008"}},
        // Only the first three records are read for a WX2050: an image in the fourth is missing.
        VerdictCase{"Wx2050ImageBeyondTheIndex", Header("WX2050") + Records({4, 75, 9, 254}),
                    InstallBlocker::kPackageRefused, 0x201,
                    {"no XP2 image among the first 3 of its 4 records", "0x10201"}},
        // Cut inside MAIN (the fourth record, at payload offset 102): the images after it are
        // missing too, which the update would end with.
        VerdictCase{"CutInsideARequiredImage",
                    Header("WX2040") + Cut(Records({3, 4, 6, 14}), 10),
                    InstallBlocker::kTruncated, 0x101,
                    {"cut short: the image record at payload offset 102 is 34 bytes long, but "
                     "only 24 of them are there",
                     "an update would end with error number 0x10101"}},
        // Cut inside the optional OEM image: the package checks pass, and the update would
        // quietly leave that image out.
        VerdictCase{"CutInsideTheOptionalImage", Header("WX2040") + Cut(kWx2040Package, 1),
                    InstallBlocker::kTruncated, 0,
                    {"the image record at payload offset 170 is 34 bytes long, but only 33"}},
        VerdictCase{"StrayBytesAfterTheLastRecord", Header("WX2040") + kWx2040Package + "12345",
                    InstallBlocker::kTruncated, 0,
                    {"its last 5 bytes, from payload offset 204, are too few for an image record"}},
        VerdictCase{"HeaderOnly", Header("WX2040"), InstallBlocker::kEmptyPayload, 0x101,
                    {"holds no payload: nothing follows its \"# FileStart\" line"}},
        VerdictCase{"NoFileStart",
                    Lines({"# ModelName = WX2040", "# ImageRev = 2.10"}) + kWx2040Package,
                    InstallBlocker::kNoFileStart, 0x101,
                    {"no \"# FileStart\" line", "the payload would be the whole file"}},
        VerdictCase{"Sb7300HasNoUpdater", Header("SB7300") + kWx2040Package,
                    InstallBlocker::kNoUpdater, 0,
                    {"not installable on SB7300", "no updater", "error number 0x0002"}},
        VerdictCase{"HeaderRefused", Header("WX9999") + kWx2040Package,
                    InstallBlocker::kHeaderRefused, 0,
                    {"not installable: its header is refused with error number 0x0015"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InspectionVerdict, AFileThatCannotBeOpened) {
  test::TempDir dir;
  auto r = std::make_unique<FirmwareInspection>();
  InspectFirmwareFile(dir.File("absent.fq").c_str(), r.get());
  EXPECT_EQ(r->blocker, InstallBlocker::kCantOpen);
  EXPECT_EQ(InspectionVerdictText(*r), "not installable: the file cannot be opened");
  EXPECT_STREQ(InstallBlockerWord(r->blocker), "cannot-open");
}

// The walk goes on past the index's capacity to the payload's end.
TEST(InspectionVerdict, TheWalkCountsEveryRecord) {
  test::TempDir dir;
  const std::string path = dir.File("fw.fq");
  test::WriteFile(path, Header("WX2050") + Records({4, 254, 75, 1, 2}) + "xy");
  auto r = std::make_unique<FirmwareInspection>();
  InspectFirmwareFile(path.c_str(), r.get());
  EXPECT_EQ(r->index.imageCount, 3);
  EXPECT_TRUE(r->walk.walked);
  EXPECT_EQ(r->walk.records, 5);
  EXPECT_EQ(r->walk.completeBytes, 5 * 34);
  EXPECT_EQ(r->walk.cutLength, 0);
  EXPECT_EQ(r->payloadSize - r->walk.completeBytes, 2);
}

}  // namespace
}  // namespace fg
