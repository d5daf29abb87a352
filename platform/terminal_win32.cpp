#include "platform/terminal.h"

#include <io.h>
#include <windows.h>

namespace fg::platform {

namespace {

HANDLE HandleOf(std::FILE* stream) {
  if (stream == nullptr) return INVALID_HANDLE_VALUE;
  const int fd = _fileno(stream);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

}  // namespace

// _isatty accepts every character device, the null device too; only a console has a mode.
bool IsTerminal(std::FILE* stream) {
  DWORD mode = 0;
  const HANDLE handle = HandleOf(stream);
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// Consoles of Windows 10 and later understand the erase sequence once asked to; older ones
// refuse the mode.
bool EnableInPlaceLine(std::FILE* stream) {
  DWORD mode = 0;
  const HANDLE handle = HandleOf(stream);
  if (handle == INVALID_HANDLE_VALUE || GetConsoleMode(handle, &mode) == 0) return false;
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  return SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::FILE* AnswerStream() { return IsTerminal(stdin) ? stdin : nullptr; }

// The visible window, not the buffer: a line as wide as the window is read without scrolling.
int TerminalColumns(TerminalWidth* width) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  const HANDLE handle = HandleOf(width->stream);
  width->measured = true;
  if (handle == INVALID_HANDLE_VALUE || GetConsoleScreenBufferInfo(handle, &info) == 0) {
    width->columns = 0;
  } else {
    width->columns = info.srWindow.Right - info.srWindow.Left + 1;
  }
  return width->columns;
}

}  // namespace fg::platform
