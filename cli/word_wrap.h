// Sentences of the reports (inspect's verdict, doctor's problems) broken at words to fit the
// output: the terminal's width where the output is one, else 100 columns, so that no line of a
// report runs past what the user sees. A word longer than a line (a path) stays whole.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>

namespace fg {

// The columns a report written to `stream` may fill: 100 at most; on a terminal narrower than
// that, all but its last column.
size_t ReportColumns(std::FILE* stream);

// `lead` (a label, or blanks) followed by the words of `text`, broken into lines of at most
// `width` columns; every line after the first starts with `indent` blanks, or none where the
// blanks would leave fewer than 20 columns for the words. A quoted text is kept on one line.
// Each line ends in "\n".
std::string WrapWords(const std::string& lead, const std::string& text, size_t indent,
                      size_t width);

}  // namespace fg
