// The private folder of this run of the program, holding the temporary payload file.
#pragma once
#include <string>

namespace fg {

inline constexpr const char* kPayloadFileName = "Flintgate_fw_temp204";

// Creates (once per process) an owner-only folder in the system's temporary directory and returns
// the payload path inside it; the folder is removed at exit. Empty when it cannot be created.
// After RemovePayloadFolder the next call creates a fresh folder.
const std::string& PayloadTempPath();

// Removes the payload file and the folder now (also done at exit).
void RemovePayloadFolder();

// The same, safe to call from a signal handler (no allocation, no locks): for front ends that
// clean up on SIGINT or SIGTERM before they end.
void RemovePayloadFolderFromSignal();

// Makes SIGINT, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break and the console's close,
// log-off and shut-down events) remove the payload file and folder before they end the program
// as they would have: an interrupted program must not leave its payload behind.
void RemovePayloadFolderOnTerminatingSignals();

}  // namespace fg
