// The terminal a command-line program talks to: whether a stream is one, the in-place progress
// line, and where a confirmation is read from.
#pragma once
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

}  // namespace fg::platform
