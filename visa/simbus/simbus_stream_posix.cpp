// The host's end of a device connection over the device's Unix socket.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "visa/simbus/simbus_socket.h"
#include "visa/simbus/simbus_stream.h"

namespace fg::simbus {

namespace {

class SocketStream final : public BusStream {
 public:
  explicit SocketStream(int fd) : fd_(fd) {}
  ~SocketStream() override { ::close(fd_); }
  SocketStream(const SocketStream&) = delete;
  SocketStream& operator=(const SocketStream&) = delete;

  // Wakes a blocked poll, send or recv: they then see the stream's end.
  void Cancel() override { ::shutdown(fd_, SHUT_RDWR); }

  IoResult SendAll(const uint8_t* data, size_t size, const Deadline& deadline,
                   size_t* sent) override {
    return simbus::SendAll(fd_, data, size, deadline, sent);
  }
  IoResult ReceiveSome(uint8_t* buffer, size_t capacity, const Deadline& deadline,
                       size_t* received) override {
    return simbus::ReceiveSome(fd_, buffer, capacity, deadline, received);
  }

 private:
  const int fd_;
};

}  // namespace

StreamOpenResult OpenBusStream(const BusFolder& folder, const BusEntry& entry,
                               const Deadline& deadline, std::unique_ptr<BusStream>* stream) {
  const int fd = ConnectUnix(folder.EntryPath(entry.entryName), deadline);
  if (fd < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return StreamOpenResult::kBusy;
    if (errno == ETIMEDOUT) return StreamOpenResult::kTimeout;
    return StreamOpenResult::kGone;
  }
  *stream = std::make_unique<SocketStream>(fd);
  return StreamOpenResult::kOk;
}

}  // namespace fg::simbus
