// Whether a parsed firmware header may be installed by this tool.
#pragma once
#include <cstdint>

#include "catalog/model_catalog.h"
#include "firmware/firmware_header.h"

namespace fg {

inline constexpr int32_t kErrModelNotInCatalog = 0x15;
inline constexpr int32_t kErrForeignRevisionChar = 0x20;
inline constexpr int32_t kErrNeedsNewerTool = 0x21;

// The tool's own version, against which UtilityRev is compared.
inline constexpr int kToolVersionMajor = 2;
inline constexpr int kToolVersionMinor = 4;

// Catalogue match, revision characters, tool version. Returns 0 with *matched set to the first
// equal catalogue row, or 0x15, 0x20 or 0x21. *matched is the matched row (or null for 0x15) in
// every case, so the caller can tell which model a rejected file named.
int32_t CheckFirmwareAcceptance(const FirmwareHeader* header, const ModelInfo** matched);

}  // namespace fg
