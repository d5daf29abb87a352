// Text that came from outside (an instrument's reply, a file name) made safe to print in a log
// line or on a terminal: nothing in it can move the cursor, start an escape sequence or break
// the line. Escaped bytes are written \xNN, as inspect shows header fields.
#pragma once
#include <cstddef>
#include <string>

namespace fg {

// Printable ASCII stays; a backslash and every other byte become \xNN. For bytes that are
// not meant as text in any encoding (replies, header fields).
std::string EscapeBytes(const char* bytes, size_t length);

// For names a person chose (file names, which may be UTF-8 and Windows paths): well-formed UTF-8
// of printable characters stays, backslashes included; control characters (C0, DEL, C1) and
// bytes of no well-formed sequence become \xNN.
std::string EscapeName(const char* name);

}  // namespace fg
