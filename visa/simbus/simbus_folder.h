// The bus folder of the simulated bus and the device entries in it. Each attached device is one
// entry named after its identity (visa/simbus/simbus_device_name.h), so the host learns what is
// on the bus from the folder listing alone. On POSIX the entry is the device's Unix socket
// (simbus_folder_posix.cpp); on Windows it is a file that holds the name of the device's named
// pipe and lives as long as the device (simbus_folder_win32.cpp).
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "visa/simbus/simbus_device.h"
#include "visa/simbus/simbus_device_name.h"  // the names of the folder's entries

namespace fg::simbus {

// The bus folder, opened once and checked on what was opened; every later step (listing,
// connecting, attaching, removing) goes to that same folder, whatever happens to its path.
//
// Safe on POSIX means: the path names a real directory (its last component no link; "x/." is
// "x"), it belongs to this user and nobody else may enter it (mode 0700); and every directory the
// path goes through belongs to root or this user and is writable by nobody else, unless it is
// sticky (as /tmp is). A link on the way is followed only when it belongs to root or this user.
// Everything works relative to the folder's descriptor.
//
// Safe on Windows means: the path names a real folder (no link or junction, no reparse point),
// it belongs to this user (or to the system or the administrators, who may do anything anyway),
// and its access list admits nobody else. The folder stays open without delete sharing, so it
// cannot be renamed or replaced while it is in use.
class BusFolder {
 public:
  // Null with *problem set (a sentence naming the folder) when the folder is not safe.
  static std::unique_ptr<BusFolder> Open(const std::string& path, std::string* problem);
  ~BusFolder();
  BusFolder(const BusFolder&) = delete;
  BusFolder& operator=(const BusFolder&) = delete;

  const std::string& path() const { return path_; }  // as given, for messages
  // A path that reaches the entry `name` in the folder: on POSIX through the descriptor (under
  // /proc/self/fd), for bind and connect, and empty when it does not fit a socket address (108
  // bytes); on Windows the folder's path and the name.
  std::string EntryPath(const std::string& name) const;
#ifndef _WIN32
  int fd() const { return handle_; }
#endif

 private:
#ifdef _WIN32
  using Handle = void*;  // the folder's HANDLE
#else
  using Handle = int;  // the folder's descriptor
#endif
  BusFolder(std::string path, Handle handle) : path_(std::move(path)), handle_(handle) {}
  std::string path_;
  Handle handle_;
};

// True when the folder is safe to use (BusFolder::Open succeeds). Otherwise *problem says what
// is wrong, in a sentence.
bool CheckBusFolder(const std::string& folder, std::string* problem);

// What to do about an unsafe bus folder, for `doctor`: `folder` is the default one. The advice
// follows what is there: a missing folder is to be made, a file or a link to be removed, a folder
// of another user to be replaced, and only a folder of one's own with a wider mode to be closed.
std::string BusFolderAdvice(const std::string& folder);

struct BusEntry {
  SimDeviceIdentity identity;
  std::string entryName;  // the entry's name in the folder
};

// The devices attached to the folder now, sorted by entry name. Leftover entries of devices that
// are gone (nobody listening) are skipped; a device that is there but accepts no connection
// (stopped, every connection taken) is listed, and busy when opened.
std::vector<BusEntry> ListBusDevices(const BusFolder& folder);

}  // namespace fg::simbus
