#include "app/dialog/worker_protocol.h"

#include <string>
#include <thread>

namespace fg::app {

void DeliverUiCall(UiCall* call) {
  if (call->work) call->work();
  // Notified under the lock: the worker cannot wake, and end the call, before this is done
  // with it.
  std::lock_guard<std::mutex> lock(call->mutex);
  call->done = true;
  call->ran.notify_one();
}

namespace {

// The worker's front end: each slot packs its call, hands it to the window's thread and waits
// for it, so the texts and buffers it points to stay valid while the call runs.
class WorkerFrontEnd {
 public:
  WorkerFrontEnd(const DialogViewOps* view, const FrontEndOps* ui) : view_(view), ui_(ui) {
    ops_ = *ui;
    ops_.owner = this;
    ops_.AppendLog = AppendLog;
    ops_.AppendLogLine = AppendLogLine;
    ops_.AppendNoteLine = AppendNoteLine;
    ops_.ClearLog = ClearLog;
    ops_.MessageBox = MessageBox;
    ops_.Confirm = Confirm;
    ops_.ConfirmWriterModel = ui->ConfirmWriterModel != nullptr ? ConfirmWriterModel : nullptr;
    ops_.InitProgressBar = InitProgressBar;
    ops_.SetProgress = SetProgress;
    ops_.PumpMessages = PumpMessages;
    ops_.SetControlState = SetControlState;
    ops_.SetFileFields = SetFileFields;
    ops_.SetDeviceField = SetDeviceField;
    if (ui->deviceList != nullptr) {
      list_ = *ui->deviceList;
      list_.owner = this;
      list_.ResetContent = ResetContent;
      list_.AddString = AddString;
      list_.GetCount = GetCount;
      list_.SetCurSel = SetCurSel;
      list_.GetText = GetText;
      list_.SetEntryInfo = ui->deviceList->SetEntryInfo != nullptr ? SetEntryInfo : nullptr;
      list_.GetEntryInfo = ui->deviceList->GetEntryInfo != nullptr ? GetEntryInfo : nullptr;
      ops_.deviceList = &list_;
    }
  }

  const FrontEndOps* ops() const { return &ops_; }

  // Runs `work` on the window's thread and returns when it ran there.
  void Call(std::function<void()> work) const {
    UiCall call;
    call.work = std::move(work);
    view_->Post(view_->owner, &call);
    std::unique_lock<std::mutex> lock(call.mutex);
    call.ran.wait(lock, [&call] { return call.done; });
  }

 private:
  static const WorkerFrontEnd* Self(void* owner) { return static_cast<WorkerFrontEnd*>(owner); }
  const FrontEndOps* ui() const { return ui_; }
  const DeviceListOps* uiList() const { return ui_->deviceList; }

  static void AppendLog(void* owner, const char* text) {
    const auto* s = Self(owner);
    s->Call([s, text] { s->ui()->AppendLog(s->ui()->owner, text); });
  }
  static void AppendLogLine(void* owner, const char* text) {
    const auto* s = Self(owner);
    s->Call([s, text] { s->ui()->AppendLogLine(s->ui()->owner, text); });
  }
  static void AppendNoteLine(void* owner, const char* text) {
    const auto* s = Self(owner);
    s->Call([s, text] { s->ui()->AppendNoteLine(s->ui()->owner, text); });
  }
  static void ClearLog(void* owner) {
    const auto* s = Self(owner);
    s->Call([s] { s->ui()->ClearLog(s->ui()->owner); });
  }
  static void MessageBox(void* owner, const char* text, const char* caption, BoxIcon icon) {
    const auto* s = Self(owner);
    s->Call([s, text, caption, icon] { s->ui()->MessageBox(s->ui()->owner, text, caption, icon); });
  }
  static bool Confirm(void* owner, const char* text, const char* caption) {
    const auto* s = Self(owner);
    bool yes = false;
    s->Call([s, text, caption, &yes] { yes = s->ui()->Confirm(s->ui()->owner, text, caption); });
    return yes;
  }
  static bool ConfirmWriterModel(void* owner, const char* text, const char* caption,
                                 const char* serial, const char* model) {
    const auto* s = Self(owner);
    bool yes = false;
    s->Call([&] { yes = s->ui()->ConfirmWriterModel(s->ui()->owner, text, caption, serial, model); });
    return yes;
  }
  static void InitProgressBar(void* owner) {
    const auto* s = Self(owner);
    s->Call([s] { s->ui()->InitProgressBar(s->ui()->owner); });
  }
  static void SetProgress(void* owner, int32_t percent) {
    const auto* s = Self(owner);
    s->Call([s, percent] { s->ui()->SetProgress(s->ui()->owner, percent); });
  }
  // The window's thread handles its events all along: there is nothing to pump from here.
  static void PumpMessages(void*) {}
  static void SetControlState(void* owner, ControlState state) {
    const auto* s = Self(owner);
    s->Call([s, state] { s->ui()->SetControlState(s->ui()->owner, state); });
  }
  static void SetFileFields(void* owner, const char* path, const char* model, const char* revision,
                            const char* description) {
    const auto* s = Self(owner);
    s->Call([&] { s->ui()->SetFileFields(s->ui()->owner, path, model, revision, description); });
  }
  static void SetDeviceField(void* owner, const char* text) {
    const auto* s = Self(owner);
    s->Call([s, text] { s->ui()->SetDeviceField(s->ui()->owner, text); });
  }

  static void ResetContent(void* owner) {
    const auto* s = Self(owner);
    s->Call([s] { s->uiList()->ResetContent(s->uiList()->owner); });
  }
  static void AddString(void* owner, const char* name) {
    const auto* s = Self(owner);
    s->Call([s, name] { s->uiList()->AddString(s->uiList()->owner, name); });
  }
  static int32_t GetCount(void* owner) {
    const auto* s = Self(owner);
    int32_t count = 0;
    s->Call([s, &count] { count = s->uiList()->GetCount(s->uiList()->owner); });
    return count;
  }
  static void SetCurSel(void* owner, int32_t index) {
    const auto* s = Self(owner);
    s->Call([s, index] { s->uiList()->SetCurSel(s->uiList()->owner, index); });
  }
  static void GetText(void* owner, char* out, size_t capacity) {
    const auto* s = Self(owner);
    s->Call([s, out, capacity] { s->uiList()->GetText(s->uiList()->owner, out, capacity); });
  }
  static void SetEntryInfo(void* owner, const FoundInstrument* found) {
    const auto* s = Self(owner);
    s->Call([s, found] { s->uiList()->SetEntryInfo(s->uiList()->owner, found); });
  }
  static bool GetEntryInfo(void* owner, const char* name, FoundInstrument* out) {
    const auto* s = Self(owner);
    bool known = false;
    s->Call([&] { known = s->uiList()->GetEntryInfo(s->uiList()->owner, name, out); });
    return known;
  }

  const DialogViewOps* view_;
  const FrontEndOps* ui_;
  FrontEndOps ops_{};
  DeviceListOps list_{};
};

}  // namespace

int32_t RunOnWorker(const DialogViewOps* view, const FrontEndOps* ui,
                    const std::function<int32_t(const FrontEndOps* fe)>& work,
                    const std::function<void(int32_t result)>& finished) {
  const WorkerFrontEnd fe(view, ui);
  bool done = false;
  int32_t result = 0;
  std::thread worker([&] {
    result = work(fe.ops());
    // The end is a call like any other: `done` is set on the window's thread, which then stops
    // waiting for events, and the worker ends once that call ran.
    fe.Call([&] {
      if (finished) finished(result);
      done = true;
    });
  });
  view->RunEventsUntil(view->owner, &done);
  worker.join();
  return result;
}

}  // namespace fg::app
