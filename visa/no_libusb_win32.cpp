// libusb is not built for Windows: there the vendor VISA reaches USB instruments, and our own
// USBTMC client is not offered.
#include "visa/builtin_providers.h"

namespace fg::visa {

std::unique_ptr<Provider> CreateUsbtmcProvider() { return nullptr; }

}  // namespace fg::visa
