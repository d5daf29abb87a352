// A WX2040 for the real driver and programmer that takes the update command and never comes back
// as its writer: a scripted link on a clock that moves only when they sleep, both in the run
// context `env` that a front end hands to its runs.
#pragma once
#include <string>

#include "link/run_env.h"
#include "tests/programmer/fake_clock.h"
#include "tests/programmer/fake_link.h"

namespace fg::test {

struct VanishingInstrument {
  FakeClock clock;
  FakeLink link;
  RunEnv env{};

  VanishingInstrument() {
    FakeLink::current = &link;  // the driver's context owns the slots' calls
    // Its identity for the driver's Connect, then for the programmer's switch.
    link.Queue({"VANDRELL,WX2040,AB123,1.10-0-01-02-03-0105",
                "VANDRELL,WX2040,AB123,1.10-0-01-02-03-0105"});
    link.openResults = {true, true};  // the driver's open, the programmer's first one
    link.canOpen = [](const std::string&) { return false; };  // then never again
    env = *clock.env();
    env.linkSlots = &kSlots;
  }
  ~VanishingInstrument() { FakeLink::current = nullptr; }
  VanishingInstrument(const VanishingInstrument&) = delete;
  VanishingInstrument& operator=(const VanishingInstrument&) = delete;

  static constexpr LinkSlots kSlots = {FakeLink::Open, FakeLink::Write, FakeLink::Read,
                                       FakeLink::Close, nullptr};
};

}  // namespace fg::test
