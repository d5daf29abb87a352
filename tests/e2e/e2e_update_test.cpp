// Whole updates of both families through the real processes, repeated and refused updates.
#include <nlohmann/json.hpp>

#include "e2e_harness.h"

namespace fg::e2e {
namespace {

TEST_F(E2eTest, Wx2040UpdatedCompletelyThenAgainThenRefusedAnOlderFile) {
  StartSim({"WX2040"}, {"--auto-restart", "200"});
  const fs::path fw = MakeFirmware("WX2040", "new.fq");
  const ProcessResult first = Update(fw, {"--yes"});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(Lines(first.out), CompletedLog(fw));
  ExpectFlash("SIM2040A", AllImages(fw, kWx2040Blocks));
  // The installed versions are now the package's (two or four characters of each).
  EXPECT_EQ(Versions("SIM2040A"), "2.10-01-02-02-02-0110");

  // Equal versions pass: the same file installs again, once the instrument is back in its
  // normal firmware (it leaves the writer 200 ms after the last session closed).
  WaitForTrace("on the bus in the normal firmware", 2);
  const ProcessResult again = Update(fw, {"--yes"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(Lines(again.out), CompletedLog(fw));

  // An older package is refused before anything is written.
  WaitForTrace("on the bus in the normal firmware", 3);
  const fs::path old = MakeFirmware("WX2040", "old.fq", {"--version", "MAIN=2.05", "--seed", "7"});
  const ProcessResult older = Update(old, {"--yes"});
  EXPECT_EQ(older.status, 1);
  EXPECT_EQ(Lines(older.out),
            DriverErrorLog(old, "0x10009",
                           {"Version check: MAIN 2.05 is older than the installed 2.10. Nothing "
                            "older is installed without --allow-downgrade.",
                            kDowngradeRefused}));
  ExpectFlash("SIM2040A", AllImages(fw, kWx2040Blocks));
}

TEST_F(E2eTest, Wx2050UpdatedCompletelyWithOneJsonObject) {
  StartSim({"WX2050"});
  const fs::path fw = MakeFirmware("WX2050", "wx2050.fq");
  const ProcessResult r = Update(fw, {"--yes", "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  ExpectFlash("SIM2050A", AllImages(fw, kWx2050Blocks));

  // Standard output is one JSON object and nothing else; the human lines went to stderr.
  const nlohmann::json j = nlohmann::json::parse(r.out);
  ASSERT_TRUE(j.is_object());
  EXPECT_EQ(j["result"], 0);
  EXPECT_EQ(j["resource"], "USB0::0x2E5B::0x3A02::SIM2050A::INSTR");
  EXPECT_EQ(j["model"], "WX2050");
  EXPECT_EQ(j["log"].get<std::vector<std::string>>(), CompletedLog(fw));
  EXPECT_GT(j["seconds"].get<double>(), 0.0);
  ASSERT_EQ(j["images"].size(), 3u);
  const std::vector<std::string> partitions = {"MAIN", "XP2", "OEM"};
  const auto records = RecordsOf(fw);
  for (size_t i = 0; i < 3; ++i) {
    const auto& image = j["images"][i];
    EXPECT_EQ(image["partition"], partitions[i]);
    EXPECT_EQ(image["present"], true);
    EXPECT_EQ(image["programmed"], true);
  }
  EXPECT_EQ(j["images"][0]["length"], records.at(4).size());
  EXPECT_EQ(j["images"][0]["installed"], "1.10");
  EXPECT_NE(r.err.find("Connecting ... OK"), std::string::npos);
}

}  // namespace
}  // namespace fg::e2e
