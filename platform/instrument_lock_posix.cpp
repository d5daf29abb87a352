// Open-file-description locks (F_OFD_SETLK): they belong to the open file, not to the process,
// so two handles of one process exclude each other as two processes do (the runs of `update
// --all` share a process), closing another descriptor of the same file does not drop them, and
// F_OFD_GETLK tells whether one is held without taking it.
#include "platform/instrument_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fg::platform {

namespace {

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

bool IsFolder(const char* path) {
  struct stat info {};
  return path != nullptr && path[0] == '/' && ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// Opens the folder (made 0700 when missing) and checks that it is this user's alone. -1 with
// *problem set otherwise.
int OpenFolder(const std::string& given, std::string* problem) {
  const std::string folder = given.empty() ? DefaultLockFolder() : given;
  const std::string prefix = "The instrument lock folder " + folder;
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    *problem = prefix + " cannot be made (" + std::strerror(errno) + ").";
    return -1;
  }
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *problem = errno == ELOOP || errno == ENOTDIR
                   ? prefix + " is not a folder, or is a link."
                   : prefix + " cannot be opened (" + std::strerror(errno) + ").";
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid()) {
    *problem = prefix + " belongs to another user.";
  } else if ((info.st_mode & 0077) != 0) {
    *problem = prefix + " has mode " + Octal(info.st_mode) + " instead of 0700.";
  } else {
    return fd;
  }
  ::close(fd);
  return -1;
}

bool ValidName(const std::string& name) {
  if (name.empty() || name[0] == '.' || name.size() > 200) return false;
  for (char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return true;
}

// Opens the lock file in the folder: created 0600 with `create`, never through a link, and
// only when it is a plain file of this user's. -1 with *problem (or errno ENOENT when it does
// not exist and `create` is false).
int OpenLockFile(int folder, const std::string& name, bool create, std::string* problem) {
  const int flags = (create ? O_RDWR | O_CREAT : O_RDONLY) | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
  const int fd = ::openat(folder, name.c_str(), flags, 0600);
  if (fd < 0) {
    if (errno != ENOENT || create) {
      *problem = "The instrument lock file " + name + " cannot be opened (" +
                 std::strerror(errno) + ").";
    }
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
    *problem = "The instrument lock file " + name + " is not a plain file of this user's.";
    ::close(fd);
    errno = EPERM;
    return -1;
  }
  return fd;
}

std::string ReadText(int fd) {
  char buffer[kLockTextSize];
  const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

struct flock WholeFile(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return lock;
}

}  // namespace

std::string DefaultLockFolder() {
  auto join = [](std::string base, const std::string& name) {
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return (base == "/" ? base : base + "/") + name;
  };
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (IsFolder(runtime)) return join(runtime, "flintgate-locks");
  return join("/tmp", "flintgate-locks-" + std::to_string(::geteuid()));
}

int32_t TakeLock(const std::string& folder, const std::string& name, const std::string& text,
                 LockHandle* handle, std::string* holderText, std::string* problem) {
  handle->value = -1;
  if (!ValidName(name)) {
    *problem = "\"" + name + "\" cannot name an instrument lock.";
    return kLockUnavailable;
  }
  const int dir = OpenFolder(folder, problem);
  if (dir < 0) return kLockUnavailable;
  const int fd = OpenLockFile(dir, name, true, problem);
  ::close(dir);
  if (fd < 0) return kLockUnavailable;
  struct flock lock = WholeFile(F_WRLCK);
  if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    const int error = errno;
    if (error == EAGAIN || error == EACCES) {
      *holderText = ReadText(fd);
      ::close(fd);
      return kLockHeld;
    }
    *problem = "The instrument lock file " + name + " cannot be locked (" +
               std::strerror(error) + ").";
    ::close(fd);
    return kLockUnavailable;
  }
  // Ours now: the text of an earlier holder goes.
  if (::ftruncate(fd, 0) != 0 ||
      ::pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
    *problem = "The instrument lock file " + name + " cannot be written (" +
               std::strerror(errno) + ").";
    ::close(fd);
    return kLockUnavailable;
  }
  handle->value = fd;
  return kLockTaken;
}

int32_t ProbeLock(const std::string& folder, const std::string& name, std::string* holderText,
                  std::string* problem) {
  if (!ValidName(name)) {
    *problem = "\"" + name + "\" cannot name an instrument lock.";
    return kLockUnavailable;
  }
  const int dir = OpenFolder(folder, problem);
  if (dir < 0) return kLockUnavailable;
  const int fd = OpenLockFile(dir, name, false, problem);
  ::close(dir);
  if (fd < 0) return errno == ENOENT ? kLockFree : kLockUnavailable;
  struct flock lock = WholeFile(F_WRLCK);
  int32_t result = kLockFree;
  if (::fcntl(fd, F_OFD_GETLK, &lock) != 0) {
    *problem = "The instrument lock file " + name + " cannot be tested (" +
               std::strerror(errno) + ").";
    result = kLockUnavailable;
  } else if (lock.l_type != F_UNLCK) {
    *holderText = ReadText(fd);
    result = kLockHeld;
  }
  ::close(fd);
  return result;
}

void ReleaseLock(LockHandle* handle) {
  if (handle->value < 0) return;
  // Closing the only descriptor of the open file releases its lock.
  ::close(static_cast<int>(handle->value));
  handle->value = -1;
}

int64_t CurrentProcessId() { return static_cast<int64_t>(::getpid()); }

std::string CurrentProgramName() { return program_invocation_short_name; }

}  // namespace fg::platform
