// The device end's USBTMC protocol on the simulated bus, whatever carries the bytes: the session
// handshake, bulk-OUT messages handed to the instrument, REQUEST_DEV_DEP_MSG_IN answered from the
// reply queue, and the control requests. Each transport (simbus_device_posix.cpp over a listening
// Unix socket, simbus_device_win32.cpp over a named pipe) runs one thread that feeds this what
// the hosts send and lets it answer through their connections.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "visa/simbus/simbus_device.h"
#include "visa/simbus/simbus_frames.h"

namespace fg::simbus {

// A host that stops reading for this long loses its connection rather than stall the device.
inline constexpr uint32_t kDeviceSendTimeoutMs = 30000;

// One host connection as the protocol sees it. A transport derives its connection from this and
// sends the protocol's frames.
class HostConnection {
 public:
  virtual ~HostConnection() = default;
  // Sends one encoded frame whole, waiting up to kDeviceSendTimeoutMs for the host to take it.
  // False when the host is gone or stopped reading; the connection is then ended.
  virtual bool SendFrame(const std::vector<uint8_t>& frame) = 0;

 private:
  friend class DeviceProtocol;
  FrameReader reader_;
  bool opened_ = false;  // the handler accepted a session on it
  // The REQUEST_DEV_DEP_MSG_IN waiting for a reply, if any.
  bool requestPending_ = false;
  uint8_t requestTag_ = 0;
  uint32_t requestSize_ = 0;
};

// Called on the transport's thread, except where said otherwise.
class DeviceProtocol {
 public:
  explicit DeviceProtocol(SimDeviceHandler* handler) : handler_(handler) {}

  // Bytes a host sent on `connection`: every complete frame is handled. False ends the
  // connection (a malformed stream, a frame before the handshake, a refused session, a host
  // that stopped reading).
  bool Receive(HostConnection* connection, const uint8_t* data, size_t size);
  // Answers the connection's pending REQUEST_DEV_DEP_MSG_IN from the reply queue, one transfer
  // per request, at most TransferSize bytes; EOM marks the last byte of a reply. False ends the
  // connection.
  bool ServeRequest(HostConnection* connection);
  // The connection ended (the transport has closed it): its session, if any, closes.
  void EndConnection(HostConnection* connection);

  // Queues one reply message. False when the device has left the bus (nothing is queued); the
  // transport then need not wake its thread. Thread-safe.
  bool QueueReply(const uint8_t* data, size_t size);
  // Marks the device as gone from the bus: true the first time only. Thread-safe.
  bool MarkDetached() { return !detached_.exchange(true); }
  bool Detached() const { return detached_; }

 private:
  struct QueuedReply {
    std::vector<uint8_t> bytes;
    size_t sent = 0;  // bytes already delivered in earlier transfers
  };

  bool Handle(HostConnection* c, const Frame& frame);
  void HandleBulkOut(HostConnection* c, const std::vector<uint8_t>& transfer);
  bool HandleControl(HostConnection* c, const std::vector<uint8_t>& payload);
  bool Send(HostConnection* c, uint8_t kind, const uint8_t* payload, size_t size);
  void DropReplies();

  SimDeviceHandler* const handler_;
  std::atomic<bool> detached_{false};
  std::mutex mutex_;  // guards replies_
  std::deque<QueuedReply> replies_;
  int openSessions_ = 0;
};

// The checks every attach makes before it touches the bus: a handler, and a serial that can name
// a device. False with *error set.
bool CheckAttachRequest(const SimDeviceIdentity& identity, const SimDeviceHandler* handler,
                        std::string* error);

}  // namespace fg::simbus
