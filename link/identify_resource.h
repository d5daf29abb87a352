// Asking an instrument who it is, outside any update run: for the device search (which must tell
// a WX2050 in writer mode from a WX2040 under the same USB ids), `list` and `doctor`.
#pragma once
#include <cstdint>

#include "link/instrument_identity.h"

namespace fg {

// The identity query is short and must not hold a search for long: a stalled instrument costs at
// most the open timeout plus these.
inline constexpr uint32_t kIdentifyIoTimeoutMs = 2000;

inline constexpr int32_t kIdentifyOpenFailed = 1;  // the resource cannot be opened
inline constexpr int32_t kIdentifyNoReply = 2;     // "*IDN?" could not be written or read

// Opens the resource through VISA, sends "*IDN?", reads one reply, closes again. 0 with *out
// filled; otherwise one of the numbers above and *out cleared. Blocks for at most the VISA open
// timeout plus twice kIdentifyIoTimeoutMs.
int32_t IdentifyResource(const char* resourceName, InstrumentIdentity* out);

}  // namespace fg
