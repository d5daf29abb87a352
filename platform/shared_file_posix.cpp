#include "platform/shared_file.h"

namespace fg::platform {

// POSIX removes an open file's name at once; nothing to share.
std::FILE* OpenSharedFile(const char* path, const char* mode) { return std::fopen(path, mode); }

}  // namespace fg::platform
