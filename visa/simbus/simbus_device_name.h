// The name of a simulated device's entry in the bus folder, built from its identity and read back
// from it: "usbtmc-2e5b-3a01-0-SIM2040A.sock" (vendor, product, interface, serial), ending in
// ".pipe" on Windows, where the entry names a pipe instead of being a socket. Plain text work.
#pragma once
#include <cstddef>
#include <string>

#include "visa/simbus/simbus_device.h"

namespace fg::simbus {

// True when a serial can name a simulated device: 1 to 226 characters of letters, digits, '.',
// '_' and '-' (nothing that could break a resource name or a file name). 226 is as long as a
// serial can be while its instrument's name, "USB0::0x2E5B::0x3A01::SERIAL::INSTR", stays within
// the 255 characters of a resource name.
bool IsValidSimSerial(const std::string& serial);

// An entry name longer than this stands in for its device by a short name ("usbtmc-2e5b-3a02-0-
// ~<hash of the serial>.sock"), which names no device when parsed, and a marker file beside it
// carries the identity ("usbtmc-2e5b-3a02-0-<serial>.long", DeviceMarkerName). On POSIX a socket
// is reached through a path of at most 107 bytes, folder included; on Windows a file name may hold
// 255 characters, which the longest serial fits.
#ifdef _WIN32
inline constexpr size_t kMaxInlineEntryName = 255;
#else
inline constexpr size_t kMaxInlineEntryName = 80;
#endif

// The entry name of a device, and its inverse (false for files that are not devices).
std::string DeviceEntryName(const SimDeviceIdentity& identity);
bool ParseDeviceEntryName(const std::string& fileName, SimDeviceIdentity* identity);
// The marker of a device with a short entry name; empty when its entry name is its identity.
std::string DeviceMarkerName(const SimDeviceIdentity& identity);
bool ParseDeviceMarkerName(const std::string& fileName, SimDeviceIdentity* identity);

// The resource name a host reaches a device by, e.g. "USB0::0x2E5B::0x3A01::SIM2040A::INSTR".
std::string DeviceResourceName(const SimDeviceIdentity& identity);

}  // namespace fg::simbus
