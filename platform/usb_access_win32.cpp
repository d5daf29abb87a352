// Windows has no udev rules and no groups that decide over USB devices: the vendor VISA's driver
// opens them, and `doctor` checks for that VISA instead.
#include "platform/usb_access.h"

namespace fg::platform {

std::vector<std::string> UdevRuleFolders(const std::string&) { return {}; }

UsbAccessFacts ReadUsbAccessFacts(const std::string&, const std::vector<std::string>&,
                                  const std::string&) {
  return UsbAccessFacts{};
}

}  // namespace fg::platform
