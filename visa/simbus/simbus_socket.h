// Unix stream socket helpers of the simulated bus: whole-buffer sends, receives, connects.
// POSIX only (simbus_socket_posix.cpp).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "visa/simbus/simbus_deadline.h"

namespace fg::simbus {

// Sends all `size` bytes before the deadline. *sent receives the bytes that went out.
IoResult SendAll(int fd, const uint8_t* data, size_t size, const Deadline& deadline, size_t* sent);
// Receives what is available (at least one byte) before the deadline. kClosed at end of stream
// or when the peer reset the connection.
IoResult ReceiveSome(int fd, uint8_t* buffer, size_t capacity, const Deadline& deadline,
                     size_t* received);

// How long a probe (is anybody listening?) may take to connect.
inline constexpr uint32_t kProbeConnectMs = 200;

// True when `path` fits a Unix socket address.
bool FitsSocketAddress(const std::string& path);
// Connects to the socket at `path` without blocking past the deadline: a device that is stopped
// or wedged never holds its caller. Returns the descriptor (blocking mode, as the helpers above
// expect any), or -1 with errno set: ECONNREFUSED or ENOENT nobody listens there (the file is a
// leftover); EAGAIN the device's backlog is full, it is not accepting (busy); ETIMEDOUT.
int ConnectUnix(const std::string& path, const Deadline& deadline);

}  // namespace fg::simbus
