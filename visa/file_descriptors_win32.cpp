#include "visa/file_descriptors.h"

namespace fg::visa {

// Windows has no per-process descriptor limit to reach; the vendor VISA, the only provider
// there, reports its own lack of resources.
bool OutOfFileDescriptors() { return false; }

}  // namespace fg::visa
