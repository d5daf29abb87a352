#include "platform/termination.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace fg::platform {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<bool (*)()> g_defer{nullptr};
std::atomic<void (*)()> g_cleanup{nullptr};
static_assert(std::atomic<bool (*)()>::is_always_lock_free);
static_assert(std::atomic<void (*)()>::is_always_lock_free);

// Async-signal-safe as long as the handlers are: lock-free atomics, sigaction, raise.
void OnStopSignal(int signal) {
  const int savedErrno = errno;
  bool (*defer)() = g_defer.load();
  if (defer != nullptr && defer()) {
    errno = savedErrno;
    return;
  }
  if (void (*cleanup)() = g_cleanup.load()) cleanup();
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  // Blocked while the handler runs: delivered as it returns, ending the program as it would have.
  raise(signal);
  errno = savedErrno;
}

}  // namespace

// A POSIX program is never ended by a signal while a handler defers it, so `finishing` is not
// needed here: the deferred stop ends the runs in their own time.
void RunOnStopEvents(const StopEventHandlers& handlers) {
  g_defer.store(handlers.defer);
  g_cleanup.store(handlers.cleanup);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int s : kStopSignals) sigaddset(&action.sa_mask, s);  // one handler at a time
  action.sa_flags = SA_RESTART;
  for (int s : kStopSignals) sigaction(s, &action, nullptr);
}

void IgnoreClosedOutput() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

void WriteErrorNow(const char* text, size_t size) {
  while (size > 0) {
    const ssize_t n = write(STDERR_FILENO, text, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    size -= static_cast<size_t>(n);
  }
}

StopEventsBlocked::StopEventsBlocked() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kStopSignals) sigaddset(&set, s);
  pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

StopEventsBlocked::~StopEventsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

StopEventWaiter::StopEventWaiter() {
  sigemptyset(&events_);
  for (int s : kStopSignals) sigaddset(&events_, s);
  pthread_sigmask(SIG_BLOCK, &events_, nullptr);
}

// The signals stay blocked: a second one while the program winds down does not cut it short.
StopEventWaiter::~StopEventWaiter() {}

void StopEventWaiter::Wait() {
  int signal = 0;
  while (sigwait(&events_, &signal) != 0) {
  }
}

}  // namespace fg::platform
