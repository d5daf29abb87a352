// Package checks end to end: the WX2040's OEM supplement, missing and oversize images, dry run.
#include "e2e_harness.h"
#include "firmware/image_record.h"

namespace fg::e2e {
namespace {

struct SupplementCase {
  const char* name;
  const char* installed;  // version run of the instrument
  bool supplemented;
};

void PrintTo(const SupplementCase& c, std::ostream* os) { *os << c.name; }

class OemSupplement : public E2eTest, public ::testing::WithParamInterface<SupplementCase> {};

// Installed main versions at or below "2.00" as text get the built-in OEM image.
TEST_P(OemSupplement, FollowsTheInstalledMainVersionAsText) {
  const SupplementCase& c = GetParam();
  StartSim({"WX2040"}, {"--versions", std::string("WX2040=") + c.installed});
  const fs::path fw = MakeFirmware("WX2040", "no-oem.fq", {"--omit", "OEM"});
  const ProcessResult r = Update(fw, {"--yes"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out), CompletedLog(fw));
  const std::string oem = Partition("SIM2040A", "OEM");
  if (c.supplemented) {
    EXPECT_TRUE(oem == std::string(reinterpret_cast<const char*>(kOemRecord), kOemRecordSize))
        << "OEM partition holds " << oem.size() << " bytes";
  } else {
    EXPECT_TRUE(oem.empty());
  }
  EXPECT_EQ(Partition("SIM2040A", "MAIN"), RecordsOf(fw).at(14));
}

INSTANTIATE_TEST_SUITE_P(
    MainVersions, OemSupplement,
    ::testing::Values(SupplementCase{"Main2_00", "2.00-01-01-01-01-0100", true},
                      SupplementCase{"Main10_0", "10.0-01-01-01-01-0100", true},
                      SupplementCase{"Main2_01", "2.01-01-01-01-01-0100", false}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
  const char* name;
  const char* model;
  const char* serial;
  std::vector<std::string> makeArgs;
  const char* number;
  const char* what;  // the log line that names the refused image
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class RefusedPackage : public E2eTest, public ::testing::WithParamInterface<RefusedCase> {};

// The checks run before anything is written: the flash stays as it was.
TEST_P(RefusedPackage, EndsWithTheDriverErrorAndAnUntouchedFlash) {
  const RefusedCase& c = GetParam();
  StartSim({c.model});
  const fs::path fw = MakeFirmware(c.model, "refused.fq", c.makeArgs);
  const ProcessResult r = Update(fw, {"--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.out), DriverErrorLog(fw, c.number, {c.what, kPackageNotFit}));
  ExpectFlash(c.serial, {});
}

INSTANTIATE_TEST_SUITE_P(
    Checks, RefusedPackage,
    ::testing::Values(
        RefusedCase{"Wx2040MissingMain", "WX2040", "SIM2040A", {"--omit", "MAIN"}, "0x10101",
                    "Package check: the required image for MAIN is missing"},
        RefusedCase{"Wx2050MissingXp2", "WX2050", "SIM2050A", {"--omit", "XP2"}, "0x10201",
                    "Package check: the required image for XP2 is missing"},
        RefusedCase{"Wx2040OversizeHttp", "WX2040", "SIM2040A", {"--oversize", "HTTP"}, "0x10102",
                    "Package check: the image for HTTP is 393217 bytes, more than its region's "
                    "393216"},
        RefusedCase{"Wx2050OversizeMain", "WX2050", "SIM2050A", {"--oversize", "MAIN"}, "0x10202",
                    "Package check: the image for MAIN is 524289 bytes, more than its region's "
                    "524288"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(E2eTest, DryRunChecksAndPrintsThePlanButProgramsNothing) {
  // Above "2.00", so that no OEM image is supplemented and the plan shows it absent.
  StartSim({"WX2040"}, {"--versions", "WX2040=2.01-01-01-01-01-0100"});
  const fs::path fw = MakeFirmware("WX2040", "dry.fq", {"--omit", "OEM"});
  const ProcessResult r = Update(fw, {"--yes", "--dry-run"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[1], "Connecting ... OK");
  EXPECT_EQ(lines[2], "Updating ... OK");
  EXPECT_EQ(lines[3], "Dry run: the package checks passed, nothing was programmed.");
  // The plan: a heading and one line per rule, MAIN against its maximum, OEM absent.
  EXPECT_NE(r.out.find("MAIN"), std::string::npos);
  EXPECT_NE(r.out.find("/ 1048576"), std::string::npos);
  EXPECT_NE(r.out.find("absent (optional)"), std::string::npos);
  EXPECT_EQ(r.out.find("too large"), std::string::npos);
  ExpectFlash("SIM2040A", {});
}

// A package whose HTTP record, the fifth image programmed, is 24 bytes long: the programmer
// would refuse it, so the update refuses the package before anything is written, the log says
// why, and a dry run says the same.
TEST_F(E2eTest, ARecordTheProgrammerRefusesStopsTheUpdateBeforeTheFirstImage) {
  StartSim({"WX2040"}, {"--versions", "WX2040=2.01-01-01-01-01-0100"});
  const fs::path made = MakeFirmware("WX2040", "made.fq", {"--omit", "OEM"});
  const std::string bytes = ReadFile(made);
  std::FILE* f = std::fopen(made.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  FirmwareHeader header{};
  ASSERT_EQ(ParseFirmwareHeader(&header, f), 0);
  std::fclose(f);
  std::map<int32_t, std::string> records = RecordsOf(made);
  std::string shortHttp = records.at(8).substr(0, 24);
  shortHttp.replace(8, 4, std::string("\0\0\0\x12", 4));  // trailer at 18
  shortHttp.replace(12, 4, "9999");                          // newer than any installed version
  shortHttp[22] = 8;
  const fs::path fw = Files() / "short-http.fq";
  {
    std::ofstream out(fw, std::ios::binary);
    out << bytes.substr(0, static_cast<size_t>(header.payloadOffset)) << records.at(3)
        << records.at(4) << records.at(6) << records.at(14) << shortHttp;
  }
  const std::string note =
      "Package check: the image for HTTP was refused: image record too short (programmer error "
      "0x0003)";
  for (const char* dryRun : {"", "--dry-run"}) {
    SCOPED_TRACE(dryRun);
    std::vector<std::string> args = {"--yes"};
    if (dryRun[0] != '\0') args.push_back(dryRun);
    const ProcessResult r = Update(fw, args);
    EXPECT_EQ(r.status, 1) << r.err;
    std::vector<std::string> expected = DriverErrorLog(fw, "0x10008", {note, kPackageNotFit});
    // The first run left the instrument in its writer; the second finds it there.
    if (dryRun[0] != '\0') {
      expected.insert(expected.begin() + 2,
                      "The instrument was found in writer mode (it names WX2040); the update "
                      "goes on from there.");
    }
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_GE(lines.size(), expected.size()) << r.out;
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected);
    ExpectFlash("SIM2040A", {});
  }
}

}  // namespace
}  // namespace fg::e2e
