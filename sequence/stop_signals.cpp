#include "sequence/stop_signals.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "sequence/payload_folder.h"
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

void WriteAll(int fd, const char* text, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, text, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    size -= static_cast<size_t>(n);
  }
}

// Async-signal-safe: lock-free atomics, clock_gettime, write, unlink, rmdir, sigaction, raise.
void OnStopSignal(int signal) {
  const int savedErrno = errno;
  if (RecordStopRequest(MonotonicMs()) == StopDecision::kDeferred) {
    WriteAll(STDERR_FILENO, kDeferredLine, sizeof kDeferredLine - 1);
    errno = savedErrno;
    return;
  }
  RemovePayloadFolderFromSignal();
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  // Blocked while the handler runs: delivered as it returns, ending the program as it would have.
  raise(signal);
  errno = savedErrno;
}

}  // namespace

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int s : kStopSignals) sigaddset(&action.sa_mask, s);  // one handler at a time
  action.sa_flags = SA_RESTART;
  for (int s : kStopSignals) sigaction(s, &action, nullptr);

  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace fg
