// What a failed update run tells a person beside its error number: a line naming what failed
// and how, a line on what the instrument now holds and what to do next, and a one-line reason
// short enough for a record or a table cell. Front ends print them; the texts are made here once.
#pragma once
#include <cstdint>
#include <string>

#include "catalog/updater_ops.h"

namespace fg {

struct FailureReport {
  std::string what;    // the step, the partition, the instrument's answer; empty when unknown
  std::string holds;   // what the instrument now holds and what to do next; may be empty
  std::string reason;  // one line without the resource name; empty only for code 0
};

// The report of a run that ended with `runCode` (sequence/update_run.h), reading the driver's
// plan from `driver` (its table or instance, as the run used it) where the code is a driver's.
// `driver` may be null.
FailureReport DescribeFailure(int32_t runCode, const UpdaterOps* driver);

// The short text of a run code alone, never empty for a failure ("" for 0).
std::string RunCodeText(int32_t runCode);

}  // namespace fg
