#include "visa/libusb/libusb_interface_scan.h"

#include <algorithm>

namespace fg::usbtmc {

std::vector<UsbtmcInterface> FindUsbtmcInterfaces(const libusb_config_descriptor& config) {
  std::vector<UsbtmcInterface> found;
  for (int i = 0; i < config.bNumInterfaces && config.interface != nullptr; ++i) {
    const libusb_interface& interface = config.interface[i];
    for (int a = 0; a < interface.num_altsetting && interface.altsetting != nullptr; ++a) {
      const libusb_interface_descriptor& setting = interface.altsetting[a];
      if (setting.bInterfaceClass != kUsbtmcInterfaceClass ||
          setting.bInterfaceSubClass != kUsbtmcInterfaceSubclass) {
        continue;
      }
      UsbtmcInterface candidate;
      candidate.number = setting.bInterfaceNumber;
      candidate.altSetting = setting.bAlternateSetting;
      candidate.protocol = setting.bInterfaceProtocol;
      for (int e = 0; e < setting.bNumEndpoints && setting.endpoint != nullptr; ++e) {
        const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
        const uint8_t type = endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
        const bool in =
            (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
        if (type == LIBUSB_TRANSFER_TYPE_INTERRUPT && in && candidate.interruptInAddress == 0) {
          candidate.interruptInAddress = endpoint.bEndpointAddress;
        }
        if (type != LIBUSB_TRANSFER_TYPE_BULK) continue;
        if (in && candidate.bulkInAddress == 0) {
          candidate.bulkInAddress = endpoint.bEndpointAddress;
          candidate.bulkInMaxPacket = endpoint.wMaxPacketSize & 0x07FF;
        } else if (!in && candidate.bulkOutAddress == 0) {
          candidate.bulkOutAddress = endpoint.bEndpointAddress;
        }
      }
      if (candidate.bulkInAddress == 0 || candidate.bulkOutAddress == 0) continue;
      const bool known = std::any_of(found.begin(), found.end(), [&](const UsbtmcInterface& f) {
        return f.number == candidate.number;
      });
      if (!known) found.push_back(candidate);
    }
  }
  return found;
}

}  // namespace fg::usbtmc
