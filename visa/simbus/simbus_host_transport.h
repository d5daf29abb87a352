// The host end of one simulated-bus session: the USBTMC pipes carried as frames over the byte
// stream of a device connection (visa/simbus/simbus_stream.h), whatever carries that stream.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "visa/simbus/simbus_frames.h"
#include "visa/simbus/simbus_stream.h"
#include "visa/usbtmc/usbtmc_transport.h"

namespace fg::simbus {

class SimBusTransport final : public usbtmc::BulkTransport {
 public:
  // Connects to the device of a listed entry and asks for a session. VI_SUCCESS with *transport
  // set, VI_ERROR_RSRC_NFOUND when no device listens there, VI_ERROR_RSRC_BUSY when the device
  // refused the session or accepts no connection (its backlog is full, every pipe instance is
  // taken), VI_ERROR_TMO when it did not answer within openTimeoutMs (the connect included).
  static ViStatus Connect(const BusFolder& folder, const BusEntry& entry, uint32_t openTimeoutMs,
                          std::unique_ptr<SimBusTransport>* transport);
  ~SimBusTransport() override;

  // Shuts the socket down: a poll or send blocked on it wakes at once, and the device sees the
  // session end as when the host closes it.
  void Cancel() override;
  ViStatus BulkOut(const uint8_t* data, size_t size, size_t* sent, uint32_t timeoutMs) override;
  ViStatus BulkIn(uint8_t* buffer, size_t capacity, size_t* received, uint32_t timeoutMs) override;
  ViStatus ControlIn(const usbtmc::ControlSetup& setup, uint8_t* reply, size_t* received,
                     uint32_t timeoutMs) override;
  ViStatus ClearHalt(usbtmc::Pipe pipe, uint32_t timeoutMs) override;
  uint16_t MaxPacketSize() const override { return kSimMaxPacketSize; }
  uint8_t BulkInAddress() const override { return kSimBulkInAddress; }
  uint8_t BulkOutAddress() const override { return kSimBulkOutAddress; }
  uint8_t InterfaceNumber() const override { return interfaceNumber_; }

 private:
  SimBusTransport(std::unique_ptr<BusStream> stream, uint8_t interfaceNumber)
      : stream_(std::move(stream)), interfaceNumber_(interfaceNumber) {}
  // Sends one frame whole. A frame cut by a timeout leaves the stream out of step, so the
  // session is then unusable (VI_ERROR_IO from then on).
  ViStatus SendFrame(uint8_t kind, const uint8_t* payload, size_t size, const Deadline& deadline);
  // Reads from the stream and sorts complete frames into their queues until `kind` has one
  // queued or the deadline passes.
  ViStatus PumpUntil(uint8_t kind, const Deadline& deadline);
  ViStatus Failure() const;
  // What a call reports: VI_ERROR_ABORT for any failure once the session was cancelled (the
  // shut socket makes the call fail as if the device had left).
  ViStatus Settled(ViStatus status) const;

  std::unique_ptr<BusStream> stream_;
  uint8_t interfaceNumber_ = 0;
  FrameReader reader_;
  std::deque<std::vector<uint8_t>> bulkIn_;
  size_t bulkInOffset_ = 0;  // bytes of bulkIn_.front() already handed out
  std::deque<std::vector<uint8_t>> controlReplies_;
  std::deque<uint8_t> openReplies_;
  uint32_t nextControlId_ = 1;
  bool lost_ = false;    // the device left: VI_ERROR_CONN_LOST from now on
  bool broken_ = false;  // the stream is out of step: VI_ERROR_IO from now on
  std::atomic<bool> canceled_{false};  // set by Cancel, from any thread
};

}  // namespace fg::simbus
