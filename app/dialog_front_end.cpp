// The dialog as the front end of the window-free sequences, and the handlers that run them:
// the file button, the Update button and the device list.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStringDecoder>

#include "app/device_combo.h"
#include "app/dialog_template.h"
#include "app/open_file_filter.h"
#include "app/pumping_link.h"
#include "app/updater_dlg.h"
#include "link/device_search.h"
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
  static void ClearLog(void* owner) { Dlg(owner)->ClearLog(); }

  static void MessageBox(void* owner, const char* text, const char* caption, BoxIcon icon) {
    CUpdaterDlg* d = Dlg(owner);
    d->m_prompts->MessageBox(d->m_prompts->owner, d, text, caption, icon);
  }
  static bool Confirm(void* owner, const char* text, const char* caption) {
    CUpdaterDlg* d = Dlg(owner);
    return d->m_prompts->Confirm(d->m_prompts->owner, d, text, caption);
  }

  static void InitProgressBar(void* owner) { Dlg(owner)->InitProgressBar(); }
  static void SetProgress(void* owner, int32_t percent) {
    Dlg(owner)->m_progress->setValue(percent);
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
};

FrontEndOps CUpdaterDlg::MakeFrontEnd() {
  FrontEndOps fe{};
  fe.owner = this;
  fe.AppendLog = FrontEnd::AppendLog;
  fe.AppendLogLine = FrontEnd::AppendLogLine;
  fe.ClearLog = FrontEnd::ClearLog;
  fe.MessageBox = FrontEnd::MessageBox;
  fe.Confirm = FrontEnd::Confirm;
  fe.InitProgressBar = FrontEnd::InitProgressBar;
  fe.SetProgress = FrontEnd::SetProgress;
  fe.PumpMessages = FrontEnd::PumpMessages;
  fe.SetControlState = FrontEnd::SetControlState;
  fe.SetFileFields = FrontEnd::SetFileFields;
  fe.SetDeviceField = FrontEnd::SetDeviceField;
  fe.deviceList = m_deviceList->ops();
  return fe;
}

void CUpdaterDlg::OnChooseFile() {
  ClearLog();
  const std::string filter = ToQtFilter(BuildCatalogFilter(kModelCatalog));
  std::string path;
  if (!m_prompts->OpenFile(m_prompts->owner, this, filter, &path)) return;
  const int32_t result = SelectFirmwareFile(&m_frontEnd, &m_file, path.c_str());
  // A file that could not be opened changes nothing but the log; every other one has refreshed
  // the device list.
  if (result != -1) UpdateDeviceListVisibility();
}

// With two or more instruments of the model attached, the user picks one: the list takes the
// Device field's place, none selected. With none or one it stays hidden.
void CUpdaterDlg::UpdateDeviceListVisibility() {
  if (m_file.selectedModel != nullptr && m_deviceList->count() >= 2) {
    ShowDeviceList();
  } else {
    ShowDeviceField();
  }
}

void CUpdaterDlg::RefreshDeviceList() {
  fg::RefreshDeviceList(m_deviceList->ops(), m_file.selectedModel);
}

void CUpdaterDlg::OnDeviceListDropDown() { RefreshDeviceList(); }

void CUpdaterDlg::OnUpdate() {
  // The button is disabled while a run is on; a click delivered by the progress pump anyway
  // must not start a second run inside the first.
  if (m_updateRunning) return;
  m_updateRunning = true;
  {
    // While the instrument erases and programs, the window keeps repainting and answering.
    ScopedPumpingLink pumping(FrontEnd::PumpMessages, this);
    RunUpdate(&m_frontEnd, &m_file, m_tempPath.c_str());
  }
  m_updateRunning = false;
}

}  // namespace fg::app
