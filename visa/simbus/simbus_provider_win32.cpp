// The simulated bus on Windows: its devices are POSIX local sockets in a private folder, which
// this build does not reach yet. The provider lists nothing and says why in `doctor`; USB
// instruments are reached through the vendor VISA.
#include <memory>

#include "platform/local_socket.h"
#include "visa/builtin_providers.h"

namespace fg::visa {

namespace {

class UnavailableSimBusProvider final : public Provider {
 public:
  const char* Name() const override { return "simbus"; }
  void ListResources(std::vector<std::string>*) override {}
  ViStatus Open(const std::string&, uint32_t, std::unique_ptr<InstrSession>*) override {
    return VI_ERROR_RSRC_NFOUND;
  }
  void Diagnose(std::vector<Diagnostic>* out) override {
    out->push_back(Diagnostic{Name(), Reason(),
                              "Run flintgate-sim and the program on Linux to use simulated "
                              "instruments; on Windows, connect the instrument over USB and "
                              "install a vendor VISA (visa64.dll)."});
  }
  std::string Describe() override { return "not available: " + Reason(); }

 private:
  static std::string Reason() {
    std::string why;
    if (!platform::LocalSocketsAvailable(&why)) {
      return "The simulated bus cannot run here: " + why + ".";
    }
    return "The simulated bus is not part of the Windows build; simulated instruments are not "
           "reachable.";
  }
};

}  // namespace

std::unique_ptr<Provider> CreateSimBusProvider() {
  return std::make_unique<UnavailableSimBusProvider>();
}

}  // namespace fg::visa
