#include "cli/console_front_end.h"

#include <cctype>

#include "sequence/plan_report.h"
#include "updater/update_plan.h"

namespace fg {

namespace {

constexpr const char* kEraseLine = "\r\033[K";

bool IsYes(std::string answer) {
  while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back()))) answer.pop_back();
  size_t start = 0;
  while (start < answer.size() && std::isspace(static_cast<unsigned char>(answer[start]))) ++start;
  answer = answer.substr(start);
  for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return answer == "y" || answer == "yes";
}

bool SameModelName(const std::string& a, const char* b) {
  std::string x = a;
  std::string y = b != nullptr ? b : "";
  for (char& c : x) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (char& c : y) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return x == y;
}

}  // namespace

ModelAnswer AnswerWriterModel(const std::vector<ModelConfirmation>& confirmations,
                              const char* serial, const char* model) {
  for (const ModelConfirmation& c : confirmations) {
    if (c.serial != serial) continue;
    if (SameModelName(c.model, model)) {
      return {true, true, "yes (--confirm-model " + c.serial + "=" + c.model + ")"};
    }
    return {true, false, "No: --confirm-model says it is a " + c.model + "."};
  }
  return {false, false,
          std::string("No. --yes does not answer this; if it is a ") + model +
              ", add --confirm-model " + serial + "=" + model + "."};
}

ConsoleFrontEnd::ConsoleFrontEnd(const ConsoleSettings& settings, const DeviceListOps* deviceList)
    : settings_(settings),
      width_(settings.width, settings.messagesIsTerminal ? settings.messages : nullptr) {
  ops_.owner = this;
  ops_.AppendLog = [](void* o, const char* text) { Self(o)->AppendLog(text); };
  ops_.AppendLogLine = [](void* o, const char* text) { Self(o)->AppendLogLine(text); };
  ops_.AppendNoteLine = [](void* o, const char* text) { Self(o)->AppendNoteLine(text); };
  ops_.ClearLog = [](void* o) {
    Self(o)->log_.Clear();
  };
  ops_.MessageBox = [](void* o, const char* text, const char* caption, BoxIcon) {
    Self(o)->MessageBox(text, caption);
  };
  ops_.Confirm = [](void* o, const char* text, const char* caption) {
    return Self(o)->Confirm(text, caption);
  };
  ops_.ConfirmWriterModel = [](void* o, const char* text, const char* caption, const char* serial,
                               const char* model) {
    return Self(o)->ConfirmWriterModel(text, caption, serial, model);
  };
  ops_.InitProgressBar = [](void* o) { Self(o)->InitProgressBar(); };
  ops_.SetProgress = [](void* o, int32_t percent) { Self(o)->SetProgress(percent); };
  ops_.PumpMessages = [](void*) {};  // nothing to service between progress reports
  ops_.SetControlState = [](void*, ControlState) {};
  ops_.SetFileFields = [](void* o, const char*, const char* model, const char*, const char*) {
    Self(o)->modelField_ = model;
  };
  ops_.SetDeviceField = [](void* o, const char* text) { Self(o)->deviceField_ = text; };
  ops_.deviceList = deviceList;
}

double ConsoleFrontEnd::Elapsed() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

double ConsoleFrontEnd::ProgressSpan() const {
  return reported_ ? std::chrono::duration<double>(lastReport_ - firstReport_).count() : 0.0;
}

void ConsoleFrontEnd::Write(std::FILE* f, const std::string& text) {
  if (f == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fflush(f);
}

// Clears an in-place progress line; on a shared terminal that also wipes the pending log text,
// which the caller then writes again.
void ConsoleFrontEnd::EraseProgress() {
  if (!progressShown_) return;
  Write(settings_.messages, kEraseLine);
  progressShown_ = false;
  if (settings_.logIsTerminal) Write(settings_.logOut, log_.pending());
}

void ConsoleFrontEnd::AppendLog(const char* text) {
  log_.AppendText(text);
  // Off a terminal only whole lines are written, so that nothing else lands inside a line.
  if (settings_.logIsTerminal && !pendingHidden_) Write(settings_.logOut, text);
}

void ConsoleFrontEnd::AppendLogLine(const char* text) {
  const bool erased = progressShown_ || pendingHidden_;
  if (progressShown_) {
    Write(settings_.messages, kEraseLine);
    progressShown_ = false;
  }
  pendingHidden_ = false;
  const std::string& line = log_.AppendLine(text);
  if (settings_.logIsTerminal) {
    Write(settings_.logOut, (erased ? line : std::string(text)) + "\n");
  } else {
    Write(settings_.logOut, line + "\n");
  }
}

void ConsoleFrontEnd::AppendNoteLine(const char* text) {
  EraseProgress();
  const std::string& pending = log_.pending();
  if (settings_.logIsTerminal) {
    const bool shown = !pending.empty() && !pendingHidden_;
    Write(settings_.logOut, (shown ? "\n" : std::string()) + text + "\n" + pending);
    pendingHidden_ = false;
  } else {
    Write(settings_.logOut, std::string(text) + "\n");
  }
  log_.InsertNoteLine(text);
}

void ConsoleFrontEnd::MessageBox(const char* text, const char* caption) {
  EraseProgress();
  if (settings_.logIsTerminal && !log_.pending().empty() && !pendingHidden_) {
    Write(settings_.messages, "\n");
  }
  Write(settings_.messages, std::string(caption) + ": " + text + "\n");
}

bool ConsoleFrontEnd::Confirm(const char* text, const char* caption) {
  EraseProgress();
  const std::string question = std::string(caption) + ": " + text;
  if (settings_.assumeYes) {
    Write(settings_.messages, question + " yes (--yes)\n");
    return true;
  }
  if (settings_.answers == nullptr) {
    Write(settings_.messages,
          question + " No: there is no terminal to answer on; use --yes to confirm.\n");
    return false;
  }
  Write(settings_.messages, question + " [y/N] ");
  return IsYes(ReadAnswerLine());
}

std::string ConsoleFrontEnd::ReadAnswerLine() {
  std::string answer;
  for (int c; (c = std::fgetc(settings_.answers)) != EOF && c != '\n';) {
    answer.push_back(static_cast<char>(c));
  }
  return answer;
}

bool ConsoleFrontEnd::ConfirmWriterModel(const char* text, const char* caption, const char* serial,
                                         const char* model) {
  EraseProgress();
  const std::string question = std::string(caption) + ": " + text;
  const ModelAnswer answer = AnswerWriterModel(settings_.confirmedModels, serial, model);
  if (answer.decided || settings_.answers == nullptr) {
    Write(settings_.messages, question + " " + answer.note + "\n");
    return answer.yes;
  }
  Write(settings_.messages, question + " [y/N] ");
  return IsYes(ReadAnswerLine());
}

void ConsoleFrontEnd::InitProgressBar() {
  start_ = std::chrono::steady_clock::now();
  lastPercent_ = -1;
  lastDecile_ = 0;
  lastSecond_ = -1;
  reported_ = false;
}

void ConsoleFrontEnd::SetProgress(int32_t percent) {
  lastReport_ = std::chrono::steady_clock::now();
  if (!reported_) firstReport_ = lastReport_;
  reported_ = true;
  if (settings_.quiet) return;
  const double seconds = Elapsed();
  UpdatePlan plan{};
  const bool havePlan =
      settings_.updater != nullptr && ReadUpdatePlan(settings_.updater, &plan) == 0;
  const ProgressFigures figures = ReadProgressFigures(percent, havePlan ? &plan : nullptr, seconds);

  if (settings_.messagesIsTerminal) {
    // Redraw only when something visible changed: the percent, the elapsed second or the width.
    const int columns = width_.Columns();
    const long second = figures.seconds;
    if (percent == lastPercent_ && second == lastSecond_ && columns == lastColumns_ &&
        progressShown_) {
      return;
    }
    const std::string prefix = settings_.logIsTerminal ? log_.pending() : std::string();
    const std::string line = FitProgressLine(prefix, figures, RedrawLimit(columns));
    if (!line.empty()) {
      lastPercent_ = percent;
      lastSecond_ = second;
      lastColumns_ = columns;
      Write(settings_.messages, kEraseLine + line);
      progressShown_ = true;
      pendingHidden_ = false;  // the line shows the open log text again
      return;
    }
    WritePlainProgress(figures, columns);
    return;
  }
  WritePlainProgress(figures, 0);
}

// A plain line each time another tenth is reached. On a terminal too narrow for the in-place
// line, the open log text makes way first: erased while it fills less than a row, else left as
// it stands; either way it is written whole once it ends.
void ConsoleFrontEnd::WritePlainProgress(const ProgressFigures& figures, int columns) {
  const int32_t decile = figures.percent / 10;
  if (decile <= lastDecile_) return;
  lastDecile_ = decile;
  if (settings_.messagesIsTerminal) {
    const std::string& pending = log_.pending();
    if (progressShown_) {
      Write(settings_.messages, kEraseLine);
      progressShown_ = false;
      pendingHidden_ = settings_.logIsTerminal && !pending.empty();
    } else if (settings_.logIsTerminal && !pending.empty() && !pendingHidden_) {
      const bool oneRow = VisibleColumns(pending) < static_cast<size_t>(columns);
      Write(settings_.messages, oneRow ? kEraseLine : "\n");
      pendingHidden_ = true;
    }
  }
  // Shortened as the in-place line would be, so that they are read at a glance; whole where the
  // width is unknown or not even the percent fits.
  const std::string fitted = FitProgressLine("", figures, RedrawLimit(columns));
  Write(settings_.messages, (fitted.empty() ? ProgressText(figures) : fitted) + "\n");
}

}  // namespace fg
