// One update per instrument: the lock an update run holds on its instrument from before its first
// byte to its end, across processes. It is keyed by the instrument's serial number, which the
// writer firmware keeps, and not by its resource name, which changes with the writer-mode
// switch. A device search holds it too, for the instant it asks an instrument who it is, so that
// no search talks into a running update.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/instrument_identity.h"
#include "link/run_env.h"
#include "platform/instrument_lock.h"

namespace fg {

// Results of LockInstrument and ProbeInstrument.
inline constexpr int32_t kInstrumentLocked = 0;      // LockInstrument: taken
inline constexpr int32_t kInstrumentFree = 0;        // ProbeInstrument: no update holds it
inline constexpr int32_t kInstrumentBusy = 1;        // another update holds it: *holder says who
inline constexpr int32_t kInstrumentLockFailed = 2;  // no lock can be made: *problem says why

// A search asks an instrument for at most this long (the VISA open timeout and two exchanges
// of IdentifyResource); an update that meets a search waits that long for it before it gives up.
inline constexpr uint32_t kSearchHoldMaxMs = 6000;
inline constexpr uint32_t kLockRetryMs = 50;

enum class LockPurpose : int32_t {
  kUpdate = 0,  // an update run: others stay away until it ended
  kSearch = 1,  // a search asking who the instrument is: others wait the instant it lasts
};

inline constexpr size_t kHolderProgramSize = 64;

// Who holds an instrument's lock, as its lock file says.
struct LockHolder {
  int64_t pid;                          // 0 when the file does not say
  char program[kHolderProgramSize];     // "flintgate-cli"; empty when the file does not say
  char model[kIdentityFieldSize];       // the model the holder updates it with; may be empty
  LockPurpose purpose;
};

// A lock taken by LockInstrument; released by UnlockInstrument or at the end of the process.
struct InstrumentLock {
  platform::LockHandle handle;
};

// The key of the instrument a resource name reaches: the serial number of a USB name, letter
// case ignored as VISA ignores it; for other names their canonical form. Empty for a name that
// is no resource name.
std::string InstrumentKeyOfResource(const char* resourceName);

// Whether two names reach one instrument: aliases as VISA takes them (letter case, "USB" for
// "USB0", "::INSTR" and interface 0 left out, ids in decimal), and the names of one instrument
// in its two modes (one serial number, one lock). Names that are no resource names compare as
// text, letter case ignored.
bool SameInstrument(const char* a, const char* b);

// Takes the lock of the instrument `key` for `purpose`, naming this process and `model` (may be
// null) as its holder, in the env's lock folder. A search's hold, and a holder that has not yet
// written its name, are waited for up to kSearchHoldMaxMs on the env's wait clock; an update's
// hold is not waited for.
int32_t LockInstrument(const RunEnv* env, const std::string& key, const char* model,
                       LockPurpose purpose, InstrumentLock* lock, LockHolder* holder,
                       std::string* problem);
// Releases a lock LockInstrument took; releasing twice does nothing.
void UnlockInstrument(InstrumentLock* lock);

// Whether an update holds the instrument `key`, without taking its lock and without waiting:
// kInstrumentFree when nobody (or only a search) holds it, kInstrumentBusy with *holder, or
// kInstrumentLockFailed.
int32_t ProbeInstrument(const RunEnv* env, const std::string& key, LockHolder* holder,
                        std::string* problem);

// "flintgate-cli (process 4242)", or "another process" when the lock file names nobody.
std::string HolderDescription(const LockHolder& holder);

// The text of a lock file, and back (fields it lacks stay empty or 0).
std::string FormatLockText(int64_t pid, const std::string& program, const char* model,
                           LockPurpose purpose);
void ParseLockText(const std::string& text, LockHolder* holder);

// Holds an instrument's lock for as long as it lives.
class ScopedInstrumentLock {
 public:
  ScopedInstrumentLock() { lock_.handle.value = -1; }
  ~ScopedInstrumentLock() { UnlockInstrument(&lock_); }
  ScopedInstrumentLock(const ScopedInstrumentLock&) = delete;
  ScopedInstrumentLock& operator=(const ScopedInstrumentLock&) = delete;
  InstrumentLock* get() { return &lock_; }

 private:
  InstrumentLock lock_;
};

}  // namespace fg
