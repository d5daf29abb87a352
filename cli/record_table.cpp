#include "cli/record_table.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace fg::cli {

namespace {

using Json = nlohmann::ordered_json;

std::string TextOf(const Json& record, const char* key) {
  const auto it = record.find(key);
  if (it == record.end() || !it->is_string() || it->get<std::string>().empty()) return "-";
  return it->get<std::string>();
}

std::string ErrorOf(const Json& record) {
  const auto it = record.find("errorNumber");
  if (it == record.end() || !it->is_number_integer()) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(it->get<int64_t>()));
  return text;
}

std::string SecondsOf(const Json& record) {
  const auto it = record.find("seconds");
  if (it == record.end() || !it->is_number()) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", it->get<double>());
  return text;
}

std::string ProgrammedOf(const Json& record) {
  const auto it = record.find("images");
  if (it == record.end() || !it->is_array()) return "-";
  std::string names;
  for (const Json& image : *it) {
    if (!image.is_object() || image.value("programmed", false) != true) continue;
    if (!names.empty()) names += ",";
    names += image.value("partition", std::string("?"));
  }
  return names.empty() ? "-" : names;
}

}  // namespace

std::string RecordTable(const Json& records) {
  std::vector<std::vector<std::string>> rows = {
      {"TIME", "SERIAL", "MODEL", "RESULT", "ERROR", "SECONDS", "PROGRAMMED", "REASON"}};
  for (const Json& r : records) {
    rows.push_back({TextOf(r, "time"), TextOf(r, "serial"), TextOf(r, "model"),
                    TextOf(r, "result"), ErrorOf(r), SecondsOf(r), ProgrammedOf(r),
                    TextOf(r, "reason")});
  }
  std::vector<size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  std::string table;
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      const bool last = c + 1 == row.size();
      // Numbers line up on the right.
      const bool number = c == 5;
      const std::string pad(widths[c] - row[c].size(), ' ');
      line += number ? pad + row[c] : row[c] + (last ? "" : pad);
      if (!last) line += "  ";
    }
    table += line + "\n";
  }
  return table;
}

}  // namespace fg::cli
