// The device end of the simulated bus: a listening socket in the bus folder and one thread that
// serves every host connection to it, speaking USBTMC on the bulk and control frames and
// handing whole DEV_DEP_MSG_OUT payloads to the instrument's handler.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include "util/endian.h"
#include "visa/simbus/simbus_device.h"
#include "visa/simbus/simbus_device_name.h"
#include "visa/simbus/simbus_folder.h"
#include "visa/simbus/simbus_frames.h"
#include "visa/simbus/simbus_socket.h"
#include "visa/usbtmc/usbtmc_messages.h"
#include "visa/usbtmc/usbtmc_resource_name.h"

namespace fg::simbus {

namespace {

using namespace fg::usbtmc;

// A host that stops reading for this long loses its connection rather than stall the device.
constexpr uint32_t kSendTimeoutMs = 30000;
constexpr int kListenBacklog = 16;
// Status byte bit 4, "message available": a reply waits in the output queue.
constexpr uint8_t kMessageAvailable = 0x10;

struct Connection {
  int fd = -1;
  FrameReader reader;
  bool opened = false;  // the handler accepted a session on it
  // The REQUEST_DEV_DEP_MSG_IN waiting for a reply, if any.
  bool requestPending = false;
  uint8_t requestTag = 0;
  uint32_t requestSize = 0;
};

struct QueuedReply {
  std::vector<uint8_t> bytes;
  size_t sent = 0;  // bytes already delivered in earlier transfers
};

class SimBusDeviceImpl final : public SimBusDevice {
 public:
  SimBusDeviceImpl(std::unique_ptr<BusFolder> folder, std::string name,
                   const SimDeviceIdentity& identity, SimDeviceHandler* handler, int listenFd,
                   int wakeRead, int wakeWrite)
      : folder_(std::move(folder)),
        name_(std::move(name)),
        identity_(identity),
        handler_(handler),
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
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (detached_) return;
      replies_.push_back(QueuedReply{std::vector<uint8_t>(data, data + size), 0});
    }
    Wake();
  }

  void Detach() override {
    if (detached_.exchange(true)) return;
    // Gone from searches at once; the thread closes the sessions.
    ::unlinkat(folder_->fd(), name_.c_str(), 0);
    const std::string marker = DeviceMarkerName(identity_);
    if (!marker.empty()) ::unlinkat(folder_->fd(), marker.c_str(), 0);
    Wake();
    if (std::this_thread::get_id() != thread_.get_id() && thread_.joinable()) thread_.join();
  }

  std::string ResourceName() const override {
    return FormatResourceName(UsbInstrumentAddress{identity_.vendorId, identity_.productId,
                                                   identity_.serial, identity_.interfaceNumber});
  }

 private:
  void Wake() {
    const uint8_t one = 1;
    // The pipe is non-blocking: when it is full the thread is already due to wake.
    [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &one, 1);
  }

  void Run() {
    std::vector<pollfd> fds;
    while (!detached_) {
      fds.clear();
      fds.push_back({listenFd_, POLLIN, 0});
      fds.push_back({wakeRead_, POLLIN, 0});
      for (const Connection& c : connections_) fds.push_back({c.fd, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
      if (fds[1].revents != 0) {
        uint8_t drain[64];
        while (::read(wakeRead_, drain, sizeof drain) > 0) {
        }
      }
      // Connections first (their order matches fds from index 2), then new ones.
      size_t index = 2;
      for (auto it = connections_.begin(); it != connections_.end() && !detached_; ++index) {
        bool keep = fds[index].revents == 0 || Service(*it);
        if (!keep) {
          EndConnection(*it);
          it = connections_.erase(it);
        } else {
          ++it;
        }
      }
      if (!detached_ && (fds[0].revents & POLLIN) != 0) Accept();
      if (!detached_) ServeRequests();
    }
    ::close(listenFd_);
    for (Connection& c : connections_) EndConnection(c);
    connections_.clear();
  }

  void Accept() {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    connections_.emplace_back();
    connections_.back().fd = fd;
  }

  void EndConnection(Connection& c) {
    ::close(c.fd);
    c.fd = -1;
    if (c.opened) {
      c.opened = false;
      handler_->OnSessionClosed();
      if (--openSessions_ == 0) {
        // Replies nobody asked for yet must not leak into the next session.
        std::lock_guard<std::mutex> lock(mutex_);
        replies_.clear();
      }
    }
  }

  // Reads what the host sent and handles each complete frame. False ends the connection.
  bool Service(Connection& c) {
    uint8_t chunk[16 * 1024];
    size_t received = 0;
    IoResult result = ReceiveSome(c.fd, chunk, sizeof chunk, Deadline::After(0), &received);
    if (result == IoResult::kTimeout) return true;
    if (result != IoResult::kOk) return false;
    c.reader.Feed(chunk, received);
    Frame frame;
    while (!detached_ && c.reader.Take(&frame)) {
      if (!Handle(c, frame)) return false;
    }
    return !c.reader.Broken();
  }

  bool Handle(Connection& c, const Frame& frame) {
    if (frame.kind == kFrameOpen) {
      if (c.opened) return true;
      const bool accepted = handler_->OnSessionOpened();
      if (accepted) {
        c.opened = true;
        ++openSessions_;
      }
      const uint8_t answer = accepted ? kOpenAccepted : kOpenBusy;
      return Send(c, kFrameOpenReply, &answer, 1) && accepted;
    }
    if (!c.opened) return false;  // nothing but a handshake before a session exists
    if (frame.kind == kFrameBulkOut) {
      HandleBulkOut(c, frame.payload);
      return true;
    }
    if (frame.kind == kFrameControl) return HandleControl(c, frame.payload);
    return false;
  }

  void HandleBulkOut(Connection& c, const std::vector<uint8_t>& transfer) {
    BulkHeader header;
    // A malformed transfer is dropped, as a device would stall its pipe and forget it.
    if (transfer.size() < kBulkHeaderSize || !DecodeBulkHeader(transfer.data(), &header)) return;
    if (header.msgId == kDevDepMsgOut) {
      if (header.transferSize > transfer.size() - kBulkHeaderSize) return;
      handler_->OnMessageOut(transfer.data() + kBulkHeaderSize, header.transferSize,
                             (header.attributes & kAttrEndOfMessage) != 0);
    } else if (header.msgId == kTrigger) {
      handler_->OnTrigger();
    } else if (header.msgId == kRequestDevDepMsgIn) {
      c.requestPending = true;
      c.requestTag = header.tag;
      c.requestSize = header.transferSize;
    }
  }

  bool HandleControl(Connection& c, const std::vector<uint8_t>& payload) {
    if (payload.size() != kControlIdSize + kControlSetupSize) return false;
    const ControlSetup setup = DecodeControlSetup(payload.data() + kControlIdSize);
    uint8_t data[kGetCapabilitiesReplyLength] = {};
    size_t length = 0;
    bool stall = false;
    switch (setup.request) {
      case kInitiateAbortBulkIn: {
        const uint8_t tag = static_cast<uint8_t>(setup.value);
        if (c.requestPending && c.requestTag == tag) {
          c.requestPending = false;  // the host gave up on it
          data[0] = kStatusSuccess;
          data[1] = tag;
        } else if (c.requestPending) {
          data[0] = kStatusTransferNotInProgress;
          data[1] = c.requestTag;
        } else {
          data[0] = kStatusFailed;
        }
        length = kInitiateAbortReplyLength;
        break;
      }
      case kCheckAbortBulkInStatus:
      case kCheckAbortBulkOutStatus:
        EncodeCheckAbortReply(CheckAbortReply{kStatusSuccess, false, 0}, data);
        length = kCheckAbortReplyLength;
        break;
      case kInitiateAbortBulkOut:
        // Bulk-OUT transfers arrive whole here: there is never one in progress.
        data[0] = kStatusFailed;
        data[1] = static_cast<uint8_t>(setup.value);
        length = kInitiateAbortReplyLength;
        break;
      case kInitiateClear:
        c.requestPending = false;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          replies_.clear();
        }
        handler_->OnClear();
        data[0] = kStatusSuccess;
        length = kInitiateClearReplyLength;
        break;
      case kCheckClearStatus:
        EncodeCheckClearReply(CheckClearReply{kStatusSuccess, false}, data);
        length = kCheckClearReplyLength;
        break;
      case kGetCapabilities:
        data[0] = kStatusSuccess;
        StoreLe16(data + 2, 0x0100);  // bcdUSBTMC 1.00; no optional USBTMC capabilities
        StoreLe16(data + 12, 0x0100);  // bcdUSB488 1.00
        data[14] = 0x05;               // USB488.2 interface that accepts TRIGGER
        length = kGetCapabilitiesReplyLength;
        break;
      case kReadStatusByte: {
        // No interrupt-IN pipe here: the status byte comes in the reply itself.
        const uint8_t tag = static_cast<uint8_t>(setup.value);
        if (tag < 2 || tag > 127) {
          data[0] = kStatusFailed;
        } else {
          bool available = false;
          {
            std::lock_guard<std::mutex> lock(mutex_);
            available = !replies_.empty();
          }
          data[0] = kStatusSuccess;
          data[2] = static_cast<uint8_t>(handler_->OnReadStatusByte() |
                                         (available ? kMessageAvailable : 0));
        }
        data[1] = tag;
        length = kReadStatusByteReplyLength;
        break;
      }
      default:
        stall = true;
    }
    if (length > setup.length) length = setup.length;
    std::vector<uint8_t> reply(kControlReplyDataOffset + length);
    std::memcpy(reply.data(), payload.data(), kControlIdSize);
    reply[kControlReplyResultOffset] = stall ? kControlStall : kControlOk;
    if (length != 0) std::memcpy(reply.data() + kControlReplyDataOffset, data, length);
    return Send(c, kFrameControlReply, reply.data(), reply.size());
  }

  // Answers pending REQUEST_DEV_DEP_MSG_IN transfers from the reply queue, one transfer per
  // request, at most TransferSize bytes each; EOM marks the last byte of a reply.
  void ServeRequests() {
    for (auto it = connections_.begin(); it != connections_.end();) {
      Connection& c = *it;
      bool keep = true;
      if (c.opened && c.requestPending) {
        std::vector<uint8_t> transfer;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (!replies_.empty()) {
            QueuedReply& reply = replies_.front();
            const size_t left = reply.bytes.size() - reply.sent;
            const size_t chunk = left < c.requestSize ? left : c.requestSize;
            const bool last = chunk == left;
            transfer.assign(AlignedTransferLength(chunk), 0);
            BulkHeader header;
            header.msgId = kDevDepMsgIn;
            header.tag = c.requestTag;
            header.transferSize = static_cast<uint32_t>(chunk);
            header.attributes = last ? kAttrEndOfMessage : 0;
            EncodeBulkHeader(header, transfer.data());
            if (chunk != 0) {
              std::memcpy(transfer.data() + kBulkHeaderSize, reply.bytes.data() + reply.sent,
                          chunk);
            }
            reply.sent += chunk;
            if (last) replies_.pop_front();
          }
        }
        if (!transfer.empty()) {
          c.requestPending = false;
          keep = Send(c, kFrameBulkIn, transfer.data(), transfer.size());
        }
      }
      if (!keep) {
        EndConnection(c);
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }

  bool Send(Connection& c, uint8_t kind, const uint8_t* payload, size_t size) {
    std::vector<uint8_t> frame = EncodeFrame(kind, payload, size);
    size_t sent = 0;
    return SendAll(c.fd, frame.data(), frame.size(), Deadline::After(kSendTimeoutMs), &sent) ==
           IoResult::kOk;
  }

  const std::unique_ptr<BusFolder> folder_;  // the checked folder the socket lives in
  const std::string name_;
  const SimDeviceIdentity identity_;
  SimDeviceHandler* const handler_;
  const int listenFd_;
  const int wakeRead_;
  const int wakeWrite_;
  std::atomic<bool> detached_{false};
  std::mutex mutex_;  // guards replies_
  std::deque<QueuedReply> replies_;
  std::list<Connection> connections_;  // the thread's own
  int openSessions_ = 0;
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
  if (handler == nullptr) {
    *error = "no device handler";
    return nullptr;
  }
  if (!IsValidSimSerial(identity.serial)) {
    *error =
        "invalid serial \"" + identity.serial + "\": use 1 to 226 letters, digits, '.', '_' or '-'";
    return nullptr;
  }
  std::string problem;
  std::unique_ptr<BusFolder> folder = BusFolder::Open(busFolder, &problem);
  if (!folder) {
    *error = problem;
    return nullptr;
  }
  const std::string name = DeviceSocketName(identity);
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
