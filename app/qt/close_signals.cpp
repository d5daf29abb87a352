#include "app/qt/close_signals.h"

#include <fcntl.h>
#include <cerrno>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <QSocketNotifier>

#include "platform/termination.h"
#include "sequence/payload_folder.h"
#include "util/stop_notice.h"

namespace fg::app {
namespace {

constexpr int64_t kSecondSignalWindowNs = 3'000'000'000;

// Shared with the handler: only lock-free atomics and plain file descriptors.
int g_pipe[2] = {-1, -1};
volatile sig_atomic_t g_deferring = 0;
volatile sig_atomic_t g_deferredOnce = 0;
int64_t g_firstSignalNs = 0;  // written only by the handler, under g_deferredOnce
CloseSignals* g_instance = nullptr;

int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void EndNow(int signal) {
  // What the runs leave behind: an instrument in writer mode, an image cut short.
  WriteStopNotices(platform::WriteErrorNow);
  RemovePayloadFolderFromSignal();
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void OnSignal(int signal) {
  if (!g_deferring) return EndNow(signal);
  const int64_t now = MonotonicNs();
  if (g_deferredOnce && now - g_firstSignalNs < kSecondSignalWindowNs) return EndNow(signal);
  g_deferredOnce = 1;
  g_firstSignalNs = now;
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

CloseSignals::CloseSignals(QObject* parent) : QObject(parent) {
  notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &CloseSignals::OnReadable);
}

CloseSignals::~CloseSignals() {
  if (g_instance == this) g_instance = nullptr;
}

CloseSignals* CloseSignals::Install(QObject* parent) {
  if (g_instance != nullptr) return g_instance;
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    RemovePayloadFolderOnTerminatingSignals();
    return nullptr;
  }
  g_instance = new CloseSignals(parent);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  return g_instance;
}

CloseSignals* CloseSignals::Instance() { return g_instance; }

void CloseSignals::SetDeferring(bool deferring) {
  g_deferredOnce = 0;
  g_deferring = deferring ? 1 : 0;
}

void CloseSignals::OnReadable() {
  char bytes[16];
  while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
  }
  emit closeRequested();
}

}  // namespace fg::app
