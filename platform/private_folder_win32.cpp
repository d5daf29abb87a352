#include "platform/private_folder.h"
#include "platform/user_only_access_win32.h"

#include <random>
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
// clang-format on

namespace fg::platform {

namespace {

// One piece of this process's token (TokenUser or TokenOwner) in `buffer`; its SID, or null.
PSID TokenSid(TOKEN_INFORMATION_CLASS piece, std::string* buffer) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  DWORD size = 0;
  GetTokenInformation(token, piece, nullptr, 0, &size);
  buffer->assign(size, '\0');
  const bool ok = size != 0 && GetTokenInformation(token, piece, buffer->data(), size, &size);
  CloseHandle(token);
  if (!ok) return nullptr;
  return piece == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer->data())->User.Sid
                            : reinterpret_cast<TOKEN_OWNER*>(buffer->data())->Owner;
}

// The owner of what `handle` opened is this user, or the owner this user's new files get (the
// Administrators group for an elevated administrator).
bool OwnedByThisUser(HANDLE handle) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  std::string user, defaultOwner;
  const PSID userSid = TokenSid(TokenUser, &user);
  const PSID ownerSid = TokenSid(TokenOwner, &defaultOwner);
  const bool own = owner != nullptr && ((userSid != nullptr && EqualSid(owner, userSid)) ||
                                        (ownerSid != nullptr && EqualSid(owner, ownerSid)));
  LocalFree(descriptor);
  return own;
}

}  // namespace

std::string TempFolderPath() {
  char base[MAX_PATH + 1] = {};
  DWORD length = GetTempPathA(sizeof base, base);  // the user's own, ends with '\'
  if (length == 0 || length > MAX_PATH) return std::string();
  while (length > 3 && base[length - 1] == '\\') --length;
  return std::string(base, length);
}

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

// The folder is opened as itself (a reparse point is not followed) and stays open, shared for
// deletion, while it is checked and removed, so that the name cannot change what it means.
bool RemoveOwnFolder(const std::string& parent, const std::string& name, const char* fileName) {
  const std::string path = parent + "\\" + name;
  const HANDLE folder = CreateFileA(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool plainFolder = GetFileInformationByHandle(folder, &info) &&
                           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                           (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
  bool removed = false;
  if (plainFolder && OwnedByThisUser(folder)) {
    // DeleteFile removes a link itself, never what it points to.
    DeleteFileA((path + "\\" + fileName).c_str());
    removed = RemoveDirectoryA(path.c_str()) != 0;
  }
  CloseHandle(folder);
  return removed;
}

void RemoveFileNow(const char* path) { DeleteFileA(path); }

void RemoveFolderNow(const char* path) { RemoveDirectoryA(path); }

}  // namespace fg::platform
