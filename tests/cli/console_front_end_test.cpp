// The command line's front end: whole log lines off a terminal, boxes as "<caption>: <text>",
// the y/N question and its rules, the two kinds of progress, and the board of several
// instruments updated at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cli/console_front_end.h"
#include "cli/instrument_console.h"
#include "cli/progress_board.h"
#include "sequence/run_texts.h"
#include "sequence/update_run.h"
#include "tests/sequence/scratch_folder.h"
#include "tests/sequence/sequence_fakes.h"

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

// A terminal whose width the test sets, asked before each redraw.
struct FakeWidth {
  int columns = 80;
  WidthSource Source() {
    WidthSource source;
    source.owner = this;
    source.columns = [](void* owner) { return static_cast<FakeWidth*>(owner)->columns; };
    return source;
  }
};

// The lines of a terminal's output, with the cursor and erase controls taken out.
std::vector<std::string> Drawn(const std::string& text) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\033') {
      while (i < text.size() && !std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
    } else if (text[i] == '\n') {
      lines.emplace_back();
    } else if (text[i] != '\r') {
      lines.back().push_back(text[i]);
    }
  }
  return lines;
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

// A note goes above the unfinished line in the log, so that line stays whole; a terminal shows
// the unfinished text again below the note.
TEST_F(ConsoleFrontEndTest, ANoteGoesAboveTheUnfinishedLine) {
  for (const bool terminal : {false, true}) {
    SCOPED_TRACE(terminal ? "terminal" : "no terminal");
    Capture out;
    ConsoleSettings settings = Settings();
    settings.logOut = out.get();
    settings.logIsTerminal = terminal;
    ConsoleFrontEnd fe(settings, nullptr);
    const FrontEndOps* ops = fe.ops();
    ops->AppendLog(ops->owner, kLogUpdating);
    fe.AppendNoteLine(kLogWriterDidNotReturn);
    ops->AppendLogLine(ops->owner, kLogFailed);
    EXPECT_EQ(fe.LogLines(), (std::vector<std::string>{kLogWriterDidNotReturn,
                                                       std::string(kLogUpdating) + kLogFailed}));
    const std::string note = std::string(kLogWriterDidNotReturn) + "\n";
    const std::string updating = std::string(kLogUpdating) + kLogFailed + "\n";
    EXPECT_EQ(out.Text(), terminal ? std::string(kLogUpdating) + "\n" + note + updating
                                   : note + updating);
  }
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

// The line is fitted to the width asked before each redraw; a new width alone redraws it. Where
// the open log text and the percent do not fit, plain lines take over below it, and the log
// line is written whole once it ends.
TEST_F(ConsoleFrontEndTest, OnATerminalTheProgressLineFollowsTheWidth) {
  FakeWidth width;
  width.columns = 20;
  ConsoleSettings s = Settings();
  s.logIsTerminal = true;
  s.messagesIsTerminal = true;
  s.width = width.Source();
  ConsoleFrontEnd fe(s, nullptr);
  const FrontEndOps* ops = fe.ops();
  ops->InitProgressBar(ops->owner);
  ops->AppendLog(ops->owner, kLogUpdating);
  ops->SetProgress(ops->owner, 42);
  std::string expected = "\r\033[KUpdating ... [ 42%]";
  EXPECT_EQ(messages.Text(), expected);
  width.columns = 80;
  ops->SetProgress(ops->owner, 42);
  expected += "\r\033[KUpdating ... [ 42%]  0:00";
  EXPECT_EQ(messages.Text(), expected);

  width.columns = 19;
  ops->SetProgress(ops->owner, 45);
  ops->SetProgress(ops->owner, 48);  // the same tenth: no line
  ops->SetProgress(ops->owner, 50);
  expected += "\r\033[K[ 45%]  0:00\n[ 50%]  0:00\n";
  EXPECT_EQ(messages.Text(), expected);
  ops->AppendLogLine(ops->owner, kLogOk);
  EXPECT_EQ(messages.Text(), expected);
  EXPECT_EQ(log.Text(), "Updating ... Updating ... OK\n");
}

// Too narrow from the start: the open text is erased where it fills less than a row, and left
// standing where it wrapped (a wrapped line cannot be erased); the plain lines are shortened as
// the in-place line would be; a note then needs no line break.
TEST_F(ConsoleFrontEndTest, ANarrowTerminalGetsPlainProgressLinesOfTheirOwn) {
  for (const int columns : {15, 10}) {
    SCOPED_TRACE(columns);
    FakeWidth width;
    width.columns = columns;
    Capture out;
    Capture progress;
    ConsoleSettings s = Settings();
    s.logOut = out.get();
    s.messages = progress.get();
    s.logIsTerminal = true;
    s.messagesIsTerminal = true;
    s.width = width.Source();
    ConsoleFrontEnd fe(s, nullptr);
    const FrontEndOps* ops = fe.ops();
    ops->InitProgressBar(ops->owner);
    ops->AppendLog(ops->owner, kLogUpdating);
    ops->SetProgress(ops->owner, 5);  // below the first tenth: nothing moves
    EXPECT_EQ(progress.Text(), "");
    ops->SetProgress(ops->owner, 12);
    EXPECT_EQ(progress.Text(), columns == 15 ? "\r\033[K[ 12%]  0:00\n" : "\n[ 12%]\n");
    fe.AppendNoteLine(kLogWriterDidNotReturn);
    ops->AppendLogLine(ops->owner, kLogOk);
    EXPECT_EQ(out.Text(), std::string(kLogUpdating) + kLogWriterDidNotReturn + "\n" + kLogUpdating +
                              kLogOk + "\n");
  }
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

// The question about a writer that names no model: --yes never answers it; a --confirm-model for
// the instrument's serial does (Yes only with the file's model); without one a terminal is asked.
TEST_F(ConsoleFrontEndTest, WriterModelQuestionRules) {
  struct Case {
    const char* name;
    bool yes;
    std::vector<ModelConfirmation> confirmed;
    const char* answer;  // null: no terminal
    bool expected;
    const char* shown;   // the end of what the question line shows
  } cases[] = {
      {"YesFlagAlone", true, {}, nullptr, false,
       "if it is a WX2050, add --confirm-model SN9=WX2050.\n"},
      {"Confirmed", false, {{"SN1", "WX2040"}, {"SN9", "WX2050"}}, nullptr, true,
       " yes (--confirm-model SN9=WX2050)\n"},
      {"ConfirmedAsAnotherModel", true, {{"SN9", "WX2040"}}, "y\n", false,
       " No: --confirm-model says it is a WX2040.\n"},
      {"AnotherSerialConfirmed", true, {{"SN1", "WX2050"}}, nullptr, false,
       "add --confirm-model SN9=WX2050.\n"},
      {"AskedOnATerminal", true, {}, "y\n", true, " [y/N] "},
      {"TerminalDefaultIsNo", false, {}, "\n", false, " [y/N] "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Capture out;
    ConsoleSettings s = Settings();
    s.messages = out.get();
    s.assumeYes = c.yes;
    s.confirmedModels = c.confirmed;
    std::FILE* answers = c.answer ? Answers(c.answer) : nullptr;
    s.answers = answers;
    ConsoleFrontEnd fe(s, nullptr);
    const FrontEndOps* ops = fe.ops();
    EXPECT_EQ(ops->ConfirmWriterModel(ops->owner, "Is it a WX2050?", kConfirmModelCaption, "SN9",
                                      "WX2050"),
              c.expected);
    const std::string text = out.Text();
    EXPECT_EQ(text.rfind(std::string(kConfirmModelCaption) + ": Is it a WX2050?", 0), 0u);
    EXPECT_EQ(text.substr(text.size() - std::string(c.shown).size()), c.shown) << text;
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

// Several instruments at once: the board's rows and lines, then the instrument front ends that
// report to it through whole update runs.
constexpr const char* kA = "USB0::1::2::A::INSTR";
constexpr const char* kLongB = "USB0::1::2::LONGER-B::INSTR";

BoardSettings BoardOn(const Capture& log, const Capture& messages, bool terminal) {
  BoardSettings b;
  b.logOut = log.get();
  b.messages = messages.get();
  b.logIsTerminal = terminal;
  b.messagesIsTerminal = terminal;
  return b;
}

TEST_F(ConsoleFrontEndTest, BoardOffATerminalWritesLinesPrefixedByTheResource) {
  ProgressBoard board(BoardOn(log, messages, false), {kA, kLongB});
  EXPECT_FALSE(board.redrawsInPlace());
  board.LogLine(0, "Connecting ... OK");
  board.LogLine(1, "");  // the window's separator lines are left out
  board.SetState(0, "programming");
  for (int p = 0; p <= 25; p += 5) board.SetProgress(1, p, "MAIN", "[" + std::to_string(p) + "%]");
  board.Message(0, "Error: Cannot connect to the device.");
  EXPECT_EQ(log.Text(), std::string(kA) + ": Connecting ... OK\n");
  EXPECT_EQ(messages.Text(), std::string(kLongB) + ": [10%]\n" + kLongB + ": [20%]\n" + kA +
                                 ": Error: Cannot connect to the device.\n");
  // Columns line up under the longest resource name.
  EXPECT_EQ(board.RowText(0), std::string(kA) + std::string(9, ' ') + "-" + std::string(11, ' ') + "0%  programming");
  EXPECT_EQ(board.RowText(1), std::string(kLongB) + "  MAIN       25%  waiting");
}

TEST_F(ConsoleFrontEndTest, BoardOnATerminalRedrawsEveryRowInPlace) {
  ProgressBoard board(BoardOn(log, messages, true), {kA, kLongB});
  EXPECT_TRUE(board.redrawsInPlace());
  auto rows = [&] {
    return std::string("\r\033[K") + board.RowText(0) + "\n\r\033[K" + board.RowText(1) + "\n";
  };
  std::string expected = rows();  // drawn once at the start
  EXPECT_EQ(messages.Text(), expected);
  board.SetProgress(1, 40, "XP2", "unused on a terminal");
  expected += "\033[2F" + rows();
  board.SetProgress(1, 40, "XP2", "unused");  // nothing visible changed
  board.SetState(1, "waiting");               // nor here
  EXPECT_EQ(messages.Text(), expected);
  // Above the rows, which follow below it; what a wrapped message leaves of them is erased.
  board.Message(0, "Error: x");
  expected += "\033[2F\r\033[J" + std::string(kA) + ": Error: x\n" + rows();
  EXPECT_EQ(messages.Text(), expected);
  board.LogLine(0, "Connecting ... OK");  // the rows and the summary stand for the log
  EXPECT_EQ(log.Text(), "");
  board.Close();
  expected += "\033[2F" + rows();
  board.SetState(0, "late");  // after the last drawing nothing moves the cursor back
  EXPECT_EQ(messages.Text(), expected);

  // Quiet: no rows at all, the lines as off a terminal.
  Capture quietLog;
  Capture quietMessages;
  BoardSettings q = BoardOn(quietLog, quietMessages, true);
  q.quiet = true;
  ProgressBoard silent(q, {kA});
  EXPECT_FALSE(silent.redrawsInPlace());
  silent.SetProgress(0, 50, "MAIN", "[50%]");
  silent.LogLine(0, "Updating ... OK");
  EXPECT_EQ(quietMessages.Text(), "");
  EXPECT_EQ(quietLog.Text(), std::string(kA) + ": Updating ... OK\n");
}

// On a terminal of 30 columns the rows show the short names and no image. A terminal too narrow
// for them gets plain lines; widened again, a new board starts below those. A terminal that
// narrowed below the rows drawn (and may have split them) gets a new board below as well.
TEST_F(ConsoleFrontEndTest, BoardRowsFollowTheWidth) {
  FakeWidth width;
  width.columns = 30;
  BoardSettings settings = BoardOn(log, messages, true);
  settings.width = width.Source();
  ProgressBoard board(settings, {kA, kLongB});
  std::string expected = "\r\033[KA          0% waiting\n\r\033[KLONGER-B   0% waiting\n";
  EXPECT_EQ(messages.Text(), expected);
  board.SetState(1, "failed, 0x10008");
  expected += "\033[2F\r\033[KA          0% waiting\n\r\033[KLONGER-B   0% failed, 0x10008\n";
  EXPECT_EQ(messages.Text(), expected);
  for (const std::string& line : Drawn(messages.Text())) EXPECT_LT(line.size(), 30u) << line;

  width.columns = 19;  // the board needs 21: 8 for the names, the percent, 6 of the state
  board.SetState(0, "programming");
  board.SetProgress(0, 25, "MAIN", "[ 25%] MAIN");
  EXPECT_FALSE(board.redrawsInPlace());
  board.LogLine(0, "Connecting ... OK");
  EXPECT_EQ(messages.Text(),
            expected + "(the rows need 21 columns: plain lines follow)\n" + kA + ": [ 25%] MAIN\n");
  EXPECT_EQ(log.Text(), std::string(kA) + ": Connecting ... OK\n");
  expected = messages.Text();

  width.columns = 80;
  board.SetProgress(0, 26, "MAIN", "[ 26%] MAIN");  // no cursor movement: a new board below
  EXPECT_TRUE(board.redrawsInPlace());
  expected += "\r\033[K" + board.RowText(0) + "\n\r\033[K" + board.RowText(1) + "\n";
  EXPECT_EQ(messages.Text(), expected);
  EXPECT_EQ(board.RowText(0), std::string(kA) + "         MAIN       26%  programming");

  width.columns = 40;  // the rows drawn were 57 columns long
  board.SetProgress(0, 27, "MAIN", "");
  expected += "\r\033[KA        MAIN     27% programming\n"
              "\r\033[KLONGER-B -         0% failed, 0x10008\n";
  EXPECT_EQ(messages.Text(), expected);
  board.SetProgress(0, 28, "MAIN", "");  // the same width: back over the rows
  EXPECT_EQ(messages.Text().substr(expected.size(), 4), "\033[2F");
}

TEST_F(ConsoleFrontEndTest, InstrumentConsolesReportTheirRunsUnderTheirOwnRows) {
  test::Events events;
  test::ScriptedDriver fine{&events};
  test::ScriptedDriver failing{&events};
  failing.updateResult = 8;
  test::ScratchFolder scratch;
  const std::string header = test::FirmwareText("WX2040", "1.05", "2.04", " sample", "");
  const std::string firmware = scratch.Write("fw.fq", header + "payload");
  ModelInfo row = test::MakeModelRow("WX2040", 0x3A01, nullptr);
  FileSelection selection{};
  selection.header.payloadOffset = static_cast<int32_t>(header.size());
  CopyBounded(selection.path, firmware.c_str());
  ASSERT_TRUE(selection.file.Open(firmware.c_str()));
  ASSERT_EQ(DigestPayload(selection.file, selection.header.payloadOffset,
                          &selection.payloadDigest),
            0);
  selection.selectedModel = &row;

  ProgressBoard board(BoardOn(log, messages, false), {kA, kLongB});
  InstrumentConsole a(&board, 0, kA, nullptr);
  InstrumentConsole b(&board, 1, kLongB, nullptr);
  UpdateRunOptions options;
  options.updater = &fine.ops;
  EXPECT_EQ(RunUpdate(a.ops(), &selection, scratch.File("a").c_str(), options), 0);
  options.updater = &failing.ops;
  EXPECT_EQ(RunUpdate(b.ops(), &selection, scratch.File("b").c_str(), options), 0x10008);

  EXPECT_EQ(a.deviceField(), kA);
  EXPECT_EQ(b.LogLines(), (std::vector<std::string>{"Connecting ... OK", "Updating ... FAILED",
                                                    kLogCancelled, "Error number: 0x10008", ""}));
  const std::string pa = std::string(kA) + ": ";
  const std::string pb = std::string(kLongB) + ": ";
  EXPECT_EQ(log.Text(), pa + "Connecting ... OK\n" + pa + "Updating ... OK\n" + pa + kLogCompleted +
                            "\n" + pb + "Connecting ... OK\n" + pb + "Updating ... FAILED\n" + pb +
                            kLogCancelled + "\n" + pb + "Error number: 0x10008\n");
  // The scripted driver reports 0, 50 and 100 %: lines at 50 and 100.
  EXPECT_NE(messages.Text().find(pa + "[ 50%]"), std::string::npos);
  EXPECT_NE(messages.Text().find(pb + "[100%]"), std::string::npos);
  EXPECT_EQ(board.RowText(0).substr(board.RowText(0).size() - 9), "completed");
  EXPECT_EQ(board.RowText(1).substr(board.RowText(1).size() - 15), "failed, 0x10008");
  // Each run's time stops at its end.
  const double seconds = a.Elapsed();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(a.Elapsed(), seconds);
}

}  // namespace
}  // namespace fg
