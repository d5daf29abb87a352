// What the window-free sequences (file selection, update run) need of a front end: the window and
// the CLI each provide one table.
#pragma once
#include <cstdint>

#include "link/device_search.h"
#include "link/run_env.h"

namespace fg {

enum ControlState : int32_t { Busy = 0, NoFile = 1, FileReady = 2 };

enum class BoxIcon : int32_t { Error = 0x10, Question = 0x20, Information = 0x40 };

struct FrontEndOps {
  void* owner;
  // The log: text without line break, text followed by "\r\n", and clearing it.
  void (*AppendLog)(void* owner, const char* text);
  void (*AppendLogLine)(void* owner, const char* text);
  // A whole line put above a pending partial line ("Updating ... "), which stays last and whole.
  // Called on the run's thread from inside the driver (the writer-mode notes); never blocks.
  void (*AppendNoteLine)(void* owner, const char* text);
  void (*ClearLog)(void* owner);
  // A modal OK box; returns when the user closed it.
  void (*MessageBox)(void* owner, const char* text, const char* caption, BoxIcon icon);
  // The Yes/No question box; true for Yes.
  bool (*Confirm)(void* owner, const char* text, const char* caption);
  // The question asked before Confirm when the instrument is a writer that names no model: is it
  // a `model` (the file's)? A warning whose default is No; true only for an explicit Yes. `serial`
  // and `model` let a front end answer from what its user said beforehand. Null: No.
  bool (*ConfirmWriterModel)(void* owner, const char* text, const char* caption,
                             const char* serial, const char* model);
  // Progress bar: range 0..100 and position 0, then positions.
  void (*InitProgressBar)(void* owner);
  void (*SetProgress)(void* owner, int32_t percent);
  // Handles every pending event, never waits.
  void (*PumpMessages)(void* owner);
  void (*SetControlState)(void* owner, ControlState state);
  // The fields a file selection fills (File, Model, Revision, Description).
  void (*SetFileFields)(void* owner, const char* path, const char* model, const char* revision,
                        const char* description);
  // The Device field.
  void (*SetDeviceField)(void* owner, const char* text);
  // The device list (its owner may differ from this table's owner).
  const DeviceListOps* deviceList;
  // The front end's own run context: what its searches and update runs use instead of the
  // defaults (the window's pumping link slots, clock and search; tests' fakes). Each run copies
  // it and puts its own writer-mode observer in; null: the defaults throughout.
  const RunEnv* env;
};

}  // namespace fg
