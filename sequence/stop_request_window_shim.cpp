// Stand-in for the core's stop request until the driver checks one: it records the request and
// nothing acts on it, so a run asked to stop still programs every image.
#include <atomic>

namespace fg {

namespace {
std::atomic<bool> g_stopRequested{false};
}  // namespace

void RequestStopBetweenImages() { g_stopRequested = true; }

bool StopBetweenImagesRequested() { return g_stopRequested; }

}  // namespace fg
