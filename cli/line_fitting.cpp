#include "cli/line_fitting.h"

#include <limits>

namespace fg {

namespace {

// What a terminal is taken to be when it does not say: the width of the classic terminal.
constexpr int kAssumedColumns = 80;

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::string Percent(const ProgressFigures& f) {
  char text[16];
  std::snprintf(text, sizeof text, "[%3d%%]", static_cast<int>(f.percent));
  return text;
}

std::string Time(const ProgressFigures& f) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", f.seconds / 60, f.seconds % 60);
  return text;
}

}  // namespace

RedrawWidth::RedrawWidth(const WidthSource& source, std::FILE* terminal) : source_(source) {
  terminal_.stream = terminal;
}

int RedrawWidth::Columns() {
  if (source_.columns != nullptr) return source_.columns(source_.owner);
  if (terminal_.stream == nullptr) return 0;
  const int columns = platform::TerminalColumns(&terminal_);
  return columns > 0 ? columns : kAssumedColumns;
}

size_t RedrawLimit(int columns) {
  if (columns <= 0) return std::numeric_limits<size_t>::max();
  return static_cast<size_t>(columns) - 1;
}

size_t VisibleColumns(const std::string& text) {
  size_t columns = 0;
  for (char c : text) columns += IsContinuationByte(c) ? 0 : 1;
  return columns;
}

std::string CutToColumns(const std::string& text, size_t limit) {
  size_t columns = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsContinuationByte(text[i])) continue;
    if (columns == limit) return text.substr(0, i);
    ++columns;
  }
  return text;
}

std::string CutAtWord(const std::string& text, size_t limit) {
  if (VisibleColumns(text) <= limit) return text;
  const std::string cut = CutToColumns(text, limit);
  // The cut ends a word when the text goes on with a blank.
  size_t end = text[cut.size()] == ' ' ? cut.size() : cut.rfind(' ');
  if (end == std::string::npos) return cut;
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == ',')) --end;
  return end == 0 ? cut : text.substr(0, end);
}

std::string FitProgressLine(const std::string& prefix, const ProgressFigures& f, size_t limit) {
  const std::string percent = Percent(f);
  const std::string time = Time(f);
  std::string candidates[5];
  size_t count = 0;
  candidates[count++] = ProgressText(f);
  if (!f.image.empty()) {
    candidates[count++] = percent + " " + f.image + " " + std::to_string(f.doneBytes) + "/" +
                          std::to_string(f.totalBytes) + " " + time;
    candidates[count++] = percent + " " + f.image + " " + time;
    candidates[count++] = percent + " " + f.image;
  } else {
    candidates[count++] = percent + " " + time;
  }
  candidates[count++] = percent;
  const size_t room = VisibleColumns(prefix);
  for (size_t i = 0; i < count; ++i) {
    if (room + VisibleColumns(candidates[i]) <= limit) return prefix + candidates[i];
  }
  return std::string();
}

}  // namespace fg
