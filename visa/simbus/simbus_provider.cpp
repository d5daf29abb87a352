// The simulated bus as a VISA provider: the devices in the bus folder, opened as USBTMC sessions
// over their connections (Unix sockets on POSIX, named pipes on Windows).
#include <cctype>
#include <memory>

#include "visa/builtin_providers.h"
#include "visa/simbus/simbus_device.h"
#include "visa/simbus/simbus_folder.h"
#include "visa/simbus/simbus_host_transport.h"
#include "visa/usbtmc/usbtmc_resource_name.h"
#include "visa/usbtmc/usbtmc_session.h"

namespace fg::visa {

namespace {

usbtmc::UsbInstrumentAddress AddressOf(const simbus::SimDeviceIdentity& identity) {
  return {identity.vendorId, identity.productId, identity.serial, identity.interfaceNumber};
}

bool SameIgnoringSerialCase(const usbtmc::UsbInstrumentAddress& a,
                            const usbtmc::UsbInstrumentAddress& b) {
  if (a.vendorId != b.vendorId || a.productId != b.productId ||
      a.interfaceNumber != b.interfaceNumber || a.serial.size() != b.serial.size()) {
    return false;
  }
  for (size_t i = 0; i < a.serial.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a.serial[i])) !=
        std::tolower(static_cast<unsigned char>(b.serial[i]))) {
      return false;
    }
  }
  return true;
}

class SimBusProvider final : public Provider {
 public:
  const char* Name() const override { return "simbus"; }

  void ListResources(std::vector<std::string>* names) override {
    std::string problem;
    const auto folder = SafeFolder(&problem);
    if (!folder) return;
    for (const simbus::BusEntry& entry : simbus::ListBusDevices(*folder)) {
      names->push_back(usbtmc::FormatResourceName(AddressOf(entry.identity)));
    }
  }

  ViStatus Open(const std::string& canonicalName, uint32_t openTimeoutMs,
                std::unique_ptr<InstrSession>* session) override {
    usbtmc::UsbInstrumentAddress wanted;
    if (!usbtmc::ParseResourceName(canonicalName, &wanted)) return VI_ERROR_RSRC_NFOUND;
    std::string problem;
    const auto folder = SafeFolder(&problem);
    if (!folder) return VI_ERROR_RSRC_NFOUND;
    // Serials compare exactly first; a name typed in another case still finds its device.
    const std::vector<simbus::BusEntry> entries = simbus::ListBusDevices(*folder);
    const simbus::BusEntry* match = nullptr;
    for (const simbus::BusEntry& entry : entries) {
      if (usbtmc::SameInstrument(AddressOf(entry.identity), wanted)) match = &entry;
    }
    for (const simbus::BusEntry& entry : entries) {
      if (match == nullptr && SameIgnoringSerialCase(AddressOf(entry.identity), wanted)) {
        match = &entry;
      }
    }
    if (match == nullptr) return VI_ERROR_RSRC_NFOUND;

    std::unique_ptr<simbus::SimBusTransport> transport;
    ViStatus status = simbus::SimBusTransport::Connect(*folder, *match, openTimeoutMs, &transport);
    if (status != VI_SUCCESS) return status;
    auto opened = std::make_unique<usbtmc::UsbtmcSession>(std::move(transport));
    status = opened->Open(openTimeoutMs);
    if (status != VI_SUCCESS) return status;
    *session = std::move(opened);
    return VI_SUCCESS;
  }

  void Diagnose(std::vector<Diagnostic>* out) override {
    std::string problem;
    if (SafeFolder(&problem)) return;
    out->push_back(Diagnostic{Name(), problem + " Simulated instruments in it are ignored.",
                              simbus::BusFolderAdvice(simbus::DefaultBusFolder())});
  }

  std::string Unavailable() override {
    std::string problem;
    return SafeFolder(&problem) ? std::string() : problem;
  }

  std::string Describe() override {
    std::string problem;
    const auto folder = SafeFolder(&problem);
    if (!folder) return "bus folder " + simbus::DefaultBusFolder() + " ignored: " + problem;
    const size_t count = simbus::ListBusDevices(*folder).size();
    return "bus folder " + folder->path() + ", " + std::to_string(count) +
           (count == 1 ? " simulated instrument" : " simulated instruments");
  }

 private:
  // The folder is looked up and opened on every call: FLINTGATE_SIMBUS may change between
  // searches. Within one call everything goes through the descriptor opened here.
  static std::unique_ptr<simbus::BusFolder> SafeFolder(std::string* problem) {
    return simbus::BusFolder::Open(simbus::DefaultBusFolder(), problem);
  }
};

}  // namespace

std::unique_ptr<Provider> CreateSimBusProvider() { return std::make_unique<SimBusProvider>(); }

}  // namespace fg::visa
