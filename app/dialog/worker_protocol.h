// The window's thread never waits for an instrument: a file selection's search, a drop-down's
// search and a whole update run go on a worker thread, while the window's thread goes on
// handling its events. The worker reaches the window only through a front end whose every call
// is carried to the window's thread (DialogViewOps::Post) and waited for there, so the window's
// controls, its log and its boxes are touched by the window's thread alone, and a box's answer
// comes back to the worker as the call's result.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "app/dialog/dialog_view.h"
#include "link/device_search.h"
#include "sequence/front_end.h"

namespace fg::app {

// One call of the worker, carried to the window's thread. The worker waits until it was run.
struct UiCall {
  std::function<void()> work;
  std::mutex mutex;
  std::condition_variable ran;
  bool done = false;
};

// On the window's thread: runs the call, then lets the worker go on. The call belongs to the
// worker, which may end it as soon as this returns.
void DeliverUiCall(UiCall* call);

// Runs work(fe) on a worker thread, `fe` being the window's front end `ui` with every call
// carried to the window's thread (its device list too); meanwhile the window's thread handles
// its events (view->RunEventsUntil). When work is done, finished(result) runs on the window's
// thread, before this returns and while it still handles events, so that it can end what the
// events opened (a question box over the window). Called on the window's thread; returns work's
// result.
int32_t RunOnWorker(const DialogViewOps* view, const FrontEndOps* ui,
                    const std::function<int32_t(const FrontEndOps* fe)>& work,
                    const std::function<void(int32_t result)>& finished);

}  // namespace fg::app
