// A front end on text streams, for flintgate-cli: log lines as the window's log shows them,
// message boxes as "<caption>: <text>", a y/N question, and progress either redrawn in place on
// a terminal, fitted to its width, or as a plain line at every 10 %.
#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "catalog/updater_ops.h"
#include "cli/line_fitting.h"
#include "sequence/front_end.h"
#include "sequence/run_log.h"

namespace fg {

// A user's word that the instrument with this serial number is this model, for a writer that
// names no model (flintgate-cli update --confirm-model SERIAL=MODEL).
struct ModelConfirmation {
  std::string serial;
  std::string model;
};

// The answer the options give to the question about a writer that names no model: Yes only when
// a confirmation names its serial and the file's model; No when it names the serial with another
// model, or none names the serial (`decided` false: a terminal may still be asked).
struct ModelAnswer {
  bool decided;
  bool yes;
  std::string note;  // why, for the user
};
ModelAnswer AnswerWriterModel(const std::vector<ModelConfirmation>& confirmations,
                              const char* serial, const char* model);

struct ConsoleSettings {
  std::FILE* logOut = stdout;    // the log lines
  std::FILE* messages = stderr;  // boxes, questions, hints and progress
  // Where a y/N answer is read from; null when there is no terminal to ask on, which answers No
  // at once (with a hint) unless assumeYes.
  std::FILE* answers = nullptr;
  bool logIsTerminal = false;       // partial lines show at once and progress shares their line
  bool messagesIsTerminal = false;  // progress is one line redrawn in place
  bool assumeYes = false;           // answers the update confirmation, never the model question
  // What answers the model question of a writer that names no model; without a matching entry it
  // is asked on the terminal (`answers`), and answered No without one.
  std::vector<ModelConfirmation> confirmedModels;
  bool quiet = false;               // no progress at all
  // How wide the terminal of the progress line is; left empty, the messages stream is measured.
  // Where the open log line and the percent do not fit (below 20 columns while "Updating ... "
  // is open), progress goes in plain lines at every 10 % instead.
  WidthSource width;
  // The driver whose plan names the image being programmed; null shows percent and time only.
  const UpdaterOps* updater = nullptr;
};

class ConsoleFrontEnd {
 public:
  // `deviceList` may be null (a selection that must not search).
  ConsoleFrontEnd(const ConsoleSettings& settings, const DeviceListOps* deviceList);
  ConsoleFrontEnd(const ConsoleFrontEnd&) = delete;
  ConsoleFrontEnd& operator=(const ConsoleFrontEnd&) = delete;

  const FrontEndOps* ops() const { return &ops_; }
  void SetDeviceList(const DeviceListOps* list) { ops_.deviceList = list; }
  // The driver whose plan names the image being programmed, once the model is known.
  void SetUpdater(const UpdaterOps* updater) { settings_.updater = updater; }

  // The complete log lines so far, a pending partial line last.
  std::vector<std::string> LogLines() const { return log_.Lines(); }
  const RunLog& log() const { return log_; }
  // A whole line that goes above the pending partial line (as the window inserts its notes), so
  // that the partial line stays whole; on a terminal the partial text is written again below it.
  void AppendNoteLine(const char* text);
  const std::string& deviceField() const { return deviceField_; }
  const std::string& modelField() const { return modelField_; }
  // Seconds since the progress bar was last initialised (the start of the run).
  double Elapsed() const;
  // Seconds from the first to the last progress report of the run: the programming itself.
  double ProgressSpan() const;

 private:
  static ConsoleFrontEnd* Self(void* owner) { return static_cast<ConsoleFrontEnd*>(owner); }
  void Write(std::FILE* f, const std::string& text);
  void EraseProgress();
  void AppendLog(const char* text);
  void AppendLogLine(const char* text);
  void MessageBox(const char* text, const char* caption);
  bool Confirm(const char* text, const char* caption);
  bool ConfirmWriterModel(const char* text, const char* caption, const char* serial,
                          const char* model);
  std::string ReadAnswerLine();
  void InitProgressBar();
  void SetProgress(int32_t percent);
  void WritePlainProgress(const ProgressFigures& figures, int columns);

  ConsoleSettings settings_;
  FrontEndOps ops_{};
  RunLog log_;
  RedrawWidth width_;
  bool progressShown_ = false;  // an in-place progress line is on the terminal
  // The open log line is no longer on the terminal's current line (plain progress lines went
  // below it on a narrow terminal); it is written whole once it ends.
  bool pendingHidden_ = false;
  int32_t lastPercent_ = -1;
  int lastColumns_ = -1;
  int32_t lastDecile_ = 0;
  long lastSecond_ = -1;
  std::string deviceField_;
  std::string modelField_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point firstReport_{};
  std::chrono::steady_clock::time_point lastReport_{};
  bool reported_ = false;
};

}  // namespace fg
