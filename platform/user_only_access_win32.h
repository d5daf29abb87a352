// Windows: the security descriptor of what only this user may open (private_folder_win32.cpp).
#pragma once
#include <windows.h>

namespace fg::platform {

// A protected access list with one entry, this process's user with full control; for a folder
// it is inherited by everything made inside. Nothing is inherited from the parent folder, so
// administrators and other users get no access through it. Null when it cannot be made; the
// caller frees it with LocalFree.
PSECURITY_DESCRIPTOR NewUserOnlyDescriptor(bool forFolder);

}  // namespace fg::platform
