#include "platform/local_socket.h"

// clang-format off
#include <winsock2.h>
#include <afunix.h>
// clang-format on

namespace fg::platform {

bool LocalSocketsAvailable(std::string* why) {
  WSADATA data{};
  const int started = WSAStartup(MAKEWORD(2, 2), &data);
  if (started != 0) {
    *why = "the Windows socket layer does not start (error " + std::to_string(started) + ")";
    return false;
  }
  const SOCKET probe = ::socket(AF_UNIX, SOCK_STREAM, 0);
  const int error = probe == INVALID_SOCKET ? WSAGetLastError() : 0;
  if (probe != INVALID_SOCKET) closesocket(probe);
  WSACleanup();
  if (error != 0) {
    *why = "this system refuses AF_UNIX sockets (winsock error " + std::to_string(error) +
           "); they need Windows 10 version 1803 or later";
    return false;
  }
  return true;
}

}  // namespace fg::platform
