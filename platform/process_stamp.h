// A process told apart from every other, now and later: its id and the time it started. An id
// alone is reused once its process has ended; the pair names one process only.
#pragma once
#include <cstdint>

namespace fg::platform {

struct ProcessStamp {
  uint64_t id = 0;
  // In the system's own units (clock ticks since boot on Linux, 100 ns since 1601 on Windows);
  // 0 when the system would not say, and then the id alone is compared.
  uint64_t start = 0;
};

ProcessStamp CurrentProcessStamp();

// True only when the stamped process has certainly ended: no process has its id, the process
// with its id started at another time, or it has ended and waits to be reaped. A process this
// program may not look at, or a system that does not say, counts as still running.
bool StampedProcessEnded(const ProcessStamp& stamp);

}  // namespace fg::platform
