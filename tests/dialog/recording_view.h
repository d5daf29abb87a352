// A view for the dialog model's tests: it records what the model draws, and runs the worker's
// calls on the test's thread as a window's thread would.
#pragma once
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/dialog/dialog_view.h"
#include "app/dialog/prompts.h"
#include "app/dialog/worker_protocol.h"

namespace fg::test {

class RecordingView {
 public:
  RecordingView();
  const app::DialogViewOps* ops() const { return &ops_; }

  std::string title;
  std::map<int32_t, std::string> texts;
  std::map<int32_t, bool> enabled;
  std::map<int32_t, bool> shown;
  bool closeEnabled = false;
  std::string log;
  int32_t progress = -1;
  app::MoreInfoLayout layout{};
  std::map<int32_t, int32_t> heights;  // the heights ControlHeight answers
  std::vector<std::string> entries;    // shown texts
  std::vector<std::string> names;
  int32_t current = -2;
  std::string placeholder;
  int helpShown = 0;
  int ended = 0;
  std::vector<bool> programming;       // ProgrammingChanged, in order
  int calls = 0;                       // worker calls delivered

 private:
  static RecordingView* Self(void* owner) { return static_cast<RecordingView*>(owner); }
  app::DialogViewOps ops_;
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<app::UiCall*> queue_;
};

// Prompts that answer from a script and record what they were asked.
class RecordingPrompts {
 public:
  RecordingPrompts();
  const app::PromptOps* ops() const { return &ops_; }

  struct Asked {
    std::string kind;  // "message", "confirm", "warning", "open", "question", "withdrawn"
    std::string text;
    std::string caption;
    BoxIcon icon;
  };
  std::vector<Asked> asked;
  std::deque<bool> answers;    // confirmations and warnings; none left: No
  std::deque<std::string> files;  // Open File; none left: cancelled
  // The open question of AskWhileRunning, answered by the test.
  void (*answered)(void* context, bool yes) = nullptr;
  void* answeredContext = nullptr;

 private:
  app::PromptOps ops_;
};

}  // namespace fg::test
