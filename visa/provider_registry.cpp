#include "visa/provider_registry.h"

#include <cstdlib>
#include <mutex>
#include <string_view>

#include "visa/builtin_providers.h"
#include "visa/file_descriptors.h"
#include "visa/resource_name.h"
#include "visa/vendor/vendor_provider.h"

namespace fg::visa {

namespace {

struct Registry {
  std::mutex mutex;
  bool chosen = false;
  bool vendorAllowed = true;
  std::vector<std::shared_ptr<Provider>> providers;
  std::vector<Diagnostic> notes;
  std::string vendorSummary;
  LayerFaults faults;
};

// Never destroyed: sessions may still be closed from other objects' static destructors.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

void AddIfCreated(Registry& r, std::unique_ptr<Provider> provider) {
  if (provider) r.providers.push_back(std::move(provider));
}

// A vendor library if one loads; its reasons for skipping others become notes.
bool AddVendor(Registry& r) {
  if (!r.vendorAllowed) {
    r.vendorSummary = "vendor VISA libraries are not loaded from inside a VISA library";
    return false;
  }
  std::vector<Diagnostic> skipped;
  std::unique_ptr<Provider> vendor = CreateVendorProvider(&skipped);
  r.notes.insert(r.notes.end(), skipped.begin(), skipped.end());
  if (!vendor) {
    r.vendorSummary = "no vendor VISA library found; looked for " + VendorSearchDescription();
    return false;
  }
  r.vendorSummary = vendor->Describe();
  r.providers.push_back(std::move(vendor));
  return true;
}

void ChooseFromEnvironment(Registry& r) {
  const char* list = std::getenv("FLINTGATE_VISA_PROVIDERS");
  if (list == nullptr) {
    AddIfCreated(r, CreateSimBusProvider());
    if (!AddVendor(r)) AddIfCreated(r, CreateUsbtmcProvider());
    return;
  }
  r.vendorSummary = "vendor VISA libraries not searched (FLINTGATE_VISA_PROVIDERS=\"" +
                    std::string(list) + "\")";
  std::string_view rest(list);
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (item.empty()) continue;
    if (item == "simbus") {
      AddIfCreated(r, CreateSimBusProvider());
    } else if (item == "usbtmc") {
      AddIfCreated(r, CreateUsbtmcProvider());
    } else if (item == "vendor") {
      AddVendor(r);
    } else {
      r.notes.push_back({"registry",
                         "FLINTGATE_VISA_PROVIDERS names an unknown provider \"" +
                             std::string(item) + "\"",
                         "use a comma-separated list of simbus, vendor and usbtmc"});
    }
  }
}

Registry& ChosenRegistry(std::unique_lock<std::mutex>* lock) {
  Registry& r = TheRegistry();
  *lock = std::unique_lock<std::mutex>(r.mutex);
  if (!r.chosen) {
    ChooseFromEnvironment(r);
    r.chosen = true;
  }
  return r;
}

// The canonical form of a listed name, for spotting the same resource listed twice.
std::string Canonical(const std::string& name) {
  ResourceName parsed;
  return ParseResourceName(name.c_str(), &parsed) == VI_SUCCESS ? parsed.canonical : name;
}

}  // namespace

std::vector<std::shared_ptr<Provider>> ActiveProviders() {
  std::unique_lock<std::mutex> lock;
  return ChosenRegistry(&lock).providers;
}

ViStatus ProvidersForNewSession(std::vector<std::shared_ptr<Provider>>* providers) {
  {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.chosen && OutOfFileDescriptors()) return VI_ERROR_ALLOC;
  }
  *providers = ActiveProviders();
  return VI_SUCCESS;
}

std::vector<Diagnostic> RegistryNotes() {
  std::unique_lock<std::mutex> lock;
  return ChosenRegistry(&lock).notes;
}

std::string VendorSearchSummary() {
  std::unique_lock<std::mutex> lock;
  return ChosenRegistry(&lock).vendorSummary;
}

std::vector<OwnedResource> ListOwnedResources(
    const std::vector<std::shared_ptr<Provider>>& providers) {
  std::vector<OwnedResource> owned;
  std::vector<std::string> seen;  // canonical forms of the names taken
  for (const std::shared_ptr<Provider>& provider : providers) {
    std::vector<std::string> names;
    provider->ListResources(&names);
    for (std::string& name : names) {
      std::string canonical = Canonical(name);
      bool duplicate = false;
      for (const std::string& s : seen) duplicate = duplicate || SameResourceName(s, canonical);
      if (duplicate) continue;
      seen.push_back(canonical);
      owned.push_back({std::move(name), provider->Name()});
    }
  }
  return owned;
}

std::vector<OwnedResource> ListOwnedResources() { return ListOwnedResources(ActiveProviders()); }

void AllowVendorLibraries(bool allowed) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.vendorAllowed = allowed;
}

void InstallProvidersForTesting(std::vector<std::shared_ptr<Provider>> providers) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.providers = std::move(providers);
  r.notes.clear();
  r.vendorSummary = "providers installed by a test";
  r.chosen = true;
}

void ResetProvidersForTesting() {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.providers.clear();
  r.notes.clear();
  r.vendorSummary.clear();
  r.chosen = false;
}

void SetLayerFaultsForTesting(const LayerFaults& faults) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.faults = faults;
}

LayerFaults CurrentLayerFaults() {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.faults;
}

}  // namespace fg::visa
