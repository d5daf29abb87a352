// A vendor VISA library (NI, Keysight, R&S, or any library with the standard C functions) loaded
// at run time as a provider. CreateVendorProvider (visa/builtin_providers.h) searches for one.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "visa/provider.h"

namespace fg::visa {

// The library names and folders searched, for messages.
std::string VendorSearchDescription();

// Loads one library (a path, or a bare name for the loader's search path) as a provider.
// Null, with the reason appended to *skipped, when it cannot be loaded, lacks one of the
// functions we call, or cannot open its resource manager.
std::unique_ptr<Provider> LoadVendorLibrary(const std::string& pathOrName,
                                            std::vector<Diagnostic>* skipped);

}  // namespace fg::visa
