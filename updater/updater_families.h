// The two update-driver families, bound into the catalogue rows of WX2040 and WX2050.
#pragma once
#include "catalog/updater_ops.h"

namespace fg {

// One static context per family: the window's one update at a time.
extern const UpdaterOps kWx2040UpdaterOps;
extern const UpdaterOps kWx2050UpdaterOps;

// A driver of the same family as `family` (one of the tables above, or an instance of one) with
// a context of its own, for an update that runs on its own thread beside others of the family.
// It is used like the family's table: every slot with the instance's `context`. Null when
// `family` is no driver family of ours or memory is exhausted.
UpdaterOps* CreateUpdaterInstance(const UpdaterOps* family);
// Releases the link of the instance's latest Init, then the instance. Null is ignored.
void ReleaseUpdaterInstance(UpdaterOps* instance);

}  // namespace fg
