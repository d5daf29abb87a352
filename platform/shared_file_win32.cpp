#include "platform/shared_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstring>

namespace fg::platform {

std::FILE* OpenSharedFile(const char* path, const char* mode) {
  DWORD access = 0, disposition = 0;
  int flags = _O_BINARY;
  if (std::strcmp(mode, "rb") == 0) {
    access = GENERIC_READ;
    disposition = OPEN_EXISTING;
    flags |= _O_RDONLY;
  } else if (std::strcmp(mode, "wb") == 0) {
    access = GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
    flags |= _O_WRONLY;
  } else if (std::strcmp(mode, "r+b") == 0) {
    access = GENERIC_READ | GENERIC_WRITE;
    disposition = OPEN_EXISTING;
    flags |= _O_RDWR;
  } else {
    return nullptr;
  }
  HANDLE handle = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) _close(fd);  // closes the handle too
  return file;
}

}  // namespace fg::platform
