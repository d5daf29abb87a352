#include "app/updater_dlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QWindow>
#include <cstdarg>
#include <cstdio>

#include "app/app_icon.h"
#include "app/app_strings.h"
#include "app/close_signals.h"
#include "app/device_combo.h"
#include "app/dialog_controls.h"
#include "app/dialog_template.h"
#include "app/help_viewer.h"
#include "sequence/payload_folder.h"
#include "sequence/run_texts.h"
#include "util/stop_request.h"

namespace fg::app {
namespace {

// Layout of the More Info toggle, in pixels: outer window heights and the top-left corners of
// the log and the copyright line, relative to the client area.
constexpr int kCollapsedHeight = 470;
constexpr int kExpandedHeight = 610;
constexpr QPoint kCollapsedLogPos(12, 470);
constexpr QPoint kCollapsedCopyrightPos(12, 420);
constexpr int kExpandedLogX = 9;
constexpr int kExpandedLogBottom = 571;  // log and copyright heights are taken off this
constexpr QPoint kExpandedCopyrightPos(9, 560);

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

// The log shows "\r\n" as one line break.
QString ToDisplayText(const std::string& text) {
  QString display = QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
  display.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return display;
}

}  // namespace

CUpdaterDlg::CUpdaterDlg(const PromptOps* prompts, QWidget* parent, const RunEnv* base)
    : QDialog(parent),
      m_hIcon(LoadAppIcon()),
      m_prompts(prompts),
      m_runEnv([](void* owner) { static_cast<CUpdaterDlg*>(owner)->PumpMessages(); }, this, base) {
  m_file.selectedModel = nullptr;
  BuildControls();
  OnInitDialog();
}

CUpdaterDlg::~CUpdaterDlg() = default;

void CUpdaterDlg::BuildControls() {
  const DialogTemplate& t = kMainDialogTemplate;
  QFont font(QString::fromLatin1(t.fontFamily));
  font.setPointSize(t.fontPointSize);
  setFont(font);
  setWindowTitle(QString::fromLatin1(t.caption));
  // A dialog frame with caption, system menu, minimise box and the close button.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(HorizontalUnitsToPixels(t.width), VerticalUnitsToPixels(t.height));

  QList<QWidget*> frames;
  for (size_t i = 0; i < t.controlCount; ++i) {
    const ControlTemplate& row = t.controls[i];
    QWidget* w = CreateTemplateControl(row, this);
    if (row.id != IDC_STATIC) m_controls.insert(row.id, w);
    if (row.kind == ControlKind::GroupBox || row.kind == ControlKind::Frame) frames << w;
  }
  // Group boxes are drawn behind the fields they frame, whatever their order in the template.
  for (QWidget* f : frames) f->lower();

  m_deviceList = static_cast<DeviceCombo*>(Control(IDC_DEVICE_LIST));
  m_progress = static_cast<QProgressBar*>(Control(IDC_PROGRESS));

  connect(static_cast<QPushButton*>(Control(IDC_MORE_INFO)), &QPushButton::clicked, this,
          &CUpdaterDlg::OnMoreInfo);
  connect(static_cast<QPushButton*>(Control(IDC_HELP_BUTTON)), &QPushButton::clicked, this,
          &CUpdaterDlg::OnHelpButton);
  connect(static_cast<QPushButton*>(Control(IDC_CHOOSE_FILE)), &QPushButton::clicked, this,
          &CUpdaterDlg::OnChooseFile);
  connect(static_cast<QPushButton*>(Control(IDC_UPDATE)), &QPushButton::clicked, this,
          &CUpdaterDlg::OnUpdate);
  connect(m_deviceList, &DeviceCombo::dropDownOpening, this, &CUpdaterDlg::OnDeviceListDropDown);
  connect(m_deviceList, &QComboBox::currentIndexChanged, this, &CUpdaterDlg::OnDevicePicked);
  m_deviceList->setPlaceholderText(QString::fromLatin1(kPickInstrumentPlaceholder));
  if (CloseSignals* closeSignals = CloseSignals::Instance()) {
    connect(closeSignals, &CloseSignals::closeRequested, this, &CUpdaterDlg::OnCloseSignal);
  }
}

void CUpdaterDlg::OnInitDialog() {
  setWindowIcon(m_hIcon);

  char title[64];
  std::snprintf(title, sizeof title, kTitleFormat, kProgramName, kProgramVersion, "");
  setWindowTitle(QString::fromLatin1(title));

  static_cast<QLineEdit*>(Control(IDC_COPYRIGHT))->setText(QString::fromLatin1(kCopyrightLine));
  SetControlState(NoFile);
  ApplyMoreInfoLayout(false);
  ShowDeviceField();
  static_cast<QLineEdit*>(Control(IDC_METHOD))->setText(QString::fromLatin1(kConnectionMethod));

  for (int32_t id : {IDC_CONNECTION_GROUP, IDC_FILE_GROUP, IDC_INFO_GROUP, IDC_UPDATE_GROUP,
                     IDC_HELP_BUTTON, IDC_CHOOSE_FILE, IDC_LOG}) {
    MakeBold(Control(id));
  }

  QString folder = QCoreApplication::applicationDirPath();
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  m_appFolder = folder.toLocal8Bit().toStdString();
  // The payload goes to a private folder of this process, never beside the executable, which
  // may be shared or read-only.
  m_tempPath = PayloadTempPath();

  m_frontEnd = MakeFrontEnd();
}

QWidget* CUpdaterDlg::Control(int32_t id) const { return m_controls.value(id, nullptr); }

void CUpdaterDlg::SetControlState(ControlState state) {
  m_state = state;
  Control(IDC_CHOOSE_FILE)->setEnabled(false);
  Control(IDC_UPDATE)->setEnabled(false);
  Control(IDC_UPDATE)->setToolTip(QString());
  m_deviceList->setEnabled(false);
  SetCloseCommandEnabled(false);
  switch (state) {
    case NoFile:
      Control(IDC_CHOOSE_FILE)->setEnabled(true);
      SetCloseCommandEnabled(true);
      break;
    case FileReady:
      Control(IDC_CHOOSE_FILE)->setEnabled(true);
      Control(IDC_UPDATE)->setEnabled(!NeedsDevicePick());
      // Says why the button is off when the log is collapsed out of sight.
      if (NeedsDevicePick()) {
        Control(IDC_UPDATE)->setToolTip(QString::fromLatin1(kPickInstrumentPlaceholder));
      }
      m_deviceList->setEnabled(true);
      SetCloseCommandEnabled(true);
      break;
    case Busy:
    default:
      break;
  }
}

bool CUpdaterDlg::NeedsDevicePick() const {
  return m_deviceList->count() >= 2 && m_deviceList->currentIndex() < 0;
}

void CUpdaterDlg::SetCloseCommandEnabled(bool enabled) {
  Qt::WindowFlags flags = windowFlags();
  flags.setFlag(Qt::WindowCloseButtonHint, enabled);
  if (flags == windowFlags()) return;
  // Changed in place: setWindowFlags would re-create, and so hide, the shown window, which ends
  // a modal dialog. The window system learns of the change through the window handle.
  overrideWindowFlags(flags);
  if (QWindow* handle = windowHandle()) handle->setFlags(flags);
}

void CUpdaterDlg::ApplyMoreInfoLayout(bool expanded) {
  auto* button = static_cast<QPushButton*>(Control(IDC_MORE_INFO));
  QWidget* log = Control(IDC_LOG);
  QWidget* copyright = Control(IDC_COPYRIGHT);
  button->setText(QString::fromLatin1(expanded ? kMoreInfoExpanded : kMoreInfoCollapsed));
  setFixedSize(width(), expanded ? kExpandedHeight : kCollapsedHeight);
  if (expanded) {
    log->move(kExpandedLogX, kExpandedLogBottom - log->height() - copyright->height());
    copyright->move(kExpandedCopyrightPos);
  } else {
    log->move(kCollapsedLogPos);
    copyright->move(kCollapsedCopyrightPos);
  }
  log->raise();
  copyright->raise();
  if (isVisible()) raise();
}

void CUpdaterDlg::OnMoreInfo() {
  m_moreInfo = !m_moreInfo;
  ApplyMoreInfoLayout(m_moreInfo);
}

void CUpdaterDlg::MakeBold(QWidget* control) {
  if (control == nullptr) return;
  QFont bold = control->font();
  bold.setWeight(QFont::Bold);
  control->setFont(bold);
  control->update();
}

void CUpdaterDlg::AppendLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatV(format, args);
  va_end(args);
  m_log.AppendText(text);
  ShowLog();
}

void CUpdaterDlg::AppendLogLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatV(format, args);
  va_end(args);
  m_log.AppendLine(text);
  ShowLog();
}

void CUpdaterDlg::LogErrorNumber(int32_t number) {
  AppendLogLine("%s", ErrorNumberLine(number).c_str());
}

void CUpdaterDlg::ClearLog() {
  m_log.Clear();
  static_cast<QPlainTextEdit*>(Control(IDC_LOG))->setPlainText(QString());
}

void CUpdaterDlg::AppendNoteLine(const char* text) {
  m_log.InsertNoteLine(text);
  ShowLog();
}

void CUpdaterDlg::ShowLog() {
  auto* log = static_cast<QPlainTextEdit*>(Control(IDC_LOG));
  log->setPlainText(ToDisplayText(m_log.Text()));
  // Shown at once, so that the line is there while a long operation blocks the window; then
  // the last line is scrolled into view.
  log->viewport()->repaint();
  QScrollBar* bar = log->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void CUpdaterDlg::ShowDeviceField() {
  Control(IDC_DEVICE)->show();
  m_deviceList->hide();
}

void CUpdaterDlg::ShowDeviceList() {
  Control(IDC_DEVICE)->hide();
  m_deviceList->show();
  m_deviceList->raise();
}

void CUpdaterDlg::InitProgressBar() {
  m_progress->setRange(0, 100);
  m_progress->setValue(0);
}

void CUpdaterDlg::PumpMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void CUpdaterDlg::OnHelpButton() {
  const QString path = FindHelpFile(QString::fromLocal8Bit(m_appFolder.c_str()));
  if (path.isEmpty()) return;  // no guide installed: nothing to show, nothing to report
  if (m_helpWindow == nullptr) m_helpWindow = new HelpWindow(this);
  m_helpWindow->ShowFile(path);
}

void CUpdaterDlg::DeleteTempFile() {
  if (!m_tempPath.empty()) std::remove(m_tempPath.c_str());
}

bool CUpdaterDlg::HoldClose(bool fromSignal) {
  if (m_state != Busy && !m_updateRunning) return false;
  // Before the images are written Busy simply refuses. Once they are, stopping between two of
  // them is safe, and the window closes when the run has stopped: a signal asks for that at once,
  // a key or a click only through the question, since one of them alone must not stop an update.
  if (!m_updateRunning || m_closeDeferred) return true;
  if (fromSignal) {
    DeferClose();
  } else if (m_programming) {
    AskToStop();
  }
  return true;
}

void CUpdaterDlg::DeferClose() {
  m_closeDeferred = true;
  AppendNoteLine(kLogFinishingImage);
  // Recorded while the driver programs; it checks before each image.
  (void)RequestStopBetweenImages();
}

void CUpdaterDlg::AskToStop() {
  if (m_stopQuestionOpen || m_prompts->AskWhileRunning == nullptr) return;
  m_stopQuestionOpen = true;
  m_prompts->AskWhileRunning(m_prompts->owner, this, kStopQuestionText, kStopQuestionCaption,
                             OnStopAnswered, this);
}

void CUpdaterDlg::OnStopAnswered(void* context, bool yes) {
  auto* dlg = static_cast<CUpdaterDlg*>(context);
  dlg->m_stopQuestionOpen = false;
  if (yes && dlg->m_updateRunning && !dlg->m_closeDeferred) dlg->DeferClose();
}

void CUpdaterDlg::WithdrawStopQuestion() {
  if (!m_stopQuestionOpen) return;
  m_stopQuestionOpen = false;
  if (m_prompts->WithdrawQuestions != nullptr) m_prompts->WithdrawQuestions(m_prompts->owner, this);
}

void CUpdaterDlg::done(int result) {
  // Esc and every other Cancel or OK end the dialog through here; while the driver is
  // programming, an event handled by the progress pump must not end the window under it.
  if (HoldClose(false)) return;
  DeleteTempFile();
  QDialog::done(result);
}

void CUpdaterDlg::closeEvent(QCloseEvent* event) {
  if (HoldClose(false)) {
    event->ignore();
    return;
  }
  DeleteTempFile();
  QDialog::closeEvent(event);
}

void CUpdaterDlg::OnCloseSignal() {
  if (!HoldClose(true)) close();
}

}  // namespace fg::app
