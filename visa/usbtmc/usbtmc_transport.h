// The pipes under a USBTMC session: one bulk-OUT pipe, one bulk-IN pipe and the default control
// pipe of one interface. Implemented over libusb for real instruments and over the simulated
// bus's connections (a Unix socket, a named pipe on Windows), so that the session code above is
// the same for all.
#pragma once
#include <cstddef>
#include <cstdint>

#include "visa/usbtmc/usbtmc_messages.h"
#include "visa/visa_types.h"

namespace fg::usbtmc {

// Which bulk pipe a ClearHalt addresses.
enum class Pipe { kBulkIn, kBulkOut };

// All calls come from one thread at a time, except Cancel. Timeouts are in milliseconds;
// VI_TMO_INFINITE waits forever. Every call returns VI_SUCCESS, VI_ERROR_TMO, VI_ERROR_IO (stall,
// protocol fault), VI_ERROR_CONN_LOST (the device is gone; every later call fails the same way)
// or VI_ERROR_ABORT (cancelled; every later call fails the same way).
class BulkTransport {
 public:
  virtual ~BulkTransport() = default;

  // Called from another thread while a call may be blocked: ends that call at once with
  // VI_ERROR_ABORT, and every later call too, without touching the device any further. Never
  // blocks; the transport is destroyed only after the cut call returned.
  virtual void Cancel() = 0;

  // Sends one bulk-OUT transfer. *sent receives the bytes the device accepted (all of them on
  // success, possibly fewer on a timeout).
  virtual ViStatus BulkOut(const uint8_t* data, size_t size, size_t* sent, uint32_t timeoutMs) = 0;

  // Receives from the bulk-IN pipe: at most `capacity` bytes, returning early at the end of a
  // transfer. Bytes of a transfer that did not fit stay for the next call. *received is set in
  // every case (0 for a zero-length packet).
  virtual ViStatus BulkIn(uint8_t* buffer, size_t capacity, size_t* received,
                          uint32_t timeoutMs) = 0;

  // One device-to-host control transfer with the given setup; up to setup.length reply bytes go
  // to `reply`, *received says how many came.
  virtual ViStatus ControlIn(const ControlSetup& setup, uint8_t* reply, size_t* received,
                             uint32_t timeoutMs) = 0;

  // Clears a halt (stall) on a bulk pipe and resets its data toggle.
  virtual ViStatus ClearHalt(Pipe pipe, uint32_t timeoutMs) = 0;

  // Facts the control requests need: wMaxPacketSize of the bulk-IN pipe, the endpoint address of
  // each bulk pipe (wIndex of the abort requests) and the interface number (wIndex of clear).
  virtual uint16_t MaxPacketSize() const = 0;
  virtual uint8_t BulkInAddress() const = 0;
  virtual uint8_t BulkOutAddress() const = 0;
  virtual uint8_t InterfaceNumber() const = 0;

  // The interrupt-IN pipe of a USB488 interface, for service requests and status bytes. 0 when
  // the interface has none; then InterruptIn is never called.
  virtual uint8_t InterruptInAddress() const { return 0; }
  // bInterfaceProtocol: 1 for a USB488 interface, 0 for plain USBTMC.
  virtual uint8_t InterfaceProtocol() const { return 1; }
  // Receives one interrupt-IN packet: at most `capacity` bytes.
  virtual ViStatus InterruptIn(uint8_t* buffer, size_t capacity, size_t* received,
                               uint32_t timeoutMs) {
    (void)buffer;
    (void)capacity;
    (void)timeoutMs;
    *received = 0;
    return visa::VI_ERROR_NSUP_OPER;
  }
};

}  // namespace fg::usbtmc
