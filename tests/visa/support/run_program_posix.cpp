#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "tests/visa/support/run_program.h"

namespace fg::testing {

ProgramRun RunProgram(const std::vector<std::string>& argv, bool withStderr) {
  ProgramRun run;
  int out[2];
  if (argv.empty() || ::pipe2(out, O_CLOEXEC) != 0) return run;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(withStderr ? out[1] : null, STDERR_FILENO);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(out[1]);
  if (child < 0) {
    ::close(out[0]);
    return run;
  }
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(out[0], chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    run.output.append(chunk, static_cast<size_t>(n));
  }
  ::close(out[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace fg::testing
