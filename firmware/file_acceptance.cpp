#include "firmware/file_acceptance.h"

#include <cstring>

#include "util/bounded_text.h"

namespace fg {

namespace {

// Whether every character of the (bounded) field is a revision character. Empty passes.
template <size_t N>
bool HasOnlyRevisionCharacters(const char (&field)[N]) {
  size_t n = BoundedLength(field, N);
  for (size_t i = 0; i < n; ++i) {
    if (std::strchr(kRevisionCharacters, field[i]) == nullptr) return false;
  }
  return true;
}

// Value of the leading decimal digits of [p, end), saturating so that no text can overflow it.
uint32_t LeadingNumber(const char* p, const char* end) {
  constexpr uint32_t kCap = 1000000;
  uint32_t v = 0;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + static_cast<uint32_t>(*p - '0');
    if (v > kCap) v = kCap;
  }
  return v;
}

}  // namespace

bool NeedsNewerTool(const char* utilityRev) {
  const char* end = utilityRev + std::strlen(utilityRev);
  const char* firstDot = std::strchr(utilityRev, '.');
  if (firstDot == nullptr) return false;  // major number 0

  // Walk the numbers separated by "."; the tool is 2.4 followed by zeros.
  const uint32_t tool[] = {static_cast<uint32_t>(kToolVersionMajor),
                           static_cast<uint32_t>(kToolVersionMinor)};
  const char* p = utilityRev;
  for (size_t i = 0;; ++i) {
    const char* dot = std::strchr(p, '.');
    const char* stop = dot != nullptr ? dot : end;
    uint32_t number = LeadingNumber(p, stop);
    uint32_t own = i < 2 ? tool[i] : 0;
    if (number != own) return number > own;
    if (dot == nullptr) return false;
    p = dot + 1;
  }
}

int32_t CheckFirmwareAcceptance(const FirmwareHeader* header, const ModelInfo** matched) {
  char modelName[sizeof header->ModelName];
  CopyBounded(modelName, sizeof modelName, header->ModelName);
  const ModelInfo* model = FindModel(modelName);
  if (matched != nullptr) *matched = model;
  if (model == nullptr) return kErrModelNotInCatalog;

  if (!HasOnlyRevisionCharacters(header->ImageRev) ||
      !HasOnlyRevisionCharacters(header->UtilityRev)) {
    return kErrForeignRevisionChar;
  }

  char utilityRev[sizeof header->UtilityRev];
  CopyBounded(utilityRev, sizeof utilityRev, header->UtilityRev);
  if (NeedsNewerTool(utilityRev)) return kErrNeedsNewerTool;
  return 0;
}

}  // namespace fg
