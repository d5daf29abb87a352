// A device for scripted conversations: it sits on the simulated bus like any instrument, but the
// test itself plays it, one frame at a time. The test says which bytes it expects from the host
// and which bytes it answers, so every exchange of the session code is checked on the wire.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "visa/simbus/simbus_device.h"
#include "visa/simbus/simbus_frames.h"

namespace fg::testing {

using Bytes = std::vector<uint8_t>;

class ScriptedDevice {
 public:
  ScriptedDevice(const std::string& busFolder, const simbus::SimDeviceIdentity& identity);
  ~ScriptedDevice();

  bool Listening() const { return listenFd_ >= 0; }
  // Accepts the host's connection and its session handshake, accepting or refusing it.
  bool AcceptSession(bool accept = true);

  // The next frame from the host; false (with a test failure) when none comes in time.
  bool Receive(simbus::Frame* frame);
  // The payload of the next bulk-OUT transfer.
  Bytes ExpectBulkOut();
  // The next control request: its id and its 8 setup bytes.
  bool ExpectControl(uint32_t* id, Bytes* setup);
  // Expects a control request with exactly these setup bytes and answers it with `reply`.
  void AnswerControl(const Bytes& expectedSetup, const Bytes& reply);

  void SendBulkIn(const Bytes& transfer);
  void SendControlReply(uint32_t id, const Bytes& data, bool stall = false);
  // Leaves the bus at once: the socket closes in the middle of whatever was going on.
  void Leave();

 private:
  int listenFd_ = -1;
  int fd_ = -1;
  std::string path_;
  simbus::FrameReader reader_;
};

// USBTMC bytes written out by hand, independently of the code under test.
Bytes DevDepMsgOut(uint8_t tag, const std::string& data, bool eom);
Bytes RequestDevDepMsgIn(uint8_t tag, uint32_t size);
Bytes DevDepMsgIn(uint8_t tag, const std::string& data, bool eom);
Bytes Setup(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint16_t length);
std::string Text(const Bytes& bytes);

}  // namespace fg::testing
