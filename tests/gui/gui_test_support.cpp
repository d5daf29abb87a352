#include "gui_test_support.h"

#include <sys/stat.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/qt/qt_prompts.h"
#include "link/device_search.h"

namespace fg::guitest {

ScriptedPrompts::ScriptedPrompts()
    : ops_{this, Message, Ask, Pick, Warn, AskRunning, Withdraw} {}

std::vector<PromptRecord> ScriptedPrompts::Of(PromptRecord::Kind kind) const {
  std::vector<PromptRecord> out;
  for (const PromptRecord& r : records) {
    if (r.kind == kind) out.push_back(r);
  }
  return out;
}

void ScriptedPrompts::Message(void* owner, void*, const char* text, const char* caption,
                              BoxIcon icon) {
  auto* self = static_cast<ScriptedPrompts*>(owner);
  self->records.push_back({PromptRecord::Message, text, caption, icon});
  if (self->duringMessage) self->duringMessage();
}

bool ScriptedPrompts::Answer(PromptRecord record) {
  records.push_back(std::move(record));
  if (duringConfirm) duringConfirm();
  if (answers_.empty()) {
    ++unexpected;
    return false;
  }
  const bool yes = answers_.front();
  answers_.pop_front();
  return yes;
}

bool ScriptedPrompts::Ask(void* owner, void*, const char* text, const char* caption) {
  return static_cast<ScriptedPrompts*>(owner)->Answer(
      {PromptRecord::Confirm, text, caption, BoxIcon::Question});
}

bool ScriptedPrompts::Warn(void* owner, void*, const char* text, const char* caption) {
  return static_cast<ScriptedPrompts*>(owner)->Answer(
      {PromptRecord::ConfirmWarning, text, caption, BoxIcon::Question});
}

bool ScriptedPrompts::Pick(void* owner, void*, const std::string& filter, std::string* path) {
  auto* self = static_cast<ScriptedPrompts*>(owner);
  self->records.push_back({PromptRecord::OpenFile, filter, "", BoxIcon::Error});
  if (self->files_.empty()) return false;  // the user cancelled
  const std::string next = self->files_.front();
  self->files_.pop_front();
  if (next.empty()) return false;
  *path = next;
  return true;
}

void ScriptedPrompts::AskRunning(void* owner, void* window, const char* text,
                                 const char* caption, void (*answered)(void* context, bool yes),
                                 void* context) {
  auto* self = static_cast<ScriptedPrompts*>(owner);
  self->records.push_back({PromptRecord::Question, text, caption, BoxIcon::Question});
  if (self->realQuestionBoxes) {
    const app::PromptOps* qt = app::QtPrompts();
    qt->AskWhileRunning(qt->owner, window, text, caption, answered, context);
    return;
  }
  self->answered_ = answered;
  self->answeredContext_ = context;
  if (!self->questionAnswers_.empty()) {
    const bool yes = self->questionAnswers_.front();
    self->questionAnswers_.pop_front();
    self->AnswerQuestion(yes);
  }
}

bool ScriptedPrompts::AnswerQuestion(bool yes) {
  if (answered_ == nullptr) return false;
  auto* answered = answered_;
  answered_ = nullptr;
  answered(answeredContext_, yes);
  return true;
}

void ScriptedPrompts::Withdraw(void* owner, void* window) {
  auto* self = static_cast<ScriptedPrompts*>(owner);
  self->records.push_back({PromptRecord::Withdrawn, "", "", BoxIcon::Question});
  self->answered_ = nullptr;
  if (self->realQuestionBoxes) {
    const app::PromptOps* qt = app::QtPrompts();
    qt->WithdrawQuestions(qt->owner, window);
  }
}

PrivateBus::PrivateBus() {
  char pattern[] = "/tmp/fg-gui-bus-XXXXXX";
  if (mkdtemp(pattern) != nullptr) {
    path_ = pattern;
    chmod(pattern, 0700);
    setenv("FLINTGATE_SIMBUS", pattern, 1);
  }
  // The instrument locks (under XDG_RUNTIME_DIR) are private too: other tests update
  // instruments with the same serial numbers at the same time.
  char runtime[] = "/tmp/fg-gui-run-XXXXXX";
  if (mkdtemp(runtime) != nullptr) {
    runtime_ = runtime;
    setenv("XDG_RUNTIME_DIR", runtime, 1);
  }
}

PrivateBus::~PrivateBus() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  if (!runtime_.empty()) std::filesystem::remove_all(runtime_, ec);
}

std::string WriteFile(const QTemporaryDir& dir, const std::string& name, const std::string& bytes) {
  const std::string path = QDir(dir.path()).filePath(QString::fromStdString(name)).toStdString();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f != nullptr) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return path;
}

std::unique_ptr<sim::SimInstrument> StartInstrument(const PrivateBus& bus, const char* model,
                                                    const char* serial, sim::SimTiming timing,
                                                    sim::FaultPlan faults) {
  const sim::SimFamily* family = sim::FindSimFamily(model);
  if (family == nullptr) return nullptr;
  sim::InstrumentSetup setup;
  setup.family = family;
  setup.serial = serial;
  setup.timing = timing;
  setup.faults = std::move(faults);
  std::string error;
  auto instrument = sim::SimInstrument::Start(setup, sim::FlashStore(*family), bus.path(), &error);
  if (instrument == nullptr) {
    std::fprintf(stderr, "cannot start the simulated %s: %s\n", model, error.c_str());
    return nullptr;
  }
  const sim::FirmwareMode mode =
      setup.faults.startInWriter ? sim::FirmwareMode::kWriter : sim::FirmwareMode::kNormal;
  if (!instrument->WaitOnBus(mode, 20000)) return nullptr;
  return instrument;
}

std::string MakeFirmware(const QTemporaryDir& dir, const std::string& name, const char* model,
                         const std::function<void(sim::FirmwarePlan*)>& edit) {
  const sim::SimFamily* family = sim::FindSimFamily(model);
  if (family == nullptr) return std::string();
  sim::FirmwarePlan plan = sim::DefaultFirmwarePlan(*family);
  if (edit) edit(&plan);
  const std::string path = QDir(dir.path()).filePath(QString::fromStdString(name)).toStdString();
  std::string error;
  if (!sim::WriteFirmwareFile(plan, path, &error)) {
    std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
    return std::string();
  }
  return path;
}

int WaitForInstruments(const ModelInfo* model, int count, int timeoutMs) {
  SortedDeviceList list;
  QDeadlineTimer deadline(timeoutMs);
  int seen = 0;
  while (true) {
    seen = EnumerateDevices(nullptr, list.ops(), model);
    if (seen == count || deadline.hasExpired()) return seen;
    QTest::qWait(20);
  }
}

std::vector<std::string> LogLines(const std::string& log) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (true) {
    const size_t end = log.find("\r\n", start);
    if (end == std::string::npos) {
      if (start < log.size()) lines.push_back(log.substr(start));
      break;
    }
    lines.push_back(log.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace fg::guitest
