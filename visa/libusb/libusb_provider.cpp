// Our own USBTMC client for real instruments: the USBTMC interfaces libusb sees, named as VISA
// names them and opened as USBTMC sessions. Used when no vendor VISA library is installed.
#include <libusb.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "visa/builtin_providers.h"
#include "visa/libusb/libusb_interface_scan.h"
#include "visa/libusb/libusb_transport.h"
#include "visa/usbtmc/usbtmc_resource_name.h"
#include "visa/usbtmc/usbtmc_session.h"

namespace fg::visa {

namespace {

using usbtmc::LibusbContext;
using usbtmc::UsbInstrumentAddress;
using usbtmc::UsbtmcInterface;

constexpr char kProviderName[] = "usbtmc";
constexpr char kRulesAdvice[] =
    "Install packaging/60-flintgate.rules as /etc/udev/rules.d/60-flintgate.rules (or into the "
    "udev rules folder, e.g. /usr/lib/udev/rules.d), run \"udevadm control --reload-rules && "
    "udevadm trigger\" as root, then unplug and replug the instrument.";

struct DeviceUnref {
  void operator()(libusb_device* device) const { libusb_unref_device(device); }
};
using DeviceRef = std::unique_ptr<libusb_device, DeviceUnref>;

// One USBTMC interface of one device, as a scan found it.
struct SeenInterface {
  UsbInstrumentAddress address;
  UsbtmcInterface interface;
  DeviceRef device;
};

struct ScanResult {
  std::vector<SeenInterface> interfaces;
  std::vector<Diagnostic> problems;
};

bool PathExists(const char* path) {
  struct stat info {};
  return ::stat(path, &info) == 0;
}

std::string DeviceLabel(const libusb_device_descriptor& descriptor, libusb_device* device) {
  char label[96];
  std::snprintf(label, sizeof label, "USB device 0x%04X:0x%04X (bus %u, address %u)",
                descriptor.idVendor, descriptor.idProduct, libusb_get_bus_number(device),
                libusb_get_device_address(device));
  return label;
}

std::string Version() {
  const libusb_version* v = libusb_get_version();
  char text[48];
  std::snprintf(text, sizeof text, "libusb %u.%u.%u", v->major, v->minor, v->micro);
  return text;
}

class UsbtmcProvider final : public Provider {
 public:
  UsbtmcProvider() {
    // Without a USB device file system there is nothing to ask libusb about.
    if (!PathExists("/dev/bus/usb") && !PathExists("/sys/bus/usb/devices")) {
      noUsb_ = true;
      return;
    }
    libusb_context* raw = nullptr;
    initError_ = libusb_init(&raw);
    if (initError_ == LIBUSB_SUCCESS) context_ = LibusbContext(raw, libusb_exit);
  }

  const char* Name() const override { return kProviderName; }

  void ListResources(std::vector<std::string>* names) override {
    for (const SeenInterface& seen : Scan().interfaces) {
      names->push_back(usbtmc::FormatResourceName(seen.address));
    }
  }

  ViStatus Open(const std::string& canonicalName, uint32_t openTimeoutMs,
                std::unique_ptr<InstrSession>* session) override {
    UsbInstrumentAddress wanted;
    if (!context_ || !usbtmc::ParseResourceName(canonicalName, &wanted)) {
      return VI_ERROR_RSRC_NFOUND;
    }
    ScanResult scan = Scan();
    for (SeenInterface& seen : scan.interfaces) {
      if (usbtmc::SameInstrument(seen.address, wanted)) {
        return OpenInterface(seen, openTimeoutMs, session);
      }
    }
    return VI_ERROR_RSRC_NFOUND;
  }

  void Diagnose(std::vector<Diagnostic>* out) override {
    if (noUsb_) return;  // not a problem: this machine simply has no USB
    if (!context_) {
      out->push_back(Diagnostic{
          kProviderName, std::string("libusb cannot start: ") + libusb_strerror(initError_) + ".",
          "Check that the USB device files (/dev/bus/usb) are present."});
      return;
    }
    ScanResult scan = Scan();
    out->insert(out->end(), scan.problems.begin(), scan.problems.end());
  }

  std::string Unavailable() override {
    if (noUsb_) return "no USB on this machine (neither /dev/bus/usb nor /sys/bus/usb/devices)";
    if (!context_) return std::string("libusb cannot start: ") + libusb_strerror(initError_);
    return {};
  }

  std::string Describe() override {
    if (noUsb_) return Version() + "; no USB on this machine, so no USB instruments";
    if (!context_) return Version() + "; cannot start: " + libusb_strerror(initError_);
    ScanResult scan = Scan();
    std::string text = Version() + "; ";
    if (scan.interfaces.empty()) {
      text += "no USBTMC devices seen";
    } else {
      text += std::to_string(scan.interfaces.size()) +
              (scan.interfaces.size() == 1 ? " USBTMC device:" : " USBTMC devices:");
      for (const SeenInterface& seen : scan.interfaces) {
        text += " " + usbtmc::FormatResourceName(seen.address);
      }
    }
    if (!scan.problems.empty()) {
      text += "; " + std::to_string(scan.problems.size()) + " more that cannot be opened";
    }
    return text;
  }

 private:
  ScanResult Scan() {
    ScanResult result;
    if (!context_) return result;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context_.get(), &list);
    for (ssize_t i = 0; i < count; ++i) ScanDevice(list[i], &result);
    if (list != nullptr) libusb_free_device_list(list, 1);
    return result;
  }

  void ScanDevice(libusb_device* device, ScanResult* result) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) return;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS &&
        libusb_get_config_descriptor(device, 0, &config) != LIBUSB_SUCCESS) {
      return;
    }
    const std::vector<UsbtmcInterface> interfaces = usbtmc::FindUsbtmcInterfaces(*config);
    libusb_free_config_descriptor(config);
    if (interfaces.empty()) return;

    const std::string label = DeviceLabel(descriptor, device);
    if (descriptor.iSerialNumber == 0) {
      result->problems.push_back(
          Diagnostic{kProviderName, label + " has no serial number, so it has no VISA name.",
                     "Use a vendor VISA library for this instrument."});
      return;
    }
    libusb_device_handle* handle = nullptr;
    int rc = libusb_open(device, &handle);
    if (rc == LIBUSB_ERROR_ACCESS) {
      result->problems.push_back(
          Diagnostic{kProviderName, label + " is a USBTMC instrument that this user may not open.",
                     kRulesAdvice});
      return;
    }
    if (rc != LIBUSB_SUCCESS) {
      result->problems.push_back(
          Diagnostic{kProviderName, label + " cannot be opened: " + libusb_strerror(rc) + ".",
                     "Unplug and replug the instrument; check that no other program holds it."});
      return;
    }
    unsigned char serial[256] = {};
    rc = libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, serial,
                                            sizeof serial - 1);
    libusb_close(handle);
    if (rc < 0) {
      result->problems.push_back(Diagnostic{
          kProviderName, label + " does not give its serial number: " + libusb_strerror(rc) + ".",
          "Unplug and replug the instrument."});
      return;
    }
    for (const UsbtmcInterface& interface : interfaces) {
      SeenInterface seen;
      seen.address =
          UsbInstrumentAddress{descriptor.idVendor, descriptor.idProduct,
                               std::string(reinterpret_cast<char*>(serial)), interface.number};
      seen.interface = interface;
      seen.device = DeviceRef(libusb_ref_device(device));
      result->interfaces.push_back(std::move(seen));
    }
  }

  ViStatus OpenInterface(const SeenInterface& seen, uint32_t openTimeoutMs,
                         std::unique_ptr<InstrSession>* session) {
    libusb_device_handle* handle = nullptr;
    int rc = libusb_open(seen.device.get(), &handle);
    if (rc != LIBUSB_SUCCESS) return usbtmc::StatusFromLibusb(rc);
    const int number = seen.interface.number;
    // The kernel's usbtmc driver holds the interface by default; borrow it for the session.
    bool detached = false;
    if (libusb_kernel_driver_active(handle, number) == 1) {
      rc = libusb_detach_kernel_driver(handle, number);
      if (rc != LIBUSB_SUCCESS) {
        libusb_close(handle);
        return VI_ERROR_RSRC_BUSY;
      }
      detached = true;
    }
    rc = libusb_claim_interface(handle, number);
    if (rc != LIBUSB_SUCCESS) {
      if (detached) libusb_attach_kernel_driver(handle, number);
      libusb_close(handle);
      return usbtmc::StatusFromLibusb(rc);
    }
    auto transport =
        std::make_unique<usbtmc::LibusbTransport>(context_, handle, seen.interface, detached);
    if (seen.interface.altSetting != 0) {
      rc = libusb_set_interface_alt_setting(handle, number, seen.interface.altSetting);
      if (rc != LIBUSB_SUCCESS) return usbtmc::StatusFromLibusb(rc);
    }
    libusb_device_descriptor descriptor{};
    std::string manufacturer, model;
    if (libusb_get_device_descriptor(seen.device.get(), &descriptor) == LIBUSB_SUCCESS) {
      manufacturer = StringDescriptor(handle, descriptor.iManufacturer);
      model = StringDescriptor(handle, descriptor.iProduct);
    }
    auto opened = std::make_unique<usbtmc::UsbtmcSession>(std::move(transport));
    opened->SetDeviceNames(std::move(manufacturer), std::move(model));
    ViStatus status = opened->Open(openTimeoutMs);
    if (status != VI_SUCCESS) return status;
    *session = std::move(opened);
    return VI_SUCCESS;
  }

  // A string descriptor in ASCII; empty when the device has none or does not give it.
  static std::string StringDescriptor(libusb_device_handle* handle, uint8_t index) {
    if (index == 0) return {};
    unsigned char text[256] = {};
    int rc = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text - 1);
    return rc > 0 ? std::string(reinterpret_cast<char*>(text), static_cast<size_t>(rc)) : "";
  }

  LibusbContext context_;
  int initError_ = LIBUSB_SUCCESS;
  bool noUsb_ = false;
};

}  // namespace

std::unique_ptr<Provider> CreateUsbtmcProvider() { return std::make_unique<UsbtmcProvider>(); }

}  // namespace fg::visa
