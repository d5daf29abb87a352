#include "cli/instrument_console.h"

#include <cstring>

#include "sequence/plan_report.h"
#include "sequence/run_texts.h"
#include "updater/update_plan.h"

namespace fg {

namespace {

// The inner console records only: no streams, no progress output.
ConsoleSettings RecordingSettings() {
  ConsoleSettings s;
  s.logOut = nullptr;
  s.messages = nullptr;
  s.quiet = true;
  return s;
}

// The start of ErrorNumberLine's text.
constexpr const char* kErrorNumberPrefix = "Error number: ";

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

InstrumentConsole::InstrumentConsole(RunBoard* board, size_t row, const std::string& resource,
                                     const UpdaterOps* updater,
                                     std::vector<ModelConfirmation> confirmedModels)
    : board_(board),
      row_(row),
      updater_(updater),
      console_(RecordingSettings(), nullptr),
      confirmedModels_(std::move(confirmedModels)) {
  const DeviceListOps* list = list_.ops();
  list->AddString(list->owner, resource.c_str());
  list->SetCurSel(list->owner, 0);

  ops_.owner = this;
  ops_.PumpMessages = [](void*) {};
  // A run ends by leaving Busy: its time stops there, however long the others take.
  ops_.SetControlState = [](void* o, ControlState state) {
    InstrumentConsole* self = Self(o);
    if (state == Busy) {
      self->ended_ = false;
    } else if (!self->ended_) {
      self->seconds_ = self->console_.Elapsed();
      self->ended_ = true;
    }
  };
  ops_.AppendLog = [](void* o, const char* text) { Self(o)->AppendLog(text); };
  ops_.AppendLogLine = [](void* o, const char* text) { Self(o)->AppendLogLine(text); };
  ops_.AppendNoteLine = [](void* o, const char* text) {
    Self(o)->Inner().AppendNoteLine(Self(o)->Inner().owner, text);
    Self(o)->board_->LogLine(Self(o)->row_, text);
  };
  ops_.ClearLog = [](void* o) { Self(o)->Inner().ClearLog(Self(o)->Inner().owner); };
  ops_.MessageBox = [](void* o, const char* text, const char* caption, BoxIcon icon) {
    InstrumentConsole* self = Self(o);
    self->Inner().MessageBox(self->Inner().owner, text, caption, icon);
    self->board_->Message(self->row_, std::string(caption) + ": " + text);
  };
  // The set was confirmed as a whole before any run started.
  ops_.Confirm = [](void*, const char*, const char*) { return true; };
  ops_.ConfirmWriterModel = [](void* o, const char*, const char* caption, const char* serial,
                               const char* model) {
    InstrumentConsole* self = Self(o);
    const ModelAnswer answer = AnswerWriterModel(self->confirmedModels_, serial, model);
    self->board_->Message(self->row_, std::string(caption) + ": serial number " + serial +
                                          " names no model; " + answer.note);
    return answer.yes;
  };
  ops_.InitProgressBar = [](void* o) { Self(o)->Inner().InitProgressBar(Self(o)->Inner().owner); };
  ops_.SetProgress = [](void* o, int32_t percent) { Self(o)->SetProgress(percent); };
  ops_.SetFileFields = [](void* o, const char* path, const char* model, const char* revision,
                          const char* description) {
    Self(o)->Inner().SetFileFields(Self(o)->Inner().owner, path, model, revision, description);
  };
  ops_.SetDeviceField = [](void* o, const char* text) {
    Self(o)->Inner().SetDeviceField(Self(o)->Inner().owner, text);
  };
  ops_.deviceList = list;
}

void InstrumentConsole::AppendLog(const char* text) {
  Inner().AppendLog(Inner().owner, text);
  if (StartsWith(text, kLogConnecting)) board_->SetState(row_, kRowConnecting);
  if (StartsWith(text, kLogUpdating)) board_->SetState(row_, kRowUpdating);
}

void InstrumentConsole::AppendLogLine(const char* text) {
  Inner().AppendLogLine(Inner().owner, text);
  board_->LogLine(row_, console_.log().finished().back());
  if (std::strcmp(text, kLogCompleted) == 0) board_->SetState(row_, kRowCompleted);
  if (std::strcmp(text, kLogDryRunPassed) == 0) board_->SetState(row_, kRowChecksPassed);
  if (StartsWith(text, kErrorNumberPrefix)) {
    board_->SetState(row_, kRowFailedPrefix + std::string(text + std::strlen(kErrorNumberPrefix)));
  }
}

void InstrumentConsole::SetProgress(int32_t percent) {
  Inner().SetProgress(Inner().owner, percent);
  UpdatePlan plan{};
  const bool havePlan = updater_ != nullptr && ReadUpdatePlan(updater_, &plan) == 0;
  const ProgressFigures figures =
      ReadProgressFigures(percent, havePlan ? &plan : nullptr, Elapsed());
  board_->SetProgress(row_, percent, figures.image, ProgressText(figures));
  board_->SetState(row_, kRowProgramming);
}

}  // namespace fg
