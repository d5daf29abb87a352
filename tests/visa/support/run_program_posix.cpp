// On POSIX systems the program runner is the tests' child-process helper, with its defaults.
#include "tests/support/child_process.h"
#include "tests/visa/support/run_program.h"

namespace fg::testing {

namespace {
constexpr int kProgramEndsMs = 120000;  // a hung program fails its test instead of the run
}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& argv, bool withStderr) {
  ProgramRun run;
  if (argv.empty()) return run;
  ChildOptions options;
  options.args = argv;
  options.err = withStderr ? ChildOutput::kToStdout : ChildOutput::kDiscard;
  const ChildRun child = RunChild(options, kProgramEndsMs);
  run.exitCode = child.status.started && child.status.exited ? child.status.exitCode : -1;
  run.output = child.out;
  return run;
}

}  // namespace fg::testing
