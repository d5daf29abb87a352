// A monotonic millisecond clock that moves only when the wait sleeps, so writer-mode waits take
// no time.
#pragma once
#include <algorithm>
#include <cstdint>

#include "programmer/writer_mode.h"

namespace fg::test {

class FakeClock {
 public:
  // Installs the fake for the lifetime of this object, starting at `startMs`.
  explicit FakeClock(int64_t startMs = 0) {
    nowMs = startMs;
    sleeps = 0;
    looks = 0;
    longestSleep = 0;
    previous_ = InstallWaitClock(&kClock);
  }
  ~FakeClock() { InstallWaitClock(previous_); }
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  static inline int64_t nowMs = 0;
  static inline int sleeps = 0;
  static inline int looks = 0;
  static inline uint32_t longestSleep = 0;

  static int64_t Now() {
    ++looks;
    return nowMs;
  }
  static void Sleep(uint32_t ms) {
    ++sleeps;
    nowMs += ms;
    longestSleep = std::max(longestSleep, ms);
  }

 private:
  static constexpr WaitClock kClock = {Now, Sleep};
  const WaitClock* previous_;
};

}  // namespace fg::test
