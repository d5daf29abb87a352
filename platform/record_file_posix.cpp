#include "platform/record_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace fg::platform {

namespace {

std::string Because(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// flock waits for the other writers; a signal's handler may interrupt that wait.
bool Lock(int fd, int operation) {
  while (flock(fd, operation) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

bool OpenRecordFile(const char* path, RecordFileHandle* file, std::string* problem) {
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                      0644);
  if (fd < 0) {
    *problem = Because("it cannot be opened for writing");
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    *problem = "it is not a plain file";
    return false;
  }
  file->value = fd;
  return true;
}

bool AppendRecord(RecordFileHandle file, const char* data, size_t size, std::string* problem) {
  const int fd = static_cast<int>(file.value);
  if (fd < 0) {
    *problem = "it is not open";
    return false;
  }
  if (!Lock(fd, LOCK_EX)) {
    *problem = Because("it cannot be locked");
    return false;
  }
  // One write: with O_APPEND the position and the write are one step, and a reader never sees
  // half a line of one writer followed by another's.
  ssize_t written;
  do {
    written = write(fd, data, size);
  } while (written < 0 && errno == EINTR);
  bool ok = written == static_cast<ssize_t>(size);
  if (!ok) {
    *problem = written < 0 ? Because("it cannot be written") : "only part of the line was written";
  }
  if (ok && fsync(fd) != 0) {
    *problem = Because("it cannot be flushed to the disk");
    ok = false;
  }
  Lock(fd, LOCK_UN);
  return ok;
}

void CloseRecordFile(RecordFileHandle* file) {
  if (file->value >= 0) close(static_cast<int>(file->value));
  file->value = -1;
}

}  // namespace fg::platform
