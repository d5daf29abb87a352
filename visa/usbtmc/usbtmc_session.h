// A USBTMC instrument session over any BulkTransport: the message protocol of the bulk pipes
// (bTag sequencing, headers, alignment, replies read across packets and transfers) and the
// recovery sequences of the control pipe (abort after a timeout, device clear).
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "visa/provider.h"
#include "visa/usbtmc/usbtmc_transport.h"

namespace fg::usbtmc {

// Largest payload of one transfer in each direction. Longer writes go out as several
// DEV_DEP_MSG_OUT transfers (EOM on the last); longer reads ask again.
inline constexpr uint32_t kMaxOutTransfer = 64 * 1024;
inline constexpr uint32_t kMaxInTransfer = 64 * 1024;
// Timeout of the control requests of the recovery sequences.
inline constexpr uint32_t kControlTimeoutMs = 5000;
// How long a drain of the bulk-IN pipe waits for stale data before it considers the pipe empty.
inline constexpr uint32_t kDrainTimeoutMs = 50;

class UsbtmcSession final : public visa::InstrSession {
 public:
  explicit UsbtmcSession(std::unique_ptr<BulkTransport> transport);

  // Starts the session from a known state: a device clear (INITIATE_CLEAR, CHECK_CLEAR_STATUS
  // until done, bulk-OUT halt cleared). Anything but VI_SUCCESS means the session is unusable.
  ViStatus Open(uint32_t timeoutMs);

  ViStatus Write(const uint8_t* data, uint32_t count, uint32_t* written,
                 uint32_t timeoutMs) override;
  ViStatus Read(uint8_t* data, uint32_t count, uint32_t* received, uint32_t timeoutMs) override;
  ViStatus Clear(uint32_t timeoutMs) override;
  // READ_STATUS_BYTE; with an interrupt-IN pipe the byte arrives there, tagged with the
  // request's bTag. Service requests met on the way are kept for WaitServiceRequest.
  ViStatus ReadStatusByte(uint8_t* statusByte, uint32_t timeoutMs) override;
  // A TRIGGER transfer on the bulk-OUT pipe.
  ViStatus AssertTrigger(uint32_t timeoutMs) override;
  bool CanSignalServiceRequest() const override { return transport_->InterruptInAddress() != 0; }
  int16_t UsbProtocol() const override { return transport_->InterfaceProtocol(); }
  ViStatus WaitServiceRequest(uint8_t* statusByte, uint32_t timeoutMs) override;
  // The transport's Cancel. A cancelled transfer fails with VI_ERROR_ABORT, which no recovery
  // sequence follows: the session is being closed, and the device hears nothing more from it.
  void Cancel() override { transport_->Cancel(); }

  // The device's manufacturer and product strings, as the transport's owner read them.
  void SetDeviceNames(std::string manufacturer, std::string model) {
    manufacturer_ = std::move(manufacturer);
    model_ = std::move(model);
  }
  std::string ManufacturerName() const override { return manufacturer_; }
  std::string ModelName() const override { return model_; }

  // The bTag the next transfer will carry (1..255).
  uint8_t NextTagValue() const { return nextTag_; }

 private:
  uint8_t TakeTag();
  // Sends one REQUEST_DEV_DEP_MSG_IN and receives its DEV_DEP_MSG_IN into dest (at most `want`
  // bytes). *eom receives the reply's EOM bit.
  ViStatus RequestTransfer(uint8_t* dest, uint32_t want, uint32_t* got, bool* eom,
                           uint32_t timeoutMs);
  ViStatus ReceiveTransfer(uint8_t tag, uint8_t* dest, uint32_t want, uint32_t* got, bool* eom,
                           uint32_t timeoutMs);
  // Sends one bulk-OUT transfer; on a timeout or stall runs the matching recovery.
  ViStatus SendTransfer(uint8_t tag, size_t* sent, uint32_t timeoutMs);
  // Sends INITIATE_ABORT_BULK_IN/OUT for `tag`; on an answer, its status byte and the
  // CHECK_ABORT_BULK_*_STATUS request that follows it. False when the device did not answer.
  bool InitiateAbort(uint8_t request, uint8_t endpoint, uint8_t tag, uint8_t checkRequest,
                     ControlSetup* check, uint8_t* status);
  void AbortBulkIn(uint8_t tag);
  void AbortBulkOut(uint8_t tag);
  // Reads and discards bulk-IN data until a short transfer or a quiet pipe.
  void DrainBulkIn();
  size_t InCapacity(uint32_t want) const;
  // Reads interrupt-IN notifications until one with bNotify1 `wanted` arrives (its bNotify2 to
  // *value), keeping service requests that come first.
  ViStatus AwaitNotification(uint8_t wanted, uint8_t* value, uint32_t timeoutMs);

  std::unique_ptr<BulkTransport> transport_;
  uint8_t nextTag_ = 1;
  uint8_t statusTag_ = 1;  // the last READ_STATUS_BYTE bTag (2..127 once used)
  std::deque<uint8_t> serviceRequests_;  // status bytes of service requests not yet waited for
  std::vector<uint8_t> out_;  // one outgoing transfer
  std::vector<uint8_t> in_;   // one incoming transfer
  std::string manufacturer_;
  std::string model_;
};

}  // namespace fg::usbtmc
