// A program run as a child process, the way the tests run flintgate-cli and flintgate-sim as a
// user would: its arguments and environment, its standard streams, a time limit past which it is
// killed, signals sent to it, and how it ended.
#pragma once
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fg::testing {

// Where one of the child's output streams goes.
enum class ChildOutput {
  kCapture,   // into a pipe that the test reads while it waits: out() and err()
  kFile,      // into a file, created or truncated (mode 0600), which the test reads when it likes
  kDiscard,   // into /dev/null
  kToStdout,  // standard error only: wherever standard output goes, as 2>&1 has it
};

struct ChildOptions {
  std::vector<std::string> args;      // args[0]: the program, a path or a name looked up on PATH
  std::vector<std::string> env;       // "NAME=value" entries set over this process's environment
  std::vector<std::string> unsetEnv;  // names left out of the inherited environment
  // Written to the child's standard input, which is closed afterwards; without it the child reads
  // /dev/null.
  std::optional<std::string> input;
  ChildOutput out = ChildOutput::kCapture;
  std::string outPath;  // for kFile
  ChildOutput err = ChildOutput::kToStdout;
  std::string errPath;  // for kFile
};

// How a child ended.
struct ChildStatus {
  bool started = false;
  bool timedOut = false;  // still running at the time limit, and killed with SIGKILL then
  bool exited = false;    // it called exit: exitCode holds its status
  int exitCode = -1;
  int signal = 0;  // the signal that ended it, when it did not exit

  // One number to compare: the exit status, 128 + the signal that ended it (as a shell reports
  // it), or -1 when it never started or had to be killed at the time limit.
  int Code() const {
    if (!started || timedOut) return -1;
    return exited ? exitCode : 128 + signal;
  }
};

// One running child. The child starts its life with every signal at its default action and none
// blocked, whatever the test process did with its own. Destroying the object kills (SIGKILL) and
// reaps a child that is still running, so no test leaves one behind.
class ChildProcess {
 public:
  explicit ChildProcess(const ChildOptions& options);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // False when the program could not be started; startError() says why.
  bool Started() const { return status_.started; }
  const std::string& startError() const { return startError_; }
  pid_t pid() const { return pid_; }

  // Sends `signal` to the child; false once it has ended.
  bool Signal(int signal);
  // True while the child runs; reaps it once it has ended.
  bool Running();

  // Reads the child's output until `done` holds for its standard output (what was captured, or
  // the file it writes to), the child ends, or timeoutMs passes. True when `done` held.
  bool WaitUntil(const std::function<bool(const std::string& output)>& done, int timeoutMs);
  // The same, for `text` anywhere in the standard output.
  bool WaitForOutput(const std::string& text, int timeoutMs);

  // Waits for the child to end, reading its captured output meanwhile and to its end. Past
  // timeoutMs it is killed with SIGKILL and the status says timedOut.
  ChildStatus Wait(int timeoutMs);
  // Signal, then Wait.
  ChildStatus Stop(int signal, int timeoutMs);

  // Closes the test's ends of the captured output pipes, as a reader that went away (`| head`):
  // the child's next write to them fails.
  void CloseOutput();

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  // Moves what the pipes hold into out_ and err_ and feeds the input, waiting at most waitMs for
  // the first of it. False when no pipe is open any more.
  bool Pump(int waitMs);
  // Takes what the pipes hold now, without waiting. What a child wrote before it ended is in
  // them already, so a descendant that keeps them open is not waited for.
  void Drain();
  void Reap(bool block);
  std::string StandardOutput() const;

  pid_t pid_ = -1;
  bool reaped_ = false;
  ChildStatus status_;
  std::string startError_;
  ChildOutput outKind_ = ChildOutput::kCapture;
  std::string outPath_;
  int outFd_ = -1;
  int errFd_ = -1;
  int inFd_ = -1;
  std::string input_;
  size_t inputSent_ = 0;
  std::string out_;
  std::string err_;
};

// What a child that was run to its end left.
struct ChildRun {
  ChildStatus status;
  std::string out;
  std::string err;
};

// Starts a child and waits for it, at most timeoutMs.
ChildRun RunChild(const ChildOptions& options, int timeoutMs);

}  // namespace fg::testing
