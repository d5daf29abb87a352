// The main dialog without a toolkit: its control states, texts, layout, log, device list, the
// file selection and the update run it fronts, and the rules for closing it. A toolkit builds
// the controls from the template (app/dialog/dialog_template.h), draws what this model hands to
// its DialogViewOps, and forwards the window's events to the On... functions here. Everything
// here runs on the window's thread; the sequences run on a worker (worker_protocol.h).
#pragma once
#include <cstdint>
#include <string>

#include "app/dialog/device_list_model.h"
#include "app/dialog/dialog_view.h"
#include "app/dialog/prompts.h"
#include "sequence/file_selection.h"
#include "sequence/front_end.h"
#include "sequence/run_log.h"

#if defined(__GNUC__)
#define FG_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define FG_PRINTF_FORMAT(fmt, args)
#endif

namespace fg::app {

// Where a close attempt comes from.
enum class CloseSource : int32_t {
  kWindow = 0,  // the close button, the system menu, Esc or another Cancel or OK of the dialog
  kSignal = 1,  // a stop signal of the system (INT, TERM, HUP)
};

// The More Info layout of a state: collapsed (window 470 pixels high, the log out of sight
// below it) or expanded (610 high, the log above the copyright line), for the current heights
// of the log and the copyright line.
MoreInfoLayout ComputeMoreInfoLayout(bool expanded, int32_t logHeight, int32_t copyrightHeight);

class DialogModel {
 public:
  // view draws; prompts asks, its boxes owned by `window`; base is what the searches and runs
  // use (a test's slow search or fast clock), null: VISA and the steady clock. All three must
  // outlive the model.
  DialogModel(const DialogViewOps* view, const PromptOps* prompts, void* window,
              const RunEnv* base = nullptr);
  DialogModel(const DialogModel&) = delete;
  DialogModel& operator=(const DialogModel&) = delete;
  ~DialogModel();

  // The window that owns the boxes, for a toolkit whose window exists only after the model.
  void SetWindow(void* window) { m_window = window; }

  // The dialog's set-up, once its controls exist: title, copyright line, NoFile, the collapsed
  // layout, the Device field in view and the connection method.
  void InitDialog();

  // Events the toolkit forwards.
  void OnMoreInfo();
  void OnHelpButton();
  void OnChooseFile();
  void OnUpdate();
  void OnDeviceListDropDown();
  // The user picked entry `index` of the device list.
  void OnDevicePicked(int32_t index);
  // A close attempt. True when the dialog may end now (the payload is then removed); false
  // when it stays: refused while Busy, and while images are programmed asked about first (a
  // signal instead stops the run between images); either way the dialog ends by itself once
  // such a run has stopped.
  bool OnCloseRequest(CloseSource source);

  // Control states: Busy, NoFile, FileReady (any other value counts as Busy).
  void SetControlState(ControlState state);
  // The state shown: Busy while a search runs, else the one last set.
  ControlState controlState() const;
  void ApplyMoreInfoLayout(bool expanded);
  bool moreInfo() const { return m_moreInfo; }

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
  bool deviceListShown() const { return m_deviceListShown; }
  const std::string& deviceField() const { return m_deviceField; }

  void InitProgressBar();

  const FileSelection& selection() const { return m_file; }
  const FirmwareHeader& header() const { return m_file.header; }
  const ModelInfo* selectedModel() const { return m_file.selectedModel; }
  const std::string& tempPath() const { return m_tempPath; }
  const DeviceListModel& deviceList() const { return m_deviceList; }
  // The front end of the sequences on the window's thread.
  const FrontEndOps* frontEnd() const { return &m_frontEnd; }
  // True while an update run is inside OnUpdate.
  bool updateRunning() const { return m_updateRunning; }
  // True while the run's images are erased or programmed (from the first progress report on).
  bool programming() const { return m_programming; }
  // True when two or more instruments are listed and none is picked: Update waits for a pick.
  bool NeedsDevicePick() const { return m_deviceList.NeedsPick(); }

 private:
  struct FrontEnd;  // the FrontEndOps functions over this model
  friend struct FrontEnd;

  void DrawControlState();
  void ShowLog();
  void DeleteTempFile();
  void UpdateDeviceListVisibility();
  void DrawDeviceList();
  // The Device field shows the current entry of the list after a search of the file's model.
  void FollowDeviceList();
  void SetDeviceField(const char* text);
  // A line put above the log's unfinished last line ("Updating ... "), which stays last.
  void AppendNoteLine(const char* text);
  // Asks the core to stop between images and ends the dialog once the run has ended.
  void DeferClose();
  // The question of a close attempt during programming; the update goes on while it is open.
  void AskToStop();
  static void OnStopAnswered(void* context, bool yes);
  // A question the run's end made moot is closed unanswered.
  void WithdrawStopQuestion();
  void SetProgramming(bool programming);
  // Runs a search of the device list (a file selection's, a drop-down's) on the worker.
  void RunSearch(const std::function<int32_t(const FrontEndOps*)>& work);

  const DialogViewOps* m_view;
  const PromptOps* m_prompts;
  void* m_window;
  const RunEnv* m_base;
  FrontEndOps m_frontEnd{};

  std::string m_tempPath;   // the private payload path
  FileSelection m_file{};   // m_header and m_selectedModel, with the accepted file's path
  DeviceListModel m_deviceList;
  RunLog m_log;
  std::string m_deviceField;
  ControlState m_state = NoFile;
  bool m_moreInfo = false;
  bool m_deviceListShown = false;
  bool m_updateRunning = false;
  bool m_programming = false;
  bool m_searching = false;       // a device search runs on the worker
  bool m_closeDeferred = false;   // a close attempt waits for the run to stop
  bool m_stopQuestionOpen = false;
};

}  // namespace fg::app
