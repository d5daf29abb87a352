// The command line's front end: whole log lines off a terminal, boxes as "<caption>: <text>",
// the y/N question and its rules, and the two kinds of progress.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "sequence/console_front_end.h"
#include "sequence/run_texts.h"

namespace fg {
namespace {

// A stream whose text the test can read back.
class Capture {
 public:
  Capture() : file_(std::tmpfile()) {}
  ~Capture() {
    if (file_) std::fclose(file_);
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;
  std::FILE* get() const { return file_; }
  std::string Text() const {
    std::fflush(file_);
    std::string text;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) text.push_back(static_cast<char>(c));
    std::fseek(file_, 0, SEEK_END);
    return text;
  }

 private:
  std::FILE* file_;
};

std::FILE* Answers(const std::string& text) {
  std::FILE* f = std::tmpfile();
  std::fputs(text.c_str(), f);
  std::rewind(f);
  return f;
}

class ConsoleFrontEndTest : public ::testing::Test {
 protected:
  ConsoleSettings Settings() {
    ConsoleSettings s;
    s.logOut = log.get();
    s.messages = messages.get();
    return s;
  }
  Capture log;
  Capture messages;
};

TEST_F(ConsoleFrontEndTest, OffATerminalOnlyWholeLinesAreWritten) {
  ConsoleFrontEnd fe(Settings(), nullptr);
  const FrontEndOps* ops = fe.ops();
  ops->AppendLog(ops->owner, kLogConnecting);
  EXPECT_EQ(log.Text(), "");
  EXPECT_EQ(fe.LogLines(), (std::vector<std::string>{"Connecting ... "}));
  ops->AppendLogLine(ops->owner, kLogOk);
  ops->AppendLogLine(ops->owner, "");
  EXPECT_EQ(log.Text(), "Connecting ... OK\n\n");
  EXPECT_EQ(fe.LogLines(), (std::vector<std::string>{"Connecting ... OK", ""}));
  ops->MessageBox(ops->owner, kMsgNoInstrument, kCaptionSearchInstrument, BoxIcon::Information);
  EXPECT_EQ(messages.Text(), "Search Instrument: No instrument found.\n");
}

TEST_F(ConsoleFrontEndTest, OnATerminalTheProgressSharesThePendingLineAndGivesItBack) {
  ConsoleSettings s = Settings();
  s.logIsTerminal = true;
  s.messagesIsTerminal = true;
  ConsoleFrontEnd fe(s, nullptr);
  const FrontEndOps* ops = fe.ops();
  ops->InitProgressBar(ops->owner);
  ops->AppendLog(ops->owner, kLogUpdating);
  EXPECT_EQ(log.Text(), "Updating ... ");  // shown at once on a terminal
  ops->SetProgress(ops->owner, 42);
  ops->SetProgress(ops->owner, 42);  // nothing visible changed: no redraw
  EXPECT_EQ(messages.Text(), "\r\033[KUpdating ... [ 42%]  0:00");
  ops->AppendLogLine(ops->owner, kLogOk);
  // The progress line is wiped and the whole log line written again.
  EXPECT_EQ(messages.Text(), "\r\033[KUpdating ... [ 42%]  0:00\r\033[K");
  EXPECT_EQ(log.Text(), "Updating ... Updating ... OK\n");
  EXPECT_EQ(fe.LogLines(), (std::vector<std::string>{"Updating ... OK"}));
}

TEST_F(ConsoleFrontEndTest, OffATerminalProgressIsOneLinePerTenth) {
  ConsoleFrontEnd fe(Settings(), nullptr);
  const FrontEndOps* ops = fe.ops();
  ops->InitProgressBar(ops->owner);
  for (int p = 0; p <= 100; ++p) ops->SetProgress(ops->owner, p);
  std::string text = messages.Text();
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, 6));
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"[ 10%]", "[ 20%]", "[ 30%]", "[ 40%]", "[ 50%]",
                                             "[ 60%]", "[ 70%]", "[ 80%]", "[ 90%]", "[100%]"}));

  // Jumps print once per report, and a new run starts counting again.
  ops->InitProgressBar(ops->owner);
  ops->SetProgress(ops->owner, 5);
  ops->SetProgress(ops->owner, 37);
  ops->SetProgress(ops->owner, 100);
  const std::string second = messages.Text().substr(text.size());
  EXPECT_EQ(second.substr(0, 6), "[ 37%]");
  EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), 2);
}

TEST_F(ConsoleFrontEndTest, QuietShowsNoProgress) {
  for (bool terminal : {false, true}) {
    ConsoleSettings s = Settings();
    s.quiet = true;
    s.messagesIsTerminal = terminal;
    ConsoleFrontEnd fe(s, nullptr);
    fe.ops()->InitProgressBar(fe.ops()->owner);
    for (int p = 0; p <= 100; p += 5) fe.ops()->SetProgress(fe.ops()->owner, p);
  }
  EXPECT_EQ(messages.Text(), "");
}

TEST_F(ConsoleFrontEndTest, ConfirmationRules) {
  struct Case {
    const char* name;
    bool yes;
    const char* answer;  // null: no terminal
    bool expected;
    const char* shown;   // the end of what the question line shows
  } cases[] = {
      {"YesFlag", true, nullptr, true, " yes (--yes)\n"},
      {"NoTerminal", false, nullptr, false, "use --yes to confirm.\n"},
      {"TypedY", false, "y\n", true, " [y/N] "},
      {"TypedYesWithBlanks", false, "  YES \n", true, " [y/N] "},
      {"JustEnter", false, "\n", false, " [y/N] "},
      {"TypedNo", false, "no\n", false, " [y/N] "},
      {"EndOfInput", false, "", false, " [y/N] "},
      {"SomethingElse", false, "yep\n", false, " [y/N] "},
  };
  for (const Case& c : cases) {
    Capture out;
    ConsoleSettings s = Settings();
    s.messages = out.get();
    s.assumeYes = c.yes;
    std::FILE* answers = c.answer ? Answers(c.answer) : nullptr;
    s.answers = answers;
    ConsoleFrontEnd fe(s, nullptr);
    const std::string question = ConfirmText("USB0::0x2E5B::0x3A01::SIM2040A::INSTR");
    EXPECT_EQ(fe.ops()->Confirm(fe.ops()->owner, question.c_str(), kConfirmCaption), c.expected)
        << c.name;
    const std::string text = out.Text();
    EXPECT_EQ(text.rfind(std::string(kConfirmCaption) + ": " + question, 0), 0u) << c.name;
    EXPECT_EQ(text.substr(text.size() - std::string(c.shown).size()), c.shown) << c.name;
    if (answers) std::fclose(answers);
  }
}

TEST_F(ConsoleFrontEndTest, RecordsTheFieldsAFrontEndShows) {
  ConsoleFrontEnd fe(Settings(), nullptr);
  const FrontEndOps* ops = fe.ops();
  ops->SetFileFields(ops->owner, "/tmp/a.fq", "WX2050", "1.10", "desc");
  ops->SetDeviceField(ops->owner, "USB0::0x2E5B::0x3A02::X::INSTR");
  EXPECT_EQ(fe.modelField(), "WX2050");
  EXPECT_EQ(fe.deviceField(), "USB0::0x2E5B::0x3A02::X::INSTR");
  ops->AppendLogLine(ops->owner, "a");
  ops->ClearLog(ops->owner);
  EXPECT_TRUE(fe.LogLines().empty());
}

}  // namespace
}  // namespace fg
