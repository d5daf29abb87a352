#include "sequence/payload_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
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
  std::atomic<size_t> slots{0};  // slot folders 0 .. slots - 1 may exist inside folderText
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

// "<folder>/<slot>" (and "/<file name>" when `file`) into `out`, without allocating: the signal
// handler builds these too. False when it does not fit.
bool SlotText(const char* folder, size_t slot, bool file, char* out, size_t capacity) {
  char digits[24];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + slot % 10);
    slot /= 10;
  } while (slot != 0);
  size_t at = BoundedLength(folder, capacity);
  if (at + 1 + n + 1 > capacity) return false;
  std::memcpy(out, folder, at);
  out[at++] = '/';
  while (n > 0) out[at++] = digits[--n];
  out[at] = '\0';
  if (!file) return true;
  const size_t name = std::strlen(kPayloadFileName);
  if (at + 1 + name + 1 > capacity) return false;
  out[at++] = '/';
  std::memcpy(out + at, kPayloadFileName, name + 1);
  return true;
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

std::string PayloadSlotPath(size_t slot) {
  if (slot >= kMaxPayloadSlots || PayloadTempPath().empty()) return {};
  PayloadFolder& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.folderText[0] == '\0') return {};
  char folder[kPathCapacity];
  char file[kPathCapacity];
  if (!SlotText(s.folderText, slot, false, folder, sizeof folder) ||
      !SlotText(s.folderText, slot, true, file, sizeof file)) {
    return {};
  }
  if (slot >= s.slots) s.slots = slot + 1;  // before the folder exists, for the signal handler
  if (mkdir(folder, 0700) != 0 && errno != EEXIST) return {};
  return file;
}

void RemovePayloadFolder() {
  PayloadFolder& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  RemovePayloadFolderFromSignal();
  s.path.clear();
}

void RemovePayloadFolderFromSignal() {
  PayloadFolder& s = State();
  char slotText[kPathCapacity];
  for (size_t slot = 0, slots = s.slots; slot < slots && s.folderText[0] != '\0'; ++slot) {
    if (SlotText(s.folderText, slot, true, slotText, sizeof slotText)) unlink(slotText);
    if (SlotText(s.folderText, slot, false, slotText, sizeof slotText)) rmdir(slotText);
  }
  s.slots = 0;
  if (s.fileText[0] != '\0') unlink(s.fileText);
  if (s.folderText[0] != '\0') rmdir(s.folderText);
  s.fileText[0] = '\0';
  s.folderText[0] = '\0';
}

void RemovePayloadFolderOnTerminatingSignals() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, OnTerminatingSignal);
}

}  // namespace fg
