#include "cli/progress_board.h"

#include <algorithm>

namespace fg {

namespace {

// The terminal's own controls, kept apart so that another terminal can replace them: back to
// the first of `rows` lines written above the cursor, and the erasing of the current line.
std::string CursorToRowsAbove(size_t rows) {
  return rows == 0 ? std::string() : "\033[" + std::to_string(rows) + "F";
}
constexpr const char* kEraseLine = "\r\033[K";

}  // namespace

ProgressBoard::ProgressBoard(const BoardSettings& settings, std::vector<std::string> resources)
    : settings_(settings), inPlace_(settings.messagesIsTerminal && !settings.quiet) {
  for (std::string& resource : resources) {
    resourceWidth_ = std::max(resourceWidth_, resource.size());
    Row row;
    row.resource = std::move(resource);
    rows_.push_back(std::move(row));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (inPlace_) Redraw();
}

void ProgressBoard::Write(std::FILE* f, const std::string& text) {
  if (f == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fflush(f);
}

std::string ProgressBoard::RowText(size_t row) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return row < rows_.size() ? RowTextLocked(row) : std::string();
}

std::string ProgressBoard::RowTextLocked(size_t row) const {
  const Row& r = rows_[row];
  std::string text = r.resource;
  text.append(resourceWidth_ - r.resource.size() + 2, ' ');
  std::string image = r.image.empty() ? "-" : r.image;
  image.resize(std::max<size_t>(image.size(), 8), ' ');
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(r.percent));
  return text + image + "  " + percent + "  " + r.state;
}

void ProgressBoard::Redraw() {
  std::string text = CursorToRowsAbove(drawnRows_);
  for (size_t i = 0; i < rows_.size(); ++i) text += kEraseLine + RowTextLocked(i) + "\n";
  drawnRows_ = rows_.size();
  Write(settings_.messages, text);
}

void ProgressBoard::SetState(size_t row, const std::string& state) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (row >= rows_.size() || rows_[row].state == state) return;
  rows_[row].state = state;
  if (inPlace_ && !closed_) Redraw();
}

void ProgressBoard::SetProgress(size_t row, int32_t percent, const std::string& image,
                                const std::string& plainLine) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (row >= rows_.size() || settings_.quiet) return;
  Row& r = rows_[row];
  if (inPlace_) {
    // Redraw only when something visible changed.
    if (r.percent == percent && r.image == image) return;
    r.percent = percent;
    r.image = image;
    if (!closed_) Redraw();
    return;
  }
  r.percent = percent;
  r.image = image;
  const int32_t decile = percent / 10;
  if (decile > r.decile) {
    r.decile = decile;
    Write(settings_.messages, r.resource + ": " + plainLine + "\n");
  }
}

void ProgressBoard::LogLine(size_t row, const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The window's empty separator lines say nothing once each line names its instrument.
  if (row >= rows_.size() || inPlace_ || line.empty()) return;
  Write(settings_.logOut, rows_[row].resource + ": " + line + "\n");
}

void ProgressBoard::Message(size_t row, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (row >= rows_.size()) return;
  if (inPlace_ && !closed_) {
    // Above the rows, which are drawn again below it.
    Write(settings_.messages, CursorToRowsAbove(drawnRows_) + kEraseLine + rows_[row].resource +
                                  ": " + text + "\n");
    drawnRows_ = 0;
    Redraw();
    return;
  }
  Write(settings_.messages, rows_[row].resource + ": " + text + "\n");
}

void ProgressBoard::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return;
  if (inPlace_) Redraw();
  closed_ = true;
}

}  // namespace fg
