#include <windows.h>
// clang-format off
#include <aclapi.h>
// clang-format on

#include <cstdio>
#include <filesystem>
#include <utility>

#include "platform/regular_file.h"
#include "platform/user_only_access_win32.h"
#include "sim/state_folder.h"

namespace fg::sim {

namespace {

std::string ErrorNumber(DWORD error) { return "error " + std::to_string(error); }

// Creates one folder that only this user may enter; an existing one is left as it is. The
// system's error number, ERROR_SUCCESS when made.
DWORD CreateUserOnlyFolder(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = platform::NewUserOnlyDescriptor(true);
  if (descriptor == nullptr) return ERROR_OUTOFMEMORY;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const DWORD result = CreateDirectoryA(path.c_str(), &attributes) ? ERROR_SUCCESS : GetLastError();
  LocalFree(descriptor);
  return result;
}

}  // namespace

StateFolder::StateFolder(StateFolder&& other) noexcept
    : path_(std::move(other.path_)), handle_(std::exchange(other.handle_, nullptr)) {}

StateFolder& StateFolder::operator=(StateFolder&& other) noexcept {
  if (this != &other) {
    Close();
    path_ = std::move(other.path_);
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

StateFolder::~StateFolder() { Close(); }

void StateFolder::Close() {
  if (handle_ != nullptr) CloseHandle(handle_);
  handle_ = nullptr;
}

bool StateFolder::IsOpen() const { return handle_ != nullptr; }

bool StateFolder::Open(const std::string& folder, std::string* error) {
  // The folders above it (the --state folder) are made private too when this creates them.
  std::vector<std::filesystem::path> missing;
  std::error_code ignored;
  for (std::filesystem::path p = std::filesystem::path(folder).parent_path();
       !p.empty() && p != p.root_path() && !std::filesystem::exists(p, ignored);
       p = p.parent_path()) {
    missing.push_back(p);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) CreateUserOnlyFolder(it->string());
  const DWORD created = CreateUserOnlyFolder(folder);
  if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS) {
    *error = "cannot create " + folder + ": " + ErrorNumber(created);
    return false;
  }
  // No delete sharing: the folder cannot be renamed or replaced while the store uses it.
  HANDLE handle = CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY | READ_CONTROL | WRITE_DAC,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = "cannot open " + folder + ": " + ErrorNumber(GetLastError());
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    *error = folder + " is not a folder (a link or a file)";
    CloseHandle(handle);
    return false;
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    *error = "cannot read the access list of " + folder;
    CloseHandle(handle);
    return false;
  }
  const bool foreign = !platform::ForeignOwner(descriptor).empty();
  const bool open = !platform::OthersAdmitted(descriptor).empty();
  LocalFree(descriptor);
  if (foreign) {
    *error = folder + " belongs to another user";
    CloseHandle(handle);
    return false;
  }
  // A folder made by an earlier version may be open to others: the flash is ours alone.
  if (open) {
    PSECURITY_DESCRIPTOR only = platform::NewUserOnlyDescriptor(true);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    const DWORD set =
        only != nullptr && GetSecurityDescriptorDacl(only, &present, &dacl, &defaulted)
            ? SetSecurityInfo(handle, SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, dacl, nullptr)
            : ERROR_OUTOFMEMORY;
    if (only != nullptr) LocalFree(only);
    if (set != ERROR_SUCCESS) {
      *error = "cannot make " + folder + " private: " + ErrorNumber(set);
      CloseHandle(handle);
      return false;
    }
  }
  Close();
  path_ = folder;
  handle_ = handle;
  return true;
}

bool StateFolder::Read(const std::string& name, uint64_t limit, bool* exists,
                       std::vector<uint8_t>* out, std::string* error) const {
  const std::string path = path_ + "\\" + name;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  *exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!*exists) return true;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    *error = path + " is a link, not a state file";
    return false;
  }
  int64_t size = 0;
  const platform::FileHandle file = platform::OpenRegularFileForReading(path.c_str(), &size);
  if (file == platform::kNoFile) {
    *error = path + " is not a file";
    return false;
  }
  bool ok = static_cast<uint64_t>(size) <= limit;
  if (!ok) *error = path + " is larger than its partition";
  out->clear();
  uint8_t buffer[65536];
  while (ok) {
    const int64_t n = platform::ReadAt(file, buffer, sizeof buffer, static_cast<int64_t>(out->size()));
    if (n == 0) break;
    if (n < 0 || out->size() + static_cast<size_t>(n) > limit) {
      *error = "cannot read " + path;
      ok = false;
      break;
    }
    out->insert(out->end(), buffer, buffer + n);
  }
  platform::CloseFile(file);
  return ok;
}

// DeleteFile and MoveFileEx work on the names themselves: a link planted under either name is
// removed or replaced, never followed.
void StateFolder::Write(const std::string& name, const void* data, size_t size) const {
  if (handle_ == nullptr) return;
  const std::string path = path_ + "\\" + name;
  const std::string temporary = path + ".tmp";
  DeleteFileA(temporary.c_str());
  const platform::FileHandle file = platform::CreatePrivateFileForWriting(temporary.c_str());
  if (file == platform::kNoFile) {
    std::fprintf(stderr, "flintgate-sim: cannot write %s: %s\n", temporary.c_str(),
                 ErrorNumber(GetLastError()).c_str());
    return;
  }
  const bool written = platform::WriteAll(file, data, size);
  if (platform::CloseWrittenFile(file) && written &&
      MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return;
  }
  DeleteFileA(temporary.c_str());
  std::fprintf(stderr, "flintgate-sim: cannot write %s\n", path.c_str());
}

}  // namespace fg::sim
