#include "cli/live_lines.h"

#include <algorithm>

#include "cli/line_fitting.h"

namespace fg {

namespace {

// The terminal's own controls, kept apart so that another terminal can replace them: back to
// the first of `rows` lines written above the cursor, the erasing of the current line, and of
// the current line and everything below it.
std::string CursorToRowsAbove(size_t rows) {
  return rows == 0 ? std::string() : "\033[" + std::to_string(rows) + "F";
}
constexpr const char* kEraseLine = "\r\033[K";
constexpr const char* kEraseToEnd = "\r\033[J";

}  // namespace

void WriteNow(std::FILE* f, const std::string& text) {
  if (f == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fflush(f);
}

void LiveLines::Draw(const std::vector<std::string>& lines, int columns) {
  const bool splitByResize = columns > 0 && drawnColumns_ > static_cast<size_t>(columns);
  std::string text = splitByResize ? std::string() : CursorToRowsAbove(drawnRows_);
  // A block that shrank leaves nothing of its longer self below it.
  if (lines.size() < drawnRows_ && !splitByResize) text += kEraseToEnd;
  drawnColumns_ = 0;
  for (const std::string& line : lines) {
    text += kEraseLine + line + "\n";
    drawnColumns_ = std::max(drawnColumns_, VisibleColumns(line));
  }
  drawnRows_ = lines.size();
  WriteNow(out_, text);
}

void LiveLines::WriteOver(const std::string& text) {
  WriteNow(out_, CursorToRowsAbove(drawnRows_) + kEraseToEnd + text);
  drawnRows_ = 0;
}

}  // namespace fg
