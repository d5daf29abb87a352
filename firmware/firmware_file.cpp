#include "firmware/firmware_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fg {

FirmwareFile& FirmwareFile::operator=(FirmwareFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    size_ = other.size_;
    other.fd_ = -1;
    other.size_ = 0;
  }
  return *this;
}

bool FirmwareFile::Open(const char* path) {
  Close();
  if (path == nullptr) return false;
  // O_NONBLOCK keeps the open of a FIFO without writer from waiting for one; it is cleared
  // again once the descriptor is known to be a regular file.
  const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st;
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  size_ = static_cast<int64_t>(st.st_size);
  return true;
}

void FirmwareFile::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  size_ = 0;
}

std::FILE* FirmwareFile::OpenStream() const {
  if (fd_ < 0) return nullptr;
  const int copy = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return nullptr;
  std::FILE* stream = fdopen(copy, "rb");
  if (stream == nullptr) {
    close(copy);
    return nullptr;
  }
  // The duplicate shares the file position: start at the beginning whatever was read before.
  if (fseeko(stream, 0, SEEK_SET) != 0) {
    std::fclose(stream);
    return nullptr;
  }
  return stream;
}

}  // namespace fg
