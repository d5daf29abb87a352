#include "platform/termination.h"

#include <atomic>
#include <csignal>

namespace fg::platform {

namespace {

std::atomic<void (*)()> g_cleanup{nullptr};

void OnTerminatingSignal(int signal) {
  if (void (*cleanup)() = g_cleanup.load()) cleanup();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

void RunOnTermination(void (*cleanup)()) {
  g_cleanup.store(cleanup);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, OnTerminatingSignal);
}

}  // namespace fg::platform
