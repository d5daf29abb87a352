// The private folder of this run of the program, holding the temporary payload file.
#pragma once
#include <string>

namespace fg {

inline constexpr const char* kPayloadFileName = "Flintgate_fw_temp204";

// Creates (once per process) an owner-only folder in the system's temporary directory and returns
// the payload path inside it; the folder is removed at exit. Empty when it cannot be created.
const std::string& PayloadTempPath();

// Removes the payload file and the folder now (also done at exit).
void RemovePayloadFolder();

}  // namespace fg
