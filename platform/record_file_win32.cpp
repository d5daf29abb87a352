// Windows: a byte-range lock (LockFileEx) over the whole file stands for flock, and a write at
// the offset 0xFFFFFFFF'FFFFFFFF, which the system takes as "at the end of the file", for
// O_APPEND. Byte-range locks belong to the handle, so the process's own threads exclude each
// other too.
#include "platform/record_file.h"

#include <windows.h>

#include <cstdio>

namespace fg::platform {

namespace {

std::string Because(const char* what) {
  char text[160];
  std::snprintf(text, sizeof text, "%s (error %lu)", what,
                static_cast<unsigned long>(GetLastError()));
  return text;
}

HANDLE HandleOf(RecordFileHandle file) { return reinterpret_cast<HANDLE>(file.value); }

}  // namespace

bool OpenRecordFile(const char* path, RecordFileHandle* file, std::string* problem) {
  const HANDLE handle =
      CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *problem = Because("it cannot be opened for writing");
    return false;
  }
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    *problem = "it is not a plain file";
    return false;
  }
  file->value = reinterpret_cast<intptr_t>(handle);
  return true;
}

bool AppendRecord(RecordFileHandle file, const char* data, size_t size, std::string* problem) {
  const HANDLE handle = HandleOf(file);
  if (file.value == -1 || handle == INVALID_HANDLE_VALUE) {
    *problem = "it is not open";
    return false;
  }
  if (size > MAXDWORD) {
    *problem = "the line is too long";
    return false;
  }
  OVERLAPPED whole{};
  if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    *problem = Because("it cannot be locked");
    return false;
  }
  OVERLAPPED atEnd{};
  atEnd.Offset = 0xFFFFFFFF;
  atEnd.OffsetHigh = 0xFFFFFFFF;
  DWORD written = 0;
  bool ok = WriteFile(handle, data, static_cast<DWORD>(size), &written, &atEnd) != 0 &&
            written == size;
  if (!ok) *problem = Because("it cannot be written");
  if (ok && !FlushFileBuffers(handle)) {
    *problem = Because("it cannot be flushed to the disk");
    ok = false;
  }
  OVERLAPPED unlock{};
  UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &unlock);
  return ok;
}

void CloseRecordFile(RecordFileHandle* file) {
  if (file->value != -1) CloseHandle(HandleOf(*file));
  file->value = -1;
}

}  // namespace fg::platform
