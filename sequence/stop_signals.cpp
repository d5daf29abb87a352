#include "sequence/stop_signals.h"

#include "platform/termination.h"
#include "sequence/payload_folder.h"
#include "util/stop_notice.h"
#include "util/stop_request.h"

namespace fg {

namespace {

// Preformatted, so the handler only writes it.
constexpr char kDeferredLine[] = "\nfinishing the image in progress, then stopping\n";

constexpr bool StartsWith(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (*text != *prefix) return false;
  }
  return true;
}
static_assert(StartsWith(kDeferredLine + 1, kStopDeferredText));

// Async-signal-safe: lock-free atomics, the monotonic clock and an unbuffered write.
bool DeferWhileProgramming() {
  if (RecordStopRequest(MonotonicMs()) != StopDecision::kDeferred) return false;
  platform::WriteErrorNow(kDeferredLine, sizeof kDeferredLine - 1);
  return true;
}

// Before the program ends at once: what each run leaves behind (an instrument in writer mode, a
// partition cut short) goes to standard error, then the payload folders go.
void EndingAtOnce() {
  WriteStopNotices(platform::WriteErrorNow);
  RemovePayloadFolderFromSignal();
}

}  // namespace

void InstallStopSignals() {
  platform::RunOnStopEvents({DeferWhileProgramming, ProgrammingInProgress, EndingAtOnce});
  platform::IgnoreClosedOutput();
}

}  // namespace fg
