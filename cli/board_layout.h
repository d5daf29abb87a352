// The rows of the board of several instruments updated at once, laid out for the terminal's
// width: resource, image, percent and state in columns, shortened step by step where the
// terminal is narrow, and not at all where even the shortest row does not fit.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fg {

struct BoardRowFields {
  std::string resource;
  std::string shortName;  // what the row shows when the whole resource does not fit
  std::string image;      // empty: none yet
  int32_t percent = 0;
  std::string state;
};

// The short name of each resource: the serial number of "USB<n>::<vendor>::<product>::<serial>
// [::<interface>]::INSTR"; the whole name for a resource of another form, or when two of them
// share a serial number (on instruments of two models).
std::vector<std::string> ShortResourceNames(const std::vector<std::string>& resources);

// The longest state a row shows ("failed, 0x10008"): the layouts leave room for it.
inline constexpr size_t kBoardStateColumns = 15;
// The least of the state a row still shows ("failed", "updati"); a narrower terminal gets no
// board, but plain lines.
inline constexpr size_t kBoardStateMinColumns = 6;

// The narrowest row limit the board fits in: the short names, the percent and the least of the
// state, one blank apart.
size_t BoardMinColumns(const std::vector<BoardRowFields>& rows);

// The rows as drawn in `limit` columns: the first layout in which a row with the longest state
// fits, from the whole resource names, image column and two blanks between columns down to the
// short names, one blank and no image column, where a longer state is cut at a word. Empty when
// `limit` is below BoardMinColumns.
std::vector<std::string> LayOutBoard(const std::vector<BoardRowFields>& rows, size_t limit);

}  // namespace fg
