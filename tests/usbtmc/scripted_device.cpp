#include "tests/usbtmc/scripted_device.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "visa/simbus/simbus_device_name.h"

namespace fg::testing {

namespace {
// Generous: the host side runs on another thread of a busy machine.
constexpr int kWaitMs = 20000;

void Put32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes Header(uint8_t msgId, uint8_t tag, uint32_t size, uint8_t attributes) {
  Bytes b(12, 0);
  b[0] = msgId;
  b[1] = tag;
  b[2] = static_cast<uint8_t>(~tag);
  Put32(&b, 4, size);
  b[8] = attributes;
  return b;
}

Bytes WithPayload(Bytes header, const std::string& data) {
  header.insert(header.end(), data.begin(), data.end());
  while (header.size() % 4 != 0) header.push_back(0);
  return header;
}

void SendFrame(int fd, uint8_t kind, const Bytes& payload) {
  Bytes frame = simbus::EncodeFrame(kind, payload.data(), payload.size());
  size_t off = 0;
  while (off < frame.size()) {
    ssize_t n = ::send(fd, frame.data() + off, frame.size() - off, MSG_NOSIGNAL);
    if (n <= 0) {
      ADD_FAILURE() << "scripted device cannot send";
      return;
    }
    off += static_cast<size_t>(n);
  }
}
}  // namespace

Bytes DevDepMsgOut(uint8_t tag, const std::string& data, bool eom) {
  return WithPayload(Header(1, tag, static_cast<uint32_t>(data.size()), eom ? 1 : 0), data);
}
Bytes RequestDevDepMsgIn(uint8_t tag, uint32_t size) { return Header(2, tag, size, 0); }
Bytes DevDepMsgIn(uint8_t tag, const std::string& data, bool eom) {
  return WithPayload(Header(2, tag, static_cast<uint32_t>(data.size()), eom ? 1 : 0), data);
}
Bytes Setup(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint16_t length) {
  return {requestType,
          request,
          static_cast<uint8_t>(value),
          static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(index),
          static_cast<uint8_t>(index >> 8),
          static_cast<uint8_t>(length),
          static_cast<uint8_t>(length >> 8)};
}
std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

ScriptedDevice::ScriptedDevice(const std::string& busFolder,
                               const simbus::SimDeviceIdentity& identity) {
  path_ = busFolder + "/" + simbus::DeviceEntryName(identity);
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 4) != 0) {
    ::close(listenFd_);
    listenFd_ = -1;
  }
}

ScriptedDevice::~ScriptedDevice() {
  Leave();
  if (listenFd_ >= 0) ::close(listenFd_);
  ::unlink(path_.c_str());
}

bool ScriptedDevice::AcceptSession(bool accept) {
  // Listings probe the socket with connections that end at once; skip those.
  for (;;) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, kWaitMs) != 1) {
      ADD_FAILURE() << "no host connected";
      return false;
    }
    fd_ = ::accept(listenFd_, nullptr, nullptr);
    reader_ = simbus::FrameReader();
    simbus::Frame frame;
    if (!Receive(&frame)) {
      ::close(fd_);
      fd_ = -1;
      continue;
    }
    EXPECT_EQ(frame.kind, simbus::kFrameOpen);
    const Bytes answer{accept ? simbus::kOpenAccepted : simbus::kOpenBusy};
    SendFrame(fd_, simbus::kFrameOpenReply, answer);
    return true;
  }
}

bool ScriptedDevice::Receive(simbus::Frame* frame) {
  for (;;) {
    if (reader_.Take(frame)) return true;
    pollfd p{fd_, POLLIN, 0};
    if (fd_ < 0 || ::poll(&p, 1, kWaitMs) != 1) {
      ADD_FAILURE() << "the host sent nothing";
      return false;
    }
    uint8_t chunk[4096];
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;  // the host closed
    reader_.Feed(chunk, static_cast<size_t>(n));
  }
}

Bytes ScriptedDevice::ExpectBulkOut() {
  simbus::Frame frame;
  if (!Receive(&frame)) return {};
  EXPECT_EQ(frame.kind, simbus::kFrameBulkOut);
  return frame.payload;
}

bool ScriptedDevice::ExpectControl(uint32_t* id, Bytes* setup) {
  simbus::Frame frame;
  if (!Receive(&frame)) return false;
  EXPECT_EQ(frame.kind, simbus::kFrameControl);
  if (frame.kind != simbus::kFrameControl || frame.payload.size() != 12) return false;
  *id = 0;
  for (int i = 3; i >= 0; --i) *id = (*id << 8) | frame.payload[static_cast<size_t>(i)];
  setup->assign(frame.payload.begin() + 4, frame.payload.end());
  return true;
}

void ScriptedDevice::AnswerControl(const Bytes& expectedSetup, const Bytes& reply) {
  uint32_t id = 0;
  Bytes setup;
  if (!ExpectControl(&id, &setup)) return;
  EXPECT_EQ(setup, expectedSetup);
  SendControlReply(id, reply);
}

void ScriptedDevice::SendBulkIn(const Bytes& transfer) {
  SendFrame(fd_, simbus::kFrameBulkIn, transfer);
}

void ScriptedDevice::SendControlReply(uint32_t id, const Bytes& data, bool stall) {
  Bytes payload{static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
                static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 24),
                static_cast<uint8_t>(stall ? 1 : 0)};
  payload.insert(payload.end(), data.begin(), data.end());
  SendFrame(fd_, simbus::kFrameControlReply, payload);
}

void ScriptedDevice::Leave() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace fg::testing
