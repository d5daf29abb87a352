#include "platform/termination.h"

#include <windows.h>

#include <atomic>

namespace fg::platform {

namespace {

// How long a closed console, log-off or shut-down waits for a deferred stop: below the 5 s the
// system gives a handler for a closed console before it ends the process.
constexpr DWORD kEndingEventWaitMs = 4000;

std::atomic<bool (*)()> g_defer{nullptr};
std::atomic<bool (*)()> g_finishing{nullptr};
std::atomic<void (*)()> g_cleanup{nullptr};
std::atomic<bool> g_installed{false};

// Called on a new thread for every console event. Returning TRUE keeps the program running;
// FALSE hands the event on to the system's handler, which ends the process as it would have
// without us.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  bool (*defer)() = g_defer.load();
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      if (defer != nullptr && defer()) return TRUE;
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // These end the process whatever the handler answers: a deferred stop gets the time the
      // system allows to finish the image in progress, then the process goes.
      if (defer != nullptr && defer()) {
        bool (*finishing)() = g_finishing.load();
        const ULONGLONG until = GetTickCount64() + kEndingEventWaitMs;
        while (finishing != nullptr && finishing() && GetTickCount64() < until) Sleep(20);
      }
      break;
    default:
      return FALSE;
  }
  if (void (*cleanup)() = g_cleanup.load()) cleanup();
  return FALSE;
}

HANDLE g_stopped = nullptr;  // set by the waiter's handler: a stop event came
HANDLE g_released = nullptr;  // set when the waiter is gone: the process may end

// The waiter's console handler. Ctrl-C and Ctrl-Break only wake the waiting thread; the events
// after which the system ends the process anyway wait for the program to wind down first.
BOOL WINAPI OnConsoleEventForWaiter(DWORD event) {
  SetEvent(g_stopped);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    WaitForSingleObject(g_released, kEndingEventWaitMs);
  }
  return TRUE;
}

}  // namespace

StopEventWaiter::StopEventWaiter() {
  g_stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_released = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEventForWaiter, TRUE);
}

// The events stay: the handler may still be running on its own thread.
StopEventWaiter::~StopEventWaiter() { SetEvent(g_released); }

void StopEventWaiter::Wait() { WaitForSingleObject(g_stopped, INFINITE); }

void RunOnStopEvents(const StopEventHandlers& handlers) {
  g_defer.store(handlers.defer);
  g_finishing.store(handlers.finishing);
  g_cleanup.store(handlers.cleanup);
  if (!g_installed.exchange(true)) SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

// A write to a closed pipe fails with an error on Windows; no event ends the program.
void IgnoreClosedOutput() {}

void WriteErrorNow(const char* text, size_t size) {
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  while (size > 0) {
    DWORD wrote = 0;
    if (!WriteFile(error, text, static_cast<DWORD>(size), &wrote, nullptr) || wrote == 0) return;
    text += wrote;
    size -= wrote;
  }
}

StopEventsBlocked::StopEventsBlocked() {}
StopEventsBlocked::~StopEventsBlocked() {}

}  // namespace fg::platform
