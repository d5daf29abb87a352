#include "util/stop_request.h"

#include <time.h>

#include <atomic>

namespace fg {

namespace {

std::atomic<int32_t> g_programming{0};
std::atomic<bool> g_requested{false};
// When the last deferred request came; 0 when none did.
std::atomic<int64_t> g_lastDeferredMs{0};

static_assert(std::atomic<int32_t>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int64_t>::is_always_lock_free);

}  // namespace

StopDecision RecordStopRequest(int64_t nowMs) {
  // Stopping at once is the caller's business; only a deferred request is left for the runs.
  if (g_programming.load() <= 0) return StopDecision::kStopNow;
  const int64_t last = g_lastDeferredMs.load();
  if (last != 0 && nowMs - last <= kStopRepeatWindowMs) return StopDecision::kStopNow;
  // A clock reading of 0 would read as "none"; a millisecond later changes nothing.
  g_lastDeferredMs.store(nowMs != 0 ? nowMs : 1);
  g_requested.store(true);
  return StopDecision::kDeferred;
}

StopDecision RequestStopBetweenImages() { return RecordStopRequest(MonotonicMs()); }

bool StopRequested() { return g_requested.load(); }

void ClearStopRequest() {
  g_requested.store(false);
  g_lastDeferredMs.store(0);
}

bool ProgrammingInProgress() { return g_programming.load() > 0; }

ProgrammingScope::ProgrammingScope() { g_programming.fetch_add(1); }
ProgrammingScope::~ProgrammingScope() { g_programming.fetch_sub(1); }

int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace fg
