// The CLI against a simulated instrument, ended by a closed output and by stop signals while it
// programs: the run goes on or stops between images, and no payload folder is left.
#include <algorithm>
#include <memory>
#include <regex>

#include "programmer/partition_tables.h"
#include "sequence/run_texts.h"
#include "tests/e2e/e2e_harness.h"

namespace fg::e2e {
namespace {

// Programming slow enough (300 ms per block) that a signal lands inside an image.
const std::vector<std::string> kSlowFlash = {"--program-ms", "300"};
constexpr const char* kSimResource = "USB0::0x2E5B::0x3A01::SIM2040A::INSTR";

class StopSignalTest : public E2eTest {
 protected:
  // Starts `flintgate-cli update FILE --yes` with both streams on one pipe, as `2>&1 | head` has.
  std::unique_ptr<testing::ChildProcess> StartUpdate(const fs::path& firmware) {
    testing::ChildOptions options =
        Options({FG_CLI_PATH, "update", firmware.string(), "--yes"}, true);
    options.err = testing::ChildOutput::kToStdout;
    return std::make_unique<testing::ChildProcess>(options);
  }

  // The partitions the simulator began to program, in order.
  std::vector<std::string> ProgrammedPartitions() const {
    std::vector<std::string> names;
    const std::regex line("programming ([A-Z0-9_]+):");
    const std::string trace = SimTrace();
    for (std::sregex_iterator it(trace.begin(), trace.end(), line), end; it != end; ++it) {
      names.push_back((*it)[1]);
    }
    return names;
  }

  // Every partition whose programming began holds exactly its new image, the others nothing.
  void ExpectWholeImagesOnly(const fs::path& firmware, const std::vector<std::string>& begun) {
    std::map<std::string, std::string> expected;
    for (const auto& [block, bytes] : RecordsOf(firmware)) {
      for (const PartitionInfo& row : kWx2040PartitionTable) {
        if (row.firstBlock != static_cast<uint32_t>(block)) continue;
        if (std::find(begun.begin(), begun.end(), row.name) != begun.end())
          expected[row.name] = bytes;
      }
    }
    EXPECT_EQ(expected.size(), begun.size());
    ExpectFlash("SIM2040A", expected);
  }
};

TEST_F(StopSignalTest, ClosedOutputNeverStopsTheProgramming) {
  StartSim({"WX2040"}, kSlowFlash);
  const fs::path fw = MakeFirmware("WX2040", "fw.fq");
  const auto cli = StartUpdate(fw);
  ASSERT_TRUE(cli->Started()) << cli->startError();
  // `head -n 4`: four lines, then the reader is gone while the images are still being sent.
  cli->WaitUntil(
      [](const std::string& out) { return std::count(out.begin(), out.end(), '\n') >= 4; }, 60000);
  cli->CloseOutput();
  const testing::ChildStatus status = cli->Wait(60000);
  ASSERT_TRUE(status.exited) << "ended by signal " << status.signal << " after:\n" << cli->out();
  EXPECT_EQ(status.exitCode, 0);
  EXPECT_EQ(ProgrammedPartitions().size(), RecordsOf(fw).size());
  ExpectWholeImagesOnly(fw, ProgrammedPartitions());
  EXPECT_TRUE(fs::is_empty(Bus().parent_path() / "tmp")) << "the payload folder was left behind";
}

TEST_F(StopSignalTest, FirstSignalFinishesTheImageInProgressThenStops) {
  StartSim({"WX2040"}, kSlowFlash);
  const fs::path fw = MakeFirmware("WX2040", "fw.fq");
  const auto cli = StartUpdate(fw);
  ASSERT_TRUE(cli->Started()) << cli->startError();
  WaitForTrace("programming MAIN", 1);
  cli->Signal(SIGINT);
  const testing::ChildStatus status = cli->Wait(60000);
  const std::string& text = cli->out();
  ASSERT_TRUE(status.exited) << text;
  EXPECT_EQ(status.exitCode, 1) << text;
  EXPECT_NE(text.find("finishing the image in progress, then stopping"), std::string::npos) << text;
  EXPECT_NE(text.find("Error number: 0x10020"), std::string::npos) << text;

  // MAIN was finished, nothing after it was begun.
  const std::vector<std::string> begun = ProgrammedPartitions();
  ASSERT_FALSE(begun.empty());
  EXPECT_EQ(begun.back(), "MAIN");
  EXPECT_LT(begun.size(), RecordsOf(fw).size());
  ExpectWholeImagesOnly(fw, begun);
  EXPECT_TRUE(fs::is_empty(Bus().parent_path() / "tmp")) << "the payload folder was left behind";
}

TEST_F(StopSignalTest, SecondSignalWithinThreeSecondsStopsAtOnce) {
  StartSim({"WX2040"}, kSlowFlash);
  const fs::path fw = MakeFirmware("WX2040", "fw.fq");
  const auto cli = StartUpdate(fw);
  ASSERT_TRUE(cli->Started()) << cli->startError();
  WaitForTrace("programming MAIN", 1);
  cli->Signal(SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  cli->Signal(SIGTERM);
  const testing::ChildStatus status = cli->Wait(60000);
  const std::string& text = cli->out();
  ASSERT_FALSE(status.exited || status.timedOut) << text;
  EXPECT_EQ(status.signal, SIGTERM);
  EXPECT_NE(text.find("finishing the image in progress, then stopping"), std::string::npos) << text;
  EXPECT_EQ(ProgrammedPartitions().back(), "MAIN");  // cut off inside MAIN
  // Not the number of a stop between images, whose text promises whole images only.
  EXPECT_EQ(text.find("0x10020"), std::string::npos) << text;
  EXPECT_NE(text.find(std::string(kSimResource) + ": stopped at once while programming MAIN " +
                      "(error number 0x10021): partition MAIN is left incomplete."),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("run the same update again to program MAIN."), std::string::npos) << text;
  EXPECT_TRUE(fs::is_empty(Bus().parent_path() / "tmp")) << "the payload folder was left behind";
}

// Ctrl-C while the instrument restarts into its writer: the CLI ends at once, says that the
// instrument stays in writer mode and to run the same update again; which then completes.
TEST_F(StopSignalTest, SignalDuringTheWriterWaitSaysHowToRecover) {
  StartSim({"WX2040"});
  const fs::path fw = MakeFirmware("WX2040", "fw.fq");
  const auto cli = StartUpdate(fw);
  ASSERT_TRUE(cli->Started()) << cli->startError();
  WaitForTrace("SYST:UPDATE WX2040", 1);
  // Well inside the 4 s the CLI waits for the restart.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  cli->Signal(SIGINT);
  const testing::ChildStatus status = cli->Wait(60000);
  const std::string& text = cli->out();
  ASSERT_FALSE(status.exited || status.timedOut) << text;
  EXPECT_EQ(status.signal, SIGINT);
  EXPECT_NE(text.find(LeftInWriterModeNotice(kSimResource)), std::string::npos) << text;
  EXPECT_TRUE(ProgrammedPartitions().empty());
  EXPECT_TRUE(fs::is_empty(Bus().parent_path() / "tmp")) << "the payload folder was left behind";

  WaitForTrace("on the bus in the writer firmware", 1);  // the restart the CLI no longer waits for
  const auto again = StartUpdate(fw);
  ASSERT_TRUE(again->Started()) << again->startError();
  const testing::ChildStatus recovered = again->Wait(120000);
  ASSERT_TRUE(recovered.exited) << again->out();
  EXPECT_EQ(recovered.exitCode, 0) << again->out();
  ExpectWholeImagesOnly(fw, ProgrammedPartitions());
  EXPECT_EQ(ProgrammedPartitions().size(), RecordsOf(fw).size());
}

}  // namespace
}  // namespace fg::e2e
