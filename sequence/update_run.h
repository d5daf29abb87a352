// One update run, from the Update button to the closing log lines, over a front end.
#pragma once
#include <cstdint>

#include "sequence/file_selection.h"
#include "sequence/front_end.h"

namespace fg {

// Result codes of the run (driver errors are reported as kRunDriverErrorBase + n).
inline constexpr int32_t kRunNoModel = 1;
inline constexpr int32_t kRunNoUpdater = 2;
inline constexpr int32_t kRunNoPayload = 3;
inline constexpr int32_t kRunNoInstrument = 4;
inline constexpr int32_t kRunDeclined = 5;
inline constexpr int32_t kRunInitFailed = 0x30;
inline constexpr int32_t kRunConnectFailed = 0x31;
inline constexpr int32_t kRunDriverErrorBase = 0x10000;

struct UpdateRunOptions {
  int32_t flags = 1;  // Update flags: bit 0 version check (the window always passes 1)
};

// Steps 1 to 17 of the Update button. `tempPath` is the private payload path.
int32_t RunUpdate(const FrontEndOps* fe, const FileSelection* selection, const char* tempPath,
                  const UpdateRunOptions& options = {});

}  // namespace fg
