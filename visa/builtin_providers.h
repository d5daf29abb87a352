// Factories of the providers built into our VISA layer. The registry creates them on first use.
#pragma once
#include <memory>

#include "visa/provider.h"

namespace fg::visa {

// The simulated bus: instruments of flintgate-sim attached to the bus folder.
std::unique_ptr<Provider> CreateSimBusProvider();
// Our own USBTMC client over libusb-1.0, used when no vendor library is found.
std::unique_ptr<Provider> CreateUsbtmcProvider();
// A vendor VISA library loaded at run time, or null when none can be loaded (the reasons are
// appended to *skipped, e.g. a library that lacks a needed function).
std::unique_ptr<Provider> CreateVendorProvider(std::vector<Diagnostic>* skipped);

}  // namespace fg::visa
