// viLock and viUnlock on an instrument session; the locks themselves are kept by
// visa/resource_locks.h, by resource name, so that sessions of every resource manager meet there.
#include <memory>
#include <string>

#include "util/bounded_text.h"
#include "visa/handle_table.h"
#include "visa/resource_locks.h"
#include "visa/visa.h"

namespace fg::visa {

ViStatus viLock(ViSession vi, ViAccessMode lockType, ViUInt32 timeout, ViConstKeyId requestedKey,
                ViKeyId accessKey) {
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  if (!s) return VI_ERROR_INV_OBJECT;
  if (lockType == VI_SHARED_LOCK && accessKey == nullptr) return VI_ERROR_INV_ACCESS_KEY;
  std::string key;
  ViStatus status = AcquireLock(s->name.canonical, vi, lockType, timeout,
                                requestedKey != nullptr ? requestedKey : "", &key);
  if (status >= VI_SUCCESS && lockType == VI_SHARED_LOCK) {
    CopyBounded(accessKey, VI_FIND_BUFLEN, key.c_str());
  }
  // A session closed while its lock was granted gives the lock back at once.
  if (status >= VI_SUCCESS && !Handles().Has(vi)) {
    ReleaseAllLocks(s->name.canonical, vi);
    return VI_ERROR_INV_OBJECT;
  }
  return status;
}

ViStatus viUnlock(ViSession vi) {
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  if (!s) return VI_ERROR_INV_OBJECT;
  return ReleaseLock(s->name.canonical, vi);
}

}  // namespace fg::visa
