#include "updater/version_fields.h"

#include <cstring>

namespace fg {

namespace {

// A sub-field that starts with one of these is empty.
bool EndsSubField(char c) { return c == '\0' || c == '-' || c == ',' || c == '\r' || c == '\n'; }

}  // namespace

bool ExtractVersionField(char* destination, const char* reply, int subField, size_t count) {
  destination[0] = '\0';
  if (reply == nullptr) return false;
  const char* p = reply;
  for (int commas = 0; commas < 3; ++commas) {
    p = std::strchr(p, ',');
    if (p == nullptr) return false;
    ++p;
  }
  for (int hyphens = 0; hyphens < subField; ++hyphens) {
    p = std::strchr(p, '-');
    if (p == nullptr) return false;
    ++p;
  }
  if (count > kVersionTextSize - 1) count = kVersionTextSize - 1;
  size_t n = 0;
  while (n < count && p[n] != '\0') {
    destination[n] = p[n];
    ++n;
  }
  destination[n] = '\0';
  return !EndsSubField(p[0]);
}

bool ExtractVersionField0(char* d, const char* r) { return ExtractVersionField(d, r, 0, 4); }
bool ExtractVersionField2(char* d, const char* r) { return ExtractVersionField(d, r, 2, 2); }
bool ExtractVersionField3(char* d, const char* r) { return ExtractVersionField(d, r, 3, 2); }
bool ExtractVersionField4(char* d, const char* r) { return ExtractVersionField(d, r, 4, 2); }
bool ExtractVersionField5(char* d, const char* r) { return ExtractVersionField(d, r, 5, 4); }

// strcmp compares as unsigned char, which is the order wanted here.
int CompareVersionText(const char* a, const char* b) { return std::strcmp(a, b); }

}  // namespace fg
