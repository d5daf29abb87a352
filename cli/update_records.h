// `update --record FILE`: the record line of every instrument's run (sequence/update_record.h),
// appended as the run ends. The file is opened before anything else happens, so that a file
// that cannot be written stops the command before it touches an instrument.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "catalog/updater_ops.h"
#include "cli/update_output.h"
#include "sequence/file_selection.h"
#include "sequence/update_record.h"

namespace fg::cli {

// Where the runs of one `update` are recorded; does nothing without --record.
class UpdateRecords {
 public:
  // Opens the record file of `args`. False, after saying why on standard error, when it cannot
  // be written: the command then ends with kExitRecordFile.
  bool Open(const UpdateArgs& args);
  // Takes the name, size and digest of the accepted file. False, after saying why, when it
  // cannot be read.
  bool Describe(const FileSelection& selection);
  // Appends the record of one run that reached an instrument (a run without a resource name
  // reached none and leaves no record). False, after saying why, when it cannot be written.
  // Callable from the runs' threads.
  bool Append(const RunRecordInput& run);
  bool failed() const { return failed_.load(); }

 private:
  bool enabled_ = false;
  bool dryRun_ = false;
  RecordedFile file_;
  RecordWriter writer_;
  std::string host_;
  std::atomic<bool> failed_{false};
};

}  // namespace fg::cli
