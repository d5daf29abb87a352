// The CLI against a simulated instrument, ended by a closed output and by stop signals while it
// programs: the run goes on or stops between images, and no payload folder is left.
#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <regex>

#include "programmer/partition_tables.h"
#include "tests/e2e/e2e_harness.h"

namespace fg::e2e {
namespace {

// Programming slow enough (300 ms per block) that a signal lands inside an image.
const std::vector<std::string> kSlowFlash = {"--program-ms", "300"};

class StopSignalTest : public E2eTest {
 protected:
  // Starts `flintgate-cli update FILE --yes` with both streams on one pipe, as `2>&1 | head` has.
  pid_t StartUpdate(const fs::path& firmware, int* output) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    std::vector<std::string> env = Environment(true);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      ::dup2(fds[1], STDERR_FILENO);
      ::close(fds[0]);
      ::close(fds[1]);
      std::vector<char*> envp;
      for (auto& e : env) envp.push_back(e.data());
      envp.push_back(nullptr);
      std::string cli = FG_CLI_PATH, update = "update", file = firmware.string(), yes = "--yes";
      char* argv[] = {cli.data(), update.data(), file.data(), yes.data(), nullptr};
      ::execve(argv[0], argv, envp.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    *output = fds[0];
    return pid;
  }

  // Reads the pipe until it ends; the text seen.
  static std::string Drain(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
      text.append(buffer, static_cast<size_t>(n));
    return text;
  }

  // Waits for the process at most 60 s; its raw wait status, or -1.
  static int WaitStatus(pid_t pid) {
    for (int i = 0; i < 3000; ++i) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) return status;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
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
  int output = -1;
  const pid_t cli = StartUpdate(fw, &output);
  ASSERT_GT(cli, 0);
  // `head -n 4`: four lines, then the reader is gone while the images are still being sent.
  std::string seen;
  char c;
  for (int lines = 0; lines < 4 && ::read(output, &c, 1) == 1;) {
    seen.push_back(c);
    if (c == '\n') ++lines;
  }
  ::close(output);
  const int status = WaitStatus(cli);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << " after:\n" << seen;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ProgrammedPartitions().size(), RecordsOf(fw).size());
  ExpectWholeImagesOnly(fw, ProgrammedPartitions());
  EXPECT_TRUE(fs::is_empty(Bus().parent_path() / "tmp")) << "the payload folder was left behind";
}

TEST_F(StopSignalTest, FirstSignalFinishesTheImageInProgressThenStops) {
  StartSim({"WX2040"}, kSlowFlash);
  const fs::path fw = MakeFirmware("WX2040", "fw.fq");
  int output = -1;
  const pid_t cli = StartUpdate(fw, &output);
  ASSERT_GT(cli, 0);
  WaitForTrace("programming MAIN", 1);
  ::kill(cli, SIGINT);
  const std::string text = Drain(output);
  ::close(output);
  const int status = WaitStatus(cli);
  ASSERT_TRUE(WIFEXITED(status)) << text;
  EXPECT_EQ(WEXITSTATUS(status), 1) << text;
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
  int output = -1;
  const pid_t cli = StartUpdate(fw, &output);
  ASSERT_GT(cli, 0);
  WaitForTrace("programming MAIN", 1);
  ::kill(cli, SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ::kill(cli, SIGTERM);
  const int status = WaitStatus(cli);
  const std::string text = Drain(output);
  ::close(output);
  ASSERT_TRUE(WIFSIGNALED(status)) << text;
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_NE(text.find("finishing the image in progress, then stopping"), std::string::npos) << text;
  EXPECT_EQ(ProgrammedPartitions().back(), "MAIN");  // cut off inside MAIN
  EXPECT_TRUE(fs::is_empty(Bus().parent_path() / "tmp")) << "the payload folder was left behind";
}

}  // namespace
}  // namespace fg::e2e
