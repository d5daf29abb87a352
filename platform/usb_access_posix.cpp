#include "platform/usb_access.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fg::platform {

namespace {

// Where udev reads rules, the folders of the administrator and of the running system first.
constexpr const char* kUdevRuleFolders[] = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                            "/usr/local/lib/udev/rules.d", "/usr/lib/udev/rules.d",
                                            "/lib/udev/rules.d"};

std::string UserName(uid_t uid) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return "uid " + std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->gr_name;
  }
  return std::to_string(gid);
}

std::vector<std::string> GroupNames() {
  const gid_t primary = getegid();
  std::vector<std::string> names{GroupName(primary)};
  const int count = getgroups(0, nullptr);
  if (count <= 0) return names;
  std::vector<gid_t> gids(static_cast<size_t>(count));
  const int got = getgroups(count, gids.data());
  for (int i = 0; i < got; ++i) {
    const gid_t gid = gids[static_cast<size_t>(i)];
    if (gid != primary) names.push_back(GroupName(gid));
  }
  return names;
}

bool IsFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The ACTIVE_UID line of logind's seat record; -1 when there is none.
long ActiveUid(const std::string& seatFile) {
  std::FILE* file = std::fopen(seatFile.c_str(), "r");
  if (file == nullptr) return -1;
  long uid = -1;
  char line[256];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (std::strncmp(line, "ACTIVE_UID=", 11) == 0) {
      char* end = nullptr;
      const long value = std::strtol(line + 11, &end, 10);
      if (end != line + 11 && value >= 0) uid = value;
    }
  }
  std::fclose(file);
  return uid;
}

}  // namespace

std::vector<std::string> UdevRuleFolders(const std::string& installFolder) {
  std::vector<std::string> folders(std::begin(kUdevRuleFolders), std::end(kUdevRuleFolders));
  if (!installFolder.empty() &&
      std::find(folders.begin(), folders.end(), installFolder) == folders.end()) {
    folders.push_back(installFolder);
  }
  return folders;
}

UsbAccessFacts ReadUsbAccessFacts(const std::string& ruleName,
                                  const std::vector<std::string>& ruleFolders,
                                  const std::string& seatFile) {
  UsbAccessFacts facts;
  facts.applies = true;
  const uid_t uid = geteuid();
  facts.root = uid == 0;
  facts.user = UserName(uid);
  facts.groups = GroupNames();
  facts.ruleFolders = ruleFolders;
  for (const std::string& folder : ruleFolders) {
    const std::string path = folder + "/" + ruleName;
    if (IsFile(path)) {
      facts.rule = path;
      break;
    }
  }
  const long active = ActiveUid(seatFile);
  if (active >= 0) {
    facts.seatUser = UserName(static_cast<uid_t>(active));
    facts.activeOnSeat = static_cast<uid_t>(active) == uid;
  }
  return facts;
}

}  // namespace fg::platform
