#include "catalog/model_catalog.h"

#include <cstring>


namespace fg {

namespace {

constexpr ModelInfo kModels[] = {
    {"WX2040", "Function/arbitrary waveform generator, 40 MHz (the faster model)", "VANDRELL CORP.",
     0x2E5B, 0x3A01, "fq", "WX2040", &kWx2040UpdaterOps},
    {"WX2050", "Function/arbitrary waveform generator, 20 MHz (the slower model)", "VANDRELL CORP.",
     0x2E5B, 0x3A02, "fq", "WX2050", &kWx2050UpdaterOps},
    {"SB7300", "Multi-function switching box", "VANDRELL CORP.", 0x2E5B, 0x3A10, "fq", "SB7300",
     nullptr},
};

}  // namespace

const ModelCatalog kModelCatalog = {"VANDRELL", sizeof kModels / sizeof kModels[0], kModels};

const ModelInfo* FindModel(const char* name) {
  if (name == nullptr) return nullptr;
  // Whole-text comparison: the name must end where the row's name ends.
  const size_t length = std::strlen(name);
  for (int32_t i = 0; i < kModelCatalog.modelCount; ++i) {
    const ModelInfo& row = kModelCatalog.models[i];
    if (length < sizeof row.name && std::memcmp(row.name, name, length + 1) == 0) return &row;
  }
  return nullptr;
}

}  // namespace fg
