#include "visa/simbus/simbus_folder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "visa/simbus/simbus_socket.h"

namespace fg::simbus {

namespace {

constexpr char kSocketPrefix[] = "usbtmc-";
constexpr char kSocketSuffix[] = ".sock";
constexpr size_t kMaxSerialLength = 64;

bool ParseHex4(const std::string& text, uint16_t* value) {
  if (text.size() != 4) return false;
  unsigned v = 0;
  for (char c : text) {
    v <<= 4;
    if (c >= '0' && c <= '9') {
      v |= static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      v |= static_cast<unsigned>(c - 'a' + 10);
    } else {
      return false;
    }
  }
  *value = static_cast<uint16_t>(v);
  return true;
}

bool ParseSmallDecimal(const std::string& text, uint8_t* value) {
  if (text.empty() || text.size() > 3) return false;
  unsigned v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > 255) return false;
  *value = static_cast<uint8_t>(v);
  return true;
}

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace

bool CheckBusFolder(const std::string& folder, std::string* problem) {
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) {
    *problem =
        "The simulated bus folder " + folder + " cannot be read (" + std::strerror(errno) + ").";
    return false;
  }
  if (S_ISLNK(info.st_mode) || !S_ISDIR(info.st_mode)) {
    *problem = "The simulated bus folder " + folder + " is not a directory.";
    return false;
  }
  if (info.st_uid != ::geteuid()) {
    *problem = "The simulated bus folder " + folder + " belongs to another user (uid " +
               std::to_string(info.st_uid) + ").";
    return false;
  }
  if ((info.st_mode & 0077) != 0 || (info.st_mode & 0700) != 0700) {
    *problem = "The simulated bus folder " + folder + " has mode " + Octal(info.st_mode) +
               " instead of 0700.";
    return false;
  }
  return true;
}

bool IsValidSimSerial(const std::string& serial) {
  if (serial.empty() || serial.size() > kMaxSerialLength) return false;
  return std::all_of(serial.begin(), serial.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
  });
}

std::string DeviceSocketName(const SimDeviceIdentity& identity) {
  char ids[32];
  std::snprintf(ids, sizeof ids, "%04x-%04x-%u-", identity.vendorId, identity.productId,
                static_cast<unsigned>(identity.interfaceNumber));
  return kSocketPrefix + std::string(ids) + identity.serial + kSocketSuffix;
}

bool ParseDeviceSocketName(const std::string& fileName, SimDeviceIdentity* identity) {
  const std::string prefix = kSocketPrefix;
  const std::string suffix = kSocketSuffix;
  if (fileName.size() <= prefix.size() + suffix.size()) return false;
  if (fileName.compare(0, prefix.size(), prefix) != 0) return false;
  if (fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
  std::string body =
      fileName.substr(prefix.size(), fileName.size() - prefix.size() - suffix.size());
  // vvvv-pppp-i-serial; the serial may itself contain '-'.
  size_t first = body.find('-');
  size_t second = first == std::string::npos ? first : body.find('-', first + 1);
  size_t third = second == std::string::npos ? second : body.find('-', second + 1);
  if (third == std::string::npos) return false;
  SimDeviceIdentity parsed;
  if (!ParseHex4(body.substr(0, first), &parsed.vendorId) ||
      !ParseHex4(body.substr(first + 1, second - first - 1), &parsed.productId) ||
      !ParseSmallDecimal(body.substr(second + 1, third - second - 1), &parsed.interfaceNumber)) {
    return false;
  }
  parsed.serial = body.substr(third + 1);
  if (!IsValidSimSerial(parsed.serial)) return false;
  *identity = parsed;
  return true;
}

std::vector<BusEntry> ListBusDevices(const std::string& folder) {
  std::vector<std::pair<std::string, BusEntry>> found;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return {};
  while (dirent* item = ::readdir(dir)) {
    BusEntry entry;
    const std::string name = item->d_name;
    if (!ParseDeviceSocketName(name, &entry.identity)) continue;
    entry.socketPath = folder + "/" + name;
    struct stat info {};
    if (::lstat(entry.socketPath.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) continue;
    // A device that crashed leaves its socket behind; only a listening one is on the bus. The
    // device sees this probe as a connection that ends before it asks for a session. A stopped
    // device whose backlog is full (EAGAIN) is still there: listed, and busy when opened.
    int fd = ConnectUnix(entry.socketPath, Deadline::After(kProbeConnectMs));
    if (fd < 0) {
      if (errno == ECONNREFUSED || errno == ENOENT) continue;
    } else {
      ::close(fd);
    }
    found.emplace_back(name, std::move(entry));
  }
  ::closedir(dir);
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<BusEntry> entries;
  for (auto& item : found) entries.push_back(std::move(item.second));
  return entries;
}

std::string DefaultBusFolder() {
  std::string folder;
  const char* configured = std::getenv("FLINTGATE_SIMBUS");
  if (configured != nullptr && configured[0] != '\0') {
    folder = configured;
  } else {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    if (runtime != nullptr && runtime[0] == '/' && ::stat(runtime, &info) == 0 &&
        S_ISDIR(info.st_mode)) {
      folder = std::string(runtime) + "/flintgate-simbus";
    } else {
      const char* temp = std::getenv("TMPDIR");
      std::string base = (temp != nullptr && temp[0] == '/') ? temp : "/tmp";
      folder = base + "/flintgate-simbus-" + std::to_string(::geteuid());
    }
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  // Created private; an existing folder is left as it is and judged by CheckBusFolder.
  ::mkdir(folder.c_str(), 0700);
  return folder;
}

}  // namespace fg::simbus
