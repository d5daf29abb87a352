// The run's log as the window shows it: finished lines, then the text of a line still open
// ("Connecting ... " until its "OK" or "FAILED"), and notes put above that open line so that it
// stays whole. Every front end keeps its log in one and renders it its own way: the window shows
// Text(), the console writes each finished line to its stream.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace fg {

class RunLog {
 public:
  // Text without a line break: it extends the open line.
  void AppendText(std::string_view text);
  // Ends the open line with `text`; returns the finished line (the open text and `text`).
  const std::string& AppendLine(std::string_view text);
  // A whole line above the open line; the open text stays open below it. A note that arrives
  // while "Updating ... " waits for its result goes between the two.
  void InsertNoteLine(std::string_view text);
  void Clear();

  const std::vector<std::string>& finished() const { return finished_; }
  const std::string& pending() const { return pending_; }
  // The finished lines, and the open line last when it holds any text.
  std::vector<std::string> Lines() const;
  // The whole text as the window shows it: "\r\n" after each finished line, the open text last.
  std::string Text() const;

 private:
  std::vector<std::string> finished_;
  std::string pending_;
};

}  // namespace fg
