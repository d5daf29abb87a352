#include "app/dialog/dialog_model.h"

#include <cstdarg>
#include <cstdio>

#include "app/dialog/dialog_template.h"
#include "app/dialog/dialog_texts.h"
#include "app/dialog/open_file_filter.h"
#include "app/dialog/worker_protocol.h"
#include "link/device_search.h"
#include "sequence/payload_folder.h"
#include "sequence/run_texts.h"
#include "sequence/update_run.h"
#include "util/stop_request.h"

namespace fg::app {
namespace {

// The More Info layout in pixels: outer window heights and the top-left corners of the log and
// the copyright line, relative to the client area.
constexpr int32_t kCollapsedHeight = 470;
constexpr int32_t kExpandedHeight = 610;
constexpr int32_t kCollapsedLogX = 12, kCollapsedLogY = 470;
constexpr int32_t kCollapsedCopyrightX = 12, kCollapsedCopyrightY = 420;
constexpr int32_t kExpandedLogX = 9;
constexpr int32_t kExpandedLogBottom = 571;  // log and copyright heights are taken off this
constexpr int32_t kExpandedCopyrightX = 9, kExpandedCopyrightY = 560;

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::string text(static_cast<size_t>(n), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

// A description read from a file with CR LF line ends keeps its carriage return in the header
// record; it ends the text and is no second line to show.
std::string WithoutLineEnd(const char* text) {
  std::string shown(text != nullptr ? text : "");
  while (!shown.empty() && (shown.back() == '\r' || shown.back() == '\n')) shown.pop_back();
  return shown;
}

}  // namespace

std::string WindowTitle() {
  char title[64];
  std::snprintf(title, sizeof title, kTitleFormat, kProgramName, kProgramVersion, "");
  return title;
}

MoreInfoLayout ComputeMoreInfoLayout(bool expanded, int32_t logHeight, int32_t copyrightHeight) {
  if (!expanded) {
    return {kCollapsedHeight, kCollapsedLogX, kCollapsedLogY, kCollapsedCopyrightX,
            kCollapsedCopyrightY};
  }
  return {kExpandedHeight, kExpandedLogX, kExpandedLogBottom - logHeight - copyrightHeight,
          kExpandedCopyrightX, kExpandedCopyrightY};
}

// The sequences' front end on the window's thread.
struct DialogModel::FrontEnd {
  static DialogModel* M(void* owner) { return static_cast<DialogModel*>(owner); }

  static void AppendLog(void* owner, const char* text) { M(owner)->AppendLog("%s", text); }
  static void AppendLogLine(void* owner, const char* text) { M(owner)->AppendLogLine("%s", text); }
  static void AppendNoteLine(void* owner, const char* text) { M(owner)->AppendNoteLine(text); }
  static void ClearLog(void* owner) { M(owner)->ClearLog(); }

  static void MessageBox(void* owner, const char* text, const char* caption, BoxIcon icon) {
    DialogModel* m = M(owner);
    m->m_prompts->MessageBox(m->m_prompts->owner, m->m_window, text, caption, icon);
  }
  static bool Confirm(void* owner, const char* text, const char* caption) {
    DialogModel* m = M(owner);
    return m->m_prompts->Confirm(m->m_prompts->owner, m->m_window, text, caption);
  }
  // The window knows nothing beforehand: the user answers in a warning box whose default is No.
  static bool ConfirmWriterModel(void* owner, const char* text, const char* caption, const char*,
                                 const char*) {
    DialogModel* m = M(owner);
    const PromptOps* prompts = m->m_prompts;
    return prompts->ConfirmWarning != nullptr &&
           prompts->ConfirmWarning(prompts->owner, m->m_window, text, caption);
  }

  static void InitProgressBar(void* owner) { M(owner)->InitProgressBar(); }
  static void SetProgress(void* owner, int32_t percent) {
    DialogModel* m = M(owner);
    // Progress comes only while images are erased or programmed: from here on a close attempt
    // waits for the image in progress.
    if (m->m_updateRunning && !m->m_programming) m->SetProgramming(true);
    m->m_view->SetProgress(m->m_view->owner, percent);
  }
  // The sequences run on the worker while the window's thread handles its events.
  static void PumpMessages(void*) {}
  static void SetControlState(void* owner, ControlState state) { M(owner)->SetControlState(state); }

  static void SetFileFields(void* owner, const char* path, const char* model, const char* revision,
                            const char* description) {
    const DialogViewOps* v = M(owner)->m_view;
    v->SetControlText(v->owner, IDC_FILE, path);
    v->SetControlText(v->owner, IDC_MODEL, model);
    v->SetControlText(v->owner, IDC_REVISION, revision);
    v->SetControlText(v->owner, IDC_DESCRIPTION, WithoutLineEnd(description).c_str());
  }
  static void SetDeviceField(void* owner, const char* text) { M(owner)->SetDeviceField(text); }
};

DialogModel::DialogModel(const DialogViewOps* view, const PromptOps* prompts, void* window,
                         const RunEnv* base)
    : m_view(view), m_prompts(prompts), m_window(window), m_base(base) {
  m_file.selectedModel = nullptr;
  m_frontEnd.owner = this;
  m_frontEnd.AppendLog = FrontEnd::AppendLog;
  m_frontEnd.AppendLogLine = FrontEnd::AppendLogLine;
  m_frontEnd.AppendNoteLine = FrontEnd::AppendNoteLine;
  m_frontEnd.ClearLog = FrontEnd::ClearLog;
  m_frontEnd.MessageBox = FrontEnd::MessageBox;
  m_frontEnd.Confirm = FrontEnd::Confirm;
  m_frontEnd.ConfirmWriterModel = FrontEnd::ConfirmWriterModel;
  m_frontEnd.InitProgressBar = FrontEnd::InitProgressBar;
  m_frontEnd.SetProgress = FrontEnd::SetProgress;
  m_frontEnd.PumpMessages = FrontEnd::PumpMessages;
  m_frontEnd.SetControlState = FrontEnd::SetControlState;
  m_frontEnd.SetFileFields = FrontEnd::SetFileFields;
  m_frontEnd.SetDeviceField = FrontEnd::SetDeviceField;
  m_frontEnd.deviceList = m_deviceList.ops();
  m_frontEnd.env = base;
  m_deviceList.SetChanged([this] { DrawDeviceList(); });
}

DialogModel::~DialogModel() = default;

void DialogModel::InitDialog() {
  m_view->SetWindowTitle(m_view->owner, WindowTitle().c_str());
  m_view->SetControlText(m_view->owner, IDC_COPYRIGHT, kCopyrightLine);
  SetControlState(NoFile);
  ApplyMoreInfoLayout(false);
  ShowDeviceField();
  m_view->SetControlText(m_view->owner, IDC_METHOD, kConnectionMethod);
  DrawDeviceList();
  // The payload goes to a private folder of this process, never beside the executable, which
  // may be shared or read-only.
  m_tempPath = PayloadTempPath();
}

void DialogModel::SetControlState(ControlState state) {
  m_state = state;
  DrawControlState();
}

ControlState DialogModel::controlState() const { return m_searching ? Busy : m_state; }

void DialogModel::DrawControlState() {
  const DialogViewOps* v = m_view;
  const ControlState shown = controlState();
  const bool fileButton = shown == NoFile || shown == FileReady;
  const bool ready = shown == FileReady;
  v->EnableControl(v->owner, IDC_CHOOSE_FILE, fileButton);
  v->EnableControl(v->owner, IDC_UPDATE, ready && !NeedsDevicePick());
  v->EnableControl(v->owner, IDC_DEVICE_LIST, ready);
  v->EnableClose(v->owner, fileButton);
}

void DialogModel::ApplyMoreInfoLayout(bool expanded) {
  m_view->SetControlText(m_view->owner, IDC_MORE_INFO,
                         expanded ? kMoreInfoExpanded : kMoreInfoCollapsed);
  const MoreInfoLayout layout =
      ComputeMoreInfoLayout(expanded, m_view->ControlHeight(m_view->owner, IDC_LOG),
                            m_view->ControlHeight(m_view->owner, IDC_COPYRIGHT));
  m_view->ApplyLayout(m_view->owner, &layout);
}

void DialogModel::OnMoreInfo() {
  m_moreInfo = !m_moreInfo;
  ApplyMoreInfoLayout(m_moreInfo);
}

void DialogModel::OnHelpButton() { m_view->ShowHelp(m_view->owner); }

void DialogModel::AppendLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatV(format, args);
  va_end(args);
  m_log.AppendText(text);
  ShowLog();
}

void DialogModel::AppendLogLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatV(format, args);
  va_end(args);
  m_log.AppendLine(text);
  ShowLog();
}

void DialogModel::LogErrorNumber(int32_t number) {
  AppendLogLine("%s", ErrorNumberLine(number).c_str());
}

void DialogModel::ClearLog() {
  m_log.Clear();
  ShowLog();
}

void DialogModel::AppendNoteLine(const char* text) {
  m_log.InsertNoteLine(text);
  ShowLog();
}

void DialogModel::ShowLog() { m_view->ShowLog(m_view->owner, m_log.Text().c_str()); }

void DialogModel::ShowDeviceField() {
  m_deviceListShown = false;
  m_view->ShowControl(m_view->owner, IDC_DEVICE_LIST, false);
  m_view->ShowControl(m_view->owner, IDC_DEVICE, true);
}

void DialogModel::ShowDeviceList() {
  m_deviceListShown = true;
  m_view->ShowControl(m_view->owner, IDC_DEVICE, false);
  m_view->ShowControl(m_view->owner, IDC_DEVICE_LIST, true);
}

void DialogModel::DrawDeviceList() {
  m_deviceList.Draw(m_view, kPickInstrumentPlaceholder);
  // Update follows a pick and the list's emptying.
  DrawControlState();
}

void DialogModel::SetDeviceField(const char* text) {
  m_deviceField = text != nullptr ? text : "";
  m_view->SetControlText(m_view->owner, IDC_DEVICE, m_deviceField.c_str());
}

void DialogModel::FollowDeviceList() {
  if (m_file.selectedModel == nullptr) return;
  SetDeviceField(m_deviceList.CurrentText().c_str());
}

void DialogModel::InitProgressBar() { m_view->InitProgress(m_view->owner); }

void DialogModel::DeleteTempFile() {
  if (!m_tempPath.empty()) std::remove(m_tempPath.c_str());
}

void DialogModel::SetProgramming(bool programming) {
  m_programming = programming;
  if (m_view->ProgrammingChanged != nullptr) {
    m_view->ProgrammingChanged(m_view->owner, programming);
  }
}

// With two or more instruments of the model attached, the user picks one: the list takes the
// Device field's place, none selected, and Update waits for the pick. It shows as well when an
// instrument was found in writer mode or busy, with its label. Otherwise it stays hidden.
void DialogModel::UpdateDeviceListVisibility() {
  if (m_file.selectedModel != nullptr &&
      (m_deviceList.count() >= 2 || m_deviceList.HasLabels())) {
    ShowDeviceList();
  } else {
    ShowDeviceField();
  }
  DrawControlState();
}

void DialogModel::RunSearch(const std::function<int32_t(const FrontEndOps*)>& work) {
  m_searching = true;
  DrawControlState();
  RunOnWorker(m_view, &m_frontEnd, work, [this](int32_t) {
    m_searching = false;
    DrawControlState();
  });
}

void DialogModel::OnChooseFile() {
  if (m_searching || m_updateRunning) return;
  ClearLog();
  std::string path;
  if (!m_prompts->OpenFile(m_prompts->owner, m_window, BuildCatalogFilter(kModelCatalog), &path)) {
    return;
  }
  int32_t result = 0;
  RunSearch([this, &path, &result](const FrontEndOps* fe) {
    result = SelectFirmwareFile(fe, &m_file, path.c_str());
    return result;
  });
  // A file that could not be opened changes nothing but the log; every other one has refreshed
  // the device list.
  if (result == -1) return;
  FollowDeviceList();
  UpdateDeviceListVisibility();
  if (m_file.selectedModel != nullptr && NeedsDevicePick()) AppendLogLine("%s", kLogPickInstrument);
}

void DialogModel::OnDeviceListDropDown() {
  if (m_searching || m_updateRunning) return;
  const ModelInfo* model = m_file.selectedModel;
  RunSearch([model](const FrontEndOps* fe) {
    RefreshDeviceList(fe->env, fe->deviceList, model);
    return 0;
  });
  FollowDeviceList();
}

void DialogModel::OnDevicePicked(int32_t index) {
  if (m_searching || m_updateRunning) return;
  m_deviceList.Select(index);
  FollowDeviceList();
}

void DialogModel::OnUpdate() {
  // The button is disabled while a run or a search is on; a click delivered meanwhile anyway
  // must not start a second run inside the first.
  if (m_updateRunning || m_searching) return;
  m_updateRunning = true;
  m_programming = false;
  ClearStopRequest();  // a stop asked of an earlier run does not carry over
  // While the instrument restarts, erases and programs, the window keeps handling its events;
  // the log says what the writer-mode switch is waiting for.
  UpdateRunOptions options;
  options.pickAmongSeveral = true;
  options.noteRestartWait = true;
  const std::string tempPath = m_tempPath;
  RunOnWorker(
      m_view, &m_frontEnd,
      [this, &tempPath, &options](const FrontEndOps* fe) {
        return RunUpdate(fe, &m_file, tempPath.c_str(), options);
      },
      [this](int32_t) {
        WithdrawStopQuestion();
        if (m_programming) SetProgramming(false);
        m_updateRunning = false;
        UpdateDeviceListVisibility();
        if (m_closeDeferred) {
          m_closeDeferred = false;
          DeleteTempFile();
          m_view->EndDialog(m_view->owner);
        }
      });
}

bool DialogModel::OnCloseRequest(CloseSource source) {
  if (controlState() == Busy || m_updateRunning) {
    // Before the images are written Busy simply refuses. Once they are, stopping between two of
    // them is safe, and the window closes when the run has stopped: a signal asks for that at
    // once, a key or a click only through the question, since one of them alone must not stop
    // an update.
    if (!m_updateRunning || m_closeDeferred) return false;
    if (source == CloseSource::kSignal) {
      DeferClose();
    } else if (m_programming) {
      AskToStop();
    }
    return false;
  }
  DeleteTempFile();
  return true;
}

void DialogModel::DeferClose() {
  m_closeDeferred = true;
  AppendNoteLine(kLogFinishingImage);
  // Recorded while the driver programs; it checks before each image.
  (void)RequestStopBetweenImages();
}

void DialogModel::AskToStop() {
  if (m_stopQuestionOpen || m_prompts->AskWhileRunning == nullptr) return;
  m_stopQuestionOpen = true;
  m_prompts->AskWhileRunning(m_prompts->owner, m_window, kStopQuestionText, kStopQuestionCaption,
                             OnStopAnswered, this);
}

void DialogModel::OnStopAnswered(void* context, bool yes) {
  auto* model = static_cast<DialogModel*>(context);
  model->m_stopQuestionOpen = false;
  if (yes && model->m_updateRunning && !model->m_closeDeferred) model->DeferClose();
}

void DialogModel::WithdrawStopQuestion() {
  if (!m_stopQuestionOpen) return;
  m_stopQuestionOpen = false;
  if (m_prompts->WithdrawQuestions != nullptr) {
    m_prompts->WithdrawQuestions(m_prompts->owner, m_window);
  }
}

}  // namespace fg::app
