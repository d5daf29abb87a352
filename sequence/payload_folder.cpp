#include "sequence/payload_folder.h"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "util/bounded_text.h"

namespace fg {

namespace {

// Fixed buffers so that the signal-safe removal needs nothing but unlink and rmdir.
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

void OnTerminatingSignal(int signal) {
  RemovePayloadFolderFromSignal();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

std::string TempDirectory() {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec || dir.empty()) return "/tmp";
  return dir.string();
}

}  // namespace

const std::string& PayloadTempPath() {
  PayloadFolder& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.path.empty()) return s.path;

  std::string pattern = TempDirectory() + "/flintgate-XXXXXX";
  std::string file = pattern + "/" + kPayloadFileName;
  if (file.size() >= kPathCapacity) return s.path;
  // mkdtemp creates the folder with mode 0700 under a name nobody could have prepared.
  if (mkdtemp(pattern.data()) == nullptr) return s.path;

  CopyBounded(s.folderText, pattern.c_str());
  s.path = pattern + "/" + kPayloadFileName;
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
  if (s.fileText[0] != '\0') unlink(s.fileText);
  if (s.folderText[0] != '\0') rmdir(s.folderText);
  s.fileText[0] = '\0';
  s.folderText[0] = '\0';
}

void RemovePayloadFolderOnTerminatingSignals() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, OnTerminatingSignal);
}

}  // namespace fg
