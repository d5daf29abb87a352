// Several instruments updated at once by one flintgate-cli: in one simulator process and in
// several on one bus, with mixed outcomes, each instrument's flash checked on its own.
#include <nlohmann/json.hpp>

#include "e2e_harness.h"

namespace fg::e2e {
namespace {

std::string Wx2050(const std::string& serial) { return "USB0::0x2E5B::0x3A02::" + serial + "::INSTR"; }
std::string Wx2040(const std::string& serial) { return "USB0::0x2E5B::0x3A01::" + serial + "::INSTR"; }

// The summary line of `resource`, or empty.
std::string SummaryLine(const std::string& out, const std::string& resource) {
  for (const std::string& line : Lines(out)) {
    if (line.rfind(resource + " ", 0) == 0) return line;
  }
  return "";
}

// Three WX2050s of one process switch into their writers at the same moment; every writer comes
// back under product id 0x3A01, told apart only by its serial number.
TEST_F(E2eTest, AllInstrumentsOfOneProcessSwitchTogetherAndEachGetsItsOwnImages) {
  StartSim({"WX2050:P1", "WX2050:P2", "WX2050:P3"}, {"--versions", "P3=9.99-09-09"});
  const fs::path fw = MakeFirmware("WX2050", "wx2050.fq");
  const ProcessResult r = Update(fw, {"--all", "--yes", "--json"});
  EXPECT_EQ(r.status, 1) << r.err;  // P3's installed versions are newer than the package

  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["exitStatus"], 1);
  EXPECT_GT(j["seconds"].get<double>(), 0.0);
  ASSERT_EQ(j["results"].size(), 3u);
  const std::vector<std::string> serials = {"P1", "P2", "P3"};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(serials[i]);
    const auto& one = j["results"][i];
    EXPECT_EQ(one["resource"], Wx2050(serials[i]));
    EXPECT_EQ(one["model"], "WX2050");
    const bool completes = i < 2;
    EXPECT_EQ(one["result"], completes ? 0 : 0x10009);
    EXPECT_EQ(one["log"].get<std::vector<std::string>>(),
              completes ? CompletedLog(fw)
                        : DriverErrorLog(fw, "0x10009",
                                         {"Version check: MAIN 1.20 is older than the installed "
                                          "9.99; XP2 0200 is older than the installed 09. Nothing "
                                          "older is installed without --allow-downgrade.",
                                          kDowngradeRefused}));
    EXPECT_EQ(one["images"][1]["programmed"], completes);
    EXPECT_GT(one["seconds"].get<double>(), 0.0);
  }
  ExpectFlash("P1", AllImages(fw, kWx2050Blocks));
  ExpectFlash("P2", AllImages(fw, kWx2050Blocks));
  ExpectFlash("P3", {});
  // The summary goes with the human lines to standard error.
  EXPECT_NE(SummaryLine(r.err, Wx2050("P2")).find("completed      0x0000"), std::string::npos);
  EXPECT_NE(SummaryLine(r.err, Wx2050("P3")).find("failed         0x10009"), std::string::npos);
}

// One process per instrument on one bus: one fails while programming, one has newer versions
// installed than the package, one is fine; the failure interrupts nobody else's programming.
TEST_F(E2eTest, MixedOutcomesOfInstrumentsInSeveralProcessesOnOneBus) {
  StartSim({"WX2040:FAULT"}, {"--fault", "final:program-ng@2"});
  StartSim({"WX2040:OLD"}, {"--versions", "OLD=9.99-09-09-09-09-0999"});
  StartSim({"WX2040:FINE"});
  const fs::path fw = MakeFirmware("WX2040", "wx2040.fq");
  const std::vector<std::string> devices = {"--device", Wx2040("FAULT"), "--device", Wx2040("OLD"),
                                            "--device", Wx2040("FINE")};

  // Without a terminal and without --yes the set is not confirmed, and nothing is touched.
  const ProcessResult declined = Update(fw, devices);
  EXPECT_EQ(declined.status, 5) << declined.err;
  EXPECT_NE(declined.err.find("Are you sure you want to update these 3 instruments?"),
            std::string::npos);
  EXPECT_EQ(SimTrace().find("SYST:UPDATE"), std::string::npos);

  std::vector<std::string> args = devices;
  args.insert(args.end(), {"--yes", "--jobs", "2"});
  const ProcessResult r = Update(fw, args);
  EXPECT_EQ(r.status, 1) << r.err;
  const auto records = RecordsOf(fw);
  // Programming failed on the second image: the first stays, the second never holds its image.
  ExpectFlash("FAULT", {{"1C3", records.at(3)}}, "1C6DDS");
  EXPECT_NE(Partition("FAULT", "1C6DDS"), records.at(4));
  ExpectFlash("OLD", {});
  ExpectFlash("FINE", AllImages(fw, kWx2040Blocks));

  // Off a terminal every log line names its instrument; the summary ends the output.
  const std::vector<std::string> out = Lines(r.out);
  for (const auto& [serial, last] : std::vector<std::pair<std::string, std::string>>{
           {"FAULT", "Error number: 0x10008"}, {"OLD", "Error number: 0x10009"},
           {"FINE", kCompleted}}) {
    SCOPED_TRACE(serial);
    const std::string prefix = Wx2040(serial) + ": ";
    EXPECT_NE(std::find(out.begin(), out.end(), prefix + "Connecting ... OK"), out.end());
    EXPECT_NE(std::find(out.begin(), out.end(), prefix + last), out.end());
  }
  EXPECT_NE(SummaryLine(r.out, Wx2040("FAULT")).find("failed         0x10008"), std::string::npos);
  EXPECT_NE(SummaryLine(r.out, Wx2040("OLD")).find("failed         0x10009"), std::string::npos);
  EXPECT_NE(SummaryLine(r.out, Wx2040("FINE")).find("completed      0x0000"), std::string::npos);
}

TEST_F(E2eTest, SetRefusalsNoInstrumentFoundAndBadUsage) {
  const fs::path fw = MakeFirmware("WX2040", "wx2040.fq");
  const ProcessResult none = Update(fw, {"--all", "--yes", "--json"});
  EXPECT_EQ(none.status, 3) << none.err;
  EXPECT_NE(none.err.find("Search Instrument: No instrument found."), std::string::npos);
  const nlohmann::json j = nlohmann::json::parse(none.out);
  EXPECT_EQ(j["exitStatus"], 3);
  EXPECT_TRUE(j["results"].empty());

  const std::vector<std::vector<std::string>> usage = {
      {"--all", "--device", Wx2040("A")},
      {"--device", Wx2040("A"), "--device", Wx2040("A")},
      {"--all", "--jobs", "0"},
  };
  for (const auto& args : usage) {
    EXPECT_EQ(Update(fw, args).status, 2) << args[1];
  }
  // The bound is said as a count, not as CLI11's floating-point range.
  EXPECT_NE(Update(fw, {"--all", "--jobs", "0"})
                .err.find("--jobs: how many instruments are updated at once: a whole number of 1 "
                          "or more, not 0"),
            std::string::npos);
}

}  // namespace
}  // namespace fg::e2e
