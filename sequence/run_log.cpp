#include "sequence/run_log.h"

#include <utility>

namespace fg {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

void RunLog::AppendText(std::string_view text) { pending_ += text; }

const std::string& RunLog::AppendLine(std::string_view text) {
  pending_ += text;
  finished_.push_back(std::move(pending_));
  pending_.clear();
  return finished_.back();
}

void RunLog::InsertNoteLine(std::string_view text) { finished_.emplace_back(text); }

void RunLog::Clear() {
  finished_.clear();
  pending_.clear();
}

std::vector<std::string> RunLog::Lines() const {
  std::vector<std::string> lines = finished_;
  if (!pending_.empty()) lines.push_back(pending_);
  return lines;
}

std::string RunLog::Text() const {
  size_t size = pending_.size();
  for (const std::string& line : finished_) size += line.size() + kLineEnd.size();
  std::string text;
  text.reserve(size);
  for (const std::string& line : finished_) {
    text += line;
    text += kLineEnd;
  }
  text += pending_;
  return text;
}

}  // namespace fg
