#include "catalog/updater_family.h"

#include "firmware/image_index.h"
#include "updater/updater_families.h"

namespace fg {

namespace {

constexpr UpdaterFamily kFamilies[] = {
    {"WX2040", &kWx2040UpdaterOps, kWx2040ImageCapacity},
    {"WX2050", &kWx2050UpdaterOps, kWx2050ImageCapacity},
};

}  // namespace

const UpdaterFamily* FindUpdaterFamily(const UpdaterOps* ops) {
  if (ops == nullptr) return nullptr;
  for (const UpdaterFamily& family : kFamilies) {
    if (family.ops == ops) return &family;
  }
  return nullptr;
}

int32_t ImageCapacityForModel(const ModelInfo* model) {
  const UpdaterFamily* family = model != nullptr ? FindUpdaterFamily(model->updater) : nullptr;
  return family != nullptr ? family->imageCapacity : kImageIndexMaxCapacity;
}

}  // namespace fg
