// The terminal a command-line program talks to: whether a stream is one, the in-place progress
// line, how wide the terminal is, and where a confirmation is read from.
#pragma once
#include <cstdint>
#include <cstdio>

namespace fg::platform {

// True when the stream is an interactive terminal (a console on Windows), not a file, a pipe or
// the null device.
bool IsTerminal(std::FILE* stream);

// Prepares a terminal stream for a line redrawn in place ("\r" and "\033[K"). False when the
// terminal cannot do that; the caller then writes plain lines instead.
bool EnableInPlaceLine(std::FILE* stream);

// The stream a y/N answer is read from: standard input when it is a terminal, else null.
std::FILE* AnswerStream();

// The width of the terminal one stream writes to, as one front end keeps it between redraws.
struct TerminalWidth {
  std::FILE* stream = nullptr;
  int columns = 0;           // as last measured
  bool measured = false;
  uint32_t resizesSeen = 0;  // POSIX: the count of resizes at that measurement
};

// The terminal's width in columns; 0 when the stream is no terminal or the terminal does not
// say. POSIX: measured (TIOCGWINSZ) at the first call and again once the terminal reported a
// resize; the first call installs a SIGWINCH handler that does nothing but count them. Windows:
// measured at every call (the console window's width), since a console sends no signal.
int TerminalColumns(TerminalWidth* width);

}  // namespace fg::platform
