// Windows: access lists for what only this user may open (private folders, payload files, the
// simulated bus), and the judgement of an existing object's access list.
#pragma once
#include <windows.h>

#include <string>

namespace fg::platform {

// The account this process runs as, "S-1-5-21-..."; false when it cannot be read.
bool CurrentUserSid(std::string* sid);

// A protected access list with one entry, this process's user with full control; for a folder
// it is inherited by everything made inside. Nothing is inherited from the parent folder, so
// administrators and other users get no access through it. Null when it cannot be made; the
// caller frees it with LocalFree.
PSECURITY_DESCRIPTOR NewUserOnlyDescriptor(bool forFolder);

// Who, besides this user, the system and the administrators (who may open anything anyway), may
// open an object with this descriptor: empty when nobody; otherwise the first such account, e.g.
// "Everyone (S-1-1-0)", or "everybody" when the descriptor has no access list at all. Entries
// that only pass on to new objects inside a folder are not access to the folder itself.
std::string OthersAdmitted(PSECURITY_DESCRIPTOR descriptor);

// The descriptor's owner when it is someone other than this user, the system or the
// administrators, e.g. "alice (S-1-5-21-...)"; empty otherwise.
std::string ForeignOwner(PSECURITY_DESCRIPTOR descriptor);

}  // namespace fg::platform
