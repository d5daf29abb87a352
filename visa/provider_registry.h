// The registry of providers behind the VISA functions, in routing order: the simulated bus, then
// a vendor VISA library if one loads, else our USBTMC client over libusb.
//
// FLINTGATE_VISA_PROVIDERS (comma-separated "simbus", "vendor", "usbtmc"; empty for none)
// replaces that choice, so that tests never touch real USB or a vendor library.
// FLINTGATE_VISA_LIBRARY names the one vendor library to load instead of searching for one.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "visa/provider.h"

namespace fg::visa {

// The providers in routing order. Created from the environment on first use.
std::vector<std::shared_ptr<Provider>> ActiveProviders();

// The same, for a new resource manager session. Creating the providers opens files (libusb's
// context, a vendor library): when this process can open no further file, they are not created
// (they would come out crippled, and stay so for the life of the process) and the answer is
// VI_ERROR_ALLOC; a later call tries again.
ViStatus ProvidersForNewSession(std::vector<std::shared_ptr<Provider>>* providers);

// What choosing the providers found: a skipped vendor library, an unknown provider name.
std::vector<Diagnostic> RegistryNotes();

// One line on the vendor-library search for `doctor` (what was loaded, or what was looked for).
std::string VendorSearchSummary();

// A resource and the provider that owns it.
struct OwnedResource {
  std::string name;
  std::string provider;
};
// Every resource of the active providers, as viFindRsrc sees them: in routing order, a name that
// an earlier provider already lists (compared canonically) left out.
std::vector<OwnedResource> ListOwnedResources();
std::vector<OwnedResource> ListOwnedResources(const std::vector<std::shared_ptr<Provider>>& providers);

// Whether the registry may load vendor libraries. The shared library libflintgate-visa.so turns
// this off: it is a VISA library itself and must never load another one (or itself) in turn.
void AllowVendorLibraries(bool allowed);

// --- For tests ------------------------------------------------------------------------------

// Replaces the providers (resource managers opened later use them): the tests' scripted
// provider (tests/visa/support) comes in this way, and the product never calls it.
void InstallProvidersForTesting(std::vector<std::shared_ptr<Provider>> providers);
// Forgets the providers; the next use chooses them from the environment again.
void ResetProvidersForTesting();

// Faults of the layer itself that no provider can cause. A status of 0 means no fault.
struct LayerFaults {
  // viOpenDefaultRM returns this. A warning (positive) still opens the session, as a library
  // that could not read its configuration does; an error opens nothing.
  ViStatus openDefaultRmStatus = 0;
  // viFindNext fails with `findNextStatus` once this many names of a find list were returned
  // (the one viFindRsrc returned counts); negative for never.
  int32_t findNextFailAfter = -1;
  ViStatus findNextStatus = 0;
};
void SetLayerFaultsForTesting(const LayerFaults& faults);
LayerFaults CurrentLayerFaults();

// The number of open handles (resource managers, find lists, sessions): tests check for leaks.
size_t OpenHandleCountForTesting();

}  // namespace fg::visa
