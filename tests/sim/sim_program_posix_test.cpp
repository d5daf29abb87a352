// The flintgate-sim program itself: make-firmware, and instruments run in the foreground with
// their trace, state folder and clean exit on SIGTERM.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "firmware/firmware_header.h"
#include "firmware/image_index.h"
#include "tests/support/child_process.h"
#include "tests/visa/support/private_bus.h"
#include "visa/visa.h"

namespace fg {
namespace {

using namespace fg::visa;

// Waits that only a hung program would run into.
constexpr int kProgramEndsMs = 60000;
constexpr int kStartsMs = 20000;

// A program whose standard output and error the test reads, on one pipe.
std::unique_ptr<fg::testing::ChildProcess> Start(const std::vector<std::string>& args) {
  fg::testing::ChildOptions options;
  options.args = args;
  return std::make_unique<fg::testing::ChildProcess>(options);
}

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
  const auto make = Start({FG_SIM_PATH, "make-firmware", "WX2050", out, "--omit", "OEM",
                           "--version", "MAIN=1.30", "--oversize", "XP2", "--revision", "3.00",
                           "--seed", "9"});
  ASSERT_EQ(make->Wait(kProgramEndsMs).Code(), 0) << make->out();

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
    const auto refused = Start(bad);
    EXPECT_EQ(refused->Wait(kProgramEndsMs).Code(), 2) << bad.back() << ": " << refused->out();
  }
}

TEST(SimProgram, RunsInstrumentsUntilSigtermAndCleansUp) {
  fg::testing::PrivateBus bus;
  const std::string state = bus.path() + "-state";
  const auto sim = Start({FG_SIM_PATH, "--fast", "--bus", bus.path(), "--state", state,
                          "--versions", "CLI2040=2.01-01-01-01-01-0100", "WX2040:CLI2040",
                          "WX2050:CLI2050"});
  ASSERT_TRUE(sim->WaitForOutput("Ctrl-C stops", kStartsMs)) << sim->out();
  // The host's own search lists both (the bus folder reaches it through the environment).
  const auto list = Start({FG_CLI_PATH, "list"});
  EXPECT_EQ(list->Wait(kProgramEndsMs).Code(), 0);
  EXPECT_NE(list->out().find("USB0::0x2E5B::0x3A01::CLI2040::INSTR"), std::string::npos)
      << list->out();
  EXPECT_NE(list->out().find("USB0::0x2E5B::0x3A02::CLI2050::INSTR"), std::string::npos);
  EXPECT_EQ(Ask("USB0::0x2E5B::0x3A01::CLI2040::INSTR", "*IDN?\n"),
            "VANDRELL,WX2040,CLI2040,2.01-01-01-01-01-0100\n");
  EXPECT_EQ(Ask("USB0::0x2E5B::0x3A02::CLI2050::INSTR", "*IDN?\n"),
            "VANDRELL,WX2050,CLI2050,1.10-01-01\n");
  Ask("USB0::0x2E5B::0x3A02::CLI2050::INSTR", "DISP:TEXT \"from the test\"\n");
  ASSERT_TRUE(sim->WaitForOutput("display shows \"from the test\"", kStartsMs)) << sim->out();
  EXPECT_NE(sim->out().find("CLI2040 <- *IDN?"), std::string::npos) << sim->out();

  EXPECT_EQ(sim->Stop(SIGTERM, kProgramEndsMs).Code(), 0) << sim->out();
  EXPECT_TRUE(std::filesystem::is_empty(bus.path()));  // no bus entry left behind
  EXPECT_EQ(ReadFile(std::filesystem::path(state) / "CLI2040" / "versions"),
            std::vector<uint8_t>({'2', '.', '0', '1', '-', '0', '1', '-', '0', '1', '-', '0', '1',
                                  '-', '0', '1', '-', '0', '1', '0', '0', '\n'}));
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(state) / "CLI2050" / "XP2.bin"));

  // The state comes back with the next run.
  const auto again = Start({FG_SIM_PATH, "--fast", "--quiet", "--bus", bus.path(), "--state",
                            state, "WX2040:CLI2040"});
  ASSERT_TRUE(again->WaitForOutput("Ctrl-C stops", kStartsMs)) << again->out();
  EXPECT_EQ(Ask("USB0::0x2E5B::0x3A01::CLI2040::INSTR", "*IDN?\n"),
            "VANDRELL,WX2040,CLI2040,2.01-01-01-01-01-0100\n");
  EXPECT_EQ(again->Stop(SIGINT, kProgramEndsMs).Code(), 0);
  EXPECT_EQ(again->out().find("<-"), std::string::npos);  // --quiet
  std::error_code ignored;
  std::filesystem::remove_all(state, ignored);
}

// A stopped instrument (SIGSTOP) keeps its socket listening but accepts nothing: its backlog
// fills with every search's probe. Searches and the other instrument must not wait for it.
TEST(SimProgram, StoppedInstrumentHoldsUpNoSearchAndNoOtherInstrument) {
  fg::testing::PrivateBus bus;
  const auto frozen =
      Start({FG_SIM_PATH, "--fast", "--quiet", "--bus", bus.path(), "WX2040:FROZEN"});
  const auto live = Start({FG_SIM_PATH, "--fast", "--quiet", "--bus", bus.path(), "WX2040:LIVE"});
  ASSERT_TRUE(frozen->WaitForOutput("Ctrl-C stops", kStartsMs)) << frozen->out();
  ASSERT_TRUE(live->WaitForOutput("Ctrl-C stops", kStartsMs)) << live->out();
  ASSERT_TRUE(frozen->Signal(SIGSTOP));

  // More searches than the listening backlog holds, each well within a second or two.
  for (int i = 0; i < 24; ++i) {
    const auto list = Start({FG_CLI_PATH, "list"});
    ASSERT_EQ(list->Wait(5000).Code(), 0) << "search " << i << ": " << list->out();
    EXPECT_NE(list->out().find("USB0::0x2E5B::0x3A01::LIVE::INSTR"), std::string::npos)
        << list->out();
  }
  EXPECT_EQ(Ask("USB0::0x2E5B::0x3A01::LIVE::INSTR", "*IDN?\n"),
            "VANDRELL,WX2040,LIVE,2.00-01-01-01-01-0100\n");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Ask("USB0::0x2E5B::0x3A01::FROZEN::INSTR", "*IDN?\n"), "<cannot open>");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));

  frozen->Signal(SIGCONT);
  EXPECT_EQ(frozen->Stop(SIGTERM, kProgramEndsMs).Code(), 0) << frozen->out();
  EXPECT_EQ(live->Stop(SIGTERM, kProgramEndsMs).Code(), 0) << live->out();
}

// A serial that could name a path is refused before anything is written for it.
TEST(SimProgram, RefusedSerialWritesNothingOutsideTheStateFolder) {
  fg::testing::PrivateBus bus;
  const std::filesystem::path state = std::filesystem::path(bus.path()) / "state";
  std::filesystem::create_directory(state);
  const auto sim =
      Start({FG_SIM_PATH, "--fast", "--bus", bus.path(), "--state", state.string(), "WX2040:../x"});
  EXPECT_EQ(sim->Wait(kProgramEndsMs).Code(), 2) << sim->out();
  EXPECT_NE(sim->out().find("invalid serial"), std::string::npos) << sim->out();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(bus.path()) / "x"));
  EXPECT_TRUE(std::filesystem::is_empty(state));
}

// Hosts ignore a bus folder others may enter: the simulator says so and stops, rather than
// announcing instruments no host will see.
TEST(SimProgram, AnUnsafeBusIsRefusedBeforeAnyInstrumentIsAnnounced) {
  fg::testing::PrivateBus bus;
  const std::string open = bus.path() + "/open";
  std::filesystem::create_directory(open);
  std::filesystem::permissions(open, std::filesystem::perms::owner_all |
                                         std::filesystem::perms::group_read |
                                         std::filesystem::perms::group_exec);
  const auto sim = Start({FG_SIM_PATH, "--fast", "--bus", open, "WX2040:S1"});
  EXPECT_NE(sim->Wait(kProgramEndsMs).Code(), 0) << sim->out();
  EXPECT_EQ(sim->out().find("on the bus"), std::string::npos) << sim->out();
  EXPECT_NE(sim->out().find("has mode 0750 instead of 0700"), std::string::npos) << sim->out();
  EXPECT_NE(sim->out().find("chmod 700 " + open), std::string::npos) << sim->out();
}

}  // namespace
}  // namespace fg
