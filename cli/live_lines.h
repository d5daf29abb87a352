// A block of lines at the bottom of a terminal, drawn again in place whenever it changes: the
// board of several updates and the station's board. The lines must fit the terminal's width
// (cli/line_fitting.h): a wrapped line could not be gone back over.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace fg {

// Writes `text` to `f` at once; a null stream is nothing to write to.
void WriteNow(std::FILE* f, const std::string& text);

class LiveLines {
 public:
  explicit LiveLines(std::FILE* out) : out_(out) {}

  // Draws `lines` over the block drawn before, on a terminal `columns` wide (0: unknown). A
  // terminal narrower than the longest line drawn before may have split that line in two when
  // it narrowed: going back would land inside the block, so it starts again below.
  void Draw(const std::vector<std::string>& lines, int columns);
  // Writes `text` (whole lines) where the block stood, erasing the rest of it; the next Draw
  // starts below the text.
  void WriteOver(const std::string& text);
  // Leaves the block as it stands: the next Draw starts below it.
  void Leave() { drawnRows_ = 0; }

 private:
  std::FILE* out_;
  size_t drawnRows_ = 0;     // lines on the terminal above the cursor
  size_t drawnColumns_ = 0;  // the longest of them
};

}  // namespace fg
