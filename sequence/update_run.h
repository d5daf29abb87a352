// One update run, from the Update button to the closing log lines, over a front end.
#pragma once
#include <cstdint>

#include "link/instrument_identity.h"
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
// The instrument names another catalogue model than the file's (found at Connect, before the
// confirmation): nothing but "*IDN?" was sent to it.
inline constexpr int32_t kRunOtherModel = 0x32;
// The instrument is a writer that names no model, and the user did not confirm it as the file's
// model: nothing was written to it.
inline constexpr int32_t kRunWriterModelUnconfirmed = 0x33;
// Two or more instruments and none picked (with UpdateRunOptions::pickAmongSeveral): the run ends
// before connecting, with kLogPickInstrument instead of the closing lines of a failure.
inline constexpr int32_t kRunPickInstrument = 6;
// Another update holds the instrument, or no lock can be made for it: nothing was sent to it.
inline constexpr int32_t kRunInstrumentBusy = 0x40;
inline constexpr int32_t kRunNoInstrumentLock = 0x41;
inline constexpr int32_t kRunDriverErrorBase = 0x10000;
// The installed versions already equal the package's (UpdateRunOptions::skipWhenUpToDate): the
// instrument was asked who it is and shown its name, and nothing was written to it. No failure:
// the run ends with kLogUpToDate instead of the closing lines of one.
inline constexpr int32_t kRunUpToDate = 0x50;
inline constexpr const char* kLogUpToDate =
    "The installed versions equal the package's: nothing to update.";

// What a run learnt of its instrument before it changed anything.
struct RunFindings {
  bool identified;             // it answered "*IDN?" at Connect
  InstrumentIdentity before;   // that answer: model, serial and the versions installed then
  char serial[kIdentitySerialSize];  // its serial number (the reply's, else the resource's)
};

struct UpdateRunOptions {
  // Update flags (catalog/updater_ops.h): bit 0 version check, which the window always passes;
  // kUpdateDryRun stops the driver after the package checks.
  int32_t flags = 1;
  // A front end whose user can pick from the device list: when the list holds two or more names
  // and none is picked (also when the search at Update finds several), end with
  // kRunPickInstrument instead of taking the first or connecting to an empty name.
  bool pickAmongSeveral = false;
  // The driver to update with: null takes the selected model's table, whose context is the
  // family's one static context (the window's single update). A run beside others passes an
  // instance of its own (CreateUpdaterInstance). Either way the run binds its own run context
  // to the driver for its duration (BindUpdaterEnv).
  const UpdaterOps* updater = nullptr;
  // Also note the wait for the instrument's restart ("Waiting for the instrument to restart
  // ..."), as the window does; an instrument that never came back is noted in every run.
  bool noteRestartWait = false;
  // A production station's run: an instrument whose normal firmware reports installed versions
  // equal to the package's (PackageMatchesInstalled) is left alone after Connect, ending with
  // kRunUpToDate. One found in writer mode is always updated: its versions say nothing of a
  // partition that an earlier run left incomplete.
  bool skipWhenUpToDate = false;
  // Where the run leaves its findings; null: nowhere. Cleared at the start of the run.
  RunFindings* findings = nullptr;
};

// Steps 1 to 17 of the Update button. `tempPath` is the private payload path; the payload is
// extracted there at the start and deleted at the end, whatever the outcome. Returns 0 when the
// update completed, else one of the codes above, each also logged ("Error number: 0x%04X") after
// its message box, if it has one. The run ends in FileReady; with no model selected (code 1) it
// never leaves the state the selection left, NoFile. The progress owner given to the driver is
// `fe` itself: each report pumps the front end's events, then moves its bar. The run's context
// is a copy of the front end's (fe->env) with the run's own writer-mode observer, which puts
// its notes into the log through fe->AppendNoteLine, and the run's own model facts: a writer
// that names no model is written to only after fe->ConfirmWriterModel said Yes for it (asked
// before the update confirmation), or when this run saw its normal firmware name the file's
// model before the switch.
int32_t RunUpdate(const FrontEndOps* fe, const FileSelection* selection, const char* tempPath,
                  const UpdateRunOptions& options = {});

}  // namespace fg
