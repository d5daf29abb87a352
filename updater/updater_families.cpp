// Temporary: the driver tables until the drivers land; their slots are still empty.
#include "updater/updater_families.h"

namespace fg {

const UpdaterOps kWx2040UpdaterOps = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
const UpdaterOps kWx2050UpdaterOps = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace fg
