// What a failed update run tells a person beside its error number: a line naming what failed
// and how (the step, the partition, what the instrument answered or that it did not), a line on
// what the instrument now holds and what to do next, and a one-line reason short enough for a
// record or a table cell. Front ends print them; the texts are made here once, from the driver's
// state after the run, never from a window.
#pragma once
#include <cstdint>
#include <string>

#include "catalog/updater_ops.h"
#include "updater/update_plan.h"

namespace fg {

// The parts the two lines are made of, for machine-readable output.
struct FailureDetail {
  std::string step;       // "erasing and programming", "checksum", "switch to writer mode", ...
  std::string partition;  // the partition concerned; empty when none was
  bool answered = false;  // the instrument answered in that step: `reply` holds its answer
  std::string reply;      // that answer without its line end, escaped and bounded
  std::string noAnswer;   // why there is none: "timeout", "connection lost", "link failure"
  int32_t programmerError = 0;
  std::string holds;      // what the instrument now holds
  std::string next;       // what to do next
};

struct FailureReport {
  std::string what;    // the step, the partition, the instrument's answer; empty when unknown
  std::string holds;   // what the instrument now holds and what to do next; may be empty
  std::string reason;  // one line without the resource name; empty only for code 0
  FailureDetail detail;
};

// The report of a run that ended with `runCode` (sequence/update_run.h), reading the driver's
// plan from `driver` (its table or instance, as the run used it) where the code is a driver's.
// `driver` may be null.
FailureReport DescribeFailure(int32_t runCode, const UpdaterOps* driver);

// The report of a driver's number `driverCode` (updater/driver_errors.h) over the plan the
// driver left: what DescribeFailure says for 0x10000 + driverCode.
FailureReport DescribeDriverFailure(int32_t driverCode, const UpdatePlan& plan);

// The short text of a run code alone, never empty for a failure ("" for 0).
std::string RunCodeText(int32_t runCode);

}  // namespace fg
