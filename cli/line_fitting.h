// Fitting the lines that are redrawn in place to the terminal's width. A redrawn line must never
// wrap: "\r" returns only to the start of the last row a line took, so a wrapped line cannot be
// erased and its first rows stay behind. Log lines are never fitted; they are printed whole.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/terminal.h"
#include "sequence/plan_report.h"

namespace fg {

// Where a front end asks how wide its terminal is, before each redraw: columns, or 0 when not
// known (nothing is fitted then). Tests give a fake; left empty, the terminal is measured.
struct WidthSource {
  int (*columns)(void* owner) = nullptr;
  void* owner = nullptr;
};

// The width one front end's redrawn lines are fitted to: the source's, when it has one; else the
// terminal's own, 80 when a terminal does not say (a serial console may report 0); else unknown.
class RedrawWidth {
 public:
  // `terminal`: the stream the lines are redrawn on, null when it is no terminal.
  RedrawWidth(const WidthSource& source, std::FILE* terminal);
  int Columns();

 private:
  WidthSource source_;
  platform::TerminalWidth terminal_;
};

// The columns a redrawn line may fill on a terminal `columns` wide: all but the last, since a
// line that reaches the last column makes some terminals (the Windows console) wrap at once.
// Unknown (0) gives no limit.
size_t RedrawLimit(int columns);

// Columns `text` takes: a column per character (UTF-8 continuation bytes take none).
size_t VisibleColumns(const std::string& text);
// `text` cut to at most `limit` columns, never inside a character.
std::string CutToColumns(const std::string& text, size_t limit);
// `text` cut after its last whole word that fits, trailing commas dropped ("failed, 0x10008" in
// 10 columns: "failed"); cut hard when not even the first word fits.
std::string CutAtWord(const std::string& text, size_t limit);

// The least a progress line shows: "[ 42%]".
inline constexpr size_t kPercentColumns = 6;

// The single instrument's progress line: `prefix` (the log line still open, which shares the
// terminal's line) and the most of the figures that fits in `limit` columns: the whole line;
// then the same without padding; without the bytes; without the time; the percent alone.
// Empty when not even the prefix and the percent fit: the line cannot be redrawn then.
std::string FitProgressLine(const std::string& prefix, const ProgressFigures& figures,
                            size_t limit);

}  // namespace fg
