#include "platform/terminal.h"

#include <unistd.h>

namespace fg::platform {

bool IsTerminal(std::FILE* stream) { return stream != nullptr && isatty(fileno(stream)) != 0; }

// Every terminal that isatty accepts understands the two sequences.
bool EnableInPlaceLine(std::FILE* stream) { return IsTerminal(stream); }

std::FILE* AnswerStream() { return IsTerminal(stdin) ? stdin : nullptr; }

}  // namespace fg::platform
