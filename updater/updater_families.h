// The two update-driver families, bound into the catalogue rows of WX2040 and WX2050.
#pragma once
#include "catalog/updater_ops.h"

namespace fg {

extern const UpdaterOps kWx2040UpdaterOps;
extern const UpdaterOps kWx2050UpdaterOps;

}  // namespace fg
