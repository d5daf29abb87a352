// The private folders that hold the temporary payload file of a run.
#pragma once
#include <cstdint>
#include <string>

namespace fg {

inline constexpr const char* kPayloadFileName = "Flintgate_fw_temp204";

// One payload folder: an owner-only folder in the system's temporary directory and the payload
// path inside it. While it exists it is also listed for RemovePayloadFolderFromSignal. Its name,
// "flintgate-<process id>-<process start>-<six random characters>", tells which process made it,
// so that a later run can remove the folders of runs that were killed (and could not).
struct PayloadFolder {
  std::string path;   // the payload path; empty when there is no folder
  int32_t slot = -1;  // its entry in the signal-safe list
  uint32_t tag = 0;
};

// Creates a fresh folder (for this user alone: mode 0700, on Windows an access list with the
// user only; under a name nobody could have prepared). False when it cannot be created, or when
// as many folders as the list holds (64) exist already. The first call of a process removes the
// abandoned folders first (RemoveAbandonedPayloadFolders).
bool CreatePayloadFolder(PayloadFolder* folder);

// Removes the payload folders in the temporary directory whose process has ended without
// removing them (killed, say): folders named as above by another process that has certainly
// ended, this user's own, folders themselves and not links, holding nothing but the payload
// file. A live run's folder, a folder of another user and a folder named otherwise stay. Returns
// how many were removed.
int32_t RemoveAbandonedPayloadFolders();
// Removes the payload file and the folder, unless a signal removed them first. Idempotent.
void RemovePayloadFolder(PayloadFolder* folder);

// The process's own folder (the window's and the single-instrument CLI's), made on first use
// and removed at exit. Empty when it cannot be created. After RemovePayloadFolder() the next
// call creates a fresh folder.
const std::string& PayloadTempPath();
// Removes the process's own folder now.
void RemovePayloadFolder();

// Removes every payload file and folder that exists now. Async-signal-safe: it reads only
// preformatted paths from a fixed table of lock-free slots and calls nothing but unlink and
// rmdir (DeleteFile and RemoveDirectory on Windows); it allocates nothing, on first use included.
void RemovePayloadFolderFromSignal();

// Installs the stop signals of sequence/stop_signals.h: INT, TERM and HUP remove the payload
// folders before they end the program, or wait for the image in progress.
void RemovePayloadFolderOnTerminatingSignals();

}  // namespace fg
