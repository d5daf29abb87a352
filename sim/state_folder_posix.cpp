#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "sim/state_folder.h"

namespace fg::sim {

StateFolder::StateFolder(StateFolder&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)) {}

StateFolder& StateFolder::operator=(StateFolder&& other) noexcept {
  if (this != &other) {
    Close();
    path_ = std::move(other.path_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

StateFolder::~StateFolder() { Close(); }

void StateFolder::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool StateFolder::IsOpen() const { return fd_ >= 0; }

bool StateFolder::Open(const std::string& folder, std::string* error) {
  // The folders above it (the --state folder) are made private too when this creates them.
  std::vector<std::filesystem::path> missing;
  for (std::filesystem::path p = std::filesystem::path(folder).parent_path();
       !p.empty() && p != p.root_path() && ::access(p.c_str(), F_OK) != 0; p = p.parent_path()) {
    missing.push_back(p);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) ::mkdir(it->c_str(), 0700);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = "cannot create " + folder + ": " + std::strerror(errno);
    return false;
  }
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *error = errno == ELOOP || errno == ENOTDIR
                 ? folder + " is not a folder (a link or a file)"
                 : "cannot open " + folder + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid()) {
    *error = folder + " belongs to another user";
    ::close(fd);
    return false;
  }
  // A folder made by an earlier version may be open to others: the flash is ours alone.
  if ((info.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0) {
    *error = "cannot make " + folder + " private: " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  Close();
  path_ = folder;
  fd_ = fd;
  return true;
}

bool StateFolder::Read(const std::string& name, uint64_t limit, bool* exists,
                       std::vector<uint8_t>* out, std::string* error) const {
  const std::string path = path_ + "/" + name;
  const int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  *exists = fd >= 0 || errno != ENOENT;
  if (fd < 0) {
    if (errno == ENOENT) return true;
    *error = errno == ELOOP ? path + " is a link, not a state file"
                            : "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (!ok) {
    *error = path + " is not a file";
  } else if (static_cast<uint64_t>(info.st_size) > limit) {
    *error = path + " is larger than its partition";
    ok = false;
  }
  out->clear();
  uint8_t buffer[65536];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;
    if (n < 0 || out->size() + static_cast<size_t>(n) > limit) {
      *error = "cannot read " + path;
      ok = false;
      break;
    }
    out->insert(out->end(), buffer, buffer + n);
  }
  ::close(fd);
  return ok;
}

// A link planted under either name is replaced, never followed.
void StateFolder::Write(const std::string& name, const void* data, size_t size) const {
  if (fd_ < 0) return;
  const std::string temporary = name + ".tmp";
  ::unlinkat(fd_, temporary.c_str(), 0);
  const int fd =
      ::openat(fd_, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::fprintf(stderr, "flintgate-sim: cannot write %s/%s: %s\n", path_.c_str(),
                 temporary.c_str(), std::strerror(errno));
    return;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t written = 0;
  while (written < size) {
    const ssize_t n = ::write(fd, bytes + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const bool closed = ::close(fd) == 0;
  if (written == size && closed &&
      ::renameat(fd_, temporary.c_str(), fd_, name.c_str()) == 0) {
    return;
  }
  ::unlinkat(fd_, temporary.c_str(), 0);
  std::fprintf(stderr, "flintgate-sim: cannot write %s/%s\n", path_.c_str(), name.c_str());
}

}  // namespace fg::sim
