// VISA resource names of USBTMC instruments: "USB0::0x2E5B::0x3A01::SERIAL::INSTR", with the
// interface number before "::INSTR" only when it is not 0.
#pragma once
#include <cstdint>
#include <string>

namespace fg::usbtmc {

struct UsbInstrumentAddress {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::string serial;
  uint8_t interfaceNumber = 0;
};

// The canonical name of an instrument.
std::string FormatResourceName(const UsbInstrumentAddress& address);

// Reads a USB INSTR name: "USB[board]::vid::pid::serial[::interface]::INSTR", ids in hex with
// 0x or in decimal, keywords in any case. False for anything else (other interfaces, an empty
// serial, ids out of range).
bool ParseResourceName(const std::string& name, UsbInstrumentAddress* address);

// True when a resource name denotes the instrument at `address`; the serial compares exactly.
bool SameInstrument(const UsbInstrumentAddress& a, const UsbInstrumentAddress& b);

}  // namespace fg::usbtmc
