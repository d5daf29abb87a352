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
    : settings_(settings) {
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
  if (settings_.logIsTerminal) Write(settings_.logOut, text);
}

void ConsoleFrontEnd::AppendLogLine(const char* text) {
  const bool erased = progressShown_;
  if (erased) {
    Write(settings_.messages, kEraseLine);
    progressShown_ = false;
  }
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
    Write(settings_.logOut, (pending.empty() ? std::string() : "\n") + text + "\n" + pending);
  } else {
    Write(settings_.logOut, std::string(text) + "\n");
  }
  log_.InsertNoteLine(text);
}

void ConsoleFrontEnd::MessageBox(const char* text, const char* caption) {
  EraseProgress();
  if (settings_.logIsTerminal && !log_.pending().empty()) Write(settings_.messages, "\n");
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
  const std::string text = ProgressText(percent, havePlan ? &plan : nullptr, seconds);

  if (settings_.messagesIsTerminal) {
    // Redraw only when something visible changed: the percent or the elapsed second.
    const long second = static_cast<long>(seconds);
    if (percent == lastPercent_ && second == lastSecond_ && progressShown_) return;
    lastPercent_ = percent;
    lastSecond_ = second;
    const std::string prefix = settings_.logIsTerminal ? log_.pending() : std::string();
    Write(settings_.messages, kEraseLine + prefix + text);
    progressShown_ = true;
    return;
  }
  // A plain line each time another tenth is reached.
  const int32_t decile = percent / 10;
  if (decile > lastDecile_) {
    lastDecile_ = decile;
    Write(settings_.messages, text + "\n");
  }
}

}  // namespace fg
