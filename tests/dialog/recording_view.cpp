#include "recording_view.h"

namespace fg::test {

RecordingView::RecordingView() {
  ops_.owner = this;
  ops_.SetWindowTitle = [](void* o, const char* t) { Self(o)->title = t; };
  ops_.SetControlText = [](void* o, int32_t id, const char* t) { Self(o)->texts[id] = t; };
  ops_.EnableControl = [](void* o, int32_t id, bool e) { Self(o)->enabled[id] = e; };
  ops_.ShowControl = [](void* o, int32_t id, bool s) { Self(o)->shown[id] = s; };
  ops_.EnableClose = [](void* o, bool e) { Self(o)->closeEnabled = e; };
  ops_.ShowLog = [](void* o, const char* t) { Self(o)->log = t; };
  ops_.InitProgress = [](void* o) { Self(o)->progress = 0; };
  ops_.SetProgress = [](void* o, int32_t p) { Self(o)->progress = p; };
  ops_.ControlHeight = [](void* o, int32_t id) { return Self(o)->heights[id]; };
  ops_.ApplyLayout = [](void* o, const app::MoreInfoLayout* l) { Self(o)->layout = *l; };
  ops_.ShowDeviceEntries = [](void* o, const app::DeviceEntryView* e, int32_t n, int32_t c,
                              const char* placeholder) {
    RecordingView* v = Self(o);
    v->entries.clear();
    v->names.clear();
    for (int32_t i = 0; i < n; ++i) {
      v->entries.emplace_back(e[i].shown);
      v->names.emplace_back(e[i].name);
    }
    v->current = c;
    v->placeholder = placeholder != nullptr ? placeholder : "";
  };
  ops_.ShowHelp = [](void* o) { ++Self(o)->helpShown; };
  ops_.EndDialog = [](void* o) { ++Self(o)->ended; };
  ops_.ProgrammingChanged = [](void* o, bool p) { Self(o)->programming.push_back(p); };
  ops_.Post = [](void* o, app::UiCall* call) {
    RecordingView* v = Self(o);
    std::lock_guard<std::mutex> lock(v->mutex_);
    v->queue_.push_back(call);
    v->posted_.notify_one();
  };
  ops_.RunEventsUntil = [](void* o, const bool* done) {
    RecordingView* v = Self(o);
    while (!*done) {
      app::UiCall* call = nullptr;
      {
        std::unique_lock<std::mutex> lock(v->mutex_);
        v->posted_.wait(lock, [v] { return !v->queue_.empty(); });
        call = v->queue_.front();
        v->queue_.pop_front();
      }
      ++v->calls;
      app::DeliverUiCall(call);
    }
  };
}

RecordingPrompts::RecordingPrompts() {
  ops_.owner = this;
  ops_.MessageBox = [](void* o, void*, const char* text, const char* caption, BoxIcon icon) {
    static_cast<RecordingPrompts*>(o)->asked.push_back({"message", text, caption, icon});
  };
  ops_.Confirm = [](void* o, void*, const char* text, const char* caption) {
    auto* p = static_cast<RecordingPrompts*>(o);
    p->asked.push_back({"confirm", text, caption, BoxIcon::Question});
    if (p->answers.empty()) return false;
    const bool yes = p->answers.front();
    p->answers.pop_front();
    return yes;
  };
  ops_.ConfirmWarning = [](void* o, void*, const char* text, const char* caption) {
    auto* p = static_cast<RecordingPrompts*>(o);
    p->asked.push_back({"warning", text, caption, BoxIcon::Question});
    if (p->answers.empty()) return false;
    const bool yes = p->answers.front();
    p->answers.pop_front();
    return yes;
  };
  ops_.OpenFile = [](void* o, void*, const std::string& filter, std::string* path) {
    auto* p = static_cast<RecordingPrompts*>(o);
    p->asked.push_back({"open", filter, "", BoxIcon::Question});
    if (p->files.empty()) return false;
    *path = p->files.front();
    p->files.pop_front();
    return true;
  };
  ops_.AskWhileRunning = [](void* o, void*, const char* text, const char* caption,
                            void (*answered)(void*, bool), void* context) {
    auto* p = static_cast<RecordingPrompts*>(o);
    p->asked.push_back({"question", text, caption, BoxIcon::Question});
    p->answered = answered;
    p->answeredContext = context;
  };
  ops_.WithdrawQuestions = [](void* o, void*) {
    auto* p = static_cast<RecordingPrompts*>(o);
    p->asked.push_back({"withdrawn", "", "", BoxIcon::Question});
    p->answered = nullptr;
  };
}

}  // namespace fg::test
