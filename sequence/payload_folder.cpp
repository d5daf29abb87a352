#include "sequence/payload_folder.h"

#include <cstdlib>
#include <mutex>

#include "platform/private_folder.h"
#include "platform/termination.h"
#include "util/bounded_text.h"

namespace fg {

namespace {

// Fixed buffers so that the signal-safe removal needs nothing but removing a file and a folder.
constexpr size_t kPathCapacity = 4096;

struct PayloadFolder {
  std::mutex mutex;
  std::string path;             // the payload path, empty while no folder exists
  char folderText[kPathCapacity] = {};
  char fileText[kPathCapacity] = {};
  bool atexitInstalled = false;
};

PayloadFolder& State() {
  static PayloadFolder* state = new PayloadFolder;  // never destroyed: atexit still needs it
  return *state;
}

void RemoveAtExit() { RemovePayloadFolder(); }

}  // namespace

const std::string& PayloadTempPath() {
  PayloadFolder& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.path.empty()) return s.path;

  std::string folder;
  if (!platform::CreatePrivateTempFolder("flintgate-", &folder)) return s.path;
  std::string file = folder + platform::PathSeparator() + kPayloadFileName;
  if (file.size() >= kPathCapacity) {
    platform::RemoveFolderNow(folder.c_str());
    return s.path;
  }

  CopyBounded(s.folderText, folder.c_str());
  s.path = file;
  CopyBounded(s.fileText, s.path.c_str());
  if (!s.atexitInstalled) {
    s.atexitInstalled = std::atexit(RemoveAtExit) == 0;
  }
  return s.path;
}

void RemovePayloadFolder() {
  PayloadFolder& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  RemovePayloadFolderFromSignal();
  s.path.clear();
}

void RemovePayloadFolderFromSignal() {
  PayloadFolder& s = State();
  if (s.fileText[0] != '\0') platform::RemoveFileNow(s.fileText);
  if (s.folderText[0] != '\0') platform::RemoveFolderNow(s.folderText);
  s.fileText[0] = '\0';
  s.folderText[0] = '\0';
}

void RemovePayloadFolderOnTerminatingSignals() {
  platform::RunOnTermination(RemovePayloadFolderFromSignal);
}

}  // namespace fg
