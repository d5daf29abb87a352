// flintgate-cli update FILE --all | --device A --device B ...: several instruments at once.
#pragma once
#include "cli/update_output.h"
#include "cli/update_records.h"

namespace fg::cli {

// The file selection once, one confirmation for the set, then an update run per instrument on
// a thread of its own; a summary table at the end. 0 when every instrument completed, 1 when any
// failed, 3 when --all found none, 4, 5 and 2 as for one instrument.
// Each run's record goes to `records` as the run ends.
int RunUpdateSetCommand(const UpdateArgs& args, UpdateRecords* records);

}  // namespace fg::cli
