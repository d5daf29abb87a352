// The door from a front end into an update driver: six words, plain functions, context first.
#pragma once
#include <cstdint>

namespace fg {

struct DeviceLink;

// Progress callback: owner as given to Init, overall percent 0..100. Called on the caller's thread
// from inside Update.
using ProgressFn = void (*)(void* owner, int32_t percent);

struct UpdaterOps {
  // The family's UpdaterContext (static, lives for the whole program).
  void* context;
  // Creates a fresh DeviceLink and clears the context. 0, or 1 when the link cannot be created.
  int32_t (*Init)(void* context, ProgressFn progressFn, void* progressOwner);
  // Opens the instrument, asks who it is (the run's facts keep the answer) and announces the
  // resource name on its display. 0; 2 the resource cannot be opened or does not answer; 3 the
  // announcement cannot be written; 0x10 it is another model than the driver's.
  int32_t (*Connect)(void* context, const char* resourceName);
  // Writer mode, package checks, programming. 0 or a driver error number. Blocks; reports progress.
  int32_t (*Update)(void* context, const char* payloadPath, int32_t flags);
  // Clears the display and closes the session of a run that was connected but not updated. Always 0.
  int32_t (*Finish)(void* context);
  // Releases a link created by Init (closing it first). A null link is ignored.
  void (*Destroy)(DeviceLink* link);
};

// The two driver families' tables, bound into the WX2040 and WX2050 rows; defined with the
// drivers (updater/updater_families.cpp). One static context each: one update at a time per
// table.
extern const UpdaterOps kWx2040UpdaterOps;
extern const UpdaterOps kWx2050UpdaterOps;

// Flag bits of Update.
inline constexpr int32_t kUpdateCheckVersions = 1;  // refuse images older than the installed ones
// Ours, never set by the window: run up to and including the package checks, program nothing.
inline constexpr int32_t kUpdateDryRun = 1 << 8;

}  // namespace fg
