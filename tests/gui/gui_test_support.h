// Shared pieces of the window tests: scripted answers for the dialog's prompts, private folders
// and small firmware files.
#pragma once
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/dialog/prompts.h"
#include "sim/firmware_maker.h"
#include "sim/sim_instrument.h"

namespace fg::guitest {

// One prompt the dialog showed.
struct PromptRecord {
  // Question: asked while an update runs (AskWhileRunning); Withdrawn: such a question closed
  // unanswered.
  enum Kind { Message, Confirm, OpenFile, ConfirmWarning, Question, Withdrawn } kind;
  std::string text;     // message or question; for OpenFile the filter
  std::string caption;
  BoxIcon icon = BoxIcon::Error;
};

// Answers the dialog's prompts from a script and records every prompt.
class ScriptedPrompts {
 public:
  ScriptedPrompts();
  const app::PromptOps* ops() const { return &ops_; }

  void QueueFile(const std::string& path) { files_.push_back(path); }  // next Open File
  void QueueAnswer(bool yes) { answers_.push_back(yes); }  // next confirmation or warning
  // The answer to the next question asked while an update runs, given at once. Without one the
  // question stays open (the update going on) until AnswerQuestion or its withdrawal.
  void QueueQuestionAnswer(bool yes) { questionAnswers_.push_back(yes); }
  // Answers the open question; false when none is open.
  bool AnswerQuestion(bool yes);
  bool questionOpen() const { return answered_ != nullptr; }
  // Questions asked while an update runs are shown with the program's own boxes instead (still
  // recorded), to be answered through the box itself.
  bool realQuestionBoxes = false;
  // Runs inside the next prompts, before the answer is given (the dialog is in its modal state
  // there, as with a real box).
  std::function<void()> duringConfirm;
  std::function<void()> duringMessage;

  std::vector<PromptRecord> records;
  int unexpected = 0;  // prompts that found no scripted answer

  // The records of one kind.
  std::vector<PromptRecord> Of(PromptRecord::Kind kind) const;

 private:
  static void Message(void* owner, void*, const char* text, const char* caption, BoxIcon icon);
  static bool Ask(void* owner, void*, const char* text, const char* caption);
  static bool Warn(void* owner, void*, const char* text, const char* caption);
  bool Answer(PromptRecord record);
  static bool Pick(void* owner, void*, const std::string& filter, std::string* path);
  static void AskRunning(void* owner, void* window, const char* text, const char* caption,
                         void (*answered)(void* context, bool yes), void* context);
  static void Withdraw(void* owner, void* window);

  app::PromptOps ops_;
  std::deque<std::string> files_;
  std::deque<bool> answers_;
  std::deque<bool> questionAnswers_;
  void (*answered_)(void* context, bool yes) = nullptr;  // the open question's
  void* answeredContext_ = nullptr;
};

// Creates the test's private simulated-bus folder (mode 0700) and points FLINTGATE_SIMBUS at it,
// so that no test sees another's instruments, and XDG_RUNTIME_DIR at a private folder for the
// instrument locks. Call before the first VISA use.
class PrivateBus {
 public:
  PrivateBus();
  ~PrivateBus();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string runtime_;  // XDG_RUNTIME_DIR: the instrument locks of this test's runs
};

// Writes text (or bytes) to dir/name and returns the full path.
std::string WriteFile(const QTemporaryDir& dir, const std::string& name, const std::string& bytes);

// Powers up a simulated instrument of `model` ("WX2040", "WX2050") with the given serial on the
// bus. Null (with the reason printed) when it cannot join.
std::unique_ptr<sim::SimInstrument> StartInstrument(const PrivateBus& bus, const char* model,
                                                    const char* serial,
                                                    sim::SimTiming timing = sim::FastTiming(),
                                                    sim::FaultPlan faults = {});

// Writes a firmware file for a simulated model into dir: the plan that updates a fresh
// instrument, changed by `edit` when given. Returns the path, or empty on failure.
std::string MakeFirmware(const QTemporaryDir& dir, const std::string& name, const char* model,
                         const std::function<void(sim::FirmwarePlan*)>& edit = {});

// Waits (handling events) until the bus shows `count` resources of the model's search, at most
// timeoutMs; returns the number seen last.
int WaitForInstruments(const ModelInfo* model, int count, int timeoutMs);

// The lines of a log text, split at "\r\n" (a trailing empty line is kept).
std::vector<std::string> LogLines(const std::string& log);

}  // namespace fg::guitest
