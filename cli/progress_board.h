// The text display of several updates that run at once. On a terminal: one row per instrument
// (resource, image, percent, state), all rows redrawn in place. Off a terminal: plain lines
// prefixed by the resource, the log lines and a progress line at every 10 %. Every instrument's
// thread reports to the same board; each call takes the board's lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace fg {

struct BoardSettings {
  std::FILE* logOut = stdout;    // the prefixed log lines
  std::FILE* messages = stderr;  // the rows or the progress lines, and boxes
  bool logIsTerminal = false;
  bool messagesIsTerminal = false;  // the rows are redrawn in place there
  bool quiet = false;               // no rows and no progress lines
};

class ProgressBoard {
 public:
  ProgressBoard(const BoardSettings& settings, std::vector<std::string> resources);
  ProgressBoard(const ProgressBoard&) = delete;
  ProgressBoard& operator=(const ProgressBoard&) = delete;

  // True when the rows are redrawn in place; the log lines are then not written (the rows and
  // the closing summary stand for them).
  bool redrawsInPlace() const { return inPlace_; }

  // What the row's instrument is doing ("connecting", "updating", "completed", ...).
  void SetState(size_t row, const std::string& state);
  // The overall percent, the image being programmed, and the plain progress line
  // (ProgressText) written off a terminal at every 10 %.
  void SetProgress(size_t row, int32_t percent, const std::string& image,
                   const std::string& plainLine);
  // A complete log line of the row's run.
  void LogLine(size_t row, const std::string& line);
  // A message box of the row's run, "<caption>: <text>".
  void Message(size_t row, const std::string& text);
  // The last drawing; what is written afterwards goes below the rows.
  void Close();

  // One row as drawn: resource, image, percent and state in columns.
  std::string RowText(size_t row) const;

 private:
  struct Row {
    std::string resource;
    std::string image;
    int32_t percent = 0;
    std::string state = "waiting";
    int32_t decile = 0;  // the last tenth written off a terminal
  };
  void Write(std::FILE* f, const std::string& text);
  // These two expect the lock held.
  std::string RowTextLocked(size_t row) const;
  void Redraw();

  BoardSettings settings_;
  bool inPlace_;
  std::vector<Row> rows_;
  size_t resourceWidth_ = 0;
  size_t drawnRows_ = 0;  // rows on the terminal below which the cursor stands
  bool closed_ = false;
  mutable std::mutex mutex_;
};

}  // namespace fg
