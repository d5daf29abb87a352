#include "platform/regular_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>

#include "platform/user_only_access_win32.h"

namespace fg::platform {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// True for an ordinary file on a disk: no folder, no reparse point (a symbolic link or junction
// opened as itself), no device or pipe.
bool IsPlainDiskFile(HANDLE handle, BY_HANDLE_FILE_INFORMATION* info) {
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, info)) {
    return false;
  }
  return (info->dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

}  // namespace

FileHandle OpenRegularFileForReading(const char* path, int64_t* size) {
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself instead of what it points to, so that it is
  // refused below. A device or a pipe never blocks CreateFile; it is refused by its type.
  HANDLE handle = CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return kNoFile;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!IsPlainDiskFile(handle, &info)) {
    CloseHandle(handle);
    return kNoFile;
  }
  *size = static_cast<int64_t>((uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
  return handle;
}

std::string WhyNotRegularFile(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return "there is no such file";
    if (error == ERROR_ACCESS_DENIED) return "permission denied";
    return "Windows error " + std::to_string(error);
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return "it is a symbolic link or junction; Flintgate opens only the file itself: choose the "
           "file it points to";
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "it is a folder";
  HANDLE handle = CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) return "permission denied";
    return "Windows error " + std::to_string(error);
  }
  CloseHandle(handle);
  return "it is a device or pipe, not a plain file";
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) CloseHandle(file);
}

std::FILE* OpenReadStream(FileHandle file) {
  if (file == kNoFile) return nullptr;
  HANDLE copy = nullptr;
  const HANDLE self = GetCurrentProcess();
  if (!DuplicateHandle(self, file, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) return nullptr;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(copy);
    return nullptr;
  }
  std::FILE* stream = _fdopen(fd, "rb");
  if (stream == nullptr) {
    _close(fd);  // closes the handle too
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
  // An OVERLAPPED offset on a handle opened for synchronous use reads at that offset (and
  // leaves the file position after what was read, which nobody here relies on).
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  DWORD got = 0;
  const DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
  if (ReadFile(file, buffer, want, &got, &at)) return got;
  return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

FileHandle CreatePrivateFileForWriting(const char* path) {
  PSECURITY_DESCRIPTOR descriptor = NewUserOnlyDescriptor(false);
  if (descriptor == nullptr) return kNoFile;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  // OPEN_ALWAYS with FILE_FLAG_OPEN_REPARSE_POINT: a link in the file's place is opened as
  // itself and refused, never written through; an existing plain file keeps its own access list
  // and is cut to nothing, as O_TRUNC does.
  HANDLE handle = CreateFileA(path, GENERIC_WRITE, kShareAll, &attributes, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  LocalFree(descriptor);
  if (handle == INVALID_HANDLE_VALUE) return kNoFile;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!IsPlainDiskFile(handle, &info) || !SetEndOfFile(handle)) {
    CloseHandle(handle);
    return kNoFile;
  }
  return handle;
}

bool WriteAll(FileHandle file, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  for (size_t done = 0; done < size;) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
    DWORD wrote = 0;
    if (!WriteFile(file, bytes + done, want, &wrote, nullptr) || wrote == 0) return false;
    done += wrote;
  }
  return true;
}

bool CloseWrittenFile(FileHandle file) { return CloseHandle(file) != 0; }

}  // namespace fg::platform
