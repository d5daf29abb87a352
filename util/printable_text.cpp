#include "util/printable_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace fg {

namespace {

void AppendEscaped(std::string* out, unsigned char byte) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
  *out += escaped;
}

// The length of the well-formed UTF-8 sequence of a printable character of two or more bytes
// at `s` (of `left` bytes), or 0. C1 controls (U+0080..U+009F), overlong forms and surrogates
// are not printable.
size_t PrintableSequence(const unsigned char* s, size_t left) {
  const unsigned char lead = s[0];
  size_t length = 0;
  uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (left < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    code = (code << 6) | (s[i] & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF) return 0;
  if (code >= 0xD800 && code <= 0xDFFF) return 0;
  if (code <= 0x9F) return 0;  // C1 controls
  return length;
}

}  // namespace

std::string EscapeBytes(const char* bytes, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      out += static_cast<char>(b);
    } else {
      AppendEscaped(&out, b);
    }
  }
  return out;
}

std::string EscapeName(const char* name) {
  std::string out;
  if (name == nullptr) return out;
  const auto* s = reinterpret_cast<const unsigned char*>(name);
  const size_t length = std::strlen(name);
  for (size_t i = 0; i < length;) {
    if (s[i] >= 0x20 && s[i] < 0x7F) {
      out += static_cast<char>(s[i++]);
    } else if (const size_t n = PrintableSequence(s + i, length - i); n != 0) {
      out.append(name + i, n);
      i += n;
    } else {
      AppendEscaped(&out, s[i++]);
    }
  }
  return out;
}

}  // namespace fg
