// CUpdaterDlg: the main window, one modal dialog built from template 102. It shows the accepted
// firmware file, the instrument and the progress of an update, keeps the log, and serves as the
// front end of the file selection and update-run sequences.
#pragma once
#include <QDialog>
#include <QHash>
#include <QIcon>
#include <cstdint>
#include <string>

#include "app/prompts.h"
#include "app/pumping_link.h"
#include "link/device_search.h"
#include "sequence/file_selection.h"
#include "sequence/front_end.h"
#include "sequence/run_log.h"

class QCloseEvent;
class QProgressBar;

namespace fg::app {

class DeviceCombo;
class HelpWindow;

#if defined(__GNUC__)
#define FG_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define FG_PRINTF_FORMAT(fmt, args)
#endif

class CUpdaterDlg : public QDialog {
  Q_OBJECT

 public:
  // prompts serves every modal box and the Open File dialog; it must outlive the dialog. base is
  // what the window's searches and runs wrap (a test's slow search or fast clock), null: VISA
  // and the steady clock; it must outlive the dialog too.
  explicit CUpdaterDlg(const PromptOps* prompts, QWidget* parent = nullptr,
                       const RunEnv* base = nullptr);
  ~CUpdaterDlg() override;

  // The control with a numeric id of the template, or null (labels have none).
  QWidget* Control(int32_t id) const;

  // Control states: Busy, NoFile, FileReady.
  void SetControlState(ControlState state);
  ControlState controlState() const { return m_state; }

  // Collapsed: window 470 pixels high, log out of sight. Expanded: 610 high, log above the
  // copyright line.
  void ApplyMoreInfoLayout(bool expanded);
  bool moreInfo() const { return m_moreInfo; }

  // Gives the control a bold copy of its current font.
  void MakeBold(QWidget* control);

  // The log. Both append functions format with printf rules; AppendLogLine adds "\r\n".
  void AppendLog(const char* format, ...) FG_PRINTF_FORMAT(2, 3);
  void AppendLogLine(const char* format, ...) FG_PRINTF_FORMAT(2, 3);
  // "Error number: 0x%04X": at least four hex digits, all of a larger number.
  void LogErrorNumber(int32_t number);
  void ClearLog();
  // The log's text exactly as written, line breaks as "\r\n".
  std::string LogText() const { return m_log.Text(); }

  // The Device field in view and the device list hidden, and the reverse.
  void ShowDeviceField();
  void ShowDeviceList();

  // The device search over control 1021 for the selected model.
  void RefreshDeviceList();

  // Progress bar: range 0..100 and position 0.
  void InitProgressBar();
  // Handles every pending event of the window and returns without waiting.
  void PumpMessages();

  const FileSelection& selection() const { return m_file; }
  const FirmwareHeader& header() const { return m_file.header; }
  const ModelInfo* selectedModel() const { return m_file.selectedModel; }
  const std::string& appFolder() const { return m_appFolder; }
  const std::string& tempPath() const { return m_tempPath; }
  const QIcon& icon() const { return m_hIcon; }
  const FrontEndOps* frontEnd() const { return &m_frontEnd; }
  HelpWindow* helpWindow() const { return m_helpWindow; }
  // True while an update run is inside OnUpdate.
  bool updateRunning() const { return m_updateRunning; }
  // True while the run's images are erased or programmed (from the first progress report on).
  bool programming() const { return m_programming; }
  // True when two or more instruments are listed and none is picked: Update waits for a pick.
  bool NeedsDevicePick() const;

 public slots:
  void OnMoreInfo();
  void OnHelpButton();
  void OnChooseFile();
  void OnUpdate();
  void OnDeviceListDropDown();
  // The device list's selection changed (a pick, a search): Update is possible with a pick.
  void OnDevicePicked(int index);
  // SIGINT, SIGTERM or SIGHUP while images are programmed: a close attempt as from the window.
  void OnCloseSignal();
  // Ends the dialog unless an update is running; a Cancel (Esc) is refused, or asked about, the
  // same way as a close request.
  void done(int result) override;

 protected:
  // The close request: refused in Busy, otherwise the temporary file is deleted first. While
  // images are erased or programmed it asks whether to stop the update after the image in
  // progress (No by default); Yes closes the window once the run has stopped.
  void closeEvent(QCloseEvent* event) override;

 private:
  struct FrontEnd;  // the FrontEndOps functions over this dialog
  friend struct FrontEnd;

  void BuildControls();
  FrontEndOps MakeFrontEnd();
  void OnInitDialog();
  void SetCloseCommandEnabled(bool enabled);
  // Shows the log's text in control 1020 with its last line in view.
  void ShowLog();
  void DeleteTempFile();
  void UpdateDeviceListVisibility();
  // A line put above the log's unfinished last line ("Updating ... "), which stays last.
  void AppendNoteLine(const char* text);
  // True when a close attempt must leave the window open. While images are programmed a signal
  // defers it until the run has stopped between two images; Esc or the close button ask first.
  bool HoldClose(bool fromSignal);
  // Asks the core to stop between images and closes the window once the run has ended.
  void DeferClose();
  // The question of a close attempt during programming; the update goes on while it is open.
  void AskToStop();
  static void OnStopAnswered(void* context, bool yes);
  // A question the run's end made moot is closed unanswered.
  void WithdrawStopQuestion();

  // Members of the window, in the order of the original dialog class.
  DeviceCombo* m_deviceList = nullptr;
  QProgressBar* m_progress = nullptr;
  QIcon m_hIcon;
  std::string m_appFolder;  // the executable's folder, ending in "/"
  std::string m_tempPath;   // the private payload path, never inside m_appFolder
  FileSelection m_file{};   // m_header and m_selectedModel, with the accepted file's path

  const PromptOps* m_prompts;
  PumpingRunEnv m_runEnv;  // the front end's env: pumping slots and clock, the pumped search
  FrontEndOps m_frontEnd{};
  QHash<int32_t, QWidget*> m_controls;
  ControlState m_state = NoFile;
  bool m_moreInfo = false;
  bool m_updateRunning = false;
  bool m_programming = false;
  bool m_closeDeferred = false;  // a close attempt waits for the run to stop
  bool m_stopQuestionOpen = false;  // a close attempt asks whether to stop the update
  bool m_searching = false;      // VISA searches off the window's thread
  ResourceSearch m_search{};
  RunLog m_log;
  HelpWindow* m_helpWindow = nullptr;
};

}  // namespace fg::app
