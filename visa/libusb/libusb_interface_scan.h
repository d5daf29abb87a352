// Finding the USBTMC interfaces of a USB configuration.
#pragma once
#include <libusb.h>

#include <cstdint>
#include <vector>

namespace fg::usbtmc {

inline constexpr uint8_t kUsbtmcInterfaceClass = 0xFE;     // application specific
inline constexpr uint8_t kUsbtmcInterfaceSubclass = 0x03;  // test and measurement

struct UsbtmcInterface {
  uint8_t number = 0;
  uint8_t altSetting = 0;
  uint8_t bulkInAddress = 0;
  uint8_t bulkOutAddress = 0;
  uint16_t bulkInMaxPacket = 0;
  uint8_t interruptInAddress = 0;  // 0 when the interface has no interrupt-IN pipe
  uint8_t protocol = 0;            // bInterfaceProtocol: 1 for USB488
};

// Every alternate setting of class 0xFE, subclass 0x03 with a bulk-IN and a bulk-OUT endpoint
// (and the first interrupt-IN endpoint, where it has one),
// first setting per interface number only, in descriptor order.
std::vector<UsbtmcInterface> FindUsbtmcInterfaces(const libusb_config_descriptor& config);

}  // namespace fg::usbtmc
