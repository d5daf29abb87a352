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

// Returns once `milliseconds` have passed on the env's wait clock (the steady clock when env is
// null). Sleeps rather than keeping a core busy.
void WaitMilliseconds(const RunEnv* env, uint32_t milliseconds);

namespace programmer {

// The serial number field of a USB resource name ("USB0::vid::pid::SERIAL[::...]"), whole, in
// the family's own buffer of the calling thread; null when the name is not a USB name, has fewer
// than three "::" separators, or has a ':' as its last character. Never reads past the name's end.
const char* ExtractSerialNumber(const ProgrammerFamily& family, const char* resourceName);

// Asks "*IDN?" and applies the model rule (link/model_facts.h) to the reply, for the family's
// model and the run's facts: another catalogue model gets nothing more (13), nor does a writer
// that names no model and is not vouched for (14). A writer that may be written to: 0 at once.
// Otherwise sends the family's update command, tells the link's observer kWaitingForRestart and
// waits the family's first wait on the link's clock: 0, or 2 when the link fails. *switched (when
// given) tells whether the command went out, and *switchedAtMs when, on that clock.
// `resourceName` (may be null) gives the serial of a reply that names none.
int32_t EnterWriterMode(const ProgrammerFamily& family, DeviceLink* link, bool* switched = nullptr,
                        int64_t* switchedAtMs = nullptr, const char* resourceName = nullptr);

// ProgrammerOps::Connect of a family: opens resourceName, switches the instrument to its writer
// and reopens the link on it. An instrument that was switched is reopened under its old name, or
// else under the writer-mode name built from its whole serial number, after the first wait and
// then every retry interval until the deadline; only then does Connect give up (1, and the link's
// observer hears kDidNotReturn). Once reopened, a switched instrument is asked "*IDN?" again: an
// answer that is not the writer's is 15 (the observer hears kDidNotReturn), a writer of another
// model 13, one that names no model and is not vouched for 14. An instrument already in writer
// mode is reopened once. Every refusal closes the link; nothing but "*IDN?" went to a refused
// instrument (and the update command, when only the writer's answer refused it).
int32_t Connect(const ProgrammerFamily& family, DeviceLink* link, const char* resourceName);
// ProgrammerOps::Query and ::Close.
int32_t Query(const ProgrammerFamily& family, DeviceLink* link, int32_t selector, void* out);
int32_t Close(DeviceLink* link);

}  // namespace programmer
}  // namespace fg
