#include "cli/station_session.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <memory>
#include <thread>

#include "cli/commands.h"
#include "cli/console_front_end.h"
#include "cli/instrument_console.h"
#include "cli/station_board.h"
#include "cli/summary_table.h"
#include "cli/update_output.h"
#include "link/instrument_search.h"
#include "platform/record_stamp.h"
#include "platform/terminal.h"
#include "sequence/failure_report.h"
#include "sequence/file_selection.h"
#include "sequence/payload_folder.h"
#include "sequence/run_texts.h"
#include "sequence/station_roster.h"
#include "sequence/stop_signals.h"
#include "sequence/update_record.h"
#include "sequence/update_run.h"
#include "updater/updater_families.h"

namespace fg::cli {

namespace {

constexpr const char* kProgram = "flintgate-cli station";
// How often finished runs are looked for between two searches.
constexpr int kReapIntervalMs = 50;

struct InstanceRelease {
  void operator()(UpdaterOps* ops) const { ReleaseUpdaterInstance(ops); }
};
using UpdaterInstancePtr = std::unique_ptr<UpdaterOps, InstanceRelease>;

// One instrument's run, from its start to its record.
struct StationRun {
  size_t entry = 0;  // in the roster; also the board's row
  std::string resource;
  std::string model;  // as the search labelled it
  UpdaterInstancePtr updater;
  std::unique_ptr<InstrumentConsole> console;
  PayloadFolder payload;
  RunFindings findings{};
  std::unique_ptr<SessionRunScope> scope;
  std::thread thread;
  std::atomic<bool> ended{false};
  int32_t code = -1;
};

// What the session did, run by run, for the totals and the summary.
struct SessionTally {
  size_t done = 0;
  size_t upToDate = 0;
  size_t refused = 0;
  size_t failed = 0;
  std::vector<SummaryRecord> runs;

  void Count(const std::string& resource, int32_t code, double seconds) {
    switch (code) {
      case 0: ++done; break;
      case kRunUpToDate: ++upToDate; break;
      case kRunOtherModel: ++refused; break;
      default: ++failed; break;
    }
    runs.push_back({resource, RecordResultWord(code, false), code == kRunUpToDate ? 0 : code,
                    seconds});
  }

  std::string Totals() const {
    return std::to_string(done) + " done, " + std::to_string(upToDate) + " up to date, " +
           std::to_string(refused) + " refused, " + std::to_string(failed) + " failed";
  }
};

std::string DefaultRecordPath() {
  return "flintgate-station-" + platform::LocalDateText(std::time(nullptr)) + ".jsonl";
}

std::string RefusedText(const ModelInfo* model) {
  return std::string("refused: not a ") + model->name;
}

// The row's end state.
std::string OutcomeText(int32_t code, const UpdaterOps* driver, const ModelInfo* model) {
  switch (code) {
    case 0: return "done";
    case kRunUpToDate: return "up to date";
    case kRunOtherModel: return RefusedText(model);
    default: return "failed: " + DescribeFailure(code, driver).reason;
  }
}

class Session {
 public:
  Session(const StationArgs& args, const FileSelection* selection, const RecordedFile* file,
          RecordWriter* records, StationBoard* board, std::vector<ModelConfirmation> confirmed)
      : args_(args),
        selection_(selection),
        model_(selection->selectedModel),
        file_(file),
        records_(records),
        board_(board),
        confirmed_(std::move(confirmed)),
        roster_(model_),
        host_(platform::HostName()) {}

  // Until a stop event (or a record that cannot be written) ends the session; then the runs
  // going on are waited for.
  void Run() {
    while (!Stopping()) {
      Search();
      StartQueued();
      const auto next = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(kStationSearchIntervalMs);
      while (!Stopping() && std::chrono::steady_clock::now() < next) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kReapIntervalMs));
        ReapEnded();
        StartQueued();
      }
    }
    // Instruments still waiting for their turn are left as they are.
    for (size_t entry : queue_) board_->SetOutcome(entry, "not updated: the session ended");
    queue_.clear();
    while (!running_.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kReapIntervalMs));
      ReapEnded();
    }
    board_->SetTotals(tally_.Totals());
  }

  const SessionTally& tally() const { return tally_; }
  bool recordFailed() const { return recordFailed_; }

 private:
  bool Stopping() const { return recordFailed_ || SessionStopRequested(); }

  void Search() {
    const std::vector<std::string> names = FindInstrumentNames(nullptr, nullptr);
    for (const std::string& name : roster_.Present(names)) {
      const FoundInstrument found = LabelInstrument(nullptr, name);
      size_t entry = 0;
      const RosterVerdict verdict = roster_.Consider(found, &entry);
      if (verdict == RosterVerdict::kLater) continue;
      const RosterEntry& e = roster_.entries()[entry];
      if (entry == rowsMade_) {
        board_->AddRow(e.serial, e.model, kStationWaiting);
        ++rowsMade_;
      } else {
        board_->Restart(entry, e.model, kStationWaiting);
      }
      if (verdict == RosterVerdict::kRefuse) {
        Refuse(entry);
      } else {
        queue_.push_back(entry);
      }
    }
    UpdateTotals();
  }

  // Another model: nothing of the file reaches it. Its record says so.
  void Refuse(size_t entry) {
    const RosterEntry& e = roster_.entries()[entry];
    RunRecordInput input;
    input.code = kRunOtherModel;
    input.driver = model_->updater;
    input.resource = e.resource;
    input.model = e.model;
    Record(input);
    tally_.Count(e.resource, kRunOtherModel, 0.0);
    board_->SetOutcome(entry, RefusedText(model_));
  }

  void StartQueued() {
    while (!queue_.empty() && !Stopping() && (args_.jobs == 0 || running_.size() < args_.jobs)) {
      const size_t entry = queue_.front();
      auto run = std::make_unique<StationRun>();
      run->scope = std::make_unique<SessionRunScope>();
      if (!run->scope->accepted()) return;  // a stop event came first
      queue_.pop_front();
      const RosterEntry& e = roster_.entries()[entry];
      run->entry = entry;
      run->resource = e.resource;
      run->model = e.model;
      run->updater.reset(CreateUpdaterInstance(model_->updater));
      run->console = std::make_unique<InstrumentConsole>(board_, entry, run->resource,
                                                         run->updater.get(), confirmed_);
      // Without a folder the run ends as any run whose payload cannot be extracted.
      CreatePayloadFolder(&run->payload);
      roster_.RunStarted(entry);
      StationRun* raw = run.get();
      raw->thread = std::thread([this, raw] { Execute(raw); });
      running_.push_back(std::move(run));
    }
    UpdateTotals();
  }

  void Execute(StationRun* run) const {
    UpdateRunOptions options;
    options.flags = args_.allowDowngrade ? 0 : kUpdateCheckVersions;
    options.updater = run->updater.get();
    options.skipWhenUpToDate = !args_.force;
    options.findings = &run->findings;
    // A null driver ends the run with "cannot initiate" before it touches anything.
    static constexpr UpdaterOps kNoDriver{};
    if (options.updater == nullptr) options.updater = &kNoDriver;
    run->code = RunUpdate(run->console->ops(), selection_, run->payload.path.c_str(), options);
    // From here a stop event finds the session idle and lets it write this run's record.
    run->scope.reset();
    run->ended.store(true);
  }

  void ReapEnded() {
    for (auto it = running_.begin(); it != running_.end();) {
      StationRun& run = **it;
      if (!run.ended.load()) {
        ++it;
        continue;
      }
      run.thread.join();
      RemovePayloadFolder(&run.payload);
      RunRecordInput input;
      input.code = run.code;
      input.driver = run.updater.get();
      input.findings = &run.findings;
      input.resource = run.resource;
      input.model = run.model;
      input.seconds = run.console->Elapsed();
      Record(input);
      tally_.Count(run.resource, run.code, input.seconds);
      board_->SetOutcome(run.entry, OutcomeText(run.code, run.updater.get(), model_));
      roster_.RunEnded(run.entry);
      it = running_.erase(it);
    }
    UpdateTotals();
  }

  void Record(const RunRecordInput& input) {
    if (recordFailed_) return;
    const UpdateRecord record =
        MakeUpdateRecord(input, *file_, kProgram, host_, std::time(nullptr));
    std::string problem;
    if (!records_->Append(record, &problem)) {
      recordFailed_ = true;
      std::fprintf(stderr,
                   "flintgate-cli: the record of %s cannot be written to %s: %s. The station "
                   "takes no further instrument.\n",
                   input.resource.c_str(), records_->path().c_str(), problem.c_str());
    }
  }

  void UpdateTotals() {
    board_->SetTotals(tally_.Totals() + ", " + std::to_string(running_.size() + queue_.size()) +
                      " at work");
  }

  const StationArgs& args_;
  const FileSelection* selection_;
  const ModelInfo* model_;
  const RecordedFile* file_;
  RecordWriter* records_;
  StationBoard* board_;
  std::vector<ModelConfirmation> confirmed_;
  StationRoster roster_;
  std::string host_;
  size_t rowsMade_ = 0;
  std::deque<size_t> queue_;
  std::vector<std::unique_ptr<StationRun>> running_;
  SessionTally tally_;
  bool recordFailed_ = false;
};

std::string ConfirmText(const ModelInfo* model, const std::string& file) {
  return std::string("Update every ") + model->name + " that is plugged in with " + file +
         ", until Ctrl-C?";
}

}  // namespace

int RunStation(const StationArgs& args) {
  std::vector<ModelConfirmation> confirmed;
  std::string problem;
  if (!ParseModelConfirmations(args.confirmModels, &confirmed, &problem)) {
    std::fprintf(stderr, "flintgate-cli: %s\n", problem.c_str());
    return kExitUsage;
  }
  // Until the session begins, a stop event ends the program as it ends an update.
  InstallStopSignals();
  const std::string recordPath = args.record.empty() ? DefaultRecordPath() : args.record;
  RecordWriter records;
  if (!records.Open(recordPath, &problem)) {
    std::fprintf(stderr,
                 "flintgate-cli: the record file %s cannot be written: %s. The station stops "
                 "before it touches an instrument.\n",
                 recordPath.c_str(), problem.c_str());
    return kExitRecordFile;
  }

  ConsoleSettings settings;
  settings.logOut = stdout;
  settings.messages = stderr;
  settings.answers = platform::AnswerStream();
  settings.logIsTerminal = platform::IsTerminal(stdout);
  settings.assumeYes = args.yes;
  settings.quiet = true;
  ConsoleFrontEnd frontEnd(settings, nullptr);  // the selection does not search
  const FrontEndOps* fe = frontEnd.ops();
  FileSelection selection{};
  if (SelectFirmwareFile(fe, &selection, args.file.c_str()) != 0) return kExitFileRejected;
  const ModelInfo* model = selection.selectedModel;
  if (model->updater == nullptr) {
    std::fprintf(stderr, "flintgate-cli: Flintgate cannot update %s instruments.\n", model->name);
    return kExitFileRejected;
  }
  RecordedFile file;
  if (!DescribeRecordedFile(selection, &file)) {
    std::fprintf(stderr, "flintgate-cli: %s cannot be read to its end.\n", args.file.c_str());
    return kExitFileRejected;
  }
  if (!fe->Confirm(fe->owner, ConfirmText(model, file.name).c_str(), kConfirmCaption)) {
    return kExitNotConfirmed;
  }

  InstallSessionStopSignals();
  std::printf("Station for %s instruments: %s%s. Records go to %s.\n"
              "Plug the instruments in; Ctrl-C ends the session.\n",
              model->name, file.name.c_str(), args.force ? " (forced)" : "", recordPath.c_str());
  std::fflush(stdout);

  StationBoardSettings boardSettings;
  boardSettings.out = stdout;
  boardSettings.isTerminal = platform::EnableInPlaceLine(stdout);
  boardSettings.stopped = SessionStopRequested;
  StationBoard board(boardSettings);
  Session session(args, &selection, &file, &records, &board, confirmed);
  session.Run();
  board.Close();

  const SessionTally& tally = session.tally();
  RedrawWidth width(WidthSource{}, boardSettings.isTerminal ? stdout : nullptr);
  std::printf("\n%s", SummaryText(tally.runs, RedrawLimit(width.Columns())).c_str());
  std::printf("%s. Records: %s\n", tally.Totals().c_str(), recordPath.c_str());
  ReportLostOutput();
  if (session.recordFailed()) return kExitRecordFile;
  return tally.failed > 0 ? kExitFailed : kExitOk;
}

}  // namespace fg::cli
