// The bus folder of the simulated bus and the device sockets in it. Each attached device is one
// Unix socket named after its identity (visa/simbus/simbus_device_name.h), so the host learns
// what is on the bus from the folder listing alone. POSIX only: simbus_folder_posix.cpp.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "visa/simbus/simbus_device.h"
#include "visa/simbus/simbus_device_name.h"  // the names of the folder's entries

namespace fg::simbus {

// The bus folder, opened once and checked on its descriptor; every later step (listing,
// connecting, binding, removing) works relative to that descriptor, so the folder that was
// checked is the one used, whatever happens to its path afterwards.
//
// Safe means: the path names a real directory (its last component no link; "x/." is "x"), it
// belongs to this user and nobody else may enter it (mode 0700); and every directory the path
// goes through belongs to root or this user and is writable by nobody else, unless it is sticky
// (as /tmp is). A link on the way is followed only when it belongs to root or this user.
class BusFolder {
 public:
  // Null with *problem set (a sentence naming the folder) when the folder is not safe.
  static std::unique_ptr<BusFolder> Open(const std::string& path, std::string* problem);
  ~BusFolder();
  BusFolder(const BusFolder&) = delete;
  BusFolder& operator=(const BusFolder&) = delete;

  const std::string& path() const { return path_; }  // as given, for messages
  int fd() const { return fd_; }
  // A path that reaches `name` in the folder through the descriptor (under /proc/self/fd),
  // for bind and connect; empty when it does not fit a socket address (108 bytes).
  std::string EntryPath(const std::string& name) const;

 private:
  BusFolder(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  std::string path_;
  int fd_;
};

// True when the folder is safe to use (BusFolder::Open succeeds). Otherwise *problem says what
// is wrong, in a sentence.
bool CheckBusFolder(const std::string& folder, std::string* problem);

struct BusEntry {
  SimDeviceIdentity identity;
  std::string socketName;  // the socket's name in the folder
};

// The devices attached to the folder now, sorted by socket name. Leftover sockets of devices
// that are gone (nobody listening) are skipped.
std::vector<BusEntry> ListBusDevices(const BusFolder& folder);

}  // namespace fg::simbus
