// An instrument left in writer mode is found, labelled and recovered; a second update of an
// instrument that is being updated is refused before it sends anything.
#include <nlohmann/json.hpp>

#include "e2e_harness.h"

namespace fg::e2e {
namespace {

const std::string kWriter2050 = "USB0::0x2E5B::0x3A01::W2050::INSTR";
const std::string kNormal2040 = "USB0::0x2E5B::0x3A01::N2040::INSTR";

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

bool HasLine(const std::string& out, const std::string& line) {
  const std::vector<std::string> lines = Lines(out);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A WX2050 that a failed run or a dry run left in its writer firmware enumerates under the
// WX2040's product id; only its reply tells what it is.
TEST_F(E2eTest, AWriterLeftBehindIsListedReportedAndRecoveredWithItsOwnModelOnly) {
  StartSim({"WX2050:W2050"}, {"--fault", "start-writer"});
  StartSim({"WX2040:N2040"});

  const ProcessResult list = RunCli({FG_CLI_PATH, "list", "--json"});
  ASSERT_EQ(list.status, 0) << list.err;
  const nlohmann::json expected = nlohmann::json::parse(R"({"instruments": [
      {"model": "WX2040", "mode": "normal", "resource": "USB0::0x2E5B::0x3A01::N2040::INSTR",
       "provider": "simbus"},
      {"model": "WX2050", "mode": "writer", "resource": "USB0::0x2E5B::0x3A01::W2050::INSTR",
       "provider": "simbus"}]})");
  EXPECT_EQ(nlohmann::json::parse(list.out), expected) << list.out;

  const ProcessResult text = RunCli({FG_CLI_PATH, "list"});
  EXPECT_EQ(text.status, 0);
  EXPECT_TRUE(HasLine(text.out, "WX2050   writer    simbus   " + kWriter2050)) << text.out;
  EXPECT_TRUE(HasLine(text.out, "WX2040   normal    simbus   " + kNormal2040)) << text.out;
  const ProcessResult only2040 = RunCli({FG_CLI_PATH, "list", "--model", "WX2040"});
  EXPECT_EQ(only2040.out.find("W2050"), std::string::npos) << only2040.out;

  const ProcessResult doctor = RunCli({FG_CLI_PATH, "doctor"});
  EXPECT_EQ(doctor.status, 0);
  EXPECT_EQ(doctor.out.find("Problems: none found"), std::string::npos) << doctor.out;
  EXPECT_NE(doctor.out.find(kWriter2050 + " is in writer mode (WX2050)"), std::string::npos)
      << doctor.out;
  EXPECT_NE(doctor.out.find("flintgate-cli update FILE --device " + kWriter2050), std::string::npos)
      << doctor.out;

  // A WX2040 file finds the WX2040 only: nothing of it reaches the WX2050's writer.
  const fs::path wx2040 = MakeFirmware("WX2040", "wx2040.fq");
  const ProcessResult dry = Update(wx2040, {"--all", "--dry-run", "--yes", "--json"});
  EXPECT_EQ(dry.status, 0) << dry.err;
  const nlohmann::json set = nlohmann::json::parse(dry.out);
  ASSERT_EQ(set["results"].size(), 1u);
  EXPECT_EQ(set["results"][0]["resource"], kNormal2040);
  EXPECT_EQ(SimTrace().find("W2050 <- Cmd"), std::string::npos);
  EXPECT_EQ(SimTrace().find("W2050 <- SYST:UPDATE"), std::string::npos);

  // The WX2050 file finds the writer that names WX2050 (not the WX2040 the dry run left in its
  // writer) and updates it from there, in one command.
  const fs::path wx2050 = MakeFirmware("WX2050", "wx2050.fq");
  const ProcessResult r = Update(wx2050, {"--yes"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{"Open File: " + wx2050.string(), "Connecting ... OK",
                                      "The instrument was found in writer mode (it names WX2050); "
                                      "the update goes on from there.",
                                      "Updating ... OK", kCompleted, ""}));
  ExpectFlash("W2050", AllImages(wx2050, kWx2050Blocks));
  ExpectFlash("N2040", {});
}

// A second flintgate-cli while the first programs the instrument: refused at once, the holder
// named, and not one byte of it reaches the instrument, whatever name it uses for it.
TEST_F(E2eTest, ASecondUpdateOfAnInstrumentBeingUpdatedIsRefusedAndSendsNothing) {
  StartSim({"WX2040"}, {"--program-ms", "200", "--erase-ms", "200"});
  const fs::path fw = MakeFirmware("WX2040", "fw.fq");
  testing::ChildOptions first = Options({FG_CLI_PATH, "update", fw.string(), "--yes"}, true);
  testing::ChildProcess running(first);
  ASSERT_TRUE(running.Started()) << running.startError();
  WaitForTrace("-- programming", 1);

  const std::string sessionsBefore = SimTrace();
  const std::string holder =
      "is being updated by flintgate-cli (process " + std::to_string(running.pid()) + ")";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--yes"},
           {"--yes", "--device", "usb::0x2e5b::0x3a01::sim2040a"},
           {"--yes", "--all"}}) {
    SCOPED_TRACE(args.back());
    const ProcessResult second = RunCli([&] {
      std::vector<std::string> argv = {FG_CLI_PATH, "update", fw.string()};
      argv.insert(argv.end(), args.begin(), args.end());
      return argv;
    }());
    EXPECT_EQ(second.status, 1) << second.err;
    EXPECT_NE(second.err.find(holder), std::string::npos) << second.err;
    EXPECT_NE(second.err.find("nothing was sent to it"), std::string::npos) << second.err;
    EXPECT_EQ(second.out.find("Connecting"), std::string::npos) << second.out;
    EXPECT_NE(second.out.find("Error number: 0x0040"), std::string::npos) << second.out;
  }
  // The search lists it as busy, without asking it.
  const ProcessResult busy = RunCli({FG_CLI_PATH, "list"});
  EXPECT_TRUE(HasLine(busy.out, "WX2040   busy      simbus   USB0::0x2E5B::0x3A01::SIM2040A::INSTR"
                                "  being updated by flintgate-cli (process " +
                                    std::to_string(running.pid()) + ")"))
      << busy.out;

  const std::string during = SimTrace();
  EXPECT_EQ(Count(during, "session opened"), Count(sessionsBefore, "session opened")) << during;
  EXPECT_EQ(Count(during, "<- *IDN?"), Count(sessionsBefore, "<- *IDN?"));
  EXPECT_EQ(Count(during, "device clear"), Count(sessionsBefore, "device clear"));

  const testing::ChildStatus done = running.Wait(180000);
  EXPECT_EQ(done.Code(), 0) << running.err();
  EXPECT_TRUE(HasLine(running.out(), kCompleted)) << running.out();
  ExpectFlash("SIM2040A", AllImages(fw, kWx2040Blocks));
}

// Names VISA takes for one instrument are one instrument: given twice, the command is misused.
TEST_F(E2eTest, OneInstrumentNamedTwiceThroughAliasesIsBadUsage) {
  const fs::path fw = MakeFirmware("WX2040", "fw.fq");
  const ProcessResult r = Update(fw, {"--yes", "--device", "USB0::0x2E5B::0x3A01::A1::INSTR",
                                      "--device", "usb::11867::0x3a01::a1::0"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("named twice"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace fg::e2e
