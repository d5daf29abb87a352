// Resource names: parsing, and the canonical form every provider lists and is opened by.
#pragma once
#include <cstdint>
#include <string>

#include "visa/visa_types.h"

namespace fg::visa {

struct ResourceName {
  ViUInt16 interfaceType = 0;  // VI_INTF_*
  ViUInt16 board = 0;          // the interface number ("USB0" -> 0)
  std::string resourceClass;   // "INSTR", "RAW", "SOCKET", ...
  std::string canonical;       // the expanded name, e.g. "USB0::0x2E5B::0x3A01::SN1::INSTR"
  // USB only.
  ViUInt16 vendorId = 0;
  ViUInt16 productId = 0;
  std::string serial;
  ViUInt16 usbInterface = 0;
};

// Parses any resource name that VISA's grammar allows: the interface prefix ("USB", "TCPIP",
// "GPIB", ...) with an optional board number, and the class at the end (INSTR when absent).
// USB names are taken apart fully: ids in decimal or "0x" hexadecimal, an optional interface
// number. Case-insensitive. VI_SUCCESS or VI_ERROR_INV_RSRC_NAME.
ViStatus ParseResourceName(const char* text, ResourceName* out);

// The canonical USB INSTR name: "USB<board>::0x%04X::0x%04X::<serial>[::<n> for n != 0]::INSTR".
std::string CanonicalUsbName(ViUInt16 board, ViUInt16 vendorId, ViUInt16 productId,
                             const std::string& serial, ViUInt16 usbInterface,
                             const char* resourceClass = "INSTR");

// Case-insensitive equality of two canonical names (VISA names ignore case).
bool SameResourceName(const std::string& a, const std::string& b);

}  // namespace fg::visa
