// Entry into writer mode, reconnection to the writer, the programmer's queries and close.
#pragma once
#include <cstdint>

#include "link/device_link.h"
#include "programmer/programmer_family.h"

namespace fg {

inline constexpr uint32_t kWriterModeWaitMs = 4000;  // time the instrument gets to restart
// The name under which either family's writer firmware enumerates (serial number in place of %s).
inline constexpr const char* kWriterResourceFormat = "USB0::0x2E5B::0x3A01::%s::INSTR";
inline constexpr const char* kIdentityQuery = "*IDN?\n";
inline constexpr const char* kWriterIdentityPrefix = "WRITER";

// The clock that the writer-mode wait watches, and how it pauses between looks at it.
struct WaitClock {
  int64_t (*nowSeconds)();                    // calendar time in whole seconds
  void (*sleepMilliseconds)(uint32_t milliseconds);
};

// Installs the clock of every later wait and returns the previous one; null restores the system
// clock. For tests, so that they need not wait seconds.
const WaitClock* InstallWaitClock(const WaitClock* clock);

// Returns once the whole-second clock has moved on by milliseconds / 1000 (rounded up): with the
// system clock a 4000 ms wait takes between 3 and 4 seconds. Sleeps a few milliseconds between
// looks at the clock rather than keeping a core busy.
void WaitMilliseconds(uint32_t milliseconds);

namespace programmer {

// The serial number field of a USB resource name ("USB0::vid::pid::SERIAL[::...]"), at most 15
// characters, in the family's own buffer of the calling thread; null when the name is not a USB
// name, has fewer than three "::" separators, or has a ':' as its last character. Never reads
// past the name's end.
const char* ExtractSerialNumber(const ProgrammerFamily& family, const char* resourceName);

// Asks "*IDN?"; unless the reply begins with "WRITER", sends the family's update command and
// waits kWriterModeWaitMs. 0, or 2 when the link fails.
int32_t EnterWriterMode(const ProgrammerFamily& family, DeviceLink* link);

// ProgrammerOps::Connect, ::Query and ::Close of a family.
int32_t Connect(const ProgrammerFamily& family, DeviceLink* link, const char* resourceName);
int32_t Query(const ProgrammerFamily& family, DeviceLink* link, int32_t selector, void* out);
int32_t Close(DeviceLink* link);

}  // namespace programmer
}  // namespace fg
