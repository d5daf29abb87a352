#include "cli/word_wrap.h"

#include <sstream>
#include <vector>

#include "cli/line_fitting.h"
#include "platform/terminal.h"

namespace fg {

namespace {

// Reports stay this narrow even on a wide terminal or in a file: lines a reader can follow.
constexpr size_t kReportColumns = 100;
// Below this, a hanging indent would leave the words too little room; lines start at column 0.
constexpr size_t kLeastWordColumns = 20;

}  // namespace

size_t ReportColumns(std::FILE* stream) {
  if (!platform::IsTerminal(stream)) return kReportColumns;
  platform::TerminalWidth width;
  width.stream = stream;
  const int columns = platform::TerminalColumns(&width);
  if (columns <= 1 || static_cast<size_t>(columns) > kReportColumns) return kReportColumns;
  return static_cast<size_t>(columns) - 1;
}

std::string WrapWords(const std::string& lead, const std::string& text, size_t indent,
                      size_t width) {
  if (indent + kLeastWordColumns > width) indent = 0;
  // A quoted text ("# FileStart") is one word: a line break inside it would misquote it.
  std::vector<std::string> words;
  std::istringstream in(text);
  bool quoteOpen = false;
  for (std::string word; in >> word;) {
    if (quoteOpen) {
      words.back() += " " + word;
    } else {
      words.push_back(word);
    }
    for (char c : word) quoteOpen = c == '"' ? !quoteOpen : quoteOpen;
  }

  std::string out = lead;
  size_t column = VisibleColumns(lead);
  bool lineHasWord = false;
  for (const std::string& word : words) {
    const size_t columns = VisibleColumns(word);
    if (lineHasWord && column + 1 + columns > width) {
      out += '\n';
      out.append(indent, ' ');
      column = indent;
      lineHasWord = false;
    }
    if (lineHasWord) {
      out += ' ';
      ++column;
    }
    out += word;
    column += columns;
    lineHasWord = true;
  }
  return out + "\n";
}

}  // namespace fg
