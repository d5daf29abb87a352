#include "platform/process_stamp.h"

#include <windows.h>

namespace fg::platform {

namespace {

uint64_t CreationTime(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

ProcessStamp CurrentProcessStamp() {
  ProcessStamp stamp;
  stamp.id = GetCurrentProcessId();
  stamp.start = CreationTime(GetCurrentProcess());
  return stamp;
}

bool StampedProcessEnded(const ProcessStamp& stamp) {
  if (stamp.id == 0 || stamp.id > 0xFFFFFFFFu) return false;
  const HANDLE process =
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(stamp.id));
  // No process under that id; one that may not be looked at (another user's) is left alone.
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  bool ended = false;
  const uint64_t start = CreationTime(process);
  DWORD exitCode = 0;
  if (stamp.start != 0 && start != 0 && start != stamp.start) {
    ended = true;  // the id was reused
  } else if (GetExitCodeProcess(process, &exitCode) && exitCode != STILL_ACTIVE) {
    ended = true;  // ended, kept only by somebody's handle
  }
  CloseHandle(process);
  return ended;
}

}  // namespace fg::platform
