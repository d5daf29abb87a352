// flintgate-cli update FILE: the file selection, then the update run, with the terminal as the
// front end. The same sequences as the window's "..." and Update buttons.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "link/device_search.h"
#include "platform/terminal.h"
#include "sequence/console_front_end.h"
#include "sequence/file_selection.h"
#include "sequence/payload_folder.h"
#include "sequence/plan_report.h"
#include "sequence/update_run.h"
#include "updater/update_plan.h"
#include "util/bounded_text.h"

namespace fg::cli {

namespace {

using Json = nlohmann::ordered_json;

// Exit status of `update`, kept stable for scripts.
constexpr int kExitNoInstrument = 3;  // none found, or several and no --device
constexpr int kExitFileRejected = 4;  // rejected or unreadable firmware file
constexpr int kExitNotConfirmed = 5;

constexpr const char* kExitStatusHelp =
    "Exit status:\n"
    "  0  the update completed (with --dry-run: the package checks passed)\n"
    "  1  the update failed\n"
    "  2  bad usage\n"
    "  3  no instrument found, or several and no --device\n"
    "  4  the firmware file was rejected or cannot be read\n"
    "  5  the update was not confirmed\n";

struct UpdateArgs {
  std::string file;
  std::string device;
  bool yes = false;
  bool allowDowngrade = false;
  bool dryRun = false;
  bool json = false;
  bool quiet = false;
};

int ExitStatusForRun(int32_t code) {
  switch (code) {
    case 0: return kExitOk;
    case kRunNoInstrument: return kExitNoInstrument;
    case kRunDeclined: return kExitNotConfirmed;
    default: return kExitFailed;
  }
}

std::string Text(const char* field, size_t capacity) {
  return std::string(field, BoundedLength(field, capacity));
}

Json PlanJson(const UpdatePlan& plan) {
  Json images = Json::array();
  for (int32_t i = 0; i < plan.ruleCount && i < 6; ++i) {
    const ImagePlanRow& row = plan.rows[i];
    Json image;
    image["partition"] = Text(row.partitionName, sizeof row.partitionName);
    image["partitionIndex"] = row.partition;
    image["optional"] = row.optional;
    image["present"] = row.present;
    image["version"] = row.present ? Json(Text(row.version, sizeof row.version)) : Json(nullptr);
    image["installed"] = Text(row.installed, sizeof row.installed);
    image["length"] = row.present ? Json(row.length) : Json(nullptr);
    image["maxSize"] = row.maxSize;
    image["programmed"] = row.programmed;
    images.push_back(image);
  }
  return images;
}

void PrintJson(const Json& object) {
  const std::string text = object.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

int RunUpdateCommand(const UpdateArgs& args) {
  // The device list holds names of at most 255 characters; a longer one would be cut short and
  // name another instrument.
  if (args.device.size() >= kResourceNameCapacity) {
    std::fprintf(stderr, "flintgate-cli: --device: a resource name has at most %zu characters\n",
                 kResourceNameCapacity - 1);
    return kExitUsage;
  }
  RemovePayloadFolderOnTerminatingSignals();

  const int32_t flags = (args.allowDowngrade ? 0 : kUpdateCheckVersions) |
                        (args.dryRun ? kUpdateDryRun : 0);
  std::FILE* logOut = args.json ? stderr : stdout;
  ConsoleSettings settings;
  settings.logOut = logOut;
  settings.messages = stderr;
  settings.answers = platform::AnswerStream();
  settings.logIsTerminal = platform::IsTerminal(logOut);
  settings.messagesIsTerminal = platform::EnableInPlaceLine(stderr);
  settings.assumeYes = args.yes;
  settings.quiet = args.quiet;

  SortedDeviceList list;
  // With --device the selection must not search: the list will hold that one name.
  ConsoleFrontEnd frontEnd(settings, args.device.empty() ? list.ops() : nullptr);

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
    if (args.json) {
      result["exitStatus"] = exitStatus;
      result["log"] = frontEnd.LogLines();
      PrintJson(result);
    }
    RemovePayloadFolder();
    return exitStatus;
  };

  FileSelection selection{};
  const int32_t accepted = SelectFirmwareFile(frontEnd.ops(), &selection, args.file.c_str());
  if (accepted != 0) {
    result["fileError"] = accepted;
    return finish(kExitFileRejected);
  }
  result["model"] = selection.selectedModel->name;

  if (!args.device.empty()) {
    const DeviceListOps* ops = list.ops();
    ops->ResetContent(ops->owner);
    ops->AddString(ops->owner, args.device.c_str());
    ops->SetCurSel(ops->owner, 0);
    frontEnd.SetDeviceList(ops);
  } else if (list.entries().size() >= 2) {
    // The window would connect to an empty name here; ask which one instead.
    std::fprintf(stderr, "Several %s instruments found:\n", selection.selectedModel->name);
    for (const std::string& name : list.entries()) std::fprintf(stderr, "  %s\n", name.c_str());
    std::fprintf(stderr, "Choose one with --device RESOURCE.\n");
    result["devices"] = list.entries();
    return finish(kExitNoInstrument);
  }

  const UpdaterOps* updater = selection.selectedModel->updater;
  frontEnd.SetUpdater(updater);
  UpdateRunOptions options;
  options.flags = flags;
  const int32_t code = RunUpdate(frontEnd.ops(), &selection, PayloadTempPath().c_str(), options);
  result["result"] = code;
  result["resource"] = frontEnd.deviceField();
  result["seconds"] = frontEnd.Elapsed();
  result["programmingSeconds"] = frontEnd.ProgressSpan();

  // The plan is the driver's only once Update ran.
  UpdatePlan plan{};
  const bool updateCalled = code == 0 || code >= kRunDriverErrorBase;
  if (updateCalled && ReadUpdatePlan(updater, &plan) == 0) {
    result["images"] = PlanJson(plan);
    result["programmerError"] = plan.programmerError;
    if (args.dryRun) {
      std::fprintf(args.json ? stderr : stdout, "Package plan (dry run, nothing programmed):\n%s",
                   PlanTable(plan, flags).c_str());
    }
  }
  return finish(ExitStatusForRun(code));
}

}  // namespace

CommandAction RegisterUpdateCommand(CLI::App& app) {
  auto args = std::make_shared<UpdateArgs>();
  CLI::App* sub = app.add_subcommand(
      "update", "Update an instrument with a firmware file (the window's Update button)");
  sub->add_option("FILE", args->file, "Firmware file (.fq)")->required();
  sub->add_option("--device", args->device,
                  "VISA resource name of the instrument to update (default: the one instrument "
                  "found for the file's model)");
  sub->add_flag("--yes,-y", args->yes, "Answer Yes to the confirmation");
  sub->add_flag("--allow-downgrade", args->allowDowngrade,
                "Install images older than the installed ones (no version check)");
  sub->add_flag("--dry-run", args->dryRun,
                "Run up to and including the package checks, program nothing, print the plan");
  sub->add_flag("--json", args->json,
                "Print one JSON object on standard output (the log goes to standard error)");
  sub->add_flag("--quiet,-q", args->quiet, "Show no progress");
  sub->footer(kExitStatusHelp);
  return [args] { return RunUpdateCommand(*args); };
}

}  // namespace fg::cli
