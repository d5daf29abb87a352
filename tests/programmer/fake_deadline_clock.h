// A deadline clock that moves `stepMs` at every look, so that a partition operation's deadline
// passes after a known number of link calls without any waiting.
#pragma once
#include <cstdint>

#include "programmer/operation_budget.h"

namespace fg::test {

class FakeDeadlineClock {
 public:
  explicit FakeDeadlineClock(int64_t stepMs = 0) {
    nowMs = 0;
    step = stepMs;
    previous_ = InstallDeadlineClock(&kClock);
  }
  ~FakeDeadlineClock() { InstallDeadlineClock(previous_); }
  FakeDeadlineClock(const FakeDeadlineClock&) = delete;
  FakeDeadlineClock& operator=(const FakeDeadlineClock&) = delete;

  static inline int64_t nowMs = 0;
  static inline int64_t step = 0;

  static int64_t Now() {
    const int64_t now = nowMs;
    nowMs += step;
    return now;
  }

 private:
  static constexpr DeadlineClock kClock = {Now};
  const DeadlineClock* previous_;
};

}  // namespace fg::test
