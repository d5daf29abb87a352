// A request to stop every update run of the process between two images, from a signal or a
// front end's close attempt. While partitions are being erased or programmed such a request is
// deferred: the image in progress is finished, then the run ends with kDriverStopped. Every
// function here is lock-free and async-signal-safe, and callable from any thread.
#pragma once
#include <cstdint>

namespace fg {

// What a deferred request says; front ends show it, the signal handler writes it.
inline constexpr const char* kStopDeferredText = "finishing the image in progress, then stopping";
// A second request within this time of a deferred one stops at once.
inline constexpr int64_t kStopRepeatWindowMs = 3000;

enum class StopDecision : int32_t {
  kStopNow = 0,  // nothing is being programmed, or the request was repeated: stop at once
  kDeferred = 1  // recorded: the runs stop between images
};

// Records a request made at `nowMs` (a monotonic clock in milliseconds, MonotonicMs) and says
// what the caller should do. Without programming in progress it is kStopNow and nothing is
// recorded. With programming in progress the first request is deferred; one repeated within
// kStopRepeatWindowMs of the last deferred one is kStopNow; a later one is deferred again.
StopDecision RecordStopRequest(int64_t nowMs);
// The same at the current time: the plain call for a front end's close attempt.
StopDecision RequestStopBetweenImages();

// True once a request was deferred; the drivers test it before each image.
bool StopRequested();
// Forgets a request, e.g. before a front end's next run.
void ClearStopRequest();

// True while at least one run is erasing or programming partitions.
bool ProgrammingInProgress();

// Marks the span in which a run erases or programs partitions (runs on several threads count).
class ProgrammingScope {
 public:
  ProgrammingScope();
  ~ProgrammingScope();
  ProgrammingScope(const ProgrammingScope&) = delete;
  ProgrammingScope& operator=(const ProgrammingScope&) = delete;
};

// CLOCK_MONOTONIC in milliseconds (clock_gettime is async-signal-safe).
int64_t MonotonicMs();

}  // namespace fg
