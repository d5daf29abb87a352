#include "cli/summary_table.h"

#include <algorithm>
#include <cstdio>

namespace fg {

namespace {

std::string ErrorNumber(int32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(code));
  return text;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", seconds);
  return text;
}

}  // namespace

std::string SummaryText(const std::vector<SummaryRecord>& records, size_t limit) {
  size_t width = 8;  // "RESOURCE"
  for (const SummaryRecord& r : records) width = std::max(width, r.resource.size());
  auto line = [&](const std::string& resource, const std::string& result,
                  const std::string& number, const std::string& seconds) {
    char text[512];
    std::snprintf(text, sizeof text, "%-*s  %-13s  %-7s  %7s\n", static_cast<int>(width),
                  resource.c_str(), result.c_str(), number.c_str(), seconds.c_str());
    return std::string(text);
  };
  std::string table = line("RESOURCE", "RESULT", "ERROR", "SECONDS");
  bool fits = table.size() - 1 <= limit;
  for (const SummaryRecord& r : records) {
    const std::string row = line(r.resource, r.result, ErrorNumber(r.code), Seconds(r.seconds));
    fits = fits && row.size() - 1 <= limit;
    table += row;
  }
  if (fits) return table;
  std::string lines;
  for (const SummaryRecord& r : records) {
    lines += r.resource + ": " + r.result + ", " + ErrorNumber(r.code) + ", " +
             Seconds(r.seconds) + " s\n";
  }
  return lines;
}

}  // namespace fg
