#include "platform/private_folder.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace fg::platform {

bool CreatePrivateTempFolder(const char* prefix, std::string* path) {
  std::error_code ec;
  std::string base = std::filesystem::temp_directory_path(ec).string();
  if (ec || base.empty()) base = "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  std::string pattern = base + "/" + prefix + "XXXXXX";
  // mkdtemp creates the folder with mode 0700 under a name nobody could have prepared.
  if (mkdtemp(pattern.data()) == nullptr) return false;
  *path = pattern;
  return true;
}

char PathSeparator() { return '/'; }

void RemoveFileNow(const char* path) { unlink(path); }

void RemoveFolderNow(const char* path) { rmdir(path); }

}  // namespace fg::platform
