#include "platform/terminal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace fg::platform {

namespace {

// Counted by the handler, compared by the readers: a lock-free atomic is all a handler may touch.
std::atomic<uint32_t> g_resizes{0};
static_assert(std::atomic<uint32_t>::is_always_lock_free);

void OnResize(int) { g_resizes.fetch_add(1, std::memory_order_relaxed); }

void FollowResizes() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = OnResize;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // a resize never interrupts a read of the y/N answer
    sigaction(SIGWINCH, &action, nullptr);
  });
}

int Measure(std::FILE* stream) {
  struct winsize size {};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace

bool IsTerminal(std::FILE* stream) { return stream != nullptr && isatty(fileno(stream)) != 0; }

// Every terminal that isatty accepts understands the two sequences.
bool EnableInPlaceLine(std::FILE* stream) { return IsTerminal(stream); }

std::FILE* AnswerStream() { return IsTerminal(stdin) ? stdin : nullptr; }

int TerminalColumns(TerminalWidth* width) {
  if (!IsTerminal(width->stream)) return 0;
  FollowResizes();
  // Read before measuring: a resize during the measurement is measured again next time.
  const uint32_t resizes = g_resizes.load(std::memory_order_relaxed);
  if (!width->measured || resizes != width->resizesSeen) {
    width->columns = Measure(width->stream);
    width->resizesSeen = resizes;
    width->measured = true;
  }
  return width->columns;
}

}  // namespace fg::platform
