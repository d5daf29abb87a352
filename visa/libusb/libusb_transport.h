// The USBTMC pipes of a real instrument, over libusb-1.0.
#pragma once
#include <libusb.h>

#include <memory>
#include <mutex>

#include "visa/libusb/libusb_interface_scan.h"
#include "visa/usbtmc/usbtmc_transport.h"

namespace fg::usbtmc {

// A libusb context shared by the provider and every session it opened, so that a session
// outliving its provider still has a live context.
using LibusbContext = std::shared_ptr<libusb_context>;

// Maps a libusb error to a VISA status (timeouts, a vanished device, everything else as I/O).
ViStatus StatusFromLibusb(int error);

class LibusbTransport final : public BulkTransport {
 public:
  // Takes an open handle whose interface is already claimed. On destruction releases the
  // interface, gives it back to the kernel driver when one was detached, and closes the handle.
  LibusbTransport(LibusbContext context, libusb_device_handle* handle,
                  const UsbtmcInterface& interface, bool reattachKernelDriver);
  ~LibusbTransport() override;
  LibusbTransport(const LibusbTransport&) = delete;
  LibusbTransport& operator=(const LibusbTransport&) = delete;

  // Cancels the transfer in flight (libusb_cancel_transfer may be called from any thread); its
  // waiting caller wakes when the kernel gives the transfer back.
  void Cancel() override;

  ViStatus BulkOut(const uint8_t* data, size_t size, size_t* sent, uint32_t timeoutMs) override;
  ViStatus BulkIn(uint8_t* buffer, size_t capacity, size_t* received, uint32_t timeoutMs) override;
  ViStatus ControlIn(const ControlSetup& setup, uint8_t* reply, size_t* received,
                     uint32_t timeoutMs) override;
  ViStatus ClearHalt(Pipe pipe, uint32_t timeoutMs) override;
  uint16_t MaxPacketSize() const override { return interface_.bulkInMaxPacket; }
  uint8_t BulkInAddress() const override { return interface_.bulkInAddress; }
  uint8_t BulkOutAddress() const override { return interface_.bulkOutAddress; }
  uint8_t InterfaceNumber() const override { return interface_.number; }
  uint8_t InterruptInAddress() const override { return interface_.interruptInAddress; }
  uint8_t InterfaceProtocol() const override { return interface_.protocol; }
  ViStatus InterruptIn(uint8_t* buffer, size_t capacity, size_t* received,
                       uint32_t timeoutMs) override;

 private:
  // Submits a filled transfer and handles the context's events until it is given back: libusb's
  // own synchronous calls do the same, but keep the transfer where Cancel cannot reach it.
  // *transferred receives its actual length.
  ViStatus Run(libusb_transfer* transfer, int* transferred);

  LibusbContext context_;
  libusb_device_handle* handle_;
  UsbtmcInterface interface_;
  bool reattachKernelDriver_;
  std::mutex cancelMutex_;  // guards the two below: Cancel never reaches a freed transfer
  libusb_transfer* inFlight_ = nullptr;
  bool canceled_ = false;
};

}  // namespace fg::usbtmc
