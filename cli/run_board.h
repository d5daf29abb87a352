// What the front end of one instrument among several (InstrumentConsole) reports under the
// instrument's row: to the board of an update of several instruments (ProgressBoard) or to the
// production station's board (StationBoard). Every instrument's thread reports to the same
// board, so each call takes the board's lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace fg {

// The states a run reports, in the order it reaches them.
inline constexpr const char* kRowConnecting = "connecting";
inline constexpr const char* kRowUpdating = "updating";  // the writer-mode switch and the checks
inline constexpr const char* kRowProgramming = "programming";
inline constexpr const char* kRowCompleted = "completed";
inline constexpr const char* kRowChecksPassed = "checks passed";
inline constexpr const char* kRowFailedPrefix = "failed, ";  // and the error number

class RunBoard {
 public:
  virtual ~RunBoard() = default;
  // What the row's instrument is doing (the words above).
  virtual void SetState(size_t row, const std::string& state) = 0;
  // The overall percent, the image being programmed, and the plain progress line (ProgressText)
  // for boards that write one off a terminal.
  virtual void SetProgress(size_t row, int32_t percent, const std::string& image,
                           const std::string& plainLine) = 0;
  // A complete log line of the row's run.
  virtual void LogLine(size_t row, const std::string& line) = 0;
  // A message box of the row's run, "<caption>: <text>".
  virtual void Message(size_t row, const std::string& text) = 0;
};

}  // namespace fg
