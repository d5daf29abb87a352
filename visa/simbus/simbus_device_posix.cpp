// The device end of the simulated bus on POSIX: a listening Unix socket in the bus folder and one
// thread that serves every host connection to it through the device protocol
// (simbus_device_protocol.h).
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <list>
#include <thread>
#include <vector>

#include "visa/simbus/simbus_device.h"
#include "visa/simbus/simbus_device_name.h"
#include "visa/simbus/simbus_device_protocol.h"
#include "visa/simbus/simbus_folder.h"
#include "visa/simbus/simbus_socket.h"

namespace fg::simbus {

namespace {

constexpr int kListenBacklog = 16;

class SocketConnection final : public HostConnection {
 public:
  explicit SocketConnection(int fd) : fd(fd) {}
  bool SendFrame(const std::vector<uint8_t>& frame) override {
    size_t sent = 0;
    return SendAll(fd, frame.data(), frame.size(), Deadline::After(kDeviceSendTimeoutMs), &sent) ==
           IoResult::kOk;
  }
  int fd;
};

class SimBusDeviceImpl final : public SimBusDevice {
 public:
  SimBusDeviceImpl(std::unique_ptr<BusFolder> folder, std::string name,
                   const SimDeviceIdentity& identity, SimDeviceHandler* handler, int listenFd,
                   int wakeRead, int wakeWrite)
      : folder_(std::move(folder)),
        name_(std::move(name)),
        identity_(identity),
        protocol_(handler),
        listenFd_(listenFd),
        wakeRead_(wakeRead),
        wakeWrite_(wakeWrite) {
    thread_ = std::thread([this] { Run(); });
  }

  ~SimBusDeviceImpl() override {
    Detach();
    if (thread_.joinable()) thread_.join();
    ::close(wakeRead_);
    ::close(wakeWrite_);
  }

  void QueueReply(const uint8_t* data, size_t size) override {
    if (protocol_.QueueReply(data, size)) Wake();
  }

  void Detach() override {
    if (!protocol_.MarkDetached()) return;
    // Gone from searches at once; the thread closes the sessions.
    ::unlinkat(folder_->fd(), name_.c_str(), 0);
    const std::string marker = DeviceMarkerName(identity_);
    if (!marker.empty()) ::unlinkat(folder_->fd(), marker.c_str(), 0);
    Wake();
    if (std::this_thread::get_id() != thread_.get_id() && thread_.joinable()) thread_.join();
  }

  std::string ResourceName() const override { return DeviceResourceName(identity_); }

 private:
  void Wake() {
    const uint8_t one = 1;
    // The pipe is non-blocking: when it is full the thread is already due to wake.
    [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &one, 1);
  }

  void Run() {
    std::vector<pollfd> fds;
    while (!protocol_.Detached()) {
      fds.clear();
      fds.push_back({listenFd_, POLLIN, 0});
      fds.push_back({wakeRead_, POLLIN, 0});
      for (const SocketConnection& c : connections_) fds.push_back({c.fd, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
      if (fds[1].revents != 0) {
        uint8_t drain[64];
        while (::read(wakeRead_, drain, sizeof drain) > 0) {
        }
      }
      // Connections first (their order matches fds from index 2), then new ones.
      size_t index = 2;
      for (auto it = connections_.begin(); it != connections_.end() && !protocol_.Detached();
           ++index) {
        bool keep = fds[index].revents == 0 || Service(*it);
        if (!keep) {
          EndConnection(*it);
          it = connections_.erase(it);
        } else {
          ++it;
        }
      }
      if (!protocol_.Detached() && (fds[0].revents & POLLIN) != 0) Accept();
      if (!protocol_.Detached()) ServeRequests();
    }
    ::close(listenFd_);
    for (SocketConnection& c : connections_) EndConnection(c);
    connections_.clear();
  }

  void Accept() {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    connections_.emplace_back(fd);
  }

  void EndConnection(SocketConnection& c) {
    ::close(c.fd);
    c.fd = -1;
    protocol_.EndConnection(&c);
  }

  // Reads what the host sent and hands it to the protocol. False ends the connection.
  bool Service(SocketConnection& c) {
    uint8_t chunk[16 * 1024];
    size_t received = 0;
    IoResult result = ReceiveSome(c.fd, chunk, sizeof chunk, Deadline::After(0), &received);
    if (result == IoResult::kTimeout) return true;
    if (result != IoResult::kOk) return false;
    return protocol_.Receive(&c, chunk, received);
  }

  void ServeRequests() {
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (!protocol_.ServeRequest(&*it)) {
        EndConnection(*it);
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }

  const std::unique_ptr<BusFolder> folder_;  // the checked folder the socket lives in
  const std::string name_;
  const SimDeviceIdentity identity_;
  DeviceProtocol protocol_;
  const int listenFd_;
  const int wakeRead_;
  const int wakeWrite_;
  std::list<SocketConnection> connections_;  // the thread's own
  std::thread thread_;
};

// Binds a listening socket named `name` in the folder, replacing a leftover of a device that is
// gone.
int Listen(const BusFolder& folder, const std::string& name, std::string* error) {
  const std::string path = folder.EntryPath(name);
  const std::string shown = folder.path() + "/" + name;  // for messages
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("cannot create a socket: ") + std::strerror(errno);
    return -1;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  auto bindOnce = [&] {
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  };
  if (bindOnce() != 0) {
    if (errno != EADDRINUSE) {
      *error = "cannot bind " + shown + ": " + std::strerror(errno);
      ::close(fd);
      return -1;
    }
    int probe = ConnectUnix(path, Deadline::After(kProbeConnectMs));
    // A twin that is stopped (its backlog full) still holds the name.
    if (probe >= 0 || errno == EAGAIN || errno == ETIMEDOUT) {
      if (probe >= 0) ::close(probe);
      ::close(fd);
      *error = "a device with this identity is already on the bus (" + shown + ")";
      return -1;
    }
    ::unlinkat(folder.fd(), name.c_str(), 0);
    if (bindOnce() != 0) {
      *error = "cannot bind " + shown + ": " + std::strerror(errno);
      ::close(fd);
      return -1;
    }
  }
  if (::listen(fd, kListenBacklog) != 0) {
    *error = "cannot listen on " + shown + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::unique_ptr<SimBusDevice> SimBusDevice::Attach(const std::string& busFolder,
                                                   const SimDeviceIdentity& identity,
                                                   SimDeviceHandler* handler, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (!CheckAttachRequest(identity, handler, error)) return nullptr;
  std::string problem;
  std::unique_ptr<BusFolder> folder = BusFolder::Open(busFolder, &problem);
  if (!folder) {
    *error = problem;
    return nullptr;
  }
  const std::string name = DeviceEntryName(identity);
  if (folder->EntryPath(name).empty()) {
    *error = "the socket name " + name + " is too long for a socket address; use a shorter serial";
    return nullptr;
  }
  int listenFd = Listen(*folder, name, error);
  if (listenFd < 0) return nullptr;
  // A socket whose name stands in for a long serial is listed through its marker.
  const std::string marker = DeviceMarkerName(identity);
  if (!marker.empty()) {
    const int fd = ::openat(folder->fd(), marker.c_str(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      *error = "cannot create " + folder->path() + "/" + marker + ": " + std::strerror(errno);
      ::close(listenFd);
      ::unlinkat(folder->fd(), name.c_str(), 0);
      return nullptr;
    }
    ::close(fd);
  }
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("cannot create a pipe: ") + std::strerror(errno);
    ::close(listenFd);
    ::unlinkat(folder->fd(), name.c_str(), 0);
    if (!marker.empty()) ::unlinkat(folder->fd(), marker.c_str(), 0);
    return nullptr;
  }
  return std::make_unique<SimBusDeviceImpl>(std::move(folder), name, identity, handler, listenFd,
                                            wake[0], wake[1]);
}

}  // namespace fg::simbus
