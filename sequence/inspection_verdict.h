// Words for the verdict on a whole firmware file (updater/firmware_inspection.h): whether an
// update could install it on its model, and if not, why, with the number the update would end
// with where there is one.
#pragma once
#include <string>

#include "updater/firmware_inspection.h"

namespace fg {

// "installable on WX2040", or "not installable: " / "not installable on WX2040: " and one plain
// sentence: the file cannot be opened, the header's number, the model without an updater, no
// payload, a file cut short, or the package check that fails with its number.
std::string InspectionVerdictText(const FirmwareInspection& inspection);

// One stable word per blocker for scripts: "cannot-open", "header-refused", "no-updater",
// "no-file-start", "no-payload", "truncated", "package-refused"; null when installable.
const char* InstallBlockerWord(InstallBlocker blocker);

}  // namespace fg
