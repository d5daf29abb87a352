// The resource manager's functions: its session, the search for resources and the parsing of
// their names, opening instrument sessions, and viClose of any handle with what was opened
// through it.
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "util/bounded_text.h"
#include "visa/file_descriptors.h"
#include "visa/handle_table.h"
#include "visa/provider_registry.h"
#include "visa/resource_locks.h"
#include "visa/resource_name.h"
#include "visa/visa.h"
#include "visa/visa_expression.h"

namespace fg::visa {

namespace {

void CopyName(ViChar* dest, const std::string& name) {
  if (dest != nullptr) CopyBounded(dest, VI_FIND_BUFLEN, name.c_str());
}

}  // namespace

ViStatus viOpenDefaultRM(ViPSession vi) {
  if (vi == nullptr) return VI_ERROR_INV_PARAMETER;
  *vi = VI_NULL;
  ViStatus forced = CurrentLayerFaults().openDefaultRmStatus;
  if (forced < VI_SUCCESS) return forced;
  auto rm = std::make_shared<ResourceManager>();
  ViStatus chosen = ProvidersForNewSession(&rm->providers);
  if (chosen != VI_SUCCESS) return chosen;
  ViObject handle = Handles().Add(rm);
  if (handle == VI_NULL) return VI_ERROR_SYSTEM_ERROR;
  *vi = handle;
  return forced;
}

ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt,
                    ViChar desc[]) {
  if (vi != nullptr) *vi = VI_NULL;
  if (retCnt != nullptr) *retCnt = 0;
  if (desc != nullptr) desc[0] = '\0';
  std::shared_ptr<ResourceManager> rm = Handles().Get<ResourceManager>(sesn, Kind::kResourceManager);
  if (!rm) return VI_ERROR_INV_OBJECT;
  if (expr == nullptr) return VI_ERROR_INV_EXPR;
  std::unique_ptr<SearchExpression> search = SearchExpression::Compile(expr);
  if (!search) return VI_ERROR_INV_EXPR;

  auto list = std::make_shared<FindList>();
  for (OwnedResource& r : ListOwnedResources(rm->providers)) {
    if (search->Matches(r.name)) list->names.push_back(std::move(r.name));
  }
  // Providers that could not open their files list nothing; then nothing was looked at.
  if (list->names.empty()) return OutOfFileDescriptors() ? VI_ERROR_ALLOC : VI_ERROR_RSRC_NFOUND;
  if (retCnt != nullptr) *retCnt = static_cast<ViUInt32>(list->names.size());
  CopyName(desc, list->names[0]);
  if (vi == nullptr) return VI_SUCCESS;  // the caller wants no list: it is closed at once
  list->parent = sesn;
  ViObject handle = Handles().Add(list);
  if (handle == VI_NULL) return VI_ERROR_INV_OBJECT;  // the resource manager was just closed
  *vi = handle;
  return VI_SUCCESS;
}

ViStatus viFindNext(ViFindList vi, ViChar desc[]) {
  if (desc != nullptr) desc[0] = '\0';
  std::shared_ptr<FindList> list = Handles().Get<FindList>(vi, Kind::kFindList);
  if (!list) return VI_ERROR_INV_OBJECT;
  if (desc == nullptr) return VI_ERROR_USER_BUF;
  std::lock_guard<std::mutex> lock(list->mutex);
  LayerFaults faults = CurrentLayerFaults();
  if (faults.findNextFailAfter >= 0 &&
      list->next >= static_cast<size_t>(faults.findNextFailAfter)) {
    return faults.findNextStatus;
  }
  if (list->next >= list->names.size()) return VI_ERROR_RSRC_NFOUND;
  CopyName(desc, list->names[list->next]);
  ++list->next;
  return VI_SUCCESS;
}

ViStatus viParseRsrcEx(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType,
                       ViPUInt16 intfNum, ViChar rsrcClass[], ViChar expandedUnaliasedName[],
                       ViChar aliasIfExists[]) {
  if (!Handles().Get<ResourceManager>(rmSesn, Kind::kResourceManager)) return VI_ERROR_INV_OBJECT;
  ResourceName parsed;
  ViStatus status = ParseResourceName(rsrcName, &parsed);
  if (status != VI_SUCCESS) return status;
  if (intfType != nullptr) *intfType = parsed.interfaceType;
  if (intfNum != nullptr) *intfNum = parsed.board;
  CopyName(rsrcClass, parsed.resourceClass);
  CopyName(expandedUnaliasedName, parsed.canonical);
  CopyName(aliasIfExists, "");
  return VI_SUCCESS;
}

ViStatus viParseRsrc(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType,
                     ViPUInt16 intfNum) {
  return viParseRsrcEx(rmSesn, rsrcName, intfType, intfNum, nullptr, nullptr, nullptr);
}

ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                ViPSession vi) {
  if (vi == nullptr) return VI_ERROR_INV_PARAMETER;
  *vi = VI_NULL;
  std::shared_ptr<ResourceManager> rm = Handles().Get<ResourceManager>(sesn, Kind::kResourceManager);
  if (!rm) return VI_ERROR_INV_OBJECT;
  if ((mode & ~(VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK | VI_LOAD_CONFIG)) != 0 ||
      ((mode & VI_EXCLUSIVE_LOCK) && (mode & VI_SHARED_LOCK))) {
    return VI_ERROR_INV_ACC_MODE;
  }
  auto session = std::make_shared<Session>();
  ViStatus status = ParseResourceName(name, &session->name);
  if (status != VI_SUCCESS) return status;
  // A well-formed name of an interface that no provider serves is simply not present.
  if (session->name.interfaceType != VI_INTF_USB || session->name.resourceClass != "INSTR") {
    return VI_ERROR_RSRC_NFOUND;
  }

  // The first provider that has the resource decides; "not found" passes to the next.
  status = VI_ERROR_RSRC_NFOUND;
  for (const std::shared_ptr<Provider>& provider : rm->providers) {
    status = provider->Open(session->name.canonical, timeout, &session->instr);
    if (status != VI_ERROR_RSRC_NFOUND) {
      session->provider = provider;
      break;
    }
  }
  // Names ignore case: a serial written in another case is found among the listed names.
  if (status == VI_ERROR_RSRC_NFOUND) {
    for (const OwnedResource& owned : ListOwnedResources(rm->providers)) {
      ResourceName listed;
      if (ParseResourceName(owned.name.c_str(), &listed) != VI_SUCCESS ||
          !SameResourceName(listed.canonical, session->name.canonical) ||
          listed.canonical == session->name.canonical) {
        continue;
      }
      for (const std::shared_ptr<Provider>& provider : rm->providers) {
        if (owned.provider != provider->Name()) continue;
        status = provider->Open(listed.canonical, timeout, &session->instr);
        if (status >= VI_SUCCESS) {
          session->provider = provider;
          session->name = listed;
        }
        break;
      }
      break;
    }
  }
  // A provider that could not open a file it needed (the bus folder, a socket, a device file)
  // reports the resource missing, or an I/O error; without descriptors, that is why.
  if ((status == VI_ERROR_RSRC_NFOUND || status == VI_ERROR_IO) && OutOfFileDescriptors()) {
    return VI_ERROR_ALLOC;
  }
  if (status < VI_SUCCESS) return status;
  if (!session->instr) return VI_ERROR_SYSTEM_ERROR;  // a provider claimed success with no session
  session->manufacturerName = session->instr->ManufacturerName();
  session->modelName = session->instr->ModelName();
  session->canSignalServiceRequest = session->instr->CanSignalServiceRequest();
  session->usbProtocol = session->instr->UsbProtocol();
  session->parent = sesn;
  ViObject handle = Handles().Add(session);
  session->handle = handle;
  if (handle == VI_NULL) {
    std::lock_guard<std::timed_mutex> lock(session->io);
    session->instr.reset();
    return VI_ERROR_INV_OBJECT;  // the resource manager was closed meanwhile
  }
  // A lock asked for at open is taken within the open timeout; without it nothing stays open.
  const ViAccessMode lockType = mode & (VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK);
  if (lockType != VI_NO_LOCK) {
    ViStatus locked = AcquireLock(session->name.canonical, handle, lockType, timeout, "", nullptr);
    if (locked < VI_SUCCESS) {
      viClose(handle);
      return locked;
    }
  }
  *vi = handle;
  return status;
}

ViStatus viClose(ViObject vi) {
  if (vi == VI_NULL) return VI_WARN_NULL_OBJECT;
  std::vector<std::shared_ptr<Object>> removed = Handles().Remove(vi);
  if (removed.empty()) return VI_ERROR_INV_OBJECT;
  std::vector<Session*> sessions;
  for (const std::shared_ptr<Object>& object : removed) {
    if (object->kind == Kind::kSession) sessions.push_back(static_cast<Session*>(object.get()));
  }
  // Every session's I/O is cut short first, so that a resource manager closing several sessions
  // blocked in reads waits for them all at once. `instr` is only ever released below, by the
  // one close that removed the session, so reading it here without `io` is safe.
  for (Session* session : sessions) {
    session->closing = true;
    if (session->instr) session->instr->Cancel();
  }
  // The wait is timed on the system clock: its timed lock is pthread_mutex_timedlock, which
  // thread checkers follow (the steady clock's is not, in the TSan of GCC 12 and clang 14). A
  // clock step only moves the bound; the instrument is released once the cut call let go of it.
  const auto deadline = std::chrono::system_clock::now() + kCloseWait;
  for (Session* session : sessions) {
    std::unique_lock<std::timed_mutex> lock(session->io, deadline);
    if (lock.owns_lock()) session->instr.reset();
    ReleaseAllLocks(session->name.canonical, session->handle);
  }
  return VI_SUCCESS;
}

}  // namespace fg::visa
