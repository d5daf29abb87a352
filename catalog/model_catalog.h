// The compiled-in catalogue of the models Flintgate can update.
#pragma once
#include <cstdint>

#include "catalog/updater_ops.h"

namespace fg {

struct ModelInfo {
  char name[32];          // model name, the key of the row
  char description[256];  // shown by `flintgate-cli models`
  char maker[64];         // listed by `flintgate-cli models --json` only
  uint16_t usbVendorId;   // normal-mode USB ids, for the enumeration expression
  uint16_t usbProductId;
  char fileExtension[4];  // no dot
  char fileTypeName[32];  // a second copy of the name, listed by `flintgate-cli models --json` only
  const UpdaterOps* updater;  // the family's driver, or null
};

struct ModelCatalog {
  char makerShortName[64];
  int32_t modelCount;  // walks run 0 <= i < modelCount
  const ModelInfo* models;
};

extern const ModelCatalog kModelCatalog;

// First row whose name equals `name` exactly (whole text, case-sensitive), or null.
const ModelInfo* FindModel(const char* name);

}  // namespace fg
