// Windows test support: folders with a chosen access list, and files written whole, for the bus
// folder and device tests.
#pragma once
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <string>

#include "platform/user_only_access_win32.h"

namespace fg::testing {

// Creates `path` with an access list that gives this user full control, followed by the access
// entries `moreEntries` in SDDL, e.g. "(A;OICI;FR;;;WD)" to let everybody read.
inline bool MakeFolder(const std::string& path, const std::string& moreEntries = "") {
  std::string user;
  if (!platform::CurrentUserSid(&user)) return false;
  const std::string sddl = "D:P(A;OICI;FA;;;" + user + ")" + moreEntries;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const bool made = CreateDirectoryA(path.c_str(), &attributes) != FALSE;
  LocalFree(descriptor);
  return made;
}

inline bool WriteWholeFile(const std::string& path, const std::string& content) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written,
                            nullptr) &&
                  written == content.size();
  return CloseHandle(file) && ok;
}

inline bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace fg::testing
