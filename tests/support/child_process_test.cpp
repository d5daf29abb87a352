// The child process helper, over the shell: how a child ended, its streams, its environment,
// its time limit and the signals it gets.
#include "tests/support/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace fg::testing {
namespace {

using Clock = std::chrono::steady_clock;

ChildOptions Shell(const std::string& script) {
  ChildOptions options;
  options.args = {"/bin/sh", "-c", script};
  return options;
}

TEST(ChildProcess, HowTheChildEnded) {
  const struct {
    const char* script;
    bool exited;
    int exitCode;
    int signal;
    int code;
  } cases[] = {
      {"exit 0", true, 0, 0, 0},
      {"exit 3", true, 3, 0, 3},
      {"kill -TERM $$", false, -1, SIGTERM, 128 + SIGTERM},
      {"kill -KILL $$", false, -1, SIGKILL, 128 + SIGKILL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    const ChildRun run = RunChild(Shell(c.script), 10000);
    EXPECT_TRUE(run.status.started);
    EXPECT_FALSE(run.status.timedOut);
    EXPECT_EQ(run.status.exited, c.exited);
    EXPECT_EQ(run.status.exitCode, c.exitCode);
    EXPECT_EQ(run.status.signal, c.signal);
    EXPECT_EQ(run.status.Code(), c.code);
  }

  ChildOptions missing;
  missing.args = {"/nonexistent/program"};
  const ChildRun none = RunChild(missing, 10000);
  EXPECT_FALSE(none.status.started);
  EXPECT_EQ(none.status.Code(), -1);
  EXPECT_NE(none.err.find("/nonexistent/program"), std::string::npos) << none.err;
}

TEST(ChildProcess, TimeLimitKillsTheChild) {
  const auto start = Clock::now();
  const ChildRun run = RunChild(Shell("echo before; exec sleep 30"), 300);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(run.status.timedOut);
  EXPECT_EQ(run.status.signal, SIGKILL);
  EXPECT_EQ(run.status.Code(), -1);
  EXPECT_EQ(run.out, "before\n") << "what came before the limit is kept";
}

TEST(ChildProcess, StreamsGoWhereTheyAreSent) {
  {
    SCOPED_TRACE("captured apart, and merged as 2>&1");
    ChildOptions options = Shell("echo out; echo err >&2");
    options.err = ChildOutput::kCapture;
    const ChildRun apart = RunChild(options, 10000);
    EXPECT_EQ(apart.out, "out\n");
    EXPECT_EQ(apart.err, "err\n");
    const ChildRun merged = RunChild(Shell("echo out; echo err >&2"), 10000);
    EXPECT_EQ(merged.out, "out\nerr\n");
    EXPECT_EQ(merged.err, "");
  }
  {
    SCOPED_TRACE("into files, and discarded");
    char folder[] = "/tmp/fg-child-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string outPath = std::string(folder) + "/out";
    ChildOptions options = Shell("echo to-file; echo dropped >&2");
    options.out = ChildOutput::kFile;
    options.outPath = outPath;
    options.err = ChildOutput::kDiscard;
    const ChildRun run = RunChild(options, 10000);
    EXPECT_EQ(run.status.Code(), 0);
    std::ifstream in(outPath);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
              "to-file\n");
    EXPECT_EQ(run.out + run.err, "");
    std::remove(outPath.c_str());
    ::rmdir(folder);
  }
  {
    SCOPED_TRACE("input, and more of it both ways than a pipe holds");
    ChildOptions options;
    options.args = {"cat"};
    options.input = "line\n";
    EXPECT_EQ(RunChild(options, 10000).out, "line\n");
    std::string big(300000, 'x');
    for (size_t i = 0; i < big.size(); i += 1000) big[i] = '\n';
    options.input = big;
    const ChildRun run = RunChild(options, 20000);
    EXPECT_FALSE(run.status.timedOut);
    EXPECT_EQ(run.out, big);
    options.input.reset();  // /dev/null: cat ends at once
    EXPECT_EQ(RunChild(options, 10000).status.Code(), 0);
  }
}

TEST(ChildProcess, EnvironmentIsInheritedSetAndUnset) {
  ::setenv("FG_CHILD_KEPT", "kept", 1);
  ::setenv("FG_CHILD_REPLACED", "old", 1);
  ::setenv("FG_CHILD_GONE", "here", 1);
  ChildOptions options =
      Shell("echo \"$FG_CHILD_KEPT,$FG_CHILD_REPLACED,${FG_CHILD_GONE-unset},$FG_CHILD_NEW\"");
  options.env = {"FG_CHILD_REPLACED=new", "FG_CHILD_NEW=a=b"};
  options.unsetEnv = {"FG_CHILD_GONE"};
  EXPECT_EQ(RunChild(options, 10000).out, "kept,new,unset,a=b\n");
  for (const char* name : {"FG_CHILD_KEPT", "FG_CHILD_REPLACED", "FG_CHILD_GONE"}) ::unsetenv(name);
}

TEST(ChildProcess, SignalsAndOutputWhileItRuns) {
  // A signal the test process ignores still has its default action in the child.
  struct sigaction ignore {}, previous{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGINT, &ignore, &previous);
  ChildProcess child(Shell("echo ready; exec sleep 30"));
  ::sigaction(SIGINT, &previous, nullptr);
  ASSERT_TRUE(child.Started());
  EXPECT_TRUE(child.WaitForOutput("ready", 10000));
  EXPECT_TRUE(child.Running());
  const ChildStatus stopped = child.Stop(SIGINT, 10000);
  EXPECT_EQ(stopped.signal, SIGINT);
  EXPECT_FALSE(child.Running());
  EXPECT_FALSE(child.Signal(SIGTERM)) << "nothing is sent once it has ended";

  // Waiting for text that never comes ends with the child, not at the time limit.
  ChildProcess quiet(Shell("echo other"));
  const auto start = Clock::now();
  EXPECT_FALSE(quiet.WaitForOutput("ready", 20000));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(quiet.out(), "other\n");

  // A reader that went away: the child's next write ends it with SIGPIPE.
  ChildProcess writer(Shell("while :; do echo line; done"));
  EXPECT_TRUE(writer.WaitUntil([](const std::string& out) { return out.size() > 100; }, 10000));
  writer.CloseOutput();
  EXPECT_EQ(writer.Wait(10000).signal, SIGPIPE);
}

}  // namespace
}  // namespace fg::testing
