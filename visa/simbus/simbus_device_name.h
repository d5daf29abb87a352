// The name of a simulated device on the bus, built from its identity and read back from it:
// "usbtmc-2e5b-3a01-0-SIM2040A.sock" (vendor, product, interface, serial). Plain text work, the
// same whatever carries the bus.
#pragma once
#include <string>

#include "visa/simbus/simbus_device.h"

namespace fg::simbus {

// True when a serial can name a simulated device: 1 to 226 characters of letters, digits, '.',
// '_' and '-' (nothing that could break a resource name or a file name). 226 is as long as a
// serial can be while its instrument's name, "USB0::0x2E5B::0x3A01::SERIAL::INSTR", stays within
// the 255 characters of a resource name.
bool IsValidSimSerial(const std::string& serial);

// The socket file name of a device, and its inverse (false for files that are not devices). A
// socket is reached through a path of at most 107 bytes, so a device whose serial would make its
// name longer than kMaxInlineSocketName gets a short name instead ("usbtmc-2e5b-3a02-0-~<hash of
// the serial>.sock") that names no device when parsed, and a marker file beside it that carries
// its identity ("usbtmc-2e5b-3a02-0-<serial>.long", DeviceMarkerName).
inline constexpr size_t kMaxInlineSocketName = 80;
std::string DeviceSocketName(const SimDeviceIdentity& identity);
bool ParseDeviceSocketName(const std::string& fileName, SimDeviceIdentity* identity);
// The marker of a device with a short socket name; empty when its socket name is its identity.
std::string DeviceMarkerName(const SimDeviceIdentity& identity);
bool ParseDeviceMarkerName(const std::string& fileName, SimDeviceIdentity* identity);

}  // namespace fg::simbus
