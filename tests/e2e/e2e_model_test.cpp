// The right model only: a file's images reach no instrument of the other model, whether it runs
// its normal firmware or sits in writer mode under the WX2040's product id, and an instrument
// that never became the writer sees no frame.
#include <nlohmann/json.hpp>

#include "e2e_harness.h"

namespace fg::e2e {
namespace {

std::string Name(const char* product, const std::string& serial) {
  return std::string("USB0::0x2E5B::") + product + "::" + serial + "::INSTR";
}

// What the instrument with `serial` received, as its trace shows it ("[time] SERIAL <- ...").
std::vector<std::string> Received(const std::string& trace, const std::string& serial) {
  std::vector<std::string> received;
  const std::string marker = "] " + serial + " <- ";
  for (const std::string& line : Lines(trace)) {
    const size_t at = line.find(marker);
    if (at != std::string::npos) received.push_back(line.substr(at + marker.size()));
  }
  return received;
}

bool AnyFrame(const std::vector<std::string>& received) {
  for (const std::string& r : received) {
    if (r.rfind("Cmd", 0) == 0) return true;
  }
  return false;
}

// `update --all` with a WX2040 file, while a WX2050 sits in writer mode under 0x3A01 with a
// writer that would take any block id: only the WX2040 is written to.
TEST_F(E2eTest, AllWithAWx2040FileWritesNothingIntoAWx2050Writer) {
  StartSim({"WX2040:A40"});
  StartSim({"WX2050:W50"}, {"--fault", "start-writer", "--fault", "any-block-id"});
  const fs::path fw = MakeFirmware("WX2040", "wx2040.fq");
  const ProcessResult r = Update(fw, {"--all", "--yes", "--json", "--quiet"});
  ExpectFlash("W50", {});
  EXPECT_FALSE(AnyFrame(Received(SimTrace(), "W50")));
  ExpectFlash("A40", AllImages(fw, kWx2040Blocks));

  const nlohmann::json j = nlohmann::json::parse(r.out);
  for (const auto& run : j.at("results")) {
    if (run.at("resource") == Name("0x3A01", "W50")) {
      EXPECT_EQ(run.at("result"), 0x32) << r.err;
    } else {
      EXPECT_EQ(run.at("result"), 0) << r.err;
    }
  }
}

// The writer named with --device: refused when it names itself, before the question; the log
// names both models.
TEST_F(E2eTest, AWx2050WriterNamedByDeviceIsRefusedBeforeTheQuestion) {
  StartSim({"WX2050:W50"}, {"--fault", "start-writer", "--fault", "any-block-id"});
  const fs::path fw = MakeFirmware("WX2040", "wx2040.fq");
  const std::string writer = Name("0x3A01", "W50");
  const ProcessResult r = Update(fw, {"--device", writer, "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{"Open File: " + fw.string(), "Connecting ... FAILED",
                                      "The instrument " + writer +
                                          " is a WX2050; this file is for the WX2040. Nothing was "
                                          "written to it: use a WX2050 firmware file for it.",
                                      "Update was cancelled.", "Error number: 0x0032", ""}));
  EXPECT_EQ(r.err.find("Confirm Firmware Update"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Error: This instrument is a WX2050, but the firmware file is for the "
                       "WX2040."),
            std::string::npos)
      << r.err;
  WaitForTrace("W50 -- session closed (0 open)", 1);  // the trace is written as it happens
  EXPECT_EQ(Received(SimTrace(), "W50"), std::vector<std::string>{"*IDN?"});
  ExpectFlash("W50", {});
}

// A WX2050 in its normal firmware named with a WX2040 file: it hears "*IDN?" and nothing else,
// neither "SYST:UPDATE WX2040" nor its display text.
TEST_F(E2eTest, AWx2050InNormalModeHearsNothingButTheIdentityQuery) {
  StartSim({"WX2050:N50"});
  const fs::path fw = MakeFirmware("WX2040", "wx2040.fq");
  const ProcessResult r = Update(fw, {"--device", Name("0x3A02", "N50"), "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Error number: 0x0032"), std::string::npos) << r.out;
  WaitForTrace("N50 -- session closed (0 open)", 1);
  EXPECT_EQ(Received(SimTrace(), "N50"), std::vector<std::string>{"*IDN?"});
  ExpectFlash("N50", {});
}

// A writer that names no model: nothing without the user's word for its model; --yes is no such
// word, --confirm-model with another model neither; with the file's model it is updated.
TEST_F(E2eTest, AWriterThatNamesNoModelNeedsConfirmModel) {
  StartSim({"WX2050:Q50"}, {"--fault", "start-writer", "--fault", "writer-no-model"});
  const fs::path fw = MakeFirmware("WX2050", "wx2050.fq");
  const std::string writer = Name("0x3A01", "Q50");

  const ProcessResult yes = Update(fw, {"--device", writer, "--yes"});
  EXPECT_EQ(yes.status, 5);
  EXPECT_EQ(Lines(yes.out),
            (std::vector<std::string>{"Open File: " + fw.string(), "Connecting ... OK",
                                      "The instrument " + writer +
                                          " is in writer mode and does not say which model it "
                                          "is. Nothing was written to it.",
                                      "Update was cancelled.", "Error number: 0x0033", ""}));
  EXPECT_NE(yes.err.find("add --confirm-model Q50=WX2050"), std::string::npos) << yes.err;
  EXPECT_EQ(yes.err.find("Confirm Firmware Update"), std::string::npos) << yes.err;

  const ProcessResult other = Update(fw, {"--device", writer, "--yes", "--confirm-model", "Q50=WX2040"});
  EXPECT_EQ(other.status, 5);
  EXPECT_FALSE(AnyFrame(Received(SimTrace(), "Q50")));
  ExpectFlash("Q50", {});

  const ProcessResult bad = Update(fw, {"--device", writer, "--confirm-model", "Q50"});
  EXPECT_EQ(bad.status, 2) << bad.err;

  const ProcessResult confirmed =
      Update(fw, {"--device", writer, "--yes", "--confirm-model", "Q50=wx2050"});
  EXPECT_EQ(confirmed.status, 0) << confirmed.out << confirmed.err;
  ExpectFlash("Q50", AllImages(fw, kWx2050Blocks));
}

// The same writer reached through its normal firmware, which names the model before the switch:
// this run saw it, so the writer's silence about its model does not stop the update.
TEST_F(E2eTest, AWriterThatNamesNoModelIsVouchedForByItsNormalFirmware) {
  StartSim({"WX2050:V50"}, {"--fault", "writer-no-model"});
  const fs::path fw = MakeFirmware("WX2050", "wx2050.fq");
  const ProcessResult r = Update(fw, {"--device", Name("0x3A02", "V50"), "--yes"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ExpectFlash("V50", AllImages(fw, kWx2050Blocks));
}

// An instrument that ignores the update command answers as its normal firmware after the wait:
// "did not come back in writer mode", the log says it ignored the switch, and not one frame
// reaches it.
TEST_F(E2eTest, AnInstrumentThatIgnoresTheSwitchGetsNoFrame) {
  StartSim({"WX2050:I50"}, {"--fault", "ignore-update"});
  const fs::path fw = MakeFirmware("WX2050", "wx2050.fq");
  const ProcessResult r = Update(fw, {"--device", Name("0x3A02", "I50"), "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{"Open File: " + fw.string(), "Connecting ... OK",
                                      "The instrument did not come back in writer mode.",
                                      "Updating ... FAILED",
                                      "Switch to writer mode: the instrument ignored it and still "
                                      "answers as its normal firmware "
                                      "(\"VANDRELL,WX2050,I50,1.10-01-01\") (programmer error "
                                      "0x000F)",
                                      "Nothing was written: the instrument runs its normal "
                                      "firmware. Switch it off and on, then run the update again; "
                                      "if it ignores the switch again, contact service.",
                                      "Update was cancelled.", "Error number: 0x10004", ""}));
  EXPECT_FALSE(AnyFrame(Received(SimTrace(), "I50")));
  ExpectFlash("I50", {});
}

// A serial longer than 15 characters is kept whole: the WX2050 is found again as its writer.
TEST_F(E2eTest, AWx2050WithALongSerialIsUpdated) {
  const std::string twenty = "S2050LONGSERIAL12345";
  std::string twoHundred;
  while (twoHundred.size() < 200) twoHundred += "0123456789-ABCDEFGHIJ_";
  twoHundred.resize(200);
  const fs::path fw = MakeFirmware("WX2050", "wx2050.fq");
  for (const std::string& serial : {twenty, twoHundred}) {
    SCOPED_TRACE(serial.size());
    StartSim({"WX2050:" + serial});
    const ProcessResult r = Update(fw, {"--device", Name("0x3A02", serial), "--yes"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    ExpectFlash(serial, AllImages(fw, kWx2050Blocks));
    StopSim();
  }
}

}  // namespace
}  // namespace fg::e2e
