// The production station's board. On a terminal: a heading, one row per instrument seen in the
// session (serial, model, state) and the session's totals, all redrawn in place and fitted to
// the terminal's width; a long session shows the instruments still at work and the latest ones
// that finished. Off a terminal, and on one too narrow for the rows: one line per event (an
// instrument seen, each new state, each tenth of its programming).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "cli/line_fitting.h"
#include "cli/live_lines.h"
#include "cli/run_board.h"

namespace fg {

// What a row shows while its run goes on; the end states come from the station (SetOutcome).
inline constexpr const char* kStationWaiting = "waiting";
inline constexpr const char* kStationSwitching = "switching";
inline constexpr const char* kStationProgramming = "programming";

struct StationRow {
  std::string serial;
  std::string model;    // empty: unknown
  std::string state;    // "waiting", "switching", "programming", or an end state
  int32_t percent = -1;  // while programming, else -1
};

// The least of a state a row still shows ("progra", "failed").
inline constexpr size_t kStationStateMinColumns = 6;
// Rows shown at most, those still at work first among them; the others are counted in a line.
inline constexpr size_t kStationShownRows = 20;

// The block as drawn in `limit` columns: the heading, the rows shown (every one still at work
// and, up to kStationShownRows, the latest that finished), a line counting those left out, and
// `totals`. Columns: serial, model and state, two blanks apart, then one, then without the
// model; the state is cut at a word. Empty when even the serials and kStationStateMinColumns of
// the state do not fit.
std::vector<std::string> LayOutStation(const std::vector<StationRow>& rows,
                                       const std::string& totals, size_t limit);
// A row's state as shown: "programming 42 %" while programming.
std::string StationStateText(const StationRow& row);

struct StationBoardSettings {
  std::FILE* out = stderr;
  bool isTerminal = false;  // redrawn in place there
  // How wide the terminal is, asked before each drawing; left empty, `out` is measured.
  WidthSource width;
  // True once the session was told to stop; null: never. A stop notice is written below the
  // board by the signal's handler, which the board cannot see: from then on the board is not
  // redrawn in place (it would go back over the notice), and Close draws it anew below.
  bool (*stopped)() = nullptr;
};

class StationBoard final : public RunBoard {
 public:
  explicit StationBoard(const StationBoardSettings& settings);
  StationBoard(const StationBoard&) = delete;
  StationBoard& operator=(const StationBoard&) = delete;

  // A new row; returns its index.
  size_t AddRow(const std::string& serial, const std::string& model, const std::string& state);
  // A row's instrument seen again, for a new run: its model as now known, and its state.
  void Restart(size_t row, const std::string& model, const std::string& state);
  // The end state of the row's run ("done", "up to date", "refused: ...", "failed: ...").
  void SetOutcome(size_t row, const std::string& state);
  void SetTotals(const std::string& totals);
  // The last drawing; what is written afterwards goes below it.
  void Close();

  // RunBoard: the runs' own states become "switching" and "programming"; their end states,
  // which the station words itself, and their log lines are left out.
  void SetState(size_t row, const std::string& state) override;
  void SetProgress(size_t row, int32_t percent, const std::string& image,
                   const std::string& plainLine) override;
  void LogLine(size_t row, const std::string& line) override;
  void Message(size_t row, const std::string& text) override;

  bool redrawsInPlace() const;
  std::vector<StationRow> rows() const;

 private:
  struct Row {
    StationRow fields;
    int32_t decile = 0;  // the last tenth written as a line
  };
  // These expect the lock held.
  void Changed(size_t row);
  bool Redraw();
  void EventLine(size_t row);
  bool DrawsPlainLines() const { return !settings_.isTerminal || narrow_; }
  // On a terminal: whether the board waits for Close, since the session was told to stop.
  bool Held();

  StationBoardSettings settings_;
  mutable RedrawWidth width_;
  LiveLines live_;
  std::vector<Row> rows_;
  std::string totals_;
  bool narrow_ = false;
  bool closed_ = false;
  bool held_ = false;
  mutable std::mutex mutex_;
};

}  // namespace fg
