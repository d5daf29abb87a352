#include "platform/regular_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace fg::platform {

FileHandle OpenRegularFileForReading(const char* path, int64_t* size) {
  // O_NONBLOCK keeps the open of a FIFO without writer from waiting for one; it is cleared
  // again once the descriptor is known to be a regular file.
  const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return kNoFile;
  struct stat st;
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return kNoFile;
  }
  *size = static_cast<int64_t>(st.st_size);
  return fd;
}

std::string WhyNotRegularFile(const char* path) {
  struct stat st;
  if (lstat(path, &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return "there is no such file";
    if (errno == EACCES) return "permission denied";
    return std::strerror(errno);
  }
  if (S_ISLNK(st.st_mode)) {
    return "it is a symbolic link; Flintgate opens only the file itself: choose the file it "
           "points to";
  }
  if (S_ISDIR(st.st_mode)) return "it is a folder";
  if (!S_ISREG(st.st_mode)) return "it is a pipe, socket or device, not a plain file";
  const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd >= 0) {
    close(fd);
    return "it changed while it was opened";
  }
  if (errno == EACCES) return "permission denied";
  return std::strerror(errno);
}

void CloseFile(FileHandle file) {
  if (file >= 0) close(file);
}

std::FILE* OpenReadStream(FileHandle file) {
  if (file < 0) return nullptr;
  const int copy = fcntl(file, F_DUPFD_CLOEXEC, 0);
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

int64_t ReadAt(FileHandle file, void* buffer, size_t size, int64_t offset) {
  for (;;) {
    const ssize_t got = pread(file, buffer, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;  // a signal's handler ran: read on
    return got;
  }
}

FileHandle CreatePrivateFileForWriting(const char* path) {
  return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
}

bool WriteAll(FileHandle file, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  for (size_t done = 0; done < size;) {
    const ssize_t w = write(file, bytes + done, size - done);
    if (w > 0) done += static_cast<size_t>(w);
    else if (w < 0 && errno == EINTR) continue;
    else return false;
  }
  return true;
}

bool CloseWrittenFile(FileHandle file) { return close(file) == 0; }

}  // namespace fg::platform
