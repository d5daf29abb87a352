// The name of a simulated device on the bus, built from its identity and read back from it:
// "usbtmc-2e5b-3a01-0-SIM2040A.sock" (vendor, product, interface, serial). Plain text work, the
// same whatever carries the bus.
#pragma once
#include <string>

#include "visa/simbus/simbus_device.h"

namespace fg::simbus {

// True when a serial can name a simulated device: 1 to 64 characters of letters, digits, '.',
// '_' and '-' (nothing that could break a resource name or a file name).
bool IsValidSimSerial(const std::string& serial);

// The socket file name of a device, and its inverse (false for files that are not devices).
std::string DeviceSocketName(const SimDeviceIdentity& identity);
bool ParseDeviceSocketName(const std::string& fileName, SimDeviceIdentity* identity);

}  // namespace fg::simbus
