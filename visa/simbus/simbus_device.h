// The device end of the simulated bus: a simulated instrument attached as a USBTMC device.
// The endpoint speaks the USBTMC bulk protocol with the host; the instrument sees whole
// DEV_DEP_MSG_OUT payloads and queues reply messages. The protocol is the same on every system
// (simbus_device_protocol.cpp); the endpoint listens on a Unix socket (simbus_device_posix.cpp)
// or a named pipe (simbus_device_win32.cpp) in the bus folder (simbus_folder.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace fg::simbus {

struct SimDeviceIdentity {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::string serial;
  uint8_t interfaceNumber = 0;
};

// Implemented by a simulated instrument. Called on the endpoint's own thread, one call at a time.
class SimDeviceHandler {
 public:
  virtual ~SimDeviceHandler() = default;
  // A host opened a session. Return false to refuse it (the host's open fails as busy). The
  // host's open then clears the device (OnClear) before any message.
  virtual bool OnSessionOpened() = 0;
  // That session ended (host closed it, or the device left the bus).
  virtual void OnSessionClosed() = 0;
  // The payload of one DEV_DEP_MSG_OUT transfer, USBTMC header and padding removed;
  // endOfMessage is the transfer's EOM bit.
  virtual void OnMessageOut(const uint8_t* data, size_t size, bool endOfMessage) = 0;
  // The host cleared the device (INITIATE_CLEAR): drop partial input.
  virtual void OnClear() {}
  // READ_STATUS_BYTE: the instrument's status byte. The endpoint adds MAV (bit 4) itself while
  // a reply waits to be read.
  virtual uint8_t OnReadStatusByte() { return 0; }
  // A USB488 TRIGGER transfer arrived.
  virtual void OnTrigger() {}
};

class SimBusDevice {
 public:
  // Attaches a device to the bus folder. Null with *error set when it cannot: an unsafe folder,
  // a serial other than 1 to 226 letters, digits, '.', '_' or '-', or a live device of the same
  // identity already attached.
  static std::unique_ptr<SimBusDevice> Attach(const std::string& busFolder,
                                              const SimDeviceIdentity& identity,
                                              SimDeviceHandler* handler, std::string* error);
  // Detaches and waits for the endpoint's thread; not to be called from inside a callback.
  virtual ~SimBusDevice() = default;

  // Queues one reply message; the host's next reads receive it, EOM set on its last byte.
  // Thread-safe; may be called from inside a handler callback.
  virtual void QueueReply(const uint8_t* data, size_t size) = 0;
  // Leaves the bus: every session ends (the host's next read or write fails) and the device
  // disappears from searches. Safe from inside a handler callback; idempotent.
  virtual void Detach() = 0;
  // The resource name the host sees, e.g. "USB0::0x2E5B::0x3A01::SIM2040A::INSTR".
  virtual std::string ResourceName() const = 0;
};

// The bus folder: $FLINTGATE_SIMBUS when set, else a folder of the user's own under
// $XDG_RUNTIME_DIR or the temporary directory (on Windows the user's temporary folder). Created
// for this user alone when missing (mode 0700; on Windows an access list with only the user).
std::string DefaultBusFolder();

}  // namespace fg::simbus
