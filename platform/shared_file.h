// Opening the payload file so that the clean-up on termination can remove it while it is open.
#pragma once
#include <cstdio>

namespace fg::platform {

// std::fopen with `mode` "rb", "wb" or "r+b". On Windows the file is opened with delete sharing:
// without it a file open in one thread cannot be removed from another (the console control
// handler), and an interrupted update would leave its payload behind. Null when it cannot be
// opened (or for another mode on Windows).
std::FILE* OpenSharedFile(const char* path, const char* mode);

}  // namespace fg::platform
