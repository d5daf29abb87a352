// Which driver family a catalogue row's updater table belongs to, for front ends that describe a
// row or read a payload as that family's driver would.
#pragma once
#include <cstdint>

#include "catalog/model_catalog.h"
#include "catalog/updater_ops.h"

namespace fg {

struct UpdaterFamily {
  const char* name;         // the family's model name
  const UpdaterOps* ops;    // its table
  int32_t imageCapacity;    // images its index holds at most
};

// The family whose table is `ops`, or null (no updater, or a table that is no family of ours).
const UpdaterFamily* FindUpdaterFamily(const UpdaterOps* ops);

// Image index capacity for payloads of `model`: its family's, or the largest when the row has
// no family bound (or there is no row).
int32_t ImageCapacityForModel(const ModelInfo* model);

}  // namespace fg
