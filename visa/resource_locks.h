// viLock and viUnlock: exclusive and shared locks on a resource, held by sessions of this
// process. A resource is known by its canonical name, so sessions of different resource
// managers lock each other out.
#pragma once
#include <cstdint>
#include <string>

#include "visa/visa_types.h"

namespace fg::visa {

// Takes a lock for `session` on `resource`, waiting up to timeoutMs for other holders to leave.
// Exclusive: VI_SUCCESS, VI_SUCCESS_NESTED_EXCLUSIVE when the session holds it already.
// Shared: the holders share `requestedKey` (a new key when it is empty), which goes to *key;
// VI_SUCCESS or VI_SUCCESS_NESTED_SHARED. VI_ERROR_TMO when the lock stayed taken,
// VI_ERROR_INV_ACCESS_KEY for a shared lock under another key than the session's own,
// VI_ERROR_INV_LOCK_TYPE for another type.
ViStatus AcquireLock(const std::string& resource, ViSession session, ViAccessMode type,
                     uint32_t timeoutMs, const std::string& requestedKey, std::string* key);
// Gives back one level of the session's lock, the exclusive one first: VI_SUCCESS when the
// session holds none any more, VI_SUCCESS_NESTED_EXCLUSIVE / _SHARED while it still holds one,
// VI_ERROR_SESN_NLOCKED when it held none.
ViStatus ReleaseLock(const std::string& resource, ViSession session);
// Drops every lock of a closing session.
void ReleaseAllLocks(const std::string& resource, ViSession session);
// VI_SUCCESS when the session may use the resource now, VI_ERROR_RSRC_LOCKED when another
// session's lock keeps it out.
ViStatus CheckAccess(const std::string& resource, ViSession session);
// VI_ATTR_RSRC_LOCK_STATE of the resource: VI_NO_LOCK, VI_EXCLUSIVE_LOCK or VI_SHARED_LOCK.
ViAccessMode LockState(const std::string& resource);

}  // namespace fg::visa
