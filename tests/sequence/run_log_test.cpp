// The run's log: lines finished by AppendLine, the open line that AppendText builds, notes that go
// above the open line, and the text the window shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sequence/run_log.h"
#include "sequence/run_texts.h"

namespace fg {
namespace {

enum class Op { Text, Line, Note, Clear };

struct Step {
  Op op;
  const char* text;
};

struct Case {
  const char* name;
  std::vector<Step> steps;
  std::string text;                // as the window shows it
  std::vector<std::string> lines;  // the open line last
  std::string pending;
};

void Apply(RunLog* log, const Step& step) {
  switch (step.op) {
    case Op::Text: log->AppendText(step.text); break;
    case Op::Line: log->AppendLine(step.text); break;
    case Op::Note: log->InsertNoteLine(step.text); break;
    case Op::Clear: log->Clear(); break;
  }
}

TEST(RunLogTest, LinesOpenTextAndNotes) {
  const std::string connectingOk = std::string(kLogConnecting) + kLogOk;
  const std::string updating = kLogUpdating;
  const std::string updatingFailed = updating + kLogFailed;
  const std::string waiting = kLogWaitingForRestart;
  const std::string gone = kLogWriterDidNotReturn;
  const Case cases[] = {
      {"Empty", {}, "", {}, ""},
      {"AnEmptyOpenTextIsNoLine", {{Op::Text, ""}}, "", {}, ""},
      {"TextThenItsResultMakeOneLine",
       {{Op::Text, kLogConnecting}, {Op::Line, kLogOk}, {Op::Line, ""}},
       connectingOk + "\r\n\r\n",
       {connectingOk, ""},
       ""},
      {"PiecesOfTextJoin",
       {{Op::Text, "Connect"}, {Op::Text, "ing ... "}, {Op::Line, kLogOk}},
       connectingOk + "\r\n",
       {connectingOk},
       ""},
      {"TheOpenLineHasNoLineEndAndComesLast",
       {{Op::Line, "Open File: /tmp/a.fq"}, {Op::Text, kLogUpdating}},
       "Open File: /tmp/a.fq\r\n" + updating,
       {"Open File: /tmp/a.fq", updating},
       updating},
      {"ANoteGoesAboveTheOpenLine",
       {{Op::Text, kLogConnecting}, {Op::Line, kLogOk}, {Op::Text, kLogUpdating},
        {Op::Note, kLogWaitingForRestart}},
       connectingOk + "\r\n" + waiting + "\r\n" + updating,
       {connectingOk, waiting, updating},
       updating},
      {"NotesKeepTheirOrderAndTheOpenLineEndsBelowThem",
       {{Op::Text, kLogUpdating}, {Op::Note, kLogWaitingForRestart},
        {Op::Note, kLogWriterDidNotReturn}, {Op::Line, kLogFailed}},
       waiting + "\r\n" + gone + "\r\n" + updatingFailed + "\r\n",
       {waiting, gone, updatingFailed},
       ""},
      {"WithoutAnOpenLineANoteIsTheNextLine",
       {{Op::Line, kLogCancelled}, {Op::Note, kLogFinishingImage}},
       std::string(kLogCancelled) + "\r\n" + kLogFinishingImage + "\r\n",
       {kLogCancelled, kLogFinishingImage},
       ""},
      {"ClearDropsLinesAndOpenText",
       {{Op::Line, "a"}, {Op::Text, "b"}, {Op::Clear, nullptr}, {Op::Text, "c"}},
       "c",
       {"c"},
       "c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunLog log;
    for (const Step& step : c.steps) Apply(&log, step);
    EXPECT_EQ(log.Text(), c.text);
    EXPECT_EQ(log.Lines(), c.lines);
    EXPECT_EQ(log.pending(), c.pending);
  }
}

TEST(RunLogTest, AppendLineReturnsTheWholeFinishedLine) {
  RunLog log;
  log.AppendText(kLogUpdating);
  log.InsertNoteLine(kLogWaitingForRestart);
  EXPECT_EQ(log.AppendLine(kLogOk), std::string(kLogUpdating) + kLogOk);
  EXPECT_EQ(log.AppendLine(""), "");
  EXPECT_EQ(log.finished().size(), 3u);
}

}  // namespace
}  // namespace fg
