// Windows: a byte-range lock (LockFileEx) on one byte far past the holder's text, so that the
// text stays readable by others while the lock is held. Byte-range locks belong to the handle:
// two handles of one process exclude each other, and the system releases them when the process
// ends. The folder lies in the user's own temporary folder, closed to other users.
#include "platform/instrument_lock.h"
#include "platform/user_only_access_win32.h"

#include <windows.h>

#include <cstdio>

namespace fg::platform {

namespace {

constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;  // the locked byte: never part of the text
// ProbeLock holds the lock for an instant; a TakeLock that meets it then tries again.
constexpr int kTakeAttempts = 4;
constexpr DWORD kTakeRetryMs = 15;

bool ValidName(const std::string& name) {
  if (name.empty() || name[0] == '.' || name.size() > 200) return false;
  for (char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return true;
}

std::string ErrorText(DWORD error) {
  char text[32];
  std::snprintf(text, sizeof text, "error %lu", static_cast<unsigned long>(error));
  return text;
}

bool IsReparsePoint(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The folder, made with an access list of this user alone when missing. Empty with *problem
// set when it cannot be used.
std::string ReadyFolder(const std::string& given, std::string* problem) {
  const std::string folder = given.empty() ? DefaultLockFolder() : given;
  PSECURITY_DESCRIPTOR descriptor = NewUserOnlyDescriptor(true);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const BOOL made = CreateDirectoryA(folder.c_str(), descriptor != nullptr ? &attributes : nullptr);
  const DWORD error = GetLastError();
  if (descriptor != nullptr) LocalFree(descriptor);
  if (!made && error != ERROR_ALREADY_EXISTS) {
    *problem =
        "The instrument lock folder " + folder + " cannot be made (" + ErrorText(error) + ").";
    return std::string();
  }
  const DWORD kind = GetFileAttributesA(folder.c_str());
  if (kind == INVALID_FILE_ATTRIBUTES || (kind & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      IsReparsePoint(kind)) {
    *problem = "The instrument lock folder " + folder + " is not a folder, or is a link.";
    return std::string();
  }
  return folder;
}

// Opens the lock file, never through a link or junction. INVALID_HANDLE_VALUE with *problem
// (or the last error ERROR_FILE_NOT_FOUND when it does not exist and `create` is false).
HANDLE OpenLockFile(const std::string& path, const std::string& name, bool create,
                    std::string* problem) {
  const HANDLE file = CreateFileA(
      path.c_str(), create ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (create || (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)) {
      *problem =
          "The instrument lock file " + name + " cannot be opened (" + ErrorText(error) + ").";
    }
    SetLastError(error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : error);
    return INVALID_HANDLE_VALUE;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info) || IsReparsePoint(info.dwFileAttributes) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *problem = "The instrument lock file " + name + " is not a plain file.";
    CloseHandle(file);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

std::string ReadText(HANDLE file) {
  char buffer[kLockTextSize];
  OVERLAPPED at{};
  DWORD n = 0;
  if (!ReadFile(file, buffer, sizeof buffer, &n, &at)) return std::string();
  return std::string(buffer, n);
}

bool LockByte(HANDLE file) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

void UnlockByte(HANDLE file) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  UnlockFileEx(file, 0, 1, 0, &at);
}

}  // namespace

std::string DefaultLockFolder() {
  char base[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof base, base);  // the user's own, ends with '\'
  if (length == 0 || length > MAX_PATH) return "flintgate-locks";
  return std::string(base, length) + "flintgate-locks";
}

int32_t TakeLock(const std::string& folder, const std::string& name, const std::string& text,
                 LockHandle* handle, std::string* holderText, std::string* problem) {
  handle->value = -1;
  if (!ValidName(name)) {
    *problem = "\"" + name + "\" cannot name an instrument lock.";
    return kLockUnavailable;
  }
  const std::string dir = ReadyFolder(folder, problem);
  if (dir.empty()) return kLockUnavailable;
  const HANDLE file = OpenLockFile(dir + "\\" + name, name, true, problem);
  if (file == INVALID_HANDLE_VALUE) return kLockUnavailable;
  bool locked = false;
  for (int attempt = 0; attempt < kTakeAttempts && !locked; ++attempt) {
    if (attempt > 0) Sleep(kTakeRetryMs);
    locked = LockByte(file);
  }
  if (!locked) {
    const DWORD error = GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
      *holderText = ReadText(file);
      CloseHandle(file);
      return kLockHeld;
    }
    *problem = "The instrument lock file " + name + " cannot be locked (" + ErrorText(error) + ").";
    CloseHandle(file);
    return kLockUnavailable;
  }
  // Ours now: the text of an earlier holder goes.
  OVERLAPPED at{};
  DWORD written = 0;
  const bool ok = SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file) &&
                  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, &at) &&
                  written == text.size();
  if (!ok) {
    *problem = "The instrument lock file " + name + " cannot be written (" +
               ErrorText(GetLastError()) + ").";
    UnlockByte(file);
    CloseHandle(file);
    return kLockUnavailable;
  }
  handle->value = reinterpret_cast<intptr_t>(file);
  return kLockTaken;
}

int32_t ProbeLock(const std::string& folder, const std::string& name, std::string* holderText,
                  std::string* problem) {
  if (!ValidName(name)) {
    *problem = "\"" + name + "\" cannot name an instrument lock.";
    return kLockUnavailable;
  }
  const std::string dir = ReadyFolder(folder, problem);
  if (dir.empty()) return kLockUnavailable;
  const HANDLE file = OpenLockFile(dir + "\\" + name, name, false, problem);
  if (file == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? kLockFree : kLockUnavailable;
  }
  int32_t result = kLockFree;
  if (LockByte(file)) {
    UnlockByte(file);
  } else {
    *holderText = ReadText(file);
    result = kLockHeld;
  }
  CloseHandle(file);
  return result;
}

void ReleaseLock(LockHandle* handle) {
  if (handle->value == -1) return;
  const HANDLE file = reinterpret_cast<HANDLE>(handle->value);
  UnlockByte(file);
  CloseHandle(file);
  handle->value = -1;
}

int64_t CurrentProcessId() { return static_cast<int64_t>(GetCurrentProcessId()); }

std::string CurrentProgramName() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path, length);
  const size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  if (name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".exe") == 0) {
    name.resize(name.size() - 4);
  }
  return name;
}

}  // namespace fg::platform
