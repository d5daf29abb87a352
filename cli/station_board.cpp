#include "cli/station_board.h"

#include <algorithm>

namespace fg {

namespace {

struct Layout {
  size_t gap;  // blanks between columns
  bool model;  // a model column
};

// From the widest to the narrowest; the board takes the first in which a row with the longest
// state of a run at work fits.
constexpr Layout kLayouts[] = {{2, true}, {1, true}, {1, false}};
constexpr size_t kWorkStateColumns = 17;  // "programming 100 %"

constexpr const char* kSerialHeading = "SERIAL";
constexpr const char* kModelHeading = "MODEL";
constexpr const char* kStateHeading = "STATE";

bool AtWork(const StationRow& row) {
  return row.state == kStationWaiting || row.state == kStationSwitching ||
         row.state == kStationProgramming;
}

std::string Padded(const std::string& text, size_t columns) {
  const std::string cut = CutToColumns(text, columns);
  return cut + std::string(columns - VisibleColumns(cut), ' ');
}

size_t SerialColumns(const std::vector<StationRow>& rows) {
  size_t columns = VisibleColumns(kSerialHeading);
  for (const StationRow& r : rows) columns = std::max(columns, VisibleColumns(r.serial));
  return columns;
}

size_t ModelColumns(const std::vector<StationRow>& rows) {
  size_t columns = VisibleColumns(kModelHeading);
  for (const StationRow& r : rows) columns = std::max(columns, VisibleColumns(r.model));
  return columns;
}

size_t LeadColumns(const std::vector<StationRow>& rows, const Layout& layout) {
  size_t columns = SerialColumns(rows) + layout.gap;
  if (layout.model) columns += ModelColumns(rows) + layout.gap;
  return columns;
}

std::string Line(const std::string& serial, const std::string& model, const std::string& state,
                 const Layout& layout, size_t serialColumns, size_t modelColumns,
                 size_t stateColumns) {
  const std::string gap(layout.gap, ' ');
  std::string text = Padded(serial, serialColumns) + gap;
  if (layout.model) text += Padded(model, modelColumns) + gap;
  return text + CutAtWord(state, stateColumns);
}

// The rows shown: every one at work, and the latest others up to kStationShownRows in all.
std::vector<size_t> ShownRows(const std::vector<StationRow>& rows) {
  size_t atWork = 0;
  for (const StationRow& r : rows) atWork += AtWork(r) ? 1 : 0;
  size_t finishedRoom = kStationShownRows > atWork ? kStationShownRows - atWork : 0;
  std::vector<size_t> shown;
  for (size_t i = rows.size(); i-- > 0;) {
    if (AtWork(rows[i])) {
      shown.push_back(i);
    } else if (finishedRoom > 0) {
      shown.push_back(i);
      --finishedRoom;
    }
  }
  std::reverse(shown.begin(), shown.end());
  return shown;
}

}  // namespace

std::string StationStateText(const StationRow& row) {
  if (row.state == kStationProgramming && row.percent >= 0) {
    return row.state + " " + std::to_string(row.percent) + " %";
  }
  return row.state;
}

std::vector<std::string> LayOutStation(const std::vector<StationRow>& rows,
                                       const std::string& totals, size_t limit) {
  const Layout& narrowest = kLayouts[std::size(kLayouts) - 1];
  if (limit < LeadColumns(rows, narrowest) + kStationStateMinColumns) return {};
  const Layout* chosen = &narrowest;
  for (const Layout& layout : kLayouts) {
    if (LeadColumns(rows, layout) + kWorkStateColumns <= limit) {
      chosen = &layout;
      break;
    }
  }
  const size_t serialColumns = SerialColumns(rows);
  const size_t modelColumns = ModelColumns(rows);
  const size_t stateColumns = limit - LeadColumns(rows, *chosen);
  std::vector<std::string> lines;
  lines.push_back(Line(kSerialHeading, kModelHeading, kStateHeading, *chosen, serialColumns,
                       modelColumns, stateColumns));
  const std::vector<size_t> shown = ShownRows(rows);
  for (size_t i : shown) {
    const StationRow& r = rows[i];
    lines.push_back(Line(r.serial, r.model.empty() ? "-" : r.model, StationStateText(r), *chosen,
                         serialColumns, modelColumns, stateColumns));
  }
  if (shown.size() < rows.size()) {
    // Appended piece by piece: mingw's g++ 12 warns falsely on "(" + std::to_string(...).
    std::string note = "(";
    note += std::to_string(rows.size() - shown.size());
    note += " more that finished: see the summary at the end)";
    lines.push_back(CutAtWord(note, limit));
  }
  if (!totals.empty()) lines.push_back(CutAtWord(totals, limit));
  return lines;
}

StationBoard::StationBoard(const StationBoardSettings& settings)
    : settings_(settings),
      width_(settings.width, settings.isTerminal ? settings.out : nullptr),
      live_(settings.out) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (settings_.isTerminal) Redraw();
}

bool StationBoard::Held() {
  if (!held_ && settings_.stopped != nullptr && settings_.stopped()) {
    held_ = true;
    live_.Leave();
  }
  return held_;
}

bool StationBoard::Redraw() {
  if (closed_) return false;
  const int columns = width_.Columns();
  std::vector<StationRow> fields;
  for (const Row& r : rows_) fields.push_back(r.fields);
  const std::vector<std::string> lines = LayOutStation(fields, totals_, RedrawLimit(columns));
  if (lines.empty()) {
    if (!narrow_) {
      WriteNow(settings_.out, "(the board needs more columns than the terminal has: one line per "
                              "event follows)\n");
    }
    narrow_ = true;
    live_.Leave();
    return false;
  }
  narrow_ = false;
  live_.Draw(lines, columns);
  return true;
}

void StationBoard::EventLine(size_t row) {
  const StationRow& r = rows_[row].fields;
  const std::string who = r.model.empty() ? r.serial : r.serial + " " + r.model;
  WriteNow(settings_.out, who + ": " + StationStateText(r) + "\n");
}

// Redrawn on a terminal that has room; elsewhere the change is an event of its own.
void StationBoard::Changed(size_t row) {
  if (settings_.isTerminal && (Held() || Redraw())) return;
  EventLine(row);
}

size_t StationBoard::AddRow(const std::string& serial, const std::string& model,
                            const std::string& state) {
  std::lock_guard<std::mutex> lock(mutex_);
  rows_.push_back(Row{StationRow{serial, model, state, -1}, 0});
  Changed(rows_.size() - 1);
  return rows_.size() - 1;
}

void StationBoard::Restart(size_t row, const std::string& model, const std::string& state) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (row >= rows_.size()) return;
  rows_[row] = Row{StationRow{rows_[row].fields.serial, model, state, -1}, 0};
  Changed(row);
}

void StationBoard::SetOutcome(size_t row, const std::string& state) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (row >= rows_.size()) return;
  rows_[row].fields.state = state;
  rows_[row].fields.percent = -1;
  Changed(row);
}

void StationBoard::SetTotals(const std::string& totals) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (totals_ == totals) return;
  totals_ = totals;
  if (settings_.isTerminal && !Held()) Redraw();
}

void StationBoard::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (settings_.isTerminal) Redraw();  // below a stop notice when the board was held for it
  closed_ = true;
}

void StationBoard::SetState(size_t row, const std::string& state) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (row >= rows_.size()) return;
  std::string shown;
  // Connecting is still waiting: an instrument that is up to date is asked who it is and never
  // switched.
  if (state == kRowUpdating) {
    shown = kStationSwitching;
  } else if (state == kRowProgramming) {
    shown = kStationProgramming;
  } else {
    return;  // an end state: the station words it
  }
  if (rows_[row].fields.state == shown) return;
  rows_[row].fields.state = shown;
  Changed(row);
}

void StationBoard::SetProgress(size_t row, int32_t percent, const std::string&,
                               const std::string&) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (row >= rows_.size()) return;
  Row& r = rows_[row];
  const bool started = r.fields.state != kStationProgramming;
  if (!started && r.fields.percent == percent) return;
  r.fields.state = kStationProgramming;
  r.fields.percent = percent;
  if (settings_.isTerminal && (Held() || Redraw())) return;
  const int32_t decile = percent / 10;
  if (started || decile > r.decile) {
    r.decile = decile;
    EventLine(row);
  }
}

void StationBoard::LogLine(size_t, const std::string&) {}

void StationBoard::Message(size_t row, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (row >= rows_.size()) return;
  const std::string line = rows_[row].fields.serial + ": " + text + "\n";
  if (settings_.isTerminal && !narrow_ && !closed_ && !Held()) {
    live_.WriteOver(line);
    Redraw();
    return;
  }
  WriteNow(settings_.out, line);
}

bool StationBoard::redrawsInPlace() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !DrawsPlainLines();
}

std::vector<StationRow> StationBoard::rows() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<StationRow> fields;
  for (const Row& r : rows_) fields.push_back(r.fields);
  return fields;
}

}  // namespace fg
