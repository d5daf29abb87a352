#include "cli/progress_board.h"

#include <algorithm>
#include <limits>

namespace fg {

ProgressBoard::ProgressBoard(const BoardSettings& settings, std::vector<std::string> resources)
    : settings_(settings),
      inPlace_(settings.messagesIsTerminal && !settings.quiet),
      width_(settings.width, settings.messagesIsTerminal ? settings.messages : nullptr),
      live_(settings.messages) {
  const std::vector<std::string> shortNames = ShortResourceNames(resources);
  for (size_t i = 0; i < resources.size(); ++i) {
    Row row;
    row.fields.resource = std::move(resources[i]);
    row.fields.shortName = shortNames[i];
    row.fields.state = "waiting";
    rows_.push_back(std::move(row));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (inPlace_) Redraw();
}

bool ProgressBoard::redrawsInPlace() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !DrawsPlainLines();
}

std::vector<BoardRowFields> ProgressBoard::FieldsLocked() const {
  std::vector<BoardRowFields> fields;
  for (const Row& r : rows_) fields.push_back(r.fields);
  return fields;
}

std::string ProgressBoard::RowText(size_t row) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (row >= rows_.size()) return std::string();
  const std::vector<BoardRowFields> fields = FieldsLocked();
  std::vector<std::string> lines = LayOutBoard(fields, RedrawLimit(width_.Columns()));
  if (lines.empty()) lines = LayOutBoard(fields, std::numeric_limits<size_t>::max());
  return lines[row];
}

bool ProgressBoard::Redraw() {
  const int columns = width_.Columns();
  const std::vector<BoardRowFields> fields = FieldsLocked();
  const std::vector<std::string> lines = LayOutBoard(fields, RedrawLimit(columns));
  if (lines.empty()) {
    // The rows drawn so far stay as they stand; should the terminal widen again, a new board
    // starts below the plain lines.
    if (!narrow_) {
      WriteNow(settings_.messages, "(the rows need " +
                                       std::to_string(BoardMinColumns(fields) + 1) +
                                       " columns: plain lines follow)\n");
    }
    narrow_ = true;
    live_.Leave();
    return false;
  }
  narrow_ = false;
  live_.Draw(lines, columns);
  return true;
}

void ProgressBoard::SetState(size_t row, const std::string& state) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (row >= rows_.size() || rows_[row].fields.state == state) return;
  rows_[row].fields.state = state;
  if (inPlace_ && !closed_) Redraw();
}

void ProgressBoard::SetProgress(size_t row, int32_t percent, const std::string& image,
                                const std::string& plainLine) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (row >= rows_.size() || settings_.quiet) return;
  Row& r = rows_[row];
  const bool changed = r.fields.percent != percent || r.fields.image != image;
  r.fields.percent = percent;
  r.fields.image = image;
  // Redraw only when something visible changed.
  if (inPlace_ && !closed_ && changed && Redraw()) return;
  if (inPlace_ && !narrow_) return;
  const int32_t decile = percent / 10;
  if (decile > r.decile) {
    r.decile = decile;
    WriteNow(settings_.messages, r.fields.resource + ": " + plainLine + "\n");
  }
}

void ProgressBoard::LogLine(size_t row, const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The window's empty separator lines say nothing once each line names its instrument.
  if (row >= rows_.size() || !DrawsPlainLines() || line.empty()) return;
  WriteNow(settings_.logOut, rows_[row].fields.resource + ": " + line + "\n");
}

void ProgressBoard::Message(size_t row, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (row >= rows_.size()) return;
  const std::string line = rows_[row].fields.resource + ": " + text + "\n";
  if (inPlace_ && !closed_ && !narrow_) {
    // Above the rows, which are drawn again below it. The message is written whole; where it
    // wraps, its rows cover the board's, and the rest of the board is erased below it.
    live_.WriteOver(line);
    Redraw();
    return;
  }
  WriteNow(settings_.messages, line);
}

void ProgressBoard::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return;
  if (inPlace_) Redraw();
  closed_ = true;
}

}  // namespace fg
