// flintgate-cli records FILE [--json]: the update records that `update --record` and `station`
// appended to FILE, as a table, or as one JSON array of the records as they were written.
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/record_table.h"

namespace fg::cli {

namespace {

struct RecordsOptions {
  std::string file;
  bool json = false;
};

int RunRecords(const RecordsOptions& options) {
  std::ifstream in(options.file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "flintgate-cli: %s cannot be read\n", options.file.c_str());
    return kExitFailed;
  }
  nlohmann::ordered_json records = nlohmann::ordered_json::array();
  bool allRead = true;
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) {
    if (line.empty()) continue;
    nlohmann::ordered_json record = nlohmann::ordered_json::parse(line, nullptr, false);
    if (record.is_discarded() || !record.is_object()) {
      std::fprintf(stderr, "flintgate-cli: %s:%zu: not a record, left out\n",
                   options.file.c_str(), number);
      allRead = false;
      continue;
    }
    records.push_back(std::move(record));
  }
  const std::string text =
      options.json
          ? records.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n"
          : RecordTable(records);
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (std::fflush(stdout) != 0) return kExitFailed;
  return allRead ? kExitOk : kExitFailed;
}

}  // namespace

CommandAction RegisterRecordsCommand(CLI::App& app) {
  auto options = std::make_shared<RecordsOptions>();
  CLI::App* sub = app.add_subcommand(
      "records", "Show the update records of a record file (update --record, station)");
  sub->add_option("FILE", options->file, "Record file (.jsonl)")->required();
  sub->add_flag("--json", options->json, "Print the records as one JSON array");
  sub->footer("Exit status: 0 every line was a record, 1 the file cannot be read or a line is "
              "no record (it is left out), 2 bad usage.");
  return [options] { return RunRecords(*options); };
}

}  // namespace fg::cli
