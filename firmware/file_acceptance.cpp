#include "firmware/file_acceptance.h"

#include <cstdio>
#include <cstring>

#include "util/bounded_text.h"
#include "util/printable_text.h"

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

template <size_t N>
std::string Quoted(const char (&field)[N]) {
  // Built in place: mingw's g++ 12 warns falsely on a literal prepended to a string.
  std::string quoted(1, '"');
  quoted += EscapeBytes(field, BoundedLength(field, N));
  quoted += '"';
  return quoted;
}

// The header keys whose values are too long, by error number, with their longest value.
struct LongField {
  int32_t error;
  const char* key;
  size_t longest;
};
constexpr LongField kLongFields[] = {
    {kErrImageRevTooLong, "ImageRev", sizeof(FirmwareHeader::ImageRev) - 1},
    {kErrModelNameTooLong, "ModelName", sizeof(FirmwareHeader::ModelName) - 1},
    {kErrRevsNotSupportTooLong, "RevsNotSupport", sizeof(FirmwareHeader::RevsNotSupport) - 1},
    {kErrDescriptionTooLong, "UpdatedDescription", sizeof(FirmwareHeader::UpdatedDescription) - 1},
    {kErrUtilityRevTooLong, "UtilityRev", sizeof(FirmwareHeader::UtilityRev) - 1},
};

std::string CatalogueNames() {
  std::string names;
  const int32_t count = kModelCatalog.modelCount;
  for (int32_t i = 0; i < count; ++i)
    names += (i == 0 ? "" : i + 1 == count ? " and " : ", ") +
             std::string(kModelCatalog.models[i].name);
  return names;
}

}  // namespace

std::string FileRejectionDetail(int32_t error, const FirmwareHeader& header) {
  for (const LongField& field : kLongFields) {
    if (field.error == error) {
      return std::string("The header's ") + field.key + " is longer than " +
             std::to_string(field.longest) + " characters.";
    }
  }
  switch (error) {
    case kErrFileTooLarge:
      return "The file is 2 GiB or larger, more than a firmware file can be.";
    case kErrNulInHeader:
      return "A header line holds a NUL byte; such a file is refused, since the text after it "
             "would go unseen.";
    case kErrModelNotInCatalog:
      if (BoundedLength(header.ModelName, sizeof header.ModelName) == 0)
        return "The header names no model (ModelName).";
      return "The file is for the model " + Quoted(header.ModelName) +
             ", which is not in Flintgate's catalogue (" + CatalogueNames() + ").";
    case kErrForeignRevisionChar: {
      const bool image = !HasOnlyRevisionCharacters(header.ImageRev);
      return std::string("The header's ") + (image ? "ImageRev " : "UtilityRev ") +
             (image ? Quoted(header.ImageRev) : Quoted(header.UtilityRev)) +
             " holds a character other than 0-9, \".\" and A-Z.";
    }
    case kErrNeedsNewerTool: {
      char own[16];
      std::snprintf(own, sizeof own, "%d.%02d", kToolVersionMajor, kToolVersionMinor);
      return "This file needs Flintgate " +
             EscapeBytes(header.UtilityRev, BoundedLength(header.UtilityRev, sizeof header.UtilityRev)) +
             " or later (its UtilityRev); this is Flintgate " + own + ": use a newer Flintgate.";
    }
    default:
      return std::string();
  }
}

const char* ModelNote(int32_t error, const ModelInfo* model, const char* modelName) {
  if (model != nullptr) return "";
  if (error != 0 && error != kErrModelNotInCatalog && error != kErrForeignRevisionChar &&
      error != kErrNeedsNewerTool) {
    return "(not checked: the header was refused first)";
  }
  if (modelName == nullptr || modelName[0] == '\0') return "(none given)";
  return "(not in the catalogue)";
}

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
