#include <windows.h>
// clang-format off
#include <aclapi.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "platform/user_only_access_win32.h"
#include "visa/simbus/simbus_folder.h"
#include "visa/simbus/simbus_pipe_entry_win32.h"

namespace fg::simbus {

namespace {

constexpr char kPipePrefix[] = "\\\\.\\pipe\\flintgate-simbus-";
constexpr size_t kPipeDigits = 32;
// An entry holds one pipe name and a line feed; anything longer is not an entry.
constexpr DWORD kMaxEntrySize = 128;

std::string ErrorText(DWORD error) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, text, sizeof text, nullptr);
  std::string message(text, n);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(error) : message;
}

}  // namespace

std::unique_ptr<BusFolder> BusFolder::Open(const std::string& path, std::string* problem) {
  const std::string prefix = "The simulated bus folder " + path;
  // No delete sharing: while this handle is open the folder cannot be renamed, removed or
  // replaced under its name, so everything later goes to the folder checked here.
  HANDLE handle = CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *problem = prefix + " cannot be read (" + ErrorText(GetLastError()) + ").";
    return nullptr;
  }
  std::unique_ptr<BusFolder> folder(new BusFolder(path, handle));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) {
    *problem = prefix + " cannot be read (" + ErrorText(GetLastError()) + ").";
    return nullptr;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    *problem = prefix + " is not a directory (it is a link).";
    return nullptr;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    *problem = prefix + " is not a directory.";
    return nullptr;
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD read = GetSecurityInfo(handle, SE_FILE_OBJECT,
                                     OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                     nullptr, nullptr, nullptr, nullptr, &descriptor);
  if (read != ERROR_SUCCESS) {
    *problem = prefix + " cannot be read (its access list: " + ErrorText(read) + ").";
    return nullptr;
  }
  const std::string owner = platform::ForeignOwner(descriptor);
  const std::string others = platform::OthersAdmitted(descriptor);
  LocalFree(descriptor);
  if (!owner.empty()) {
    *problem = prefix + " belongs to another user (" + owner + ").";
    return nullptr;
  }
  if (!others.empty()) {
    *problem = prefix + " lets others in: its access list admits " + others + ".";
    return nullptr;
  }
  return folder;
}

BusFolder::~BusFolder() { CloseHandle(handle_); }

std::string BusFolder::EntryPath(const std::string& name) const { return path_ + "\\" + name; }

bool CheckBusFolder(const std::string& folder, std::string* problem) {
  return BusFolder::Open(folder, problem) != nullptr;
}

std::string BusFolderAdvice(const std::string& folder) {
  return "Make it a folder of your own whose access list admits only you (as " + folder +
         " is made when it is missing), or set FLINTGATE_SIMBUS to such a folder.";
}

std::string NewDevicePipeName() {
  std::random_device random;  // the system's cryptographic generator
  std::string name = kPipePrefix;
  for (size_t i = 0; i < kPipeDigits; ++i) name += "0123456789abcdef"[random() % 16];
  return name;
}

bool IsDevicePipeName(const std::string& name) {
  const std::string prefix = kPipePrefix;
  if (name.size() != prefix.size() + kPipeDigits || name.compare(0, prefix.size(), prefix) != 0) {
    return false;
  }
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool ReadPipeEntry(const BusFolder& folder, const std::string& name, std::string* pipeName) {
  // Every sharing mode: the device holds its entry open for writing and delete-on-close.
  HANDLE file = CreateFileA(folder.EntryPath(name).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  char text[kMaxEntrySize + 1] = {};
  DWORD size = 0;
  const bool plain = GetFileInformationByHandle(file, &info) &&
                     (info.dwFileAttributes &
                      (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
                     ReadFile(file, text, kMaxEntrySize + 1, &size, nullptr) &&
                     size <= kMaxEntrySize;
  CloseHandle(file);
  if (!plain) return false;
  std::string content(text, size);
  if (!content.empty() && content.back() == '\n') content.pop_back();
  if (!IsDevicePipeName(content)) return false;
  *pipeName = content;
  return true;
}

PipeState ProbePipe(const std::string& pipeName) {
  if (WaitNamedPipeA(pipeName.c_str(), 1)) return PipeState::kListening;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
      error == ERROR_BAD_PATHNAME) {
    return PipeState::kGone;
  }
  // ERROR_SEM_TIMEOUT: it is there, but no instance came free within the probe.
  return PipeState::kBusy;
}

std::vector<BusEntry> ListBusDevices(const BusFolder& folder) {
  std::vector<BusEntry> entries;
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA(folder.EntryPath("usbtmc-*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      continue;
    }
    BusEntry entry;
    entry.entryName = found.cFileName;
    if (!ParseDeviceEntryName(entry.entryName, &entry.identity)) continue;
    // An entry whose pipe is gone belongs to a device that is ending: not on the bus any more.
    std::string pipeName;
    if (!ReadPipeEntry(folder, entry.entryName, &pipeName)) continue;
    if (ProbePipe(pipeName) == PipeState::kGone) continue;
    entries.push_back(std::move(entry));
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(entries.begin(), entries.end(),
            [](const BusEntry& a, const BusEntry& b) { return a.entryName < b.entryName; });
  return entries;
}

std::string DefaultBusFolder() {
  std::string folder;
  const char* configured = std::getenv("FLINTGATE_SIMBUS");
  if (configured != nullptr && configured[0] != '\0') {
    folder = configured;
  } else {
    char temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof temp, temp);  // the user's own, ends with '\'
    folder = std::string(temp, length <= MAX_PATH ? length : 0) + "flintgate-simbus";
  }
  // "C:\bus\" is "C:\bus"; "C:\" stays.
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  // Created private; an existing folder is left as it is and judged by CheckBusFolder.
  if (PSECURITY_DESCRIPTOR descriptor = platform::NewUserOnlyDescriptor(true)) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    CreateDirectoryA(folder.c_str(), &attributes);
    LocalFree(descriptor);
  }
  return folder;
}

}  // namespace fg::simbus
