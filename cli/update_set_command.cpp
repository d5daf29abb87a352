#include "cli/update_set_command.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console_front_end.h"
#include "cli/instrument_console.h"
#include "cli/progress_board.h"
#include "cli/summary_table.h"
#include "link/device_search.h"
#include "sequence/file_selection.h"
#include "sequence/payload_folder.h"
#include "sequence/run_texts.h"
#include "sequence/stop_signals.h"
#include "sequence/update_run.h"
#include "sequence/update_set.h"
#include "updater/updater_families.h"

namespace fg::cli {

namespace {

struct InstanceRelease {
  void operator()(UpdaterOps* ops) const { ReleaseUpdaterInstance(ops); }
};
using UpdaterInstancePtr = std::unique_ptr<UpdaterOps, InstanceRelease>;

// One instrument of the set, from its driver to its result.
struct Instrument {
  std::string resource;
  UpdaterInstancePtr updater;
  std::unique_ptr<InstrumentConsole> console;
  PayloadFolder payload;  // a private folder of its own; removed once every run has ended
};

std::string ResultWord(int32_t code, bool dryRun) {
  if (code != 0) return "failed";
  return dryRun ? "checks passed" : "completed";
}

// Resource, result, error number and seconds of every instrument, fitted to a terminal's width.
std::string Summary(const std::vector<Instrument>& instruments,
                    const std::vector<SetMember>& members, bool dryRun,
                    const ConsoleSettings& settings) {
  std::vector<SummaryRecord> records;
  for (size_t i = 0; i < instruments.size(); ++i) {
    const int32_t code = members[i].code;
    records.push_back({instruments[i].resource, ResultWord(code, dryRun), code,
                       instruments[i].console->Elapsed()});
  }
  RedrawWidth width(settings.width, settings.logIsTerminal ? settings.logOut : nullptr);
  return SummaryText(records, RedrawLimit(width.Columns()));
}

std::string SetConfirmText(size_t count) {
  return "Are you sure you want to update these " + std::to_string(count) + " instruments?";
}

// Each member's record as its run ends, on its own thread.
struct SetRecording {
  UpdateRecords* records;
  const std::vector<Instrument>* instruments;
  const std::vector<SetMember>* members;
  const char* model;

  static void Ended(void* owner, const SetMember& member) {
    const auto* self = static_cast<const SetRecording*>(owner);
    const size_t i = static_cast<size_t>(&member - self->members->data());
    const Instrument& in = (*self->instruments)[i];
    RunRecordInput run;
    run.code = member.code;
    run.driver = member.updater;
    run.findings = &member.findings;
    run.resource = in.console->deviceField();
    run.model = self->model;
    run.seconds = in.console->Elapsed();
    self->records->Append(run);
  }
};

}  // namespace

int RunUpdateSetCommand(const UpdateArgs& args, UpdateRecords* records) {
  const auto started = std::chrono::steady_clock::now();
  InstallStopSignals();  // deferred while programming; SIGPIPE ignored
  const int32_t flags = UpdateFlags(args);
  const ConsoleSettings settings = UpdateConsoleSettings(args);

  SortedDeviceList list;
  // The set's own front end: the file selection (and with --all its search) and the question.
  ConsoleFrontEnd frontEnd(settings, args.all ? list.ops() : nullptr);
  const FrontEndOps* fe = frontEnd.ops();

  Json result;
  result["file"] = args.file;
  result["model"] = nullptr;
  result["exitStatus"] = kExitOk;
  result["results"] = Json::array();
  result["seconds"] = 0.0;
  auto finish = [&](int exitStatus) {
    if (args.json) {
      result["exitStatus"] = exitStatus;
      result["seconds"] =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      PrintJson(result);
    }
    RemovePayloadFolder();
    ReportLostOutput();
    return exitStatus;
  };
  auto statusWithRecords = [&](int exitStatus) {
    return exitStatus == kExitOk && records->failed() ? kExitRecordFile : exitStatus;
  };
  // The closing lines of a run that ended before any instrument's run began.
  auto cancelled = [&](int32_t code) {
    fe->AppendLogLine(fe->owner, kLogCancelled);
    fe->AppendLogLine(fe->owner, ErrorNumberLine(code).c_str());
    fe->AppendLogLine(fe->owner, "");
  };

  FileSelection selection{};
  const int32_t accepted = SelectFirmwareFile(fe, &selection, args.file.c_str());
  if (accepted != 0) {
    result["fileError"] = accepted;
    return finish(kExitFileRejected);
  }
  const ModelInfo* model = selection.selectedModel;
  result["model"] = model->name;
  if (!records->Describe(selection)) return finish(kExitFileRejected);

  const std::vector<std::string> resources = args.all ? list.entries() : args.devices;
  if (resources.empty()) {
    fe->MessageBox(fe->owner, kMsgNoInstrument, kCaptionSearchInstrument, BoxIcon::Information);
    cancelled(kRunNoInstrument);
    return finish(kExitNoInstrument);
  }

  // One question for the whole set.
  std::string names;
  for (const std::string& r : resources) {
    const FoundInstrument* info = list.InfoOf(r);  // what the search found out, with --all
    const std::string label = info != nullptr ? InstrumentLabel(*info) : std::string();
    names += "  " + r + (label.empty() ? "" : "  (" + label + ")") + "\n";
  }
  std::fprintf(settings.messages, "Instruments to update (%zu):\n%s", resources.size(),
               names.c_str());
  if (!fe->Confirm(fe->owner, SetConfirmText(resources.size()).c_str(), kConfirmCaption)) {
    cancelled(kRunDeclined);
    return finish(kExitNotConfirmed);
  }

  BoardSettings board;
  board.logOut = settings.logOut;
  board.messages = settings.messages;
  board.logIsTerminal = settings.logIsTerminal;
  board.messagesIsTerminal = settings.messagesIsTerminal;
  board.quiet = settings.quiet;
  board.width = settings.width;
  ProgressBoard progress(board, resources);

  // Each instrument: its own driver context, front end, device list and payload folder.
  std::vector<Instrument> instruments(resources.size());
  std::vector<SetMember> members(resources.size());
  for (size_t i = 0; i < resources.size(); ++i) {
    Instrument& in = instruments[i];
    in.resource = resources[i];
    in.updater.reset(CreateUpdaterInstance(model->updater));
    in.console = std::make_unique<InstrumentConsole>(&progress, i, in.resource, in.updater.get(),
                                                     settings.confirmedModels);
    members[i].frontEnd = in.console->ops();
    members[i].updater = in.updater.get();
    // Without a folder the run ends as any run whose payload cannot be extracted.
    if (CreatePayloadFolder(&in.payload)) members[i].payloadPath = in.payload.path;
  }
  SetRecording recording{records, &instruments, &members, model->name};
  const SetMemberEnded ended{&recording, SetRecording::Ended};
  RunUpdateSet(&selection, members, flags, args.jobs, &ended);
  for (Instrument& in : instruments) RemovePayloadFolder(&in.payload);
  progress.Close();

  const std::vector<std::string> selectionLog = frontEnd.LogLines();
  bool allCompleted = true;
  for (size_t i = 0; i < instruments.size(); ++i) {
    const Instrument& in = instruments[i];
    allCompleted = allCompleted && members[i].code == 0;
    std::vector<std::string> log = selectionLog;
    for (std::string& line : in.console->LogLines()) log.push_back(std::move(line));
    const RunReport report{members[i].code, in.console->deviceField(), log, in.console->Elapsed(),
                           in.console->ProgressSpan()};
    result["results"].push_back(RunJson(args, model->name, report, in.updater.get()));
    if (args.dryRun) std::fprintf(settings.logOut, "%s:\n", in.resource.c_str());
    PrintDryRunPlan(args, in.updater.get(), members[i].code);
  }
  const std::string table = Summary(instruments, members, args.dryRun, settings);
  std::fprintf(settings.logOut, "\n%s", table.c_str());
  std::fflush(settings.logOut);
  return finish(statusWithRecords(allCompleted ? kExitOk : kExitFailed));
}

}  // namespace fg::cli
