#include "cli/update_records.h"

#include <cstdio>
#include <ctime>

#include "platform/record_stamp.h"

namespace fg::cli {

bool UpdateRecords::Open(const UpdateArgs& args) {
  if (args.record.empty()) return true;
  std::string problem;
  if (!writer_.Open(args.record, &problem)) {
    std::fprintf(stderr,
                 "flintgate-cli: the record file %s cannot be written: %s. Nothing was sent to "
                 "any instrument.\n",
                 args.record.c_str(), problem.c_str());
    return false;
  }
  enabled_ = true;
  dryRun_ = args.dryRun;
  host_ = platform::HostName();
  return true;
}

bool UpdateRecords::Describe(const FileSelection& selection) {
  if (!enabled_ || DescribeRecordedFile(selection, &file_)) return true;
  std::fprintf(stderr, "flintgate-cli: %s cannot be read to its end for its record.\n",
               selection.path);
  return false;
}

bool UpdateRecords::Append(const RunRecordInput& run) {
  if (!enabled_ || run.resource.empty()) return true;
  RunRecordInput input = run;
  input.dryRun = dryRun_;
  const UpdateRecord record =
      MakeUpdateRecord(input, file_, "flintgate-cli update", host_, std::time(nullptr));
  std::string problem;
  if (writer_.Append(record, &problem)) return true;
  failed_ = true;
  std::fprintf(stderr, "flintgate-cli: the record of %s cannot be written to %s: %s.\n",
               run.resource.c_str(), writer_.path().c_str(), problem.c_str());
  return false;
}

}  // namespace fg::cli
