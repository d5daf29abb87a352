// Copies into fixed-size, NUL-terminated text fields; never writes past the field.
#pragma once
#include <cstddef>
#include <cstring>

namespace fg {

// Copies at most capacity - 1 characters of source (stopping at its NUL) and terminates.
// Returns the number of characters copied. A capacity of 0 writes nothing.
inline size_t CopyBounded(char* dest, size_t capacity, const char* source) {
  if (capacity == 0) return 0;
  size_t n = 0;
  if (source != nullptr) {
    while (n + 1 < capacity && source[n] != '\0') {
      dest[n] = source[n];
      ++n;
    }
  }
  dest[n] = '\0';
  return n;
}

template <size_t N>
size_t CopyBounded(char (&dest)[N], const char* source) {
  return CopyBounded(dest, N, source);
}

// Length of a text field that may lack its terminator, never reading past capacity.
inline size_t BoundedLength(const char* text, size_t capacity) {
  const void* end = std::memchr(text, '\0', capacity);
  return end ? static_cast<size_t>(static_cast<const char*>(end) - text) : capacity;
}

}  // namespace fg
