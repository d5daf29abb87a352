// Deadlines and I/O outcomes of the simulated bus, the same whatever carries its bytes.
#pragma once
#include <chrono>
#include <cstdint>

namespace fg::simbus {

// A point in time after which a wait gives up; "never" for VI_TMO_INFINITE.
class Deadline {
 public:
  static Deadline After(uint32_t timeoutMs);  // 0xFFFFFFFF waits forever
  // Milliseconds left for a wait: -1 forever, 0 when passed.
  int RemainingMs() const;
  bool Passed() const { return RemainingMs() == 0; }

 private:
  bool infinite_ = false;
  std::chrono::steady_clock::time_point at_{};
};

enum class IoResult { kOk, kTimeout, kClosed, kError };

}  // namespace fg::simbus
