// The bus folder of the simulated bus and the device sockets in it. Each attached device is one
// Unix socket named after its identity, "usbtmc-2e5b-3a01-0-SIM2040A.sock" (vendor, product,
// interface, serial), so the host learns what is on the bus from the folder listing alone.
#pragma once
#include <string>
#include <vector>

#include "visa/simbus/sim_bus_device.h"

namespace fg::simbus {

// True when the folder is safe to use: a real directory (not a link) that belongs to this user
// and that nobody else may enter (no group or other permission bits). Otherwise *problem says
// what is wrong, in a sentence.
bool CheckBusFolder(const std::string& folder, std::string* problem);

// True when a serial can name a simulated device: 1 to 64 characters of letters, digits, '.',
// '_' and '-' (nothing that could break a resource name or a file name).
bool IsValidSimSerial(const std::string& serial);

// The socket file name of a device, and its inverse (false for files that are not devices).
std::string DeviceSocketName(const SimDeviceIdentity& identity);
bool ParseDeviceSocketName(const std::string& fileName, SimDeviceIdentity* identity);

struct BusEntry {
  SimDeviceIdentity identity;
  std::string socketPath;
};

// The devices attached to the folder now, sorted by socket name. Leftover sockets of devices
// that are gone (nobody listening) are skipped.
std::vector<BusEntry> ListBusDevices(const std::string& folder);

}  // namespace fg::simbus
