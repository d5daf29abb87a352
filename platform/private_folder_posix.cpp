#include "platform/private_folder.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace fg::platform {

std::string TempFolderPath() {
  std::error_code ec;
  std::string base = std::filesystem::temp_directory_path(ec).string();
  if (ec || base.empty()) base = "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base;
}

bool CreatePrivateTempFolder(const char* prefix, std::string* path) {
  std::string pattern = TempFolderPath() + "/" + prefix + "XXXXXX";
  // mkdtemp creates the folder with mode 0700 under a name nobody could have prepared.
  if (mkdtemp(pattern.data()) == nullptr) return false;
  *path = pattern;
  return true;
}

char PathSeparator() { return '/'; }

// Through descriptors: the folder is looked at without following a link, opened as what was
// looked at, and emptied and removed by name within its parent.
bool RemoveOwnFolder(const std::string& parent, const std::string& name, const char* fileName) {
  const int dir = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  bool removed = false;
  struct stat seen {};
  if (fstatat(dir, name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(seen.st_mode) &&
      seen.st_uid == geteuid()) {
    const int folder = openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat opened {};
    if (folder >= 0 && fstat(folder, &opened) == 0 && opened.st_dev == seen.st_dev &&
        opened.st_ino == seen.st_ino) {
      unlinkat(folder, fileName, 0);
      removed = unlinkat(dir, name.c_str(), AT_REMOVEDIR) == 0;
    }
    if (folder >= 0) close(folder);
  }
  close(dir);
  return removed;
}

void RemoveFileNow(const char* path) { unlink(path); }

void RemoveFolderNow(const char* path) { rmdir(path); }

}  // namespace fg::platform
