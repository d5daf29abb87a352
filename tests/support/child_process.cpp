#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace fg::testing {
namespace {

using Clock = std::chrono::steady_clock;

// How long one look at a child that has no pipe open sleeps: short beside any time limit.
constexpr int kIdleLookMs = 5;

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

// This process's environment without the names that the options set or remove, then the
// options' own entries.
std::vector<std::string> ChildEnvironment(const ChildOptions& options) {
  std::vector<std::string> names = options.unsetEnv;
  for (const std::string& entry : options.env) names.push_back(NameOf(entry));
  std::vector<std::string> all;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool dropped = false;
    for (const std::string& name : names) dropped |= NameOf(entry) == name;
    if (!dropped) all.push_back(entry);
  }
  all.insert(all.end(), options.env.begin(), options.env.end());
  return all;
}

void CloseFd(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

// Appends what one read of `fd` gives; false at the end of the stream (or an error), when the
// descriptor has been closed.
bool ReadInto(int* fd, std::string* text) {
  char buffer[4096];
  const ssize_t n = ::read(*fd, buffer, sizeof buffer);
  if (n > 0) {
    text->append(buffer, static_cast<size_t>(n));
    return true;
  }
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  CloseFd(fd);
  return false;
}

// A write to a pipe whose reader has gone must fail with EPIPE rather than end the test process
// with SIGPIPE: the signal is blocked around the write and a pending one taken back.
ssize_t WriteWithoutSigpipe(int fd, const char* data, size_t size) {
  sigset_t pipeSignal, previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  const ssize_t n = ::write(fd, data, size);
  if (n < 0 && errno == EPIPE) {
    const timespec none{};
    sigtimedwait(&pipeSignal, nullptr, &none);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return n;
}

// Adds the file action that puts `target` (1 or 2) where `kind` says. `capture` is the write end
// of the pipe for kCapture.
void AddOutputAction(posix_spawn_file_actions_t* actions, int target, ChildOutput kind,
                     const std::string& path, int capture) {
  switch (kind) {
    case ChildOutput::kCapture:
      posix_spawn_file_actions_adddup2(actions, capture, target);
      break;
    case ChildOutput::kFile:
      posix_spawn_file_actions_addopen(actions, target, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0600);
      break;
    case ChildOutput::kDiscard:
      posix_spawn_file_actions_addopen(actions, target, "/dev/null", O_WRONLY, 0);
      break;
    case ChildOutput::kToStdout:
      posix_spawn_file_actions_adddup2(actions, STDOUT_FILENO, target);
      break;
  }
}

}  // namespace

ChildProcess::ChildProcess(const ChildOptions& options)
    : outKind_(options.out), outPath_(options.outPath) {
  if (options.args.empty()) {
    startError_ = "no program named";
    return;
  }
  // Close-on-exec everywhere: a child that another thread starts meanwhile must not inherit an
  // end of these pipes, or their readers would never see the end of the stream.
  int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1}, inPipe[2] = {-1, -1};
  const bool captureErr = options.err == ChildOutput::kCapture;
  if ((options.out == ChildOutput::kCapture && ::pipe2(outPipe, O_CLOEXEC) != 0) ||
      (captureErr && ::pipe2(errPipe, O_CLOEXEC) != 0) ||
      (options.input && ::pipe2(inPipe, O_CLOEXEC) != 0)) {
    startError_ = std::string("pipe: ") + std::strerror(errno);
    for (int* fd : {&outPipe[0], &outPipe[1], &errPipe[0], &errPipe[1], &inPipe[0], &inPipe[1]})
      CloseFd(fd);
    return;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.input) {
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  AddOutputAction(&actions, STDOUT_FILENO, options.out, options.outPath, outPipe[1]);
  AddOutputAction(&actions, STDERR_FILENO, options.err, options.errPath, errPipe[1]);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults, none;
  sigfillset(&defaults);
  sigdelset(&defaults, SIGKILL);
  sigdelset(&defaults, SIGSTOP);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<std::string> environment = ChildEnvironment(options);
  std::vector<std::string> args = options.args;
  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);

  const int error =
      ::posix_spawnp(&pid_, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  for (int* fd : {&outPipe[1], &errPipe[1], &inPipe[0]}) CloseFd(fd);
  outFd_ = outPipe[0];
  errFd_ = errPipe[0];
  inFd_ = inPipe[1];
  if (error != 0) {
    startError_ = "cannot start " + options.args[0] + ": " + std::strerror(error);
    pid_ = -1;
    for (int* fd : {&outFd_, &errFd_, &inFd_}) CloseFd(fd);
    return;
  }
  status_.started = true;
  if (options.input) {
    input_ = *options.input;
    ::fcntl(inFd_, F_SETFL, ::fcntl(inFd_, F_GETFL) | O_NONBLOCK);
    if (input_.empty()) CloseFd(&inFd_);
  }
}

ChildProcess::~ChildProcess() {
  if (Started() && !reaped_) {
    ::kill(pid_, SIGKILL);
    Reap(true);
  }
  for (int* fd : {&outFd_, &errFd_, &inFd_}) CloseFd(fd);
}

bool ChildProcess::Signal(int signal) {
  if (!Started() || reaped_) return false;
  return ::kill(pid_, signal) == 0;
}

bool ChildProcess::Running() {
  if (!Started()) return false;
  Reap(false);
  return !reaped_;
}

void ChildProcess::Reap(bool block) {
  if (reaped_) return;
  int status = 0;
  pid_t done;
  do {
    done = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done == 0) return;
  reaped_ = true;
  if (done == pid_ && WIFEXITED(status)) {
    status_.exited = true;
    status_.exitCode = WEXITSTATUS(status);
  } else if (done == pid_ && WIFSIGNALED(status)) {
    status_.signal = WTERMSIG(status);
  }
}

bool ChildProcess::Pump(int waitMs) {
  pollfd fds[3];
  int* owners[3];
  nfds_t count = 0;
  for (int* fd : {&outFd_, &errFd_}) {
    if (*fd < 0) continue;
    fds[count] = {*fd, POLLIN, 0};
    owners[count++] = fd;
  }
  if (inFd_ >= 0) {
    fds[count] = {inFd_, POLLOUT, 0};
    owners[count++] = &inFd_;
  }
  if (count == 0) return false;
  if (::poll(fds, count, waitMs) <= 0) return true;
  for (nfds_t i = 0; i < count; ++i) {
    if (fds[i].revents == 0) continue;
    if (owners[i] == &inFd_) {
      const ssize_t n =
          WriteWithoutSigpipe(inFd_, input_.data() + inputSent_, input_.size() - inputSent_);
      if (n > 0) inputSent_ += static_cast<size_t>(n);
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || inputSent_ == input_.size())
        CloseFd(&inFd_);
    } else {
      ReadInto(owners[i], owners[i] == &outFd_ ? &out_ : &err_);
    }
  }
  return true;
}

std::string ChildProcess::StandardOutput() const {
  if (outKind_ != ChildOutput::kFile) return out_;
  std::ifstream in(outPath_, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ChildProcess::Drain() {
  while (outFd_ >= 0 || errFd_ >= 0) {
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    if (::poll(fds, 2, 0) <= 0) return;
    if (fds[0].revents != 0) ReadInto(&outFd_, &out_);
    if (fds[1].revents != 0) ReadInto(&errFd_, &err_);
  }
}

bool ChildProcess::WaitUntil(const std::function<bool(const std::string&)>& done, int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done(StandardOutput())) {
    if (!Running()) {
      Drain();
      return done(StandardOutput());
    }
    if (Clock::now() > end) return false;
    if (!Pump(kIdleLookMs)) std::this_thread::sleep_for(std::chrono::milliseconds(kIdleLookMs));
  }
  return true;
}

bool ChildProcess::WaitForOutput(const std::string& text, int timeoutMs) {
  return WaitUntil(
      [&text](const std::string& output) { return output.find(text) != std::string::npos; },
      timeoutMs);
}

ChildStatus ChildProcess::Wait(int timeoutMs) {
  if (!Started()) return status_;
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Running()) {
    if (Clock::now() > end) {
      ::kill(pid_, SIGKILL);
      Reap(true);
      status_.timedOut = true;
      break;
    }
    if (!Pump(kIdleLookMs)) std::this_thread::sleep_for(std::chrono::milliseconds(kIdleLookMs));
  }
  Drain();
  CloseFd(&inFd_);
  return status_;
}

ChildStatus ChildProcess::Stop(int signal, int timeoutMs) {
  Signal(signal);
  return Wait(timeoutMs);
}

void ChildProcess::CloseOutput() {
  CloseFd(&outFd_);
  CloseFd(&errFd_);
}

ChildRun RunChild(const ChildOptions& options, int timeoutMs) {
  ChildProcess child(options);
  ChildRun run;
  run.status = child.Wait(timeoutMs);
  run.out = child.out();
  run.err = child.err();
  if (!child.Started()) run.err = child.startError();
  return run;
}

}  // namespace fg::testing
