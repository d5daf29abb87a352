#include "platform/process_stamp.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace fg::platform {

namespace {

struct ProcessStatus {
  char state = '?';  // R, S, D, Z (ended, not yet reaped), X (dead), ...
  uint64_t start = 0;
};

// /proc/<id>/stat: "<id> (<name>) <state> ..." with the start time as the 22nd field. The
// name may hold blanks and parentheses, so the fields are counted from its last ')'.
bool ReadStatus(uint64_t id, ProcessStatus* status) {
  std::ifstream in("/proc/" + std::to_string(id) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t nameEnd = text.rfind(')');
  if (nameEnd == std::string::npos) return false;
  std::istringstream fields(text.substr(nameEnd + 1));
  std::string field;
  for (int number = 3; fields >> field; ++number) {
    if (number == 3) status->state = field[0];
    if (number == 22) {
      status->start = std::strtoull(field.c_str(), nullptr, 10);
      return true;
    }
  }
  return false;
}

}  // namespace

ProcessStamp CurrentProcessStamp() {
  ProcessStamp stamp;
  stamp.id = static_cast<uint64_t>(getpid());
  ProcessStatus status;
  if (ReadStatus(stamp.id, &status)) stamp.start = status.start;
  return stamp;
}

bool StampedProcessEnded(const ProcessStamp& stamp) {
  const pid_t id = static_cast<pid_t>(stamp.id);
  if (id <= 0 || static_cast<uint64_t>(id) != stamp.id) return false;
  if (kill(id, 0) != 0 && errno == ESRCH) return true;
  ProcessStatus status;
  if (!ReadStatus(stamp.id, &status)) return false;
  if (stamp.start != 0 && status.start != stamp.start) return true;  // the id was reused
  return status.state == 'Z' || status.state == 'X';
}

}  // namespace fg::platform
