#include "link/instrument_lock.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/bounded_text.h"
#include "util/sha256.h"
#include "visa/resource_name.h"

namespace fg {

namespace {

constexpr const char* kLockTextHeader = "flintgate instrument lock";
constexpr size_t kNameKeyMax = 120;  // longer keys are shortened and made unique by a digest

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// A file name for the key: letters, digits and '-' kept, every other byte as "_XX".
std::string LockFileName(const std::string& key) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string name;
  for (char c : key) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '-') {
      name += c;
    } else {
      name += '_';
      name += kHex[u >> 4];
      name += kHex[u & 15];
    }
  }
  if (name.size() > kNameKeyMax) {
    Sha256 hash;
    Sha256Start(&hash);
    Sha256Feed(&hash, key.data(), key.size());
    name = name.substr(0, kNameKeyMax / 2) + "-" + Sha256Hex(Sha256Finish(&hash)).substr(0, 32);
  }
  return "instrument-" + name + ".lock";
}

const char* PurposeWord(LockPurpose purpose) {
  return purpose == LockPurpose::kSearch ? "search" : "update";
}

std::string FolderOf(const RunEnv* env) {
  return env != nullptr && env->lockFolder != nullptr ? env->lockFolder : std::string();
}

// A holder whose lock file does not say yet who it is has just taken it.
bool Anonymous(const LockHolder& holder) { return holder.pid == 0; }

}  // namespace

std::string InstrumentKeyOfResource(const char* resourceName) {
  visa::ResourceName parsed;
  if (visa::ParseResourceName(resourceName, &parsed) != visa::VI_SUCCESS) return std::string();
  if (parsed.interfaceType == visa::VI_INTF_USB) return "USB-SERIAL-" + Upper(parsed.serial);
  return Upper(parsed.canonical);
}

bool SameInstrument(const char* a, const char* b) {
  const std::string keyA = InstrumentKeyOfResource(a);
  const std::string keyB = InstrumentKeyOfResource(b);
  if (!keyA.empty() && !keyB.empty()) return keyA == keyB;
  return Upper(a != nullptr ? a : "") == Upper(b != nullptr ? b : "");
}

std::string FormatLockText(int64_t pid, const std::string& program, const char* model,
                           LockPurpose purpose) {
  std::string text = std::string(kLockTextHeader) + "\n";
  text += "pid=" + std::to_string(pid) + "\n";
  text += "program=" + program + "\n";
  text += std::string("purpose=") + PurposeWord(purpose) + "\n";
  text += std::string("model=") + (model != nullptr ? model : "") + "\n";
  return text;
}

void ParseLockText(const std::string& text, LockHolder* holder) {
  *holder = LockHolder{};
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // a line still being written counts for nothing
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    if (key == "pid") {
      holder->pid = std::strtoll(value.c_str(), nullptr, 10);
    } else if (key == "program") {
      CopyBounded(holder->program, value.c_str());
    } else if (key == "model") {
      CopyBounded(holder->model, value.c_str());
    } else if (key == "purpose") {
      holder->purpose = value == "search" ? LockPurpose::kSearch : LockPurpose::kUpdate;
    }
  }
  // What the file names is shown to the user: printable characters only.
  for (char* field : {holder->program, holder->model}) {
    for (char* c = field; *c != '\0'; ++c) {
      if (static_cast<unsigned char>(*c) < 0x20 || static_cast<unsigned char>(*c) >= 0x7F) *c = '?';
    }
  }
}

std::string HolderDescription(const LockHolder& holder) {
  if (Anonymous(holder)) return "another process";
  const std::string program = holder.program[0] != '\0' ? holder.program : "a program";
  return program + " (process " + std::to_string(holder.pid) + ")";
}

int32_t LockInstrument(const RunEnv* env, const std::string& key, const char* model,
                       LockPurpose purpose, InstrumentLock* lock, LockHolder* holder,
                       std::string* problem) {
  const std::string folder = FolderOf(env);
  const std::string name = LockFileName(key);
  const std::string text = FormatLockText(platform::CurrentProcessId(),
                                          platform::CurrentProgramName(), model, purpose);
  const WaitClock& clock = WaitClockOf(env);
  const int64_t giveUpAt = clock.nowMilliseconds(clock.owner) + kSearchHoldMaxMs;
  for (;;) {
    std::string holderText;
    const int32_t rc = platform::TakeLock(folder, name, text, &lock->handle, &holderText, problem);
    if (rc == platform::kLockTaken) return kInstrumentLocked;
    if (rc != platform::kLockHeld) return kInstrumentLockFailed;
    ParseLockText(holderText, holder);
    const bool passing = holder->purpose == LockPurpose::kSearch || Anonymous(*holder);
    if (!passing || clock.nowMilliseconds(clock.owner) >= giveUpAt) return kInstrumentBusy;
    clock.sleepMilliseconds(clock.owner, kLockRetryMs);
  }
}

void UnlockInstrument(InstrumentLock* lock) { platform::ReleaseLock(&lock->handle); }

int32_t ProbeInstrument(const RunEnv* env, const std::string& key, LockHolder* holder,
                        std::string* problem) {
  std::string holderText;
  const int32_t rc = platform::ProbeLock(FolderOf(env), LockFileName(key), &holderText, problem);
  if (rc == platform::kLockFree) return kInstrumentFree;
  if (rc != platform::kLockHeld) return kInstrumentLockFailed;
  ParseLockText(holderText, holder);
  // A search lets go within moments; only an update makes the instrument busy.
  return holder->purpose == LockPurpose::kSearch ? kInstrumentFree : kInstrumentBusy;
}

}  // namespace fg
