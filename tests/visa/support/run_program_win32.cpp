#include <windows.h>

#include "tests/visa/support/run_program.h"

namespace fg::testing {

namespace {

// One argument as the C runtime of the child splits its command line back: quoted, with the
// backslashes before a quote doubled.
std::string Quoted(const std::string& argument) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& argv, bool withStderr) {
  ProgramRun run;
  if (argv.empty()) return run;
  std::string commandLine;
  for (const std::string& a : argv) {
    if (!commandLine.empty()) commandLine += ' ';
    commandLine += Quoted(a);
  }
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return run;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE null = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            &inheritable, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null;
  startup.hStdOutput = writeEnd;
  startup.hStdError = withStderr ? writeEnd : null;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &process);
  CloseHandle(writeEnd);  // the child holds its own: the pipe ends when the child does
  CloseHandle(null);
  if (started) {
    char chunk[4096];
    DWORD n = 0;
    while (ReadFile(readEnd, chunk, sizeof chunk, &n, nullptr) && n > 0) run.output.append(chunk, n);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) run.exitCode = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(readEnd);
  // The console's line ends, as the programs print them on Windows, read as on POSIX.
  std::string lines;
  for (char c : run.output) {
    if (c != '\r') lines += c;
  }
  run.output = lines;
  return run;
}

}  // namespace fg::testing
