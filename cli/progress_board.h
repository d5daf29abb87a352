// The text display of several updates that run at once. On a terminal: one row per instrument
// (resource, image, percent, state), all rows redrawn in place and fitted to the terminal's
// width (cli/board_layout.h). Off a terminal, and on a terminal too narrow for the shortest rows:
// plain lines prefixed by the resource, the log lines and a progress line at every 10 %. Every
// instrument's thread reports to the same board; each call takes the board's lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "cli/board_layout.h"
#include "cli/line_fitting.h"
#include "cli/live_lines.h"
#include "cli/run_board.h"

namespace fg {

struct BoardSettings {
  std::FILE* logOut = stdout;    // the prefixed log lines
  std::FILE* messages = stderr;  // the rows or the progress lines, and boxes
  bool logIsTerminal = false;
  bool messagesIsTerminal = false;  // the rows are redrawn in place there
  bool quiet = false;               // no rows and no progress lines
  // How wide the terminal of the rows is, asked before each drawing; left empty, the messages
  // stream is measured.
  WidthSource width;
};

class ProgressBoard final : public RunBoard {
 public:
  ProgressBoard(const BoardSettings& settings, std::vector<std::string> resources);
  ProgressBoard(const ProgressBoard&) = delete;
  ProgressBoard& operator=(const ProgressBoard&) = delete;

  // True while the rows are redrawn in place; the log lines are then not written (the rows and
  // the closing summary stand for them).
  bool redrawsInPlace() const;

  // What the row's instrument is doing ("connecting", "updating", "completed", ...).
  void SetState(size_t row, const std::string& state) override;
  // The overall percent, the image being programmed, and the plain progress line
  // (ProgressText) written off a terminal at every 10 %.
  void SetProgress(size_t row, int32_t percent, const std::string& image,
                   const std::string& plainLine) override;
  // A complete log line of the row's run.
  void LogLine(size_t row, const std::string& line) override;
  // A message box of the row's run, "<caption>: <text>".
  void Message(size_t row, const std::string& text) override;
  // The last drawing; what is written afterwards goes below the rows.
  void Close();

  // One row as the terminal's present width lays it out (whole, where the width is unknown or
  // too small for the board).
  std::string RowText(size_t row) const;

 private:
  struct Row {
    BoardRowFields fields;
    int32_t decile = 0;  // the last tenth written as a plain line
  };
  // These expect the lock held.
  std::vector<BoardRowFields> FieldsLocked() const;
  // Draws the rows in place; false, and nothing drawn, where the terminal is too narrow for
  // them: plain lines stand for the rows then.
  bool Redraw();
  bool DrawsPlainLines() const { return !inPlace_ || narrow_; }

  BoardSettings settings_;
  bool inPlace_;          // on a terminal and not quiet
  bool narrow_ = false;   // the last drawing found the terminal too narrow
  mutable RedrawWidth width_;
  std::vector<Row> rows_;
  LiveLines live_;
  bool closed_ = false;
  mutable std::mutex mutex_;
};

}  // namespace fg
