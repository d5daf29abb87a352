// The dialog as the front end of the window-free sequences, and the handlers that run them:
// the file button, the Update button and the device list.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStringDecoder>
#include <functional>

#include "app/close_signals.h"
#include "app/device_combo.h"
#include "app/dialog_template.h"
#include "app/open_file_filter.h"
#include "app/pumping_link.h"
#include "app/updater_dlg.h"
#include "link/device_search.h"
#include "link/identify_resource.h"
#include "sequence/run_texts.h"
#include "util/stop_request.h"
#include "sequence/update_run.h"

namespace fg::app {
namespace {

// Header texts are bytes from the file: UTF-8 when they are valid UTF-8, else Latin-1, so that
// every byte shows as some character.
QString FromFileText(const char* text) {
  const QByteArray bytes(text);
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString decoded = utf8(bytes);
  if (utf8.hasError()) decoded = QString::fromLatin1(bytes);
  return decoded;
}

// A description read from a file with CR LF line ends keeps its carriage return; it ends the
// text and is not shown as a second line.
QString WithoutLineEnd(QString text) {
  while (text.endsWith(QLatin1Char('\r')) || text.endsWith(QLatin1Char('\n'))) text.chop(1);
  return text;
}

}  // namespace

struct CUpdaterDlg::FrontEnd {
  static CUpdaterDlg* Dlg(void* owner) { return static_cast<CUpdaterDlg*>(owner); }

  static void AppendLog(void* owner, const char* text) { Dlg(owner)->AppendLog("%s", text); }
  static void AppendLogLine(void* owner, const char* text) {
    Dlg(owner)->AppendLogLine("%s", text);
  }
  static void AppendNoteLine(void* owner, const char* text) { Dlg(owner)->AppendNoteLine(text); }
  static void ClearLog(void* owner) { Dlg(owner)->ClearLog(); }

  static void MessageBox(void* owner, const char* text, const char* caption, BoxIcon icon) {
    CUpdaterDlg* d = Dlg(owner);
    d->m_prompts->MessageBox(d->m_prompts->owner, d, text, caption, icon);
  }
  static bool Confirm(void* owner, const char* text, const char* caption) {
    CUpdaterDlg* d = Dlg(owner);
    return d->m_prompts->Confirm(d->m_prompts->owner, d, text, caption);
  }
  // The window knows nothing beforehand: the user answers in a warning box whose default is No.
  static bool ConfirmWriterModel(void* owner, const char* text, const char* caption,
                                 const char*, const char*) {
    CUpdaterDlg* d = Dlg(owner);
    const PromptOps* prompts = d->m_prompts;
    return prompts->ConfirmWarning != nullptr &&
           prompts->ConfirmWarning(prompts->owner, d, text, caption);
  }

  static void InitProgressBar(void* owner) { Dlg(owner)->InitProgressBar(); }
  static void SetProgress(void* owner, int32_t percent) {
    CUpdaterDlg* d = Dlg(owner);
    // Progress comes only while images are erased or programmed: from here on a close attempt
    // or a signal waits for the image in progress.
    if (d->m_updateRunning && !d->m_programming) {
      d->m_programming = true;
      CloseSignals::SetDeferring(true);
    }
    d->m_progress->setValue(percent);
  }
  static void PumpMessages(void* owner) { Dlg(owner)->PumpMessages(); }
  static void SetControlState(void* owner, ControlState state) {
    Dlg(owner)->SetControlState(state);
  }

  static void SetFileFields(void* owner, const char* path, const char* model,
                            const char* revision, const char* description) {
    CUpdaterDlg* d = Dlg(owner);
    static_cast<QLineEdit*>(d->Control(IDC_FILE))->setText(QString::fromLocal8Bit(path));
    static_cast<QLineEdit*>(d->Control(IDC_MODEL))->setText(FromFileText(model));
    static_cast<QLineEdit*>(d->Control(IDC_REVISION))->setText(FromFileText(revision));
    static_cast<QPlainTextEdit*>(d->Control(IDC_DESCRIPTION))
        ->setPlainText(WithoutLineEnd(FromFileText(description)));
  }
  static void SetDeviceField(void* owner, const char* text) {
    static_cast<QLineEdit*>(Dlg(owner)->Control(IDC_DEVICE))
        ->setText(QString::fromLatin1(text));
  }

  // The device search of the file selection, the drop-down and the run: the base env's search
  // (VISA) on a worker thread, the window handling its events, and nothing startable meanwhile.
  static int32_t Searching(CUpdaterDlg* d, const std::function<int32_t()>& work) {
    const ControlState saved = d->m_state;
    d->SetControlState(Busy);
    d->m_searching = true;
    const int32_t result = RunPumping(PumpMessages, d, work);
    d->m_searching = false;
    d->SetControlState(saved);
    return result;
  }
  static int32_t FindPumped(void* owner, const char* expression, std::vector<std::string>* names) {
    const std::string text(expression);
    const ResourceSearch* below = Dlg(owner)->m_runEnv.baseSearch();  // VISA, or a test's
    return Searching(Dlg(owner), [&text, names, below] {
      return below->Find(below->owner, text.c_str(), names);
    });
  }
  // Asking a 0x3A01 instrument who it is, the same way.
  static int32_t IdentifyPumped(void* owner, const char* resource, InstrumentIdentity* out) {
    const std::string name(resource);
    const ResourceSearch* below = Dlg(owner)->m_runEnv.baseSearch();
    return Searching(Dlg(owner), [&name, out, below] {
      return below->Identify != nullptr ? below->Identify(below->owner, name.c_str(), out)
                                        : IdentifyResource(name.c_str(), out);
    });
  }
};

FrontEndOps CUpdaterDlg::MakeFrontEnd() {
  FrontEndOps fe{};
  fe.owner = this;
  fe.AppendLog = FrontEnd::AppendLog;
  fe.AppendLogLine = FrontEnd::AppendLogLine;
  fe.AppendNoteLine = FrontEnd::AppendNoteLine;
  fe.ClearLog = FrontEnd::ClearLog;
  fe.MessageBox = FrontEnd::MessageBox;
  fe.Confirm = FrontEnd::Confirm;
  fe.ConfirmWriterModel = FrontEnd::ConfirmWriterModel;
  fe.InitProgressBar = FrontEnd::InitProgressBar;
  fe.SetProgress = FrontEnd::SetProgress;
  fe.PumpMessages = FrontEnd::PumpMessages;
  fe.SetControlState = FrontEnd::SetControlState;
  fe.SetFileFields = FrontEnd::SetFileFields;
  fe.SetDeviceField = FrontEnd::SetDeviceField;
  fe.deviceList = m_deviceList->ops();
  m_search = {this, FrontEnd::FindPumped, FrontEnd::IdentifyPumped};
  m_runEnv.SetSearch(&m_search);
  fe.env = m_runEnv.env();
  return fe;
}

void CUpdaterDlg::OnChooseFile() {
  if (m_searching || m_updateRunning) return;
  ClearLog();
  const std::string filter = ToQtFilter(BuildCatalogFilter(kModelCatalog));
  std::string path;
  if (!m_prompts->OpenFile(m_prompts->owner, this, filter, &path)) return;
  const int32_t result = SelectFirmwareFile(&m_frontEnd, &m_file, path.c_str());
  // A file that could not be opened changes nothing but the log; every other one has refreshed
  // the device list.
  if (result == -1) return;
  UpdateDeviceListVisibility();
  if (m_file.selectedModel != nullptr && NeedsDevicePick()) AppendLogLine("%s", kLogPickInstrument);
}

// With two or more instruments of the model attached, the user picks one: the list takes the
// Device field's place, none selected, and Update waits for the pick. It shows as well when an
// instrument was found in writer mode or busy, with its label. Otherwise it stays hidden.
void CUpdaterDlg::UpdateDeviceListVisibility() {
  if (m_file.selectedModel != nullptr &&
      (m_deviceList->count() >= 2 || m_deviceList->HasLabels())) {
    ShowDeviceList();
  } else {
    ShowDeviceField();
  }
  if (m_state == FileReady) SetControlState(FileReady);
}

void CUpdaterDlg::RefreshDeviceList() {
  fg::RefreshDeviceList(m_runEnv.env(), m_deviceList->ops(), m_file.selectedModel);
}

void CUpdaterDlg::OnDeviceListDropDown() {
  if (m_searching || m_updateRunning) return;
  RefreshDeviceList();
  if (m_state == FileReady) SetControlState(FileReady);
}

void CUpdaterDlg::OnDevicePicked(int) {
  if (m_state == FileReady) SetControlState(FileReady);  // Update follows the pick
}

void CUpdaterDlg::OnUpdate() {
  // The button is disabled while a run or a search is on; a click delivered by the pump anyway
  // must not start a second run inside the first.
  if (m_updateRunning || m_searching) return;
  m_updateRunning = true;
  m_programming = false;
  ClearStopRequest();  // a stop asked of an earlier run does not carry over
  // While the instrument restarts, erases and programs, the window keeps repainting and
  // answering (the front end's pumping env); the log says what the writer-mode switch is
  // waiting for.
  UpdateRunOptions options;
  options.pickAmongSeveral = true;
  options.noteRestartWait = true;
  RunUpdate(&m_frontEnd, &m_file, m_tempPath.c_str(), options);
  WithdrawStopQuestion();
  CloseSignals::SetDeferring(false);
  m_programming = false;
  m_updateRunning = false;
  UpdateDeviceListVisibility();
  if (m_closeDeferred) {
    m_closeDeferred = false;
    close();
  }
}

}  // namespace fg::app
