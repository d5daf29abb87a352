// The command line around the run: no confirmation, no instrument, several instruments, files
// that are refused, models without a driver, bad usage.
#include <nlohmann/json.hpp>

#include "e2e_harness.h"

namespace fg::e2e {
namespace {

TEST_F(E2eTest, WithoutATerminalOrYesTheAnswerIsNoAndTheDisplayIsCleared) {
  StartSim({"WX2040"});
  const fs::path fw = MakeFirmware("WX2040", "fw.fq");
  const ProcessResult r = Update(fw, {});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"Open File: " + fw.string(), "Connecting ... OK",
                                                    "Update was cancelled.",
                                                    "Error number: 0x0005", ""}));
  EXPECT_NE(r.err.find("--yes"), std::string::npos) << r.err;
  const std::string trace = SimTrace();
  const size_t shown = trace.find("display shows \"USB0::0x2E5B::0x3A01::SIM2040A::INSTR\"");
  ASSERT_NE(shown, std::string::npos) << trace;
  EXPECT_NE(trace.find("display cleared", shown), std::string::npos) << trace;
  EXPECT_EQ(trace.find("SYST:UPDATE"), std::string::npos);
  ExpectFlash("SIM2040A", {});
}

TEST_F(E2eTest, NoInstrumentOnTheBus) {
  const fs::path fw = MakeFirmware("WX2050", "fw.fq");
  const ProcessResult r = Update(fw, {"--yes"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"Open File: " + fw.string(),
                                                    "Update was cancelled.",
                                                    "Error number: 0x0004", ""}));
  EXPECT_NE(r.err.find("Search Instrument: No instrument found."), std::string::npos) << r.err;
}

TEST_F(E2eTest, SeveralInstrumentsNeedADeviceAndOnlyThatOneIsUpdated) {
  StartSim({"WX2050:LAB2", "WX2050:LAB1"});
  const fs::path fw = MakeFirmware("WX2050", "fw.fq");
  const ProcessResult ask = Update(fw, {"--yes"});
  EXPECT_EQ(ask.status, 3);
  EXPECT_EQ(Lines(ask.out), (std::vector<std::string>{"Open File: " + fw.string()}));
  const size_t first = ask.err.find("USB0::0x2E5B::0x3A02::LAB1::INSTR");
  const size_t second = ask.err.find("USB0::0x2E5B::0x3A02::LAB2::INSTR");
  EXPECT_NE(first, std::string::npos) << ask.err;
  EXPECT_NE(second, std::string::npos) << ask.err;
  EXPECT_LT(first, second);
  EXPECT_NE(ask.err.find("--device"), std::string::npos);

  const ProcessResult chosen = Update(fw, {"--yes", "--device", "USB0::0x2E5B::0x3A02::LAB2::INSTR"});
  EXPECT_EQ(chosen.status, 0) << chosen.err;
  EXPECT_EQ(Lines(chosen.out), CompletedLog(fw));
  const auto records = RecordsOf(fw);
  ExpectFlash("LAB2", {{"MAIN", records.at(4)}, {"XP2", records.at(254)}, {"OEM", records.at(75)}});
  ExpectFlash("LAB1", {});
}

TEST_F(E2eTest, AnInstrumentThatIsNotThereCannotBeConnected) {
  const fs::path fw = MakeFirmware("WX2040", "fw.fq");
  const ProcessResult r = Update(fw, {"--yes", "--device", "USB0::0x2E5B::0x3A01::GONE::INSTR"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"Open File: " + fw.string(),
                                                    "Connecting ... FAILED",
                                                    "Update was cancelled.",
                                                    "Error number: 0x0031", ""}));
  EXPECT_NE(r.err.find("Error: Cannot connect to the device."), std::string::npos) << r.err;
}

TEST_F(E2eTest, RefusedUnreadableAndDriverlessFiles) {
  const fs::path foreign = MakeFirmware("WX2040", "foreign.fq", {"--model-name", "WX9999"});
  ProcessResult r = Update(foreign, {"--yes"});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{"Open File: " + foreign.string(), "Error number: 0x0015",
                                      "The file is for the model \"WX9999\", which is not in "
                                      "Flintgate's catalogue (WX2040, WX2050 and SB7300)."}));
  EXPECT_NE(r.err.find("Error: The firmware revision file is corrupted."), std::string::npos);

  const fs::path newer = MakeFirmware("WX2040", "newer.fq", {"--utility-rev", "2.05"});
  r = Update(newer, {"--yes"});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(Lines(r.out).back(),
            "This file needs Flintgate 2.05 or later (its UtilityRev); this is Flintgate 2.04: use "
            "a newer Flintgate.");

  const fs::path missing = Files() / "missing.fq";
  r = RunCli({FG_CLI_PATH, "update", missing.string(), "--yes"});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"Open File: " + missing.string(),
                                                    "The file cannot be opened: there is no such "
                                                    "file."}));
  EXPECT_NE(r.err.find("Error: Can't open file."), std::string::npos);

  // A model the catalogue knows but no driver serves.
  const fs::path box = Files() / "sb7300.fq";
  std::ofstream(box, std::ios::binary) << "# ModelName = SB7300\n# ImageRev = 1.00\n# FileStart\nxyz";
  r = Update(box, {"--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"Open File: " + box.string(),
                                                    "Update was cancelled.",
                                                    "Error number: 0x0002", ""}));
  EXPECT_NE(r.err.find("Error: Cannot initiate the update."), std::string::npos);
}

TEST_F(E2eTest, BadUsageAndJsonForARefusedFile) {
  ProcessResult r = RunCli({FG_CLI_PATH, "update"});
  EXPECT_EQ(r.status, 2);
  r = RunCli({FG_CLI_PATH, "update", "a.fq", "--no-such-option"});
  EXPECT_EQ(r.status, 2);
  // A name the device list cannot hold whole is refused rather than cut to another name.
  r = RunCli({FG_CLI_PATH, "update", "a.fq", "--yes", "--device",
              "USB0::0x2E5B::0x3A01::" + std::string(240, 'S') + "::INSTR"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--device"), std::string::npos);

  const fs::path foreign = MakeFirmware("WX2040", "foreign.fq", {"--model-name", "WX9999"});
  r = Update(foreign, {"--json"});
  EXPECT_EQ(r.status, 4);
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_TRUE(j["result"].is_null());
  EXPECT_EQ(j["fileError"], 0x15);
  EXPECT_EQ(j["exitStatus"], 4);
  EXPECT_EQ(j["log"].size(), 3u);  // and the line that names the model
}

}  // namespace
}  // namespace fg::e2e
