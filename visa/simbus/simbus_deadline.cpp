#include "visa/simbus/simbus_deadline.h"

namespace fg::simbus {

Deadline Deadline::After(uint32_t timeoutMs) {
  Deadline deadline;
  if (timeoutMs == 0xFFFFFFFFu) {
    deadline.infinite_ = true;
  } else {
    deadline.at_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  }
  return deadline;
}

int Deadline::RemainingMs() const {
  if (infinite_) return -1;
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(at_ - std::chrono::steady_clock::now());
  if (left.count() <= 0) return 0;
  // Round up so a wait of less than a millisecond still waits.
  return left.count() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left.count()) + 1;
}

}  // namespace fg::simbus
