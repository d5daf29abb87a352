#include "sequence/update_run.h"

#include <cstdio>
#include <string>

#include "firmware/firmware_header.h"
#include "link/device_search.h"
#include "link/model_facts.h"
#include "sequence/failure_report.h"
#include "sequence/instrument_claim.h"
#include "sequence/run_texts.h"
#include "updater/driver_errors.h"
#include "updater/update_plan.h"
#include "updater/updater_families.h"
#include "util/bounded_text.h"
#include "util/stop_notice.h"

namespace fg {

namespace {

// The driver's progress callback: keeps the front end alive, then moves the bar.
void OnUpdateProgress(void* owner, int32_t percent) {
  const auto* fe = static_cast<const FrontEndOps*>(owner);
  fe->PumpMessages(fe->owner);
  fe->SetProgress(fe->owner, percent);
}

// A table with an empty slot cannot run an update: treat it as no updater.
bool UsableUpdater(const UpdaterOps* ops) {
  return ops != nullptr && ops->Init != nullptr && ops->Connect != nullptr &&
         ops->Update != nullptr && ops->Finish != nullptr;
}

// The run's writer-mode observer: its notes go above the pending "Updating ... ". Once the
// update command went out, a stop that ends the program leaves the instrument in writer mode:
// from then on the run's stop notice says so.
struct WriterModeNotes {
  const FrontEndOps* fe;
  bool restartWait;  // also the wait itself, not only an instrument that never came back
  StopNotice* notice;
  std::string resource;  // the instrument the run connected to
  bool switched = false;  // the run sent the update command: later writers are its own
  bool foundNoted = false;

  static void Notify(void* owner, WriterModeEvent event) {
    auto* notes = static_cast<WriterModeNotes*>(owner);
    const FrontEndOps* fe = notes->fe;
    switch (event) {
      case WriterModeEvent::kWaitingForRestart:
        notes->notice->Set(StopNotice::kRunLine,
                           LeftInWriterModeNotice(notes->resource.c_str()).c_str());
        notes->switched = true;
        if (notes->restartWait) fe->AppendNoteLine(fe->owner, kLogWaitingForRestart);
        break;
      case WriterModeEvent::kDidNotReturn:
        fe->AppendNoteLine(fe->owner, kLogWriterDidNotReturn);
        break;
      case WriterModeEvent::kFoundInWriterMode:
        if (!notes->switched && !notes->foundNoted) NoteFoundInWriterMode(fe);
        notes->foundNoted = true;
        break;
    }
  }
};

// The driver serves the run's context for as long as the run lasts, and no longer.
class BoundEnv {
 public:
  BoundEnv(const UpdaterOps* driver, const RunEnv* env) : driver_(driver) {
    BindUpdaterEnv(driver_, env);
  }
  ~BoundEnv() { BindUpdaterEnv(driver_, nullptr); }
  BoundEnv(const BoundEnv&) = delete;
  BoundEnv& operator=(const BoundEnv&) = delete;

 private:
  const UpdaterOps* driver_;
};

// The line that says why the instrument was refused for its model, when it was.
void LogModelRefusal(const FrontEndOps* fe, const ModelFacts& facts, const char* resource,
                     const char* fileModel, int32_t driverCode) {
  if (driverCode == kDriverOtherModel && facts.identified) {
    fe->AppendLogLine(fe->owner,
                      OtherModelLine(resource, facts.latest.model, fileModel).c_str());
  } else if (driverCode == kDriverWriterNamesNoModel) {
    fe->AppendLogLine(fe->owner, WriterNamesNoModelLine(resource).c_str());
  }
}

// A writer that names no model is written to only when the run knows it is the file's model:
// the user is asked, with No as the default. False when it stays unconfirmed.
bool ConfirmAnonymousWriter(const FrontEndOps* fe, const RunEnv* env, const char* resource,
                            const char* fileModel) {
  ModelFacts* facts = env->modelFacts;
  if (!facts->identified ||
      CheckModel(env, facts->latest, resource, fileModel) != ModelVerdict::kWriterNamesNoModel) {
    return true;
  }
  const std::string serial = facts->latestSerial;
  const bool yes =
      !serial.empty() && fe->ConfirmWriterModel != nullptr &&
      fe->ConfirmWriterModel(fe->owner,
                             ConfirmWriterModelText(resource, serial.c_str(), fileModel).c_str(),
                             kConfirmModelCaption, serial.c_str(), fileModel);
  if (yes) ConfirmWriterModel(facts, serial.c_str(), fileModel);
  return yes;
}

// Step 6: the payload as it was when the file was accepted, or code 3; a payload changed in
// place since then gets a line of its own, since reopening the file is what helps.
int32_t ExtractAcceptedPayload(const FrontEndOps* fe, const FileSelection* selection,
                               const char* tempPath) {
  const int32_t extracted = ExtractPayload(selection->file, selection->header.payloadOffset,
                                           tempPath, &selection->payloadDigest);
  if (extracted == kExtractChanged) fe->AppendLogLine(fe->owner, kLogFileChanged);
  return extracted == kExtractOk ? 0 : kRunNoPayload;
}

static_assert(kRunDriverErrorBase == kDriverErrorShownBase);  // the numbers the driver names

int32_t DriverCode(int32_t n) {
  return static_cast<int32_t>(static_cast<uint32_t>(kRunDriverErrorBase) + static_cast<uint32_t>(n));
}

// The instrument's first answer, before anything but the question and its name reached it.
void NoteFindings(const ModelFacts& facts, RunFindings* findings) {
  if (findings == nullptr || !facts.identified) return;
  findings->identified = true;
  findings->before = facts.latest;
  CopyBounded(findings->serial, facts.latestSerial);
}

// Whether the normal firmware's answer at Connect reports every installed version equal to the
// package's, as extracted to `tempPath`.
bool UpToDate(const UpdaterOps* ops, const ModelInfo* model, const ModelFacts* facts,
              const char* tempPath) {
  if (facts == nullptr || !facts->identified || facts->latest.writer) return false;
  ImageIndex index{};
  index.capacity = ImageCapacityForModel(model);
  ParseImageIndex(&index, tempPath);
  UpdatePlan plan{};
  int32_t result = 0;
  return CheckPackageAgainstIdentity(ops, &index, facts->latest, &plan, &result) == 0 &&
         result == 0 && PackageMatchesInstalled(plan);
}

// Steps 4 to 16 with the run's context; the returned code goes to the common end.
int32_t RunSteps(const FrontEndOps* fe, const RunEnv* env, WriterModeNotes* notes,
                 const FileSelection* selection, const char* tempPath,
                 const UpdateRunOptions& options) {
  const ModelInfo* model = selection->selectedModel;
  const UpdaterOps* ops = options.updater != nullptr ? options.updater : model->updater;
  if (!UsableUpdater(ops)) return kRunNoUpdater;

  if (tempPath == nullptr || tempPath[0] == '\0') return kRunNoPayload;
  if (const int32_t extracted = ExtractAcceptedPayload(fe, selection, tempPath); extracted != 0) {
    return extracted;
  }

  const DeviceListOps* list = fe->deviceList;
  if (list->GetCount(list->owner) == 0) {
    const int32_t found = EnumerateDevices(env, list, model);
    if (found == 0) return kRunNoInstrument;
    if (found >= 2 && options.pickAmongSeveral) return kRunPickInstrument;
    list->SetCurSel(list->owner, 0);
  }
  char resource[kResourceNameCapacity];
  list->GetText(list->owner, resource, sizeof resource);
  if (resource[0] == '\0' && list->GetCount(list->owner) >= 2 && options.pickAmongSeveral) {
    return kRunPickInstrument;
  }
  fe->SetDeviceField(fe->owner, resource);
  notes->resource = resource;
  // Held to the run's end, across the writer-mode switch; nothing goes out before.
  ScopedInstrumentLock lock;
  if (const int32_t claim = ClaimInstrument(fe, env, resource, model, lock.get())) return claim;

  fe->AppendLog(fe->owner, kLogConnecting);
  const BoundEnv bound(ops, env);
  if (ops->Init(ops->context, OnUpdateProgress, const_cast<FrontEndOps*>(fe)) != 0) {
    fe->AppendLogLine(fe->owner, kLogFailed);
    return kRunInitFailed;
  }
  const int32_t connected = ops->Connect(ops->context, resource);
  NoteFindings(*env->modelFacts, options.findings);
  if (connected != 0) {
    fe->AppendLogLine(fe->owner, kLogFailed);
    LogModelRefusal(fe, *env->modelFacts, resource, model->name, connected);
    return connected == kDriverOtherModel ? kRunOtherModel : kRunConnectFailed;
  }
  fe->AppendLogLine(fe->owner, kLogOk);

  if (options.skipWhenUpToDate && UpToDate(ops, model, env->modelFacts, tempPath)) {
    ops->Finish(ops->context);
    fe->AppendLogLine(fe->owner, kLogUpToDate);
    return kRunUpToDate;
  }

  if (!ConfirmAnonymousWriter(fe, env, resource, model->name)) {
    ops->Finish(ops->context);
    LogModelRefusal(fe, *env->modelFacts, resource, model->name, kDriverWriterNamesNoModel);
    return kRunWriterModelUnconfirmed;
  }

  if (!fe->Confirm(fe->owner, ConfirmText(resource).c_str(), kConfirmCaption)) {
    ops->Finish(ops->context);
    return kRunDeclined;
  }

  fe->AppendLog(fe->owner, kLogUpdating);
  const int32_t n = ops->Update(ops->context, tempPath, options.flags);
  if (n != 0) {
    fe->AppendLogLine(fe->owner, kLogFailed);
    LogModelRefusal(fe, *env->modelFacts, resource, model->name, n);
    // The number alone does not say what failed: the step, the partition and the instrument's
    // answer, then what the instrument now holds and what to do.
    const FailureReport report = DescribeFailure(DriverCode(n), ops);
    if (!report.what.empty()) fe->AppendLogLine(fe->owner, report.what.c_str());
    if (!report.holds.empty()) fe->AppendLogLine(fe->owner, report.holds.c_str());
    return DriverCode(n);
  }
  fe->AppendLogLine(fe->owner, kLogOk);
  fe->AppendLogLine(fe->owner,
                    (options.flags & kUpdateDryRun) != 0 ? kLogDryRunPassed : kLogCompleted);
  fe->AppendLogLine(fe->owner, "");
  return 0;
}

void ShowCodeBox(const FrontEndOps* fe, int32_t code, const ModelFacts& facts,
                 const ModelInfo* model) {
  switch (code) {
    case kRunOtherModel:
      fe->MessageBox(fe->owner, OtherModelMessage(facts.latest.model, model->name).c_str(),
                     kCaptionError, BoxIcon::Error);
      break;
    case kRunNoUpdater:
    case kRunNoPayload:
      fe->MessageBox(fe->owner, kMsgCannotInitiate, kCaptionError, BoxIcon::Error);
      break;
    case kRunNoInstrument:
      fe->MessageBox(fe->owner, kMsgNoInstrument, kCaptionSearchInstrument, BoxIcon::Information);
      break;
    case kRunInitFailed:
    case kRunConnectFailed:
      fe->MessageBox(fe->owner, kMsgCannotConnect, kCaptionError, BoxIcon::Error);
      break;
    default:
      break;  // declined, no model and driver errors have the log alone
  }
}

}  // namespace

int32_t RunUpdate(const FrontEndOps* fe, const FileSelection* selection, const char* tempPath,
                  const UpdateRunOptions& options) {
  int32_t code = kRunNoModel;
  ModelFacts facts{};
  if (options.findings != nullptr) *options.findings = RunFindings{};
  if (selection->selectedModel != nullptr) {
    fe->SetControlState(fe->owner, Busy);
    fe->InitProgressBar(fe->owner);
    StopNotice notice;  // gone with the run: after it, stopping leaves nothing half done
    WriterModeNotes notes{fe, options.noteRestartWait, &notice, {}};
    const WriterModeObserver observer{&notes, WriterModeNotes::Notify};
    RunEnv env = fe->env != nullptr ? *fe->env : RunEnv{};
    env.writerModeObserver = &observer;
    env.modelFacts = &facts;
    env.stopNotice = &notice;
    code = RunSteps(fe, &env, &notes, selection, tempPath, options);
  }

  // The payload never outlives the run; a missing file is no error.
  if (tempPath != nullptr && tempPath[0] != '\0') std::remove(tempPath);
  if (code == kRunPickInstrument) {
    fe->AppendLogLine(fe->owner, kLogPickInstrument);
  } else if (code == kRunUpToDate) {
    fe->AppendLogLine(fe->owner, "");
  } else if (code != 0) {
    ShowCodeBox(fe, code, facts, selection->selectedModel);
    fe->AppendLogLine(fe->owner, kLogCancelled);
    fe->AppendLogLine(fe->owner, ErrorNumberLine(code).c_str());
    fe->AppendLogLine(fe->owner, "");
  }
  fe->SetControlState(fe->owner, selection->selectedModel != nullptr ? FileReady : NoFile);
  return code;
}

}  // namespace fg
