// Local (Unix domain) stream sockets, which the simulated bus runs on.
#pragma once
#include <string>

namespace fg::platform {

// True when this system can make local stream sockets. POSIX systems always can; Windows can
// from Windows 10 version 1803 on (winsock's AF_UNIX). Otherwise *why says what is missing.
bool LocalSocketsAvailable(std::string* why);

}  // namespace fg::platform
