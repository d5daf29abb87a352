#include "platform/termination.h"

#include <windows.h>

#include <atomic>

namespace fg::platform {

namespace {

std::atomic<void (*)()> g_cleanup{nullptr};
std::atomic<bool> g_installed{false};

// Called on a new thread for every console event. Returning FALSE hands the event on to the
// system's handler, which ends the process as it would have without us.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      if (void (*cleanup)() = g_cleanup.load()) cleanup();
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

void RunOnTermination(void (*cleanup)()) {
  g_cleanup.store(cleanup);
  if (!g_installed.exchange(true)) SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace fg::platform
