// Whether this process has run out of file descriptors. A provider that cannot open its bus
// folder, a socket or a device file finds nothing, and would answer "not found"; the layer asks
// this before it says so, and answers VI_ERROR_ALLOC instead: the resource may well be there.
#pragma once

namespace fg::visa {

// True when opening one more file fails with EMFILE (this process's limit) or ENFILE (the
// system's). Always false on Windows, where handles run out only with memory.
bool OutOfFileDescriptors();

}  // namespace fg::visa
