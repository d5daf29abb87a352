// A deadline clock that moves `stepMs` at every look, so that a partition operation's deadline
// passes after a known number of link calls without any waiting.
#pragma once
#include <cstdint>

#include "link/device_link.h"
#include "link/run_env.h"

namespace fg::test {

class FakeDeadlineClock {
 public:
  explicit FakeDeadlineClock(int64_t stepMs = 0) {
    nowMs = 0;
    step = stepMs;
    env_.deadlineClock = &kClock;
  }
  FakeDeadlineClock(const FakeDeadlineClock&) = delete;
  FakeDeadlineClock& operator=(const FakeDeadlineClock&) = delete;

  // A run context with this clock and the defaults for everything else.
  const RunEnv* env() const { return &env_; }
  // The programmer measures the deadlines of `link`'s operations on this clock.
  void Attach(DeviceLink* link) const { link->env = &env_; }

  static inline int64_t nowMs = 0;
  static inline int64_t step = 0;

  static int64_t Now(void*) {
    const int64_t now = nowMs;
    nowMs += step;
    return now;
  }

 private:
  static constexpr DeadlineClock kClock = {nullptr, Now};
  RunEnv env_{};
};

}  // namespace fg::test
