// The two update-driver families behind the catalogue's tables (catalog/updater_ops.h), and
// how a catalogue row maps to its driver.
#pragma once
#include <cstdint>

#include "catalog/model_catalog.h"
#include "catalog/updater_ops.h"
#include "link/run_env.h"

namespace fg {

// Image index capacity for payloads of `model`: its driver family's, or the largest when the row
// has no family bound (or there is no row).
int32_t ImageCapacityForModel(const ModelInfo* model);

// A driver of the same family as `family` (one of the tables above, or an instance of one) with
// a context of its own, for an update that runs on its own thread beside others of the family.
// It is used like the family's table: every slot with the instance's `context`. Null when
// `family` is no driver family of ours or memory is exhausted.
UpdaterOps* CreateUpdaterInstance(const UpdaterOps* family);
// Releases the link of the instance's latest Init, then the instance. Null is ignored.
void ReleaseUpdaterInstance(UpdaterOps* instance);

// Gives the driver (a family's table or an instance) the context of the run it serves: the link
// slots that its Init installs and its Connect and Finish call, and what the programmer reaches
// through the link (clocks, writer-mode observer). Bound before Init, which keeps it; the run
// unbinds it (null: the defaults) before `env` goes away. 0, or 1 for a table that is no driver
// family of ours (such a driver brings its own).
int32_t BindUpdaterEnv(const UpdaterOps* driver, const RunEnv* env);

}  // namespace fg
