#include "visa/simbus/simbus_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fg::simbus {

namespace {
// Waits for `events` on fd. kOk when ready, kTimeout, kClosed on hang-up without data.
IoResult WaitFor(int fd, short events, const Deadline& deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int rc = ::poll(&p, 1, deadline.RemainingMs());
    if (rc < 0) {
      if (errno == EINTR) continue;
      return IoResult::kError;
    }
    if (rc == 0) return IoResult::kTimeout;
    // A hang-up with data pending still lets the data be read first.
    if ((p.revents & events) != 0) return IoResult::kOk;
    if ((p.revents & (POLLHUP | POLLERR)) != 0) return IoResult::kClosed;
    return IoResult::kError;
  }
}
}  // namespace

IoResult SendAll(int fd, const uint8_t* data, size_t size, const Deadline& deadline, size_t* sent) {
  *sent = 0;
  while (*sent < size) {
    ssize_t n = ::send(fd, data + *sent, size - *sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      *sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      IoResult ready = WaitFor(fd, POLLOUT, deadline);
      if (ready != IoResult::kOk) return ready;
      continue;
    }
    if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) return IoResult::kClosed;
    return IoResult::kError;
  }
  return IoResult::kOk;
}

IoResult ReceiveSome(int fd, uint8_t* buffer, size_t capacity, const Deadline& deadline,
                     size_t* received) {
  *received = 0;
  for (;;) {
    ssize_t n = ::recv(fd, buffer, capacity, MSG_DONTWAIT);
    if (n > 0) {
      *received = static_cast<size_t>(n);
      return IoResult::kOk;
    }
    if (n == 0) return IoResult::kClosed;
    if (errno == EINTR) continue;
    if (errno == ECONNRESET) return IoResult::kClosed;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return IoResult::kError;
    IoResult ready = WaitFor(fd, POLLIN, deadline);
    if (ready != IoResult::kOk) return ready;
  }
}

bool FitsSocketAddress(const std::string& path) {
  return !path.empty() && path.size() < sizeof(sockaddr_un{}.sun_path);
}

int ConnectUnix(const std::string& path, const Deadline& deadline) {
  if (!FitsSocketAddress(path)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  auto fail = [fd](int error) {
    ::close(fd);
    errno = error;
    return -1;
  };
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  // A full backlog gives EAGAIN at once on Linux; EINPROGRESS is waited for against the deadline.
  if (rc != 0 && errno != EINPROGRESS) return fail(errno);
  if (rc != 0) {
    const IoResult ready = WaitFor(fd, POLLOUT, deadline);
    if (ready == IoResult::kTimeout) return fail(ETIMEDOUT);
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return fail(errno);
    if (error != 0) return fail(error);
    if (ready != IoResult::kOk) return fail(ECONNREFUSED);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return fail(errno);
  return fd;
}

}  // namespace fg::simbus
