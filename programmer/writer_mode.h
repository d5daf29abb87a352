// Entry into writer mode, reconnection to the writer, the programmer's queries and close.
#pragma once
#include <cstdint>

#include "link/device_link.h"
#include "link/instrument_identity.h"
#include "programmer/programmer_family.h"

namespace fg {

inline constexpr uint32_t kWriterModeWaitMs = 4000;  // time the instrument gets to restart
// The name under which either family's writer firmware enumerates (serial number in place of %s).
inline constexpr const char* kWriterResourceFormat = "USB0::0x2E5B::0x3A01::%s::INSTR";
inline constexpr const char* kWriterIdentityPrefix = "WRITER";

// The clock that the writer-mode wait watches, and how it pauses between looks at it.
struct WaitClock {
  int64_t (*nowMilliseconds)();  // monotonic: never goes back, whatever the calendar does
  void (*sleepMilliseconds)(uint32_t milliseconds);
};

// Installs the clock of every later wait and returns the previous one; null restores the system's
// steady clock. For tests, so that they need not wait seconds, and for a front end that keeps
// handling its events while the wait sleeps.
const WaitClock* InstallWaitClock(const WaitClock* clock);

// Returns once `milliseconds` have passed on the installed clock. Sleeps rather than keeping a
// core busy.
void WaitMilliseconds(uint32_t milliseconds);

// What the writer-mode switch tells a front end while it runs (on the caller's thread).
enum class WriterModeEvent : int32_t {
  kWaitingForRestart = 1,  // the update command went out; the instrument restarts
  kDidNotReturn = 2,       // no writer came back before the deadline: Connect fails with 1
};
struct WriterModeObserver {
  void* owner;
  void (*Notify)(void* owner, WriterModeEvent event);
};
// Installs the observer of later switches and returns the previous one; null: nobody is told.
const WriterModeObserver* InstallWriterModeObserver(const WriterModeObserver* observer);

namespace programmer {

// The serial number field of a USB resource name ("USB0::vid::pid::SERIAL[::...]"), at most 15
// characters, in the family's own buffer of the calling thread; null when the name is not a USB
// name, has fewer than three "::" separators, or has a ':' as its last character. Never reads
// past the name's end.
const char* ExtractSerialNumber(const ProgrammerFamily& family, const char* resourceName);

// Asks "*IDN?"; unless the reply begins with "WRITER", sends the family's update command and
// waits the family's first wait. 0, or 2 when the link fails. *switched (when given) tells
// whether the command went out, and *switchedAtMs when, on the installed clock.
int32_t EnterWriterMode(const ProgrammerFamily& family, DeviceLink* link, bool* switched = nullptr,
                        int64_t* switchedAtMs = nullptr);

// ProgrammerOps::Connect of a family: opens resourceName, switches the instrument to its writer
// and reopens the link on it. An instrument that was switched is reopened under its old name, or
// else under the writer-mode name built from its serial number, after the first wait and then
// every retry interval until the deadline; only then does Connect give up (1, and the observer
// hears kDidNotReturn). An instrument already in writer mode is reopened once.
int32_t Connect(const ProgrammerFamily& family, DeviceLink* link, const char* resourceName);
// ProgrammerOps::Query and ::Close.
int32_t Query(const ProgrammerFamily& family, DeviceLink* link, int32_t selector, void* out);
int32_t Close(DeviceLink* link);

}  // namespace programmer
}  // namespace fg
