// The flintgate-sim program itself: make-firmware, and instruments run in the foreground with
// their trace, state folder and clean exit on SIGTERM.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "firmware/firmware_header.h"
#include "firmware/image_index.h"
#include "tests/visa/support/private_bus.h"
#include "visa/visa.h"

namespace fg {
namespace {

using namespace fg::visa;

// A child process whose standard output (and error) the test reads.
class Child {
 public:
  explicit Child(std::vector<std::string> args) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(pipeFds[1], STDOUT_FILENO);
      ::dup2(pipeFds[1], STDERR_FILENO);
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(pipeFds[1]);
    out_ = pipeFds[0];
  }
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }

  // Reads output until `text` has appeared or the deadline passed; true when it appeared.
  bool WaitFor(const std::string& text, int timeoutMs = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (output_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
    }
    return true;
  }
  // Sends a signal and collects the exit status and the rest of the output.
  int Stop(int signal) {
    ::kill(pid_, signal);
    return Wait();
  }
  int Wait() {
    while (ReadSome(20000)) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  // Like Wait, but kills the child when it has not ended within `timeoutMs`: -1 then.
  int WaitWithin(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return -1;
      }
      ReadSome(20);
    }
    while (ReadSome(0)) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  pid_t pid() const { return pid_; }
  const std::string& output() const { return output_; }

 private:
  bool ReadSome(int timeoutMs) {
    pollfd fd{out_, POLLIN, 0};
    if (::poll(&fd, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    const ssize_t n = ::read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    output_.append(buffer, static_cast<size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

std::string Ask(const std::string& resource, const std::string& command) {
  ViSession rm = VI_NULL;
  ViSession session = VI_NULL;
  if (viOpenDefaultRM(&rm) != VI_SUCCESS) return "<no resource manager>";
  std::string reply = "<cannot open>";
  if (viOpen(rm, resource.c_str(), VI_NULL, 2000, &session) == VI_SUCCESS) {
    viSetAttribute(session, VI_ATTR_TMO_VALUE, 20000);
    ViUInt32 count = 0;
    viWrite(session, reinterpret_cast<ViConstBuf>(command.data()),
            static_cast<ViUInt32>(command.size()), &count);
    reply.clear();
    if (command.find('?') != std::string::npos) {
      reply.resize(1024);
      viRead(session, reinterpret_cast<ViBuf>(reply.data()), 1024, &count);
      reply.resize(count);
    }
  }
  viClose(rm);
  return reply;
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(SimProgram, MakeFirmwareWritesTheFileItWasAskedFor) {
  fg::testing::PrivateBus scratch;  // a private folder, removed afterwards
  const std::string out = scratch.path() + "/wx2050.fq";
  Child make({FG_SIM_PATH, "make-firmware", "WX2050", out, "--omit", "OEM", "--version",
              "MAIN=1.30", "--oversize", "XP2", "--revision", "3.00", "--seed", "9"});
  ASSERT_EQ(make.Wait(), 0) << make.output();

  std::FILE* file = std::fopen(out.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  FirmwareHeader header;
  ASSERT_EQ(ParseFirmwareHeader(&header, file), 0);
  EXPECT_STREQ(header.ModelName, "WX2050");
  EXPECT_STREQ(header.ImageRev, "3.00");
  EXPECT_STREQ(header.UtilityRev, "2.04");
  ImageIndex index{};
  index.capacity = 3;
  ParseImageIndexStream(&index, file, header.payloadOffset);
  std::fclose(file);
  ASSERT_EQ(index.imageCount, 2);
  EXPECT_EQ(index.images[0].blockId, 4);
  EXPECT_STREQ(index.images[0].version, "1.30");
  EXPECT_EQ(index.images[1].blockId, 254);
  EXPECT_EQ(index.images[1].length, 0x28000 + 1);

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{FG_SIM_PATH, "make-firmware", "SB7300", out},
        std::vector<std::string>{FG_SIM_PATH, "make-firmware", "WX2040", out, "--size", "MAIN=lots"},
        std::vector<std::string>{FG_SIM_PATH, "make-firmware", "WX2040", out, "--omit", "XP2"},
        std::vector<std::string>{FG_SIM_PATH, "make-firmware", "WX2040", out, "--version", "MAIN=2.100"},
        std::vector<std::string>{FG_SIM_PATH, "--fault", "sometimes", "WX2040"},
        std::vector<std::string>{FG_SIM_PATH, "--versions", "WX2040=1.0", "WX2040"},
        std::vector<std::string>{FG_SIM_PATH}}) {
    Child refused(bad);
    EXPECT_EQ(refused.Wait(), 2) << bad.back() << ": " << refused.output();
  }
}

TEST(SimProgram, RunsInstrumentsUntilSigtermAndCleansUp) {
  fg::testing::PrivateBus bus;
  const std::string state = bus.path() + "-state";
  Child sim({FG_SIM_PATH, "--fast", "--bus", bus.path(), "--state", state, "--versions",
             "CLI2040=2.01-01-01-01-01-0100", "WX2040:CLI2040",
             "WX2050:CLI2050"});
  ASSERT_TRUE(sim.WaitFor("Ctrl-C stops")) << sim.output();
  // The host's own search lists both (the bus folder reaches it through the environment).
  Child list({FG_CLI_PATH, "list"});
  EXPECT_EQ(list.Wait(), 0);
  EXPECT_NE(list.output().find("USB0::0x2E5B::0x3A01::CLI2040::INSTR"), std::string::npos)
      << list.output();
  EXPECT_NE(list.output().find("USB0::0x2E5B::0x3A02::CLI2050::INSTR"), std::string::npos);
  EXPECT_EQ(Ask("USB0::0x2E5B::0x3A01::CLI2040::INSTR", "*IDN?\n"),
            "VANDRELL,WX2040,CLI2040,2.01-01-01-01-01-0100\n");
  EXPECT_EQ(Ask("USB0::0x2E5B::0x3A02::CLI2050::INSTR", "*IDN?\n"),
            "VANDRELL,WX2050,CLI2050,1.10-01-01\n");
  Ask("USB0::0x2E5B::0x3A02::CLI2050::INSTR", "DISP:TEXT \"from the test\"\n");
  ASSERT_TRUE(sim.WaitFor("display shows \"from the test\"")) << sim.output();
  EXPECT_NE(sim.output().find("CLI2040 <- *IDN?"), std::string::npos) << sim.output();

  EXPECT_EQ(sim.Stop(SIGTERM), 0) << sim.output();
  EXPECT_TRUE(std::filesystem::is_empty(bus.path()));  // no bus entry left behind
  EXPECT_EQ(ReadFile(std::filesystem::path(state) / "CLI2040" / "versions"),
            std::vector<uint8_t>({'2', '.', '0', '1', '-', '0', '1', '-', '0', '1', '-', '0', '1',
                                  '-', '0', '1', '-', '0', '1', '0', '0', '\n'}));
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(state) / "CLI2050" / "XP2.bin"));

  // The state comes back with the next run.
  Child again({FG_SIM_PATH, "--fast", "--quiet", "--bus", bus.path(), "--state", state,
               "WX2040:CLI2040"});
  ASSERT_TRUE(again.WaitFor("Ctrl-C stops")) << again.output();
  EXPECT_EQ(Ask("USB0::0x2E5B::0x3A01::CLI2040::INSTR", "*IDN?\n"),
            "VANDRELL,WX2040,CLI2040,2.01-01-01-01-01-0100\n");
  EXPECT_EQ(again.Stop(SIGINT), 0);
  EXPECT_EQ(again.output().find("<-"), std::string::npos);  // --quiet
  std::error_code ignored;
  std::filesystem::remove_all(state, ignored);
}

// A stopped instrument (SIGSTOP) keeps its socket listening but accepts nothing: its backlog
// fills with every search's probe. Searches and the other instrument must not wait for it.
TEST(SimProgram, StoppedInstrumentHoldsUpNoSearchAndNoOtherInstrument) {
  fg::testing::PrivateBus bus;
  Child frozen({FG_SIM_PATH, "--fast", "--quiet", "--bus", bus.path(), "WX2040:FROZEN"});
  Child live({FG_SIM_PATH, "--fast", "--quiet", "--bus", bus.path(), "WX2040:LIVE"});
  ASSERT_TRUE(frozen.WaitFor("Ctrl-C stops")) << frozen.output();
  ASSERT_TRUE(live.WaitFor("Ctrl-C stops")) << live.output();
  ASSERT_EQ(::kill(frozen.pid(), SIGSTOP), 0);

  // More searches than the listening backlog holds, each well within a second or two.
  for (int i = 0; i < 24; ++i) {
    Child list({FG_CLI_PATH, "list"});
    ASSERT_EQ(list.WaitWithin(5000), 0) << "search " << i << ": " << list.output();
    EXPECT_NE(list.output().find("USB0::0x2E5B::0x3A01::LIVE::INSTR"), std::string::npos)
        << list.output();
  }
  EXPECT_EQ(Ask("USB0::0x2E5B::0x3A01::LIVE::INSTR", "*IDN?\n"),
            "VANDRELL,WX2040,LIVE,2.00-01-01-01-01-0100\n");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Ask("USB0::0x2E5B::0x3A01::FROZEN::INSTR", "*IDN?\n"), "<cannot open>");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));

  ::kill(frozen.pid(), SIGCONT);
  EXPECT_EQ(frozen.Stop(SIGTERM), 0) << frozen.output();
  EXPECT_EQ(live.Stop(SIGTERM), 0) << live.output();
}

// A serial that could name a path is refused before anything is written for it.
TEST(SimProgram, RefusedSerialWritesNothingOutsideTheStateFolder) {
  fg::testing::PrivateBus bus;
  const std::filesystem::path state = std::filesystem::path(bus.path()) / "state";
  std::filesystem::create_directory(state);
  Child sim({FG_SIM_PATH, "--fast", "--bus", bus.path(), "--state", state.string(), "WX2040:../x"});
  EXPECT_EQ(sim.Wait(), 2) << sim.output();
  EXPECT_NE(sim.output().find("invalid serial"), std::string::npos) << sim.output();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(bus.path()) / "x"));
  EXPECT_TRUE(std::filesystem::is_empty(state));
}

}  // namespace
}  // namespace fg
