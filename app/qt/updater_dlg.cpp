#include "app/qt/updater_dlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStringDecoder>
#include <QWindow>

#include "app/dialog/dialog_template.h"
#include "app/dialog/worker_protocol.h"
#include "app/qt/app_icon.h"
#include "app/qt/close_signals.h"
#include "app/qt/device_combo.h"
#include "app/qt/dialog_controls.h"
#include "app/qt/help_viewer.h"

namespace fg::app {
namespace {

// Texts are bytes (header fields from the file, paths, log lines): UTF-8 when they are valid
// UTF-8, else Latin-1, so that every byte shows as some character. The log's "\r\n" is one line
// break.
QString FromBytes(const char* text) {
  const QByteArray bytes(text != nullptr ? text : "");
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString decoded = utf8(bytes);
  if (utf8.hasError()) decoded = QString::fromLatin1(bytes);
  return decoded;
}

}  // namespace

// The window as the model's view.
struct CUpdaterDlg::View {
  static CUpdaterDlg* D(void* owner) { return static_cast<CUpdaterDlg*>(owner); }

  static void SetWindowTitle(void* owner, const char* title) {
    D(owner)->setWindowTitle(FromBytes(title));
  }
  static void SetControlText(void* owner, int32_t id, const char* text) {
    QWidget* w = D(owner)->Control(id);
    if (auto* line = qobject_cast<QLineEdit*>(w)) {
      line->setText(FromBytes(text));
    } else if (auto* multi = qobject_cast<QPlainTextEdit*>(w)) {
      multi->setPlainText(FromBytes(text));
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
      button->setText(FromBytes(text));
    }
  }
  static void EnableControl(void* owner, int32_t id, bool enabled) {
    if (QWidget* w = D(owner)->Control(id)) w->setEnabled(enabled);
  }
  static void ShowControl(void* owner, int32_t id, bool shown) {
    QWidget* w = D(owner)->Control(id);
    if (w == nullptr) return;
    w->setVisible(shown);
    if (shown) w->raise();
  }
  static void EnableClose(void* owner, bool enabled) { D(owner)->SetCloseCommandEnabled(enabled); }
  static void ShowLog(void* owner, const char* text) {
    auto* log = static_cast<QPlainTextEdit*>(D(owner)->Control(IDC_LOG));
    QString shown = FromBytes(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    log->setPlainText(shown);
    // Shown at once, so that the line is there while a long operation goes on; then the last
    // line is scrolled into view.
    log->viewport()->repaint();
    QScrollBar* bar = log->verticalScrollBar();
    bar->setValue(bar->maximum());
  }
  static void InitProgress(void* owner) {
    D(owner)->m_progress->setRange(0, 100);
    D(owner)->m_progress->setValue(0);
  }
  static void SetProgress(void* owner, int32_t percent) { D(owner)->m_progress->setValue(percent); }
  static int32_t ControlHeight(void* owner, int32_t id) {
    QWidget* w = D(owner)->Control(id);
    return w != nullptr ? w->height() : 0;
  }
  static void ApplyLayout(void* owner, const MoreInfoLayout* layout) {
    CUpdaterDlg* d = D(owner);
    QWidget* log = d->Control(IDC_LOG);
    QWidget* copyright = d->Control(IDC_COPYRIGHT);
    d->setFixedSize(d->width(), layout->windowHeight);
    log->move(layout->logX, layout->logY);
    copyright->move(layout->copyrightX, layout->copyrightY);
    log->raise();
    copyright->raise();
    if (d->isVisible()) d->raise();
  }
  static void ShowDeviceEntries(void* owner, const DeviceEntryView* entries, int32_t count,
                                int32_t current, const char* placeholder) {
    DeviceCombo* list = D(owner)->m_deviceList;
    const QSignalBlocker quiet(list);  // drawing is no pick
    list->SetEntries(entries, count, current, FromBytes(placeholder));
  }
  static void ShowHelp(void* owner) { D(owner)->ShowHelpFile(); }
  static void EndDialog(void* owner) {
    CUpdaterDlg* d = D(owner);
    d->m_ending = true;
    d->done(QDialog::Rejected);
  }
  static void ProgrammingChanged(void*, bool programming) {
    // From here on a stop signal waits for the image in progress.
    CloseSignals::SetDeferring(programming);
  }
  static void Post(void* owner, UiCall* call) {
    QMetaObject::invokeMethod(D(owner), [call] { DeliverUiCall(call); }, Qt::QueuedConnection);
  }
  static void RunEventsUntil(void*, const bool* done) {
    while (!*done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
};

CUpdaterDlg::CUpdaterDlg(const PromptOps* prompts, QWidget* parent, const RunEnv* base)
    : QDialog(parent),
      m_hIcon(LoadAppIcon()),
      m_view{this,
             View::SetWindowTitle,
             View::SetControlText,
             View::EnableControl,
             View::ShowControl,
             View::EnableClose,
             View::ShowLog,
             View::InitProgress,
             View::SetProgress,
             View::ControlHeight,
             View::ApplyLayout,
             View::ShowDeviceEntries,
             View::ShowHelp,
             View::EndDialog,
             View::ProgrammingChanged,
             View::Post,
             View::RunEventsUntil},
      m_model(&m_view, prompts, static_cast<QWidget*>(this), base) {
  BuildControls();
  setWindowIcon(m_hIcon);
  m_model.InitDialog();
  for (int32_t id : {IDC_CONNECTION_GROUP, IDC_FILE_GROUP, IDC_INFO_GROUP, IDC_UPDATE_GROUP,
                     IDC_HELP_BUTTON, IDC_CHOOSE_FILE, IDC_LOG}) {
    MakeBold(Control(id));
  }
  QString folder = QCoreApplication::applicationDirPath();
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  m_appFolder = folder.toLocal8Bit().toStdString();
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
  connect(m_deviceList, &DeviceCombo::dropDownOpening, this,
          [this] { m_model.OnDeviceListDropDown(); });
  connect(m_deviceList, &QComboBox::currentIndexChanged, this,
          [this](int index) { m_model.OnDevicePicked(index); });
  if (CloseSignals* closeSignals = CloseSignals::Instance()) {
    connect(closeSignals, &CloseSignals::closeRequested, this, &CUpdaterDlg::OnCloseSignal);
  }
}

QWidget* CUpdaterDlg::Control(int32_t id) const { return m_controls.value(id, nullptr); }

void CUpdaterDlg::SetCloseCommandEnabled(bool enabled) {
  Qt::WindowFlags flags = windowFlags();
  flags.setFlag(Qt::WindowCloseButtonHint, enabled);
  if (flags == windowFlags()) return;
  // Changed in place: setWindowFlags would re-create, and so hide, the shown window, which ends
  // a modal dialog. The window system learns of the change through the window handle.
  overrideWindowFlags(flags);
  if (QWindow* handle = windowHandle()) handle->setFlags(flags);
}

void CUpdaterDlg::MakeBold(QWidget* control) {
  if (control == nullptr) return;
  QFont bold = control->font();
  bold.setWeight(QFont::Bold);
  control->setFont(bold);
  control->update();
}

void CUpdaterDlg::ShowHelpFile() {
  const QString path = FindHelpFile(QString::fromLocal8Bit(m_appFolder.c_str()));
  if (path.isEmpty()) return;  // no guide installed: nothing to show, nothing to report
  if (m_helpWindow == nullptr) m_helpWindow = new HelpWindow(this);
  m_helpWindow->ShowFile(path);
}

void CUpdaterDlg::done(int result) {
  // While the driver programs, an event handled meanwhile must not end the window under it.
  if (!m_ending && !m_model.OnCloseRequest(CloseSource::kWindow)) return;
  m_ending = false;
  QDialog::done(result);
}

void CUpdaterDlg::closeEvent(QCloseEvent* event) {
  if (!m_ending && !m_model.OnCloseRequest(CloseSource::kWindow)) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void CUpdaterDlg::OnCloseSignal() {
  if (m_model.OnCloseRequest(CloseSource::kSignal)) {
    m_ending = true;
    close();
    m_ending = false;
  }
}

}  // namespace fg::app
