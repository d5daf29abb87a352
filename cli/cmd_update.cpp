// flintgate-cli update FILE: the file selection, then the update run, with the terminal as the
// front end. The same sequences as the window's "..." and Update buttons.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console_front_end.h"
#include "cli/job_count_check.h"
#include "cli/update_output.h"
#include "cli/update_records.h"
#include "cli/update_set_command.h"
#include "link/device_search.h"
#include "link/instrument_lock.h"
#include "sequence/file_selection.h"
#include "sequence/payload_folder.h"
#include "sequence/run_texts.h"
#include "sequence/stop_signals.h"
#include "sequence/update_run.h"

namespace fg::cli {

namespace {

constexpr const char* kExitStatusHelp =
    "Exit status:\n"
    "  0  the update completed (with --dry-run: the package checks passed); with several\n"
    "     instruments: every one of them completed\n"
    "  1  the update failed; with several instruments: any of them failed\n"
    "  2  bad usage\n"
    "  3  no instrument found, or several and no --device\n"
    "  4  the firmware file was rejected or cannot be read\n"
    "  5  the update was not confirmed, or a writer that names no model was not confirmed\n"
    "     as the file's model (--confirm-model)\n"
    "  6  the record file (--record) cannot be written\n";

// One instrument, as the window updates it: the one --device, or the one the search finds.
int RunSingleUpdate(const UpdateArgs& args, UpdateRecords* records) {
  const std::string device = args.devices.empty() ? std::string() : args.devices.front();
  InstallStopSignals();  // deferred while programming; SIGPIPE ignored
  const int32_t flags = UpdateFlags(args);
  const ConsoleSettings settings = UpdateConsoleSettings(args);

  SortedDeviceList list;
  // With --device the selection must not search: the list will hold that one name.
  ConsoleFrontEnd frontEnd(settings, device.empty() ? list.ops() : nullptr);

  Json result;
  result["file"] = args.file;
  result["result"] = nullptr;
  result["exitStatus"] = kExitOk;
  result["resource"] = "";
  result["model"] = nullptr;
  result["log"] = Json::array();
  result["images"] = Json::array();
  result["seconds"] = 0.0;
  auto finish = [&](int exitStatus) {
    if (exitStatus == kExitOk && records->failed()) exitStatus = kExitRecordFile;
    if (args.json) {
      result["exitStatus"] = exitStatus;
      result["log"] = frontEnd.LogLines();
      PrintJson(result);
    }
    RemovePayloadFolder();
    ReportLostOutput();
    return exitStatus;
  };

  FileSelection selection{};
  const int32_t accepted = SelectFirmwareFile(frontEnd.ops(), &selection, args.file.c_str());
  if (accepted != 0) {
    result["fileError"] = accepted;
    return finish(kExitFileRejected);
  }
  result["model"] = selection.selectedModel->name;
  if (!records->Describe(selection)) return finish(kExitFileRejected);

  if (!device.empty()) {
    const DeviceListOps* ops = list.ops();
    ops->ResetContent(ops->owner);
    ops->AddString(ops->owner, device.c_str());
    ops->SetCurSel(ops->owner, 0);
    frontEnd.SetDeviceList(ops);
  } else if (list.entries().size() >= 2) {
    // The window would connect to an empty name here; ask which one instead.
    std::fprintf(stderr, "Several %s instruments found:\n", selection.selectedModel->name);
    for (const std::string& name : list.entries()) {
      const FoundInstrument* info = list.InfoOf(name);
      const std::string label = info != nullptr ? InstrumentLabel(*info) : std::string();
      const std::string shown = label.empty() ? name : name + "  (" + label + ")";
      std::fprintf(stderr, "  %s\n", shown.c_str());
    }
    std::fprintf(stderr, "Choose one with --device RESOURCE.\n");
    result["devices"] = list.entries();
    return finish(kExitNoInstrument);
  }

  const UpdaterOps* updater = selection.selectedModel->updater;
  frontEnd.SetUpdater(updater);
  UpdateRunOptions options;
  options.flags = flags;
  RunFindings findings{};
  options.findings = &findings;
  // The run notes an instrument that never came back from its restart, as in the window; the
  // window's note of the wait itself (noteRestartWait) is left out, so that a run's log stays
  // as scripts know it.
  const int32_t code = RunUpdate(frontEnd.ops(), &selection, PayloadTempPath().c_str(), options);
  result["result"] = code;
  result["resource"] = frontEnd.deviceField();
  result["seconds"] = frontEnd.Elapsed();
  result["programmingSeconds"] = frontEnd.ProgressSpan();
  RunRecordInput recorded;
  recorded.code = code;
  recorded.driver = updater;
  recorded.findings = &findings;
  recorded.resource = frontEnd.deviceField();
  recorded.model = selection.selectedModel->name;
  recorded.seconds = frontEnd.Elapsed();
  records->Append(recorded);

  const Json run = RunJson(args, selection.selectedModel->name,
                           {code, frontEnd.deviceField(), {}, 0.0, 0.0}, updater);
  result["images"] = run["images"];
  for (const char* key : {"programmerError", "reason", "failure"})
    if (run.contains(key)) result[key] = run[key];
  PrintDryRunPlan(args, updater, code);
  return finish(ExitStatusForRun(code));
}

int RunUpdateCommand(const UpdateArgs& args) {
  // The device list holds names of at most 255 characters; a longer one would be cut short and
  // name another instrument.
  for (const std::string& device : args.devices) {
    if (device.size() >= kResourceNameCapacity) {
      std::fprintf(stderr, "flintgate-cli: --device: a resource name has at most %zu characters\n",
                   kResourceNameCapacity - 1);
      return kExitUsage;
    }
  }
  std::vector<ModelConfirmation> confirmations;
  std::string problem;
  if (!ParseModelConfirmations(args.confirmModels, &confirmations, &problem)) {
    std::fprintf(stderr, "flintgate-cli: %s\n", problem.c_str());
    return kExitUsage;
  }
  if (args.all && !args.devices.empty()) {
    std::fprintf(stderr, "flintgate-cli: --all and --device exclude each other\n");
    return kExitUsage;
  }
  // Two runs on one instrument would fight over it, whichever names VISA knows it by.
  for (size_t i = 0; i < args.devices.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (SameInstrument(args.devices[i].c_str(), args.devices[j].c_str())) {
        const std::string also =
            args.devices[i] == args.devices[j] ? "" : " (also as " + args.devices[j] + ")";
        std::fprintf(stderr, "flintgate-cli: --device %s is named twice%s\n",
                     args.devices[i].c_str(), also.c_str());
        return kExitUsage;
      }
    }
  }
  UpdateRecords records;
  if (!records.Open(args)) return kExitRecordFile;
  if (!args.all && args.devices.size() <= 1) return RunSingleUpdate(args, &records);
  return RunUpdateSetCommand(args, &records);
}

}  // namespace

CommandAction RegisterUpdateCommand(CLI::App& app) {
  auto args = std::make_shared<UpdateArgs>();
  CLI::App* sub = app.add_subcommand(
      "update", "Update instruments with a firmware file (the window's Update button)");
  sub->add_option("FILE", args->file, "Firmware file (.fq)")->required();
  sub->add_option("--device", args->devices,
                  "VISA resource name of an instrument to update, repeatable: several are updated "
                  "at once (default: the one instrument found for the file's model)")
      ->allow_extra_args(false);
  sub->add_flag("--all", args->all,
                "Update every instrument found for the file's model, all at once");
  sub->add_option("--jobs", args->jobs,
                  "With several instruments: how many are updated at the same time (default: all)")
      ->check(JobCountCheck());
  sub->add_flag("--yes,-y", args->yes,
                "Answer Yes to the confirmation (not to the question about a writer that names "
                "no model: see --confirm-model)");
  sub->add_option("--confirm-model", args->confirmModels,
                  "SERIAL=MODEL, repeatable: the instrument with this serial number is a MODEL. "
                  "Needed to update an instrument in writer mode whose identification names no "
                  "model (unless this run sees its normal firmware name the file's model first); "
                  "only a MODEL equal to the file's lets the update go on")
      ->allow_extra_args(false);
  sub->add_flag("--allow-downgrade", args->allowDowngrade,
                "Install images older than the installed ones (no version check)");
  sub->add_flag("--dry-run", args->dryRun,
                "Run up to and including the package checks, program nothing, print the plan. The "
                "checks need the installed versions, so the instrument is switched into its "
                "writer firmware and is left there: 'list' shows it in writer mode, and a later "
                "update with a file of its model finds it and goes on from there");
  sub->add_flag("--json", args->json,
                "Print one JSON object on standard output (the log goes to standard error)");
  sub->add_flag("--quiet,-q", args->quiet, "Show no progress");
  sub->add_option("--record", args->record,
                  "Append a record of each instrument's run to this file, one JSON line each "
                  "(see 'records'); a file that cannot be written stops the update before it "
                  "touches an instrument");
  sub->footer(kExitStatusHelp);
  return [args] { return RunUpdateCommand(*args); };
}

}  // namespace fg::cli
