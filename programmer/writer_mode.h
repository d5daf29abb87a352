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

// Returns once `milliseconds` have passed on the env's wait clock (the steady clock when env is
// null). Sleeps rather than keeping a core busy.
void WaitMilliseconds(const RunEnv* env, uint32_t milliseconds);

namespace programmer {

// The serial number field of a USB resource name ("USB0::vid::pid::SERIAL[::...]"), at most 15
// characters, in the family's own buffer of the calling thread; null when the name is not a USB
// name, has fewer than three "::" separators, or has a ':' as its last character. Never reads
// past the name's end.
const char* ExtractSerialNumber(const ProgrammerFamily& family, const char* resourceName);

// Asks "*IDN?"; unless the reply begins with "WRITER", sends the family's update command, tells
// the link's observer kWaitingForRestart and waits the family's first wait on the link's clock.
// 0, or 2 when the link fails. *switched (when given) tells whether the command went out, and
// *switchedAtMs when, on that clock.
int32_t EnterWriterMode(const ProgrammerFamily& family, DeviceLink* link, bool* switched = nullptr,
                        int64_t* switchedAtMs = nullptr);

// ProgrammerOps::Connect of a family: opens resourceName, switches the instrument to its writer
// and reopens the link on it. An instrument that was switched is reopened under its old name, or
// else under the writer-mode name built from its serial number, after the first wait and then
// every retry interval until the deadline; only then does Connect give up (1, and the link's
// observer hears kDidNotReturn). An instrument already in writer mode is reopened once.
int32_t Connect(const ProgrammerFamily& family, DeviceLink* link, const char* resourceName);
// ProgrammerOps::Query and ::Close.
int32_t Query(const ProgrammerFamily& family, DeviceLink* link, int32_t selector, void* out);
int32_t Close(DeviceLink* link);

}  // namespace programmer
}  // namespace fg
