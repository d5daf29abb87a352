#include "link/resource_serial.h"

#include <cstring>

namespace fg {

namespace {

// After the ':' at `colon`, the position two characters on (over "::"), or null when the name
// ends right after that ':'.
const char* SkipSeparator(const char* colon) {
  return colon[1] == '\0' ? nullptr : colon + 2;
}

}  // namespace

bool ResourceSerialField(const char* resourceName, char* out, size_t capacity) {
  if (capacity == 0) return false;
  out[0] = '\0';
  if (resourceName == nullptr || std::strncmp(resourceName, "USB", 3) != 0) return false;
  const char* p = resourceName;
  for (int separators = 0; separators < 3; ++separators) {
    const char* colon = std::strchr(p, ':');
    if (colon == nullptr) return false;
    p = SkipSeparator(colon);
    if (p == nullptr) return false;
  }
  const size_t length = std::strcspn(p, ":");
  if (length >= capacity) return false;
  std::memcpy(out, p, length);
  out[length] = '\0';
  return true;
}

}  // namespace fg
