#include "platform/private_folder.h"
#include "platform/user_only_access_win32.h"

#include <random>
#include <windows.h>

namespace fg::platform {

bool CreatePrivateTempFolder(const char* prefix, std::string* path) {
  char base[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof base, base);  // the user's own, ends with '\'
  if (length == 0 || length > MAX_PATH) return false;
  PSECURITY_DESCRIPTOR descriptor = NewUserOnlyDescriptor(true);
  if (descriptor == nullptr) return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;  // the system's cryptographic generator
  bool made = false;
  // CreateDirectory fails on an existing name, so a folder somebody prepared is never used.
  for (int attempt = 0; attempt < 100 && !made; ++attempt) {
    std::string candidate = std::string(base, length) + prefix;
    for (int i = 0; i < 6; ++i) candidate += kLetters[random() % (sizeof kLetters - 1)];
    if (CreateDirectoryA(candidate.c_str(), &attributes)) {
      *path = candidate;
      made = true;
    } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
      break;
    }
  }
  LocalFree(descriptor);
  return made;
}

char PathSeparator() { return '\\'; }

void RemoveFileNow(const char* path) { DeleteFileA(path); }

void RemoveFolderNow(const char* path) { RemoveDirectoryA(path); }

}  // namespace fg::platform
