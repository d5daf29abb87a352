// flintgate-cli station FILE: the production station (cli/station_session.h).
#include "cli/commands.h"
#include "cli/job_count_check.h"
#include "cli/station_session.h"

namespace fg::cli {

namespace {

constexpr const char* kStationHelp =
    "Watches the bus and updates every instrument of the file's model as it is plugged in, "
    "several at once, until Ctrl-C. Instruments of another model are refused; an instrument "
    "whose installed versions equal the package's is left alone (\"up to date\"); an instrument "
    "is taken once, and again only after it was unplugged and plugged in again. Every run is "
    "recorded, one JSON line each (see 'records').\n\n"
    "Exit status:\n"
    "  0  the session ended and no instrument failed\n"
    "  1  an instrument failed\n"
    "  2  bad usage\n"
    "  4  the firmware file was rejected or cannot be read\n"
    "  5  the session was not confirmed\n"
    "  6  the record file cannot be written\n";

}  // namespace

CommandAction RegisterStationCommand(CLI::App& app) {
  auto args = std::make_shared<StationArgs>();
  CLI::App* sub = app.add_subcommand(
      "station", "Update each instrument of the file's model as it is plugged in, and record it");
  sub->add_option("FILE", args->file, "Firmware file (.fq)")->required();
  sub->add_option("--jobs", args->jobs,
                  "How many instruments are updated at the same time (default: all that are "
                  "plugged in)")
      ->check(JobCountCheck());
  sub->add_flag("--force", args->force,
                "Update instruments whose installed versions already equal the package's");
  sub->add_flag("--yes,-y", args->yes, "Answer Yes to the session's confirmation");
  sub->add_option("--record", args->record,
                  "Append the records to this file (default: flintgate-station-<date>.jsonl in "
                  "the current folder)");
  sub->add_flag("--allow-downgrade", args->allowDowngrade,
                "Install images older than the installed ones (no version check)");
  sub->add_option("--confirm-model", args->confirmModels,
                  "SERIAL=MODEL, repeatable: the instrument with this serial number is a MODEL "
                  "(for a writer whose identification names no model)")
      ->allow_extra_args(false);
  sub->footer(kStationHelp);
  return [args] { return RunStation(*args); };
}

}  // namespace fg::cli
