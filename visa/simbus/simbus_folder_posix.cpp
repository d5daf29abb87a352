#include "visa/simbus/simbus_folder.h"

#include <dirent.h>
#include <fcntl.h>
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

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

constexpr int kMaxLinksFollowed = 16;

bool OwnedByRootOrUs(const struct stat& info) {
  return info.st_uid == 0 || info.st_uid == ::geteuid();
}

// A directory the bus path goes through: nobody but root or us can rename what is in it.
bool SafeAncestor(const struct stat& info) {
  if (!OwnedByRootOrUs(info)) return false;
  return (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (info.st_mode & S_ISVTX) != 0;
}

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    start = end + 1;
  }
  return parts;
}

std::string Joined(const std::vector<std::string>& parts, size_t count) {
  std::string path;
  for (size_t i = 0; i < count; ++i) path += "/" + parts[i];
  return path.empty() ? "/" : path;
}

// Walks `path` from the root, one openat(O_NOFOLLOW) per component, checking every directory on
// the way; the last one is returned open (or -1 with *problem set). `shown` is the path as the
// caller gave it, for the messages.
int WalkToFolder(std::string path, const std::string& shown, std::string* problem) {
  const std::string prefix = "The simulated bus folder " + shown;
  if (path.empty() || path[0] != '/') {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) {
      *problem = prefix + " cannot be read (" + std::strerror(errno) + ").";
      return -1;
    }
    path = std::string(cwd) + "/" + path;
  }
  for (int links = 0; links <= kMaxLinksFollowed; ++links) {
    const std::vector<std::string> parts = Components(path);
    int fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
      *problem = prefix + " cannot be read (" + std::strerror(errno) + ").";
      if (fd >= 0) ::close(fd);
      return -1;
    }
    bool restarted = false;
    for (size_t i = 0; i < parts.size() && !restarted; ++i) {
      if (!SafeAncestor(info)) {
        *problem = prefix + " lies in " + Joined(parts, i) +
                   ", which belongs to another user or others may write to.";
        ::close(fd);
        return -1;
      }
      const bool last = i + 1 == parts.size();
      const int next =
          ::openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (next >= 0) {
        ::close(fd);
        fd = next;
        if (::fstat(fd, &info) != 0) {
          *problem = prefix + " cannot be read (" + std::strerror(errno) + ").";
          ::close(fd);
          return -1;
        }
        continue;
      }
      const int error = errno;
      struct stat entry {};
      const bool isLink = (error == ELOOP || error == ENOTDIR) &&
                          ::fstatat(fd, parts[i].c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISLNK(entry.st_mode);
      if (!isLink || last) {
        *problem = isLink || error == ENOTDIR
                       ? prefix + " is not a directory" + (isLink ? " (it is a link)." : ".")
                       : prefix + " cannot be read (" + std::strerror(error) + ").";
        ::close(fd);
        return -1;
      }
      // A link on the way, in a directory checked above: followed when it is root's or ours.
      char target[4096];
      const ssize_t n = ::readlinkat(fd, parts[i].c_str(), target, sizeof target - 1);
      ::close(fd);
      if (!OwnedByRootOrUs(entry) || n <= 0) {
        *problem = prefix + " goes through the link " + Joined(parts, i + 1) +
                   ", which belongs to another user.";
        return -1;
      }
      target[n] = '\0';
      std::string rest;
      for (size_t j = i + 1; j < parts.size(); ++j) rest += "/" + parts[j];
      path = (target[0] == '/' ? std::string(target) : Joined(parts, i) + "/" + target) + rest;
      restarted = true;
    }
    if (restarted) continue;
    return fd;
  }
  *problem = prefix + " goes through too many links.";
  return -1;
}

}  // namespace

std::unique_ptr<BusFolder> BusFolder::Open(const std::string& path, std::string* problem) {
  const int fd = WalkToFolder(path, path, problem);
  if (fd < 0) return nullptr;
  std::unique_ptr<BusFolder> folder(new BusFolder(path, fd));
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    *problem =
        "The simulated bus folder " + path + " cannot be read (" + std::strerror(errno) + ").";
    return nullptr;
  }
  if (info.st_uid != ::geteuid()) {
    *problem = "The simulated bus folder " + path + " belongs to another user (uid " +
               std::to_string(info.st_uid) + ").";
    return nullptr;
  }
  if ((info.st_mode & 0077) != 0 || (info.st_mode & 0700) != 0700) {
    *problem = "The simulated bus folder " + path + " has mode " + Octal(info.st_mode) +
               " instead of 0700.";
    return nullptr;
  }
  return folder;
}

BusFolder::~BusFolder() { ::close(handle_); }

std::string BusFolder::EntryPath(const std::string& name) const {
  const std::string path = "/proc/self/fd/" + std::to_string(handle_) + "/" + name;
  return FitsSocketAddress(path) ? path : std::string();
}

bool CheckBusFolder(const std::string& folder, std::string* problem) {
  return BusFolder::Open(folder, problem) != nullptr;
}

std::string BusFolderAdvice(const std::string& folder) {
  constexpr const char* kElsewhere =
      "or set FLINTGATE_SIMBUS to a folder of your own that only you can enter (mode 0700), in a "
      "folder others cannot write to.";
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) {
    return "Create it (mkdir -p -m 700 " + folder + ") " + kElsewhere;
  }
  if (S_ISLNK(info.st_mode) || !S_ISDIR(info.st_mode)) {
    return folder + " is no folder of its own: remove it " + kElsewhere;
  }
  if (info.st_uid != ::geteuid()) return std::string("It belongs to another user: ") + kElsewhere;
  return "Make it a folder of your own that only you can enter (chmod 700 " + folder +
         "), in a folder others cannot write to, or set FLINTGATE_SIMBUS to such a folder.";
}

std::vector<BusEntry> ListBusDevices(const BusFolder& folder) {
  std::vector<BusEntry> entries;
  // The listing reads its own descriptor of the very folder that was checked.
  const int listing = ::openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return entries;
  DIR* dir = ::fdopendir(listing);
  if (dir == nullptr) {
    ::close(listing);
    return entries;
  }
  while (dirent* item = ::readdir(dir)) {
    BusEntry entry;
    entry.entryName = item->d_name;
    // A device with a long serial is named by its marker; its socket has a short name.
    if (ParseDeviceMarkerName(entry.entryName, &entry.identity)) {
      entry.entryName = DeviceEntryName(entry.identity);
    } else if (!ParseDeviceEntryName(entry.entryName, &entry.identity)) {
      continue;
    }
    struct stat info {};
    if (::fstatat(folder.fd(), entry.entryName.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISSOCK(info.st_mode)) {
      continue;
    }
    // A device that crashed leaves its socket behind; only a listening one is on the bus. The
    // device sees this probe as a connection that ends before it asks for a session. A stopped
    // device whose backlog is full (EAGAIN) is still there: listed, and busy when opened.
    int fd = ConnectUnix(folder.EntryPath(entry.entryName), Deadline::After(kProbeConnectMs));
    if (fd < 0) {
      if (errno == ECONNREFUSED || errno == ENOENT || errno == ENAMETOOLONG) continue;
    } else {
      ::close(fd);
    }
    entries.push_back(std::move(entry));
  }
  ::closedir(dir);
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
