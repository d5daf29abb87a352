#include "sequence/stop_signals.h"

#include <atomic>

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

// The session's runs going on, and whether a stop event ended the session while none was.
std::atomic<int32_t> g_sessionRuns{0};
std::atomic<bool> g_sessionStopped{false};
static_assert(std::atomic<int32_t>::is_always_lock_free);

constexpr char kSessionEndsLine[] = "\nstopping: no instrument is being updated\n";

// Async-signal-safe as DeferWhileProgramming is.
bool DeferInSession() {
  if (ProgrammingInProgress()) return DeferWhileProgramming();
  if (g_sessionRuns.load() != 0) return false;  // a run between its steps: as for an update
  if (!g_sessionStopped.exchange(true)) {
    platform::WriteErrorNow(kSessionEndsLine, sizeof kSessionEndsLine - 1);
  }
  return true;
}

bool SessionFinishing() { return ProgrammingInProgress() || g_sessionRuns.load() != 0; }

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

void InstallSessionStopSignals() {
  platform::RunOnStopEvents({DeferInSession, SessionFinishing, EndingAtOnce});
  platform::IgnoreClosedOutput();
}

bool SessionStopRequested() { return g_sessionStopped.load() || StopRequested(); }

// Counted first, checked second: a stop event sees either the run counted (and treats it as a
// run going on) or, when it came first, the session stopped (and the run is not begun).
SessionRunScope::SessionRunScope() {
  g_sessionRuns.fetch_add(1);
  accepted_ = !SessionStopRequested();
}

SessionRunScope::~SessionRunScope() { g_sessionRuns.fetch_sub(1); }

}  // namespace fg
