// A monotonic millisecond clock that moves only when the wait sleeps, so writer-mode waits take
// no time.
#pragma once
#include <algorithm>
#include <cstdint>

#include "link/device_link.h"
#include "link/run_env.h"

namespace fg::test {

class FakeClock {
 public:
  // Starts the fake at `startMs`; links attached to it wait on it.
  explicit FakeClock(int64_t startMs = 0) {
    nowMs = startMs;
    sleeps = 0;
    looks = 0;
    longestSleep = 0;
    env_.waitClock = &kClock;
  }
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  // A run context with this clock and the defaults for everything else.
  const RunEnv* env() const { return &env_; }
  // The programmer waits on this clock when it is given `link`.
  void Attach(DeviceLink* link) const { link->env = &env_; }

  static inline int64_t nowMs = 0;
  static inline int sleeps = 0;
  static inline int looks = 0;
  static inline uint32_t longestSleep = 0;

  static int64_t Now(void*) {
    ++looks;
    return nowMs;
  }
  static void Sleep(void*, uint32_t ms) {
    ++sleeps;
    nowMs += ms;
    longestSleep = std::max(longestSleep, ms);
  }
  static constexpr WaitClock kClock = {nullptr, Now, Sleep};

 private:
  RunEnv env_{};
};

}  // namespace fg::test
