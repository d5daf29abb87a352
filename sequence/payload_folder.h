// The private folder of this run of the program, holding the temporary payload file.
#pragma once
#include <cstddef>
#include <string>

namespace fg {

inline constexpr const char* kPayloadFileName = "Flintgate_fw_temp204";

// Creates (once per process) an owner-only folder in the system's temporary directory and returns
// the payload path inside it; the folder is removed at exit. Empty when it cannot be created.
// After RemovePayloadFolder the next call creates a fresh folder.
const std::string& PayloadTempPath();

// The payload path of one of several updates that run at once: a folder of its own per slot
// (0, 1, ...) inside this run's folder, created on first use. Empty when it cannot be created or
// slot is kMaxPayloadSlots or more. Removed with the folder.
inline constexpr size_t kMaxPayloadSlots = 1024;
std::string PayloadSlotPath(size_t slot);

// Removes the payload file and the folder now (also done at exit).
void RemovePayloadFolder();

// The same, safe to call from a signal handler (no allocation, no locks): for front ends that
// clean up on SIGINT or SIGTERM before they end.
void RemovePayloadFolderFromSignal();

// Makes SIGINT, SIGTERM and SIGHUP remove the payload file and folder before they end the
// program as they would have: an interrupted program must not leave its payload behind.
void RemovePayloadFolderOnTerminatingSignals();

}  // namespace fg
