// Test support: runs a program as a user runs it, with this process's environment, and collects
// what it prints.
#pragma once
#include <string>
#include <vector>

namespace fg::testing {

struct ProgramRun {
  int exitCode = -1;   // -1 when it could not be started or did not exit normally
  std::string output;  // standard output, and standard error when asked for
};

// Runs argv[0] with the arguments argv[1...] (no shell in between) and waits for it to end.
// Standard error joins the output when withStderr, and is dropped otherwise; standard input is
// empty.
ProgramRun RunProgram(const std::vector<std::string>& argv, bool withStderr);

}  // namespace fg::testing
