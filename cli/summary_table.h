// The summary of several instruments updated at once: resource, result, error number and
// seconds of every run.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fg {

struct SummaryRecord {
  std::string resource;
  std::string result;  // "completed", "checks passed", "failed"
  int32_t code = 0;    // the run's result code, shown as its error number
  double seconds = 0.0;
};

// A table under a heading, one row per run, when its rows fit in `limit` columns (no limit off a
// terminal); else one record per line, "<resource>: <result>, 0x10008, 4.7 s", which wraps as a
// log line does but keeps every field whole. Lines end in "\n".
std::string SummaryText(const std::vector<SummaryRecord>& records, size_t limit);

}  // namespace fg
