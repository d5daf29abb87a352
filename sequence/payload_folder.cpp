#include "sequence/payload_folder.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "platform/private_folder.h"
#include "platform/process_stamp.h"
#include "platform/termination.h"
#include "sequence/stop_signals.h"
#include "util/bounded_text.h"

namespace fg {

namespace {

constexpr size_t kPathCapacity = 4096;

// "flintgate-<id>-<start>-" and the six random characters of the private folder.
constexpr const char* kFolderPrefix = "flintgate-";
constexpr size_t kRandomCharacters = 6;

std::string FolderPrefix(const platform::ProcessStamp& stamp) {
  return kFolderPrefix + std::to_string(stamp.id) + "-" + std::to_string(stamp.start) + "-";
}

// A decimal number of `text` from `*at` to the next '-', which is passed.
bool ReadNumber(const std::string& text, size_t* at, uint64_t* value) {
  const size_t end = text.find('-', *at);
  if (end == std::string::npos || end == *at || end - *at > 19) return false;
  *value = 0;
  for (size_t i = *at; i < end; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    *value = *value * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  *at = end + 1;
  return true;
}

// The process that made the folder `name`; false for a name of another form.
bool FolderOwner(const std::string& name, platform::ProcessStamp* owner) {
  const std::string prefix = kFolderPrefix;
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  size_t at = prefix.size();
  if (!ReadNumber(name, &at, &owner->id) || !ReadNumber(name, &at, &owner->start)) return false;
  if (name.size() - at != kRandomCharacters) return false;
  for (size_t i = at; i < name.size(); ++i) {
    if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

constexpr int32_t kSlotCount = 64;  // runs at once; their paths are static storage

// A slot's word: a generation counter above a two-bit kind, so that an owner never releases a
// slot that a signal emptied and somebody else took since.
constexpr uint32_t kFree = 0;
constexpr uint32_t kWriting = 1;  // its paths are being written or removed: not to be read
constexpr uint32_t kReady = 2;
constexpr uint32_t KindOf(uint32_t word) { return word & 3u; }
constexpr uint32_t With(uint32_t word, uint32_t kind) { return (word & ~3u) | kind; }
constexpr uint32_t NextGeneration(uint32_t word) { return (word & ~3u) + 4u; }

// Plain static storage, constant-initialised: nothing is made on first use.
struct SignalSlot {
  std::atomic<uint32_t> word;
  char folder[kPathCapacity];
  char file[kPathCapacity];
};
SignalSlot g_slots[kSlotCount];
static_assert(std::atomic<uint32_t>::is_always_lock_free);

void EmptySlot(SignalSlot& slot) {
  if (slot.file[0] != '\0') platform::RemoveFileNow(slot.file);
  if (slot.folder[0] != '\0') platform::RemoveFolderNow(slot.folder);
  slot.file[0] = '\0';
  slot.folder[0] = '\0';
}

// The process's own folder.
struct ProcessFolder {
  std::mutex mutex;
  PayloadFolder folder;
  bool atexitInstalled = false;
};

ProcessFolder& Process() {
  static ProcessFolder* state = new ProcessFolder;  // never destroyed: atexit still needs it
  return *state;
}

void RemoveAtExit() { RemovePayloadFolder(); }

}  // namespace

int32_t RemoveAbandonedPayloadFolders() {
  const std::string temp = platform::TempFolderPath();
  const platform::ProcessStamp self = platform::CurrentProcessStamp();
  int32_t removed = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(temp, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    platform::ProcessStamp owner;
    if (!FolderOwner(name, &owner)) continue;
    if (owner.id == self.id && owner.start == self.start) continue;  // this process's own
    if (!platform::StampedProcessEnded(owner)) continue;
    if (platform::RemoveOwnFolder(temp, name, kPayloadFileName)) ++removed;
  }
  return removed;
}

bool CreatePayloadFolder(PayloadFolder* folder) {
  *folder = PayloadFolder{};
  static std::once_flag swept;
  std::call_once(swept, [] { RemoveAbandonedPayloadFolders(); });
  // The stop signals are held back on this thread while it writes a slot, so that their handler
  // never meets a slot of its own thread half-written. Other threads' handlers wait for it
  // briefly.
  platform::StopEventsBlocked blocked;
  for (int32_t i = 0; i < kSlotCount; ++i) {
    SignalSlot& slot = g_slots[i];
    uint32_t word = slot.word.load();
    if (KindOf(word) != kFree) continue;
    const uint32_t writing = With(NextGeneration(word), kWriting);
    if (!slot.word.compare_exchange_strong(word, writing)) continue;
    // Owner-only, under a name nobody could have prepared.
    std::string made;
    if (!platform::CreatePrivateTempFolder(FolderPrefix(platform::CurrentProcessStamp()).c_str(),
                                           &made)) {
      slot.word.store(With(writing, kFree));
      return false;
    }
    const std::string file = made + platform::PathSeparator() + kPayloadFileName;
    if (file.size() >= kPathCapacity) {
      platform::RemoveFolderNow(made.c_str());
      slot.word.store(With(writing, kFree));
      return false;
    }
    CopyBounded(slot.folder, made.c_str());
    CopyBounded(slot.file, file.c_str());
    folder->path = file;
    folder->slot = i;
    folder->tag = With(writing, kReady);
    slot.word.store(folder->tag);
    return true;
  }
  return false;
}

void RemovePayloadFolder(PayloadFolder* folder) {
  if (folder->slot >= 0 && folder->slot < kSlotCount) {
    platform::StopEventsBlocked blocked;
    SignalSlot& slot = g_slots[folder->slot];
    uint32_t expected = folder->tag;
    // Fails when a signal removed the folder already.
    if (slot.word.compare_exchange_strong(expected, With(folder->tag, kWriting))) {
      EmptySlot(slot);
      slot.word.store(With(folder->tag, kFree));
    }
  }
  *folder = PayloadFolder{};
}

const std::string& PayloadTempPath() {
  ProcessFolder& s = Process();
  std::lock_guard<std::mutex> lock(s.mutex);
  // A folder that a signal removed is made again.
  if (s.folder.slot >= 0 && g_slots[s.folder.slot].word.load() != s.folder.tag) {
    s.folder = PayloadFolder{};
  }
  if (!s.folder.path.empty() || !CreatePayloadFolder(&s.folder)) return s.folder.path;
  if (!s.atexitInstalled) s.atexitInstalled = std::atexit(RemoveAtExit) == 0;
  return s.folder.path;
}

void RemovePayloadFolder() {
  ProcessFolder& s = Process();
  std::lock_guard<std::mutex> lock(s.mutex);
  RemovePayloadFolder(&s.folder);
}

void RemovePayloadFolderFromSignal() {
  for (SignalSlot& slot : g_slots) {
    uint32_t word = slot.word.load();
    // Another thread is writing this slot; it has the signals blocked and finishes at once.
    for (int spins = 0; KindOf(word) == kWriting && spins < 1000000; ++spins) {
      word = slot.word.load();
    }
    if (KindOf(word) != kReady) continue;
    if (!slot.word.compare_exchange_strong(word, With(word, kWriting))) continue;
    EmptySlot(slot);
    slot.word.store(With(word, kFree));
  }
}

void RemovePayloadFolderOnTerminatingSignals() { InstallStopSignals(); }

}  // namespace fg
