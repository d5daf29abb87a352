#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "visa/file_descriptors.h"

namespace fg::visa {

bool OutOfFileDescriptors() {
  const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return false;
  }
  return errno == EMFILE || errno == ENFILE;
}

}  // namespace fg::visa
