// The name of a simulated device's entry in the bus folder, built from its identity and read back
// from it: "usbtmc-2e5b-3a01-0-SIM2040A.sock" (vendor, product, interface, serial), ending in
// ".pipe" on Windows, where the entry names a pipe instead of being a socket. Plain text work.
#pragma once
#include <string>

#include "visa/simbus/simbus_device.h"

namespace fg::simbus {

// True when a serial can name a simulated device: 1 to 64 characters of letters, digits, '.',
// '_' and '-' (nothing that could break a resource name or a file name).
bool IsValidSimSerial(const std::string& serial);

// The entry name of a device, and its inverse (false for files that are not devices).
std::string DeviceEntryName(const SimDeviceIdentity& identity);
bool ParseDeviceEntryName(const std::string& fileName, SimDeviceIdentity* identity);

// The resource name a host reaches a device by, e.g. "USB0::0x2E5B::0x3A01::SIM2040A::INSTR".
std::string DeviceResourceName(const SimDeviceIdentity& identity);

}  // namespace fg::simbus
