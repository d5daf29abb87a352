// Writer-mode entry against simulated instruments on a private bus, on the real clock. Not in
// the Windows test list: the simulated instruments are not cross-built.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "link/device_link.h"
#include "programmer/programmer_ops.h"
#include "programmer/writer_mode.h"
#include "sim/sim_instrument.h"
#include "tests/visa/support/private_bus.h"

namespace fg::test {
namespace {

const ProgrammerFamily& Wx2040 = kWx2040ProgrammerFamily;
const ProgrammerFamily& Wx2050 = kWx2050ProgrammerFamily;

// Switches against simulated instruments that take their time to restart, on the real clock.
// Instruments of the two families run side by side (each family has one serial buffer), so the
// five cases take about as long as the two slowest.
struct VisaOwner {
  ViSession rmSession = 0;
  ViSession session = 0;
};

struct TimedSwitch {
  const ProgrammerFamily* family;
  const char* model;
  const char* serial;
  uint32_t restartDelayMs;
  bool neverReturn;
  int32_t expected;
  double minSeconds, maxSeconds;  // how long Connect took
};

int32_t SwitchOnTheBus(const fg::testing::PrivateBus& bus, const TimedSwitch& c, double* seconds,
                       bool* inWriter) {
  const sim::SimFamily* simFamily = sim::FindSimFamily(c.model);
  sim::InstrumentSetup setup;
  setup.family = simFamily;
  setup.serial = c.serial;
  setup.timing = sim::FastTiming();
  setup.timing.restartDelayMs = c.restartDelayMs;
  setup.faults.neverReturn = c.neverReturn;
  std::string error;
  auto instrument = sim::SimInstrument::Start(setup, sim::FlashStore(*simFamily), bus.path(), &error);
  if (instrument == nullptr || !instrument->WaitOnBus(sim::FirmwareMode::kNormal, 20000)) return -1;
  const std::string name = instrument->ResourceName();
  VisaOwner owner;
  DeviceLink link{};
  link.open = VisaOpen<VisaOwner>;
  link.write = VisaWrite<VisaOwner>;
  link.read = VisaRead<VisaOwner>;
  link.close = VisaClose<VisaOwner>;
  link.owner = &owner;
  link.replyBuffer = link.replyStorage;
  const auto start = std::chrono::steady_clock::now();
  const int32_t rc = programmer::Connect(*c.family, &link, name.c_str());
  *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  *inWriter = instrument->Mode() == sim::FirmwareMode::kWriter;
  link.close(&owner);
  return rc;
}

TEST(WriterModeOverSimBus, InstrumentsThatRestartSlowlyOrNever) {
  fg::testing::PrivateBus bus;
  ASSERT_FALSE(bus.path().empty());
  const std::vector<std::vector<TimedSwitch>> rounds = {
      {{&Wx2040, "WX2040", "R1500", 1500, false, 0, 4.0, 5.0},
       {&Wx2050, "WX2050", "R3500", 3500, false, 0, 4.0, 5.0}},
      {{&Wx2040, "WX2040", "R6000", 6000, false, 0, 6.0, 7.5}},
      {{&Wx2040, "WX2040", "NEVER", 1500, true, 1, 20.0, 22.5},
       {&Wx2050, "WX2050", "R25000", 25000, false, 1, 20.0, 22.5}},
  };
  for (const auto& round : rounds) {
    std::vector<std::future<void>> running;
    for (const TimedSwitch& c : round) {
      running.push_back(std::async(std::launch::async, [&bus, c] {
        SCOPED_TRACE(c.serial);
        double seconds = 0;
        bool inWriter = false;
        EXPECT_EQ(SwitchOnTheBus(bus, c, &seconds, &inWriter), c.expected);
        // The wait clock counts whole milliseconds from the update command: the deadline may
        // fall up to one millisecond before the real 20 s, when the command left within a
        // millisecond of the start.
        EXPECT_GE(seconds, c.minSeconds - 0.001);
        EXPECT_LE(seconds, c.maxSeconds);
        EXPECT_EQ(inWriter, c.expected == 0);
      }));
    }
    for (auto& r : running) r.get();
  }
}

}  // namespace
}  // namespace fg::test
