// What `update` prints for one instrument's run, shared by the single-instrument command and the
// update of several at once: the exit statuses, the JSON object of a run, the settings of the
// console front end.
#pragma once
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "catalog/updater_ops.h"
#include "cli/console_front_end.h"

namespace fg::cli {

using Json = nlohmann::ordered_json;

// Exit status of `update`, kept stable for scripts.
inline constexpr int kExitNoInstrument = 3;  // none found, or several and no --device
inline constexpr int kExitFileRejected = 4;  // rejected or unreadable firmware file
inline constexpr int kExitNotConfirmed = 5;

struct UpdateArgs {
  std::string file;
  std::vector<std::string> devices;  // --device, repeatable
  bool all = false;                  // every instrument the search finds
  size_t jobs = 0;                   // how many run at once; 0: all
  bool yes = false;
  bool allowDowngrade = false;
  bool dryRun = false;
  bool json = false;
  bool quiet = false;
  // --confirm-model SERIAL=MODEL, repeatable: a writer that names no model is that model.
  std::vector<std::string> confirmModels;
  std::string record;  // --record FILE: a record line per instrument's run; empty: none
};

// Reads the --confirm-model values: SERIAL=MODEL with a serial and a catalogue model. False with
// *error set for the first that is not.
bool ParseModelConfirmations(const std::vector<std::string>& values,
                             std::vector<ModelConfirmation>* out, std::string* error);

int32_t UpdateFlags(const UpdateArgs& args);
int ExitStatusForRun(int32_t code);

// The console settings of `update`: log to standard output (standard error with --json),
// boxes, questions and progress to standard error, answers from a terminal on standard input.
ConsoleSettings UpdateConsoleSettings(const UpdateArgs& args);

// One run's object: result, exitStatus, resource, model, log, images, seconds,
// programmingSeconds (and programmerError once the driver's Update ran; reason and failure for
// a failed run, AddFailure).
struct RunReport {
  int32_t code;
  std::string resource;
  std::vector<std::string> log;
  double seconds;
  double programmingSeconds;
};
Json RunJson(const UpdateArgs& args, const char* model, const RunReport& run,
             const UpdaterOps* updater);
// A failed run's `reason` (one line) and, where the driver's state tells more, its `failure`:
// step, partition, reply (null when the instrument gave none; noAnswer says why),
// programmerError, holds and next.
void AddFailure(Json* result, int32_t code, const UpdaterOps* updater);

// The package plan of a dry run, after the driver's Update ran.
void PrintDryRunPlan(const UpdateArgs& args, const UpdaterOps* updater, int32_t code);

void PrintJson(const Json& object);
// After the run: says on standard error when standard output could not be written.
void ReportLostOutput();

}  // namespace fg::cli
