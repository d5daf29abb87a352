// Locks that hold across processes, one file each in a folder of this user's own, so that two
// programs never drive one instrument at once. The operating system releases a lock when its
// holder ends, however it ends; the file itself stays, and its text names the latest holder.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace fg::platform {

inline constexpr int32_t kLockTaken = 0;
inline constexpr int32_t kLockFree = 0;         // ProbeLock: nobody holds it
inline constexpr int32_t kLockHeld = 1;         // another holder has it (another process, or
                                                // another handle of this one)
inline constexpr int32_t kLockUnavailable = 2;  // the folder or the file cannot be made or used

// The holder's text is read up to this many bytes.
inline constexpr size_t kLockTextSize = 512;

// An open lock: a file descriptor, or a Windows file handle. -1 when none.
struct LockHandle {
  intptr_t value = -1;
};

// The folder used when none is given. POSIX: "$XDG_RUNTIME_DIR/flintgate-locks" when that is a
// folder, else "/tmp/flintgate-locks-<uid>" (never $TMPDIR: it may differ from one process to
// the next, and two updates that looked in different folders would both take the instrument).
// Windows: "<the user's temporary folder>\flintgate-locks".
std::string DefaultLockFolder();

// Takes the lock `name` (a file name of letters, digits, '-', '_' and '.', not beginning with
// '.') in `folder` (empty: the default one) without waiting, and writes `text` into its file.
// The folder is made private to this user (0700; on Windows an access list of the user alone)
// when it does not exist; an existing one must be a real folder of this user's, closed to
// others, and the lock file a plain file of this user's: links are never followed.
//   kLockTaken        *handle holds the lock until ReleaseLock or the end of the process.
//   kLockHeld         *holderText: the holder's text (empty while it has not written it yet).
//   kLockUnavailable  *problem says why, in a sentence.
int32_t TakeLock(const std::string& folder, const std::string& name, const std::string& text,
                 LockHandle* handle, std::string* holderText, std::string* problem);

// Tells whether the lock is held, without holding it (on Windows for an instant at most; a
// TakeLock at that instant tries again). kLockFree, kLockHeld (with *holderText), or
// kLockUnavailable (with *problem). A lock file that does not exist is free; none is made.
int32_t ProbeLock(const std::string& folder, const std::string& name, std::string* holderText,
                  std::string* problem);

// Releases a lock taken with TakeLock; a handle of -1 is ignored. The handle becomes -1.
void ReleaseLock(LockHandle* handle);

// This process: its id, and its program's name without folder or ".exe" ("flintgate-cli").
int64_t CurrentProcessId();
std::string CurrentProgramName();

}  // namespace fg::platform
