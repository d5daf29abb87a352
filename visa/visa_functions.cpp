// The VISA functions over a table of handles. Resource managers own the find lists and sessions
// opened through them; every object is shared, so that a close racing an I/O call on another
// thread never frees what that call still uses.
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "util/bounded_text.h"
#include "visa/provider_registry.h"
#include "visa/resource_locks.h"
#include "visa/resource_name.h"
#include "visa/visa.h"
#include "visa/terminated_read.h"
#include "visa/visa_expression.h"

namespace fg::visa {

namespace {

constexpr ViUInt32 kDefaultTimeoutMs = 2000;  // VISA's default VI_ATTR_TMO_VALUE
constexpr ViVersion kImplementationVersion = (2u << 20) | (4u << 8);  // 2.4.0
constexpr const char* kManufacturerName = "Flintgate";
// VI_ATTR_RSRC_MANF_ID: VXIplug&play assigns none to this layer; 0x3FFF is the unassigned id.
constexpr ViUInt16 kManufacturerId = 0x3FFF;
// How many queued service requests viDiscardEvents drops at most in one call.
constexpr int kMaxDiscardedEvents = 64;

enum class Kind { kResourceManager, kFindList, kSession, kEvent };

struct Object {
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  const Kind kind;
  ViObject parent = VI_NULL;  // the resource manager of a find list or session
};

struct ResourceManager : Object {
  ResourceManager() : Object(Kind::kResourceManager) {}
  std::vector<std::shared_ptr<Provider>> providers;  // as chosen when the session opened
};

struct FindList : Object {
  FindList() : Object(Kind::kFindList) {}
  std::mutex mutex;
  std::vector<std::string> names;
  size_t next = 1;  // viFindRsrc returned names[0]
};

struct Session : Object {
  Session() : Object(Kind::kSession) {}
  std::shared_ptr<Provider> provider;  // declared before `instr`: outlives it
  ResourceName name;
  std::mutex io;  // one I/O call at a time; held by viClose while it releases `instr`
  std::unique_ptr<InstrSession> instr;  // null once closed
  std::atomic<ViUInt32> timeoutMs{kDefaultTimeoutMs};
  std::atomic<ViUInt32> readBufferSize{0};
  std::atomic<ViUInt32> writeBufferSize{0};
  ViSession handle = VI_NULL;  // set once registered
  std::atomic<ViUInt8> termChar{'\n'};
  std::atomic<bool> termCharEnabled{false};
  std::atomic<bool> suppressEnd{false};
  std::atomic<ViUInt16> readBufferMode{VI_FLUSH_DISABLE};
  std::atomic<ViUInt16> writeBufferMode{VI_FLUSH_WHEN_FULL};
  std::atomic<ViUInt32> maxQueueLength{VI_DEFAULT_QUEUE_LENGTH};
  std::atomic<ViAttrState> userData{0};
  std::atomic<bool> serviceRequestsQueued{false};  // VI_EVENT_SERVICE_REQ enabled (VI_QUEUE)
  // Known at open, so that attributes never reach into `instr`.
  std::string manufacturerName;
  std::string modelName;
  bool canSignalServiceRequest = false;
  ViInt16 usbProtocol = 1;
  ReadBuffer readBuffer;  // guarded by `io`
};

// A service request taken off a session's queue by viWaitOnEvent; closed by viClose.
struct EventObject : Object {
  EventObject() : Object(Kind::kEvent) {}
  ViEventType type = VI_EVENT_SERVICE_REQ;
  ViUInt16 statusByte = 0;
};

class HandleTable {
 public:
  // Registers an object; VI_NULL when its parent was closed in the meantime.
  ViObject Add(std::shared_ptr<Object> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (object->parent != VI_NULL && objects_.count(object->parent) == 0) return VI_NULL;
    do {
      ++next_;
    } while (next_ == VI_NULL || objects_.count(next_) != 0);
    objects_[next_] = std::move(object);
    return next_;
  }

  template <class T>
  std::shared_ptr<T> Get(ViObject handle, Kind kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(handle);
    if (it == objects_.end() || it->second->kind != kind) return nullptr;
    return std::static_pointer_cast<T>(it->second);
  }

  bool Has(ViObject handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return objects_.count(handle) != 0;
  }

  // Removes an object and everything opened through it: a resource manager's find lists and
  // sessions, and their events.
  std::vector<std::shared_ptr<Object>> Remove(ViObject handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::shared_ptr<Object>> removed;
    auto it = objects_.find(handle);
    if (it == objects_.end()) return removed;
    removed.push_back(it->second);
    objects_.erase(it);
    std::vector<ViObject> parents{handle};
    while (!parents.empty()) {
      const ViObject parent = parents.back();
      parents.pop_back();
      for (auto child = objects_.begin(); child != objects_.end();) {
        if (child->second->parent == parent) {
          parents.push_back(child->first);
          removed.push_back(child->second);
          child = objects_.erase(child);
        } else {
          ++child;
        }
      }
    }
    return removed;
  }

  size_t Size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return objects_.size();
  }

 private:
  std::mutex mutex_;
  std::unordered_map<ViObject, std::shared_ptr<Object>> objects_;
  ViObject next_ = 0x1000;
};

// Never destroyed, like the registry.
HandleTable& Handles() {
  static HandleTable* table = new HandleTable;
  return *table;
}

void CopyName(ViChar* dest, const std::string& name) {
  if (dest != nullptr) CopyBounded(dest, VI_FIND_BUFLEN, name.c_str());
}

bool KnownEvent(ViEventType type) {
  constexpr ViEventType kEvents[] = {VI_ALL_ENABLED_EVENTS, VI_EVENT_IO_COMPLETION, VI_EVENT_TRIG,
                                     VI_EVENT_SERVICE_REQ,  VI_EVENT_CLEAR,         VI_EVENT_EXCEPTION,
                                     VI_EVENT_USB_INTR};
  for (ViEventType e : kEvents) {
    if (e == type) return true;
  }
  return false;
}

bool ValidMechanism(ViUInt16 mechanism) {
  if (mechanism == VI_ALL_MECH) return true;
  return mechanism != 0 && (mechanism & ~(VI_QUEUE | VI_HNDLR | VI_SUSPEND_HNDLR)) == 0;
}

// Event calls are accepted on resource managers and sessions alike.
ViStatus CheckEventCall(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
  if (!Handles().Get<Session>(vi, Kind::kSession) &&
      !Handles().Get<ResourceManager>(vi, Kind::kResourceManager)) {
    return VI_ERROR_INV_OBJECT;
  }
  if (!KnownEvent(eventType)) return VI_ERROR_INV_EVENT;
  if (!ValidMechanism(mechanism)) return VI_ERROR_INV_MECH;
  return VI_SUCCESS;
}

template <class T>
ViStatus Store(void* out, T value) {
  *static_cast<T*>(out) = value;
  return VI_SUCCESS;
}

ViStatus StoreText(void* out, const std::string& text) {
  CopyBounded(static_cast<char*>(out), VI_FIND_BUFLEN, text.c_str());
  return VI_SUCCESS;
}

bool IsResourceManagerAttribute(ViAttr attr) {
  return attr == VI_ATTR_RSRC_MANF_NAME || attr == VI_ATTR_RSRC_SPEC_VERSION ||
         attr == VI_ATTR_RSRC_IMPL_VERSION;
}

ViStatus GetResourceManagerAttribute(ViAttr attr, void* out) {
  switch (attr) {
    case VI_ATTR_RSRC_MANF_NAME: return StoreText(out, kManufacturerName);
    case VI_ATTR_RSRC_SPEC_VERSION: return Store<ViVersion>(out, VI_SPEC_VERSION);
    case VI_ATTR_RSRC_IMPL_VERSION: return Store<ViVersion>(out, kImplementationVersion);
    default: return VI_ERROR_NSUP_ATTR;
  }
}

ViStatus GetSessionAttribute(const Session& s, ViAttr attr, void* out) {
  switch (attr) {
    case VI_ATTR_TMO_VALUE: return Store<ViUInt32>(out, s.timeoutMs.load());
    case VI_ATTR_RSRC_NAME: return StoreText(out, s.name.canonical);
    case VI_ATTR_RSRC_CLASS: return StoreText(out, s.name.resourceClass);
    case VI_ATTR_RSRC_MANF_NAME: return StoreText(out, kManufacturerName);
    case VI_ATTR_RSRC_SPEC_VERSION: return Store<ViVersion>(out, VI_SPEC_VERSION);
    case VI_ATTR_RSRC_IMPL_VERSION: return Store<ViVersion>(out, kImplementationVersion);
    case VI_ATTR_RSRC_LOCK_STATE: return Store<ViAccessMode>(out, LockState(s.name.canonical));
    case VI_ATTR_RSRC_MANF_ID: return Store<ViUInt16>(out, kManufacturerId);
    case VI_ATTR_MANF_NAME: return StoreText(out, s.manufacturerName);
    case VI_ATTR_MODEL_NAME: return StoreText(out, s.modelName);
    case VI_ATTR_USB_PROTOCOL: return Store<ViInt16>(out, s.usbProtocol);
    case VI_ATTR_4882_COMPLIANT: return Store<ViBoolean>(out, s.usbProtocol == 1 ? VI_TRUE : VI_FALSE);
    case VI_ATTR_IO_PROT: return Store<ViUInt16>(out, VI_PROT_NORMAL);
    case VI_ATTR_SUPPRESS_END_EN: return Store<ViBoolean>(out, s.suppressEnd ? VI_TRUE : VI_FALSE);
    case VI_ATTR_RD_BUF_OPER_MODE: return Store<ViUInt16>(out, s.readBufferMode.load());
    case VI_ATTR_WR_BUF_OPER_MODE: return Store<ViUInt16>(out, s.writeBufferMode.load());
    case VI_ATTR_MAX_QUEUE_LENGTH: return Store<ViUInt32>(out, s.maxQueueLength.load());
    case VI_ATTR_USER_DATA: return Store<ViAttrState>(out, s.userData.load());
    case VI_ATTR_INTF_TYPE: return Store<ViUInt16>(out, s.name.interfaceType);
    case VI_ATTR_INTF_NUM: return Store<ViUInt16>(out, s.name.board);
    case VI_ATTR_MANF_ID: return Store<ViUInt16>(out, s.name.vendorId);
    case VI_ATTR_MODEL_CODE: return Store<ViUInt16>(out, s.name.productId);
    case VI_ATTR_USB_SERIAL_NUM: return StoreText(out, s.name.serial);
    case VI_ATTR_USB_INTFC_NUM: return Store<ViInt16>(out, static_cast<ViInt16>(s.name.usbInterface));
    case VI_ATTR_SEND_END_EN: return Store<ViBoolean>(out, VI_TRUE);
    case VI_ATTR_TERMCHAR: return Store<ViUInt8>(out, s.termChar.load());
    case VI_ATTR_TERMCHAR_EN: return Store<ViBoolean>(out, s.termCharEnabled ? VI_TRUE : VI_FALSE);
    case VI_ATTR_RD_BUF_SIZE: return Store<ViUInt32>(out, s.readBufferSize.load());
    case VI_ATTR_WR_BUF_SIZE: return Store<ViUInt32>(out, s.writeBufferSize.load());
    default: return VI_ERROR_NSUP_ATTR;
  }
}

ViStatus SetSessionAttribute(Session& s, ViAttr attr, ViAttrState value) {
  switch (attr) {
    case VI_ATTR_TMO_VALUE:
      if (value > VI_TMO_INFINITE) return VI_ERROR_NSUP_ATTR_STATE;
      s.timeoutMs = static_cast<ViUInt32>(value);
      return VI_SUCCESS;
    case VI_ATTR_TERMCHAR:
      if (value > 0xFF) return VI_ERROR_NSUP_ATTR_STATE;
      s.termChar = static_cast<ViUInt8>(value);
      return VI_SUCCESS;
    // Every write ends its message: sending without END is not supported.
    case VI_ATTR_SEND_END_EN:
      return value == VI_TRUE ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
    case VI_ATTR_TERMCHAR_EN:
      if (value != VI_TRUE && value != VI_FALSE) return VI_ERROR_NSUP_ATTR_STATE;
      s.termCharEnabled = value == VI_TRUE;
      return VI_SUCCESS;
    case VI_ATTR_SUPPRESS_END_EN:
      if (value != VI_TRUE && value != VI_FALSE) return VI_ERROR_NSUP_ATTR_STATE;
      s.suppressEnd = value == VI_TRUE;
      return VI_SUCCESS;
    // Reads and writes are unbuffered: a read buffer is never flushed on its own, and
    // every write goes out at once.
    case VI_ATTR_RD_BUF_OPER_MODE:
      if (value != VI_FLUSH_ON_ACCESS && value != VI_FLUSH_DISABLE) return VI_ERROR_NSUP_ATTR_STATE;
      s.readBufferMode = static_cast<ViUInt16>(value);
      return VI_SUCCESS;
    case VI_ATTR_WR_BUF_OPER_MODE:
      if (value != VI_FLUSH_ON_ACCESS && value != VI_FLUSH_WHEN_FULL) return VI_ERROR_NSUP_ATTR_STATE;
      s.writeBufferMode = static_cast<ViUInt16>(value);
      return VI_SUCCESS;
    case VI_ATTR_MAX_QUEUE_LENGTH:
      if (value == 0 || value > 0xFFFFFFFFu) return VI_ERROR_NSUP_ATTR_STATE;
      s.maxQueueLength = static_cast<ViUInt32>(value);
      return VI_SUCCESS;
    case VI_ATTR_USER_DATA:
      s.userData = value;
      return VI_SUCCESS;
    case VI_ATTR_IO_PROT:
      return value == VI_PROT_NORMAL ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
    case VI_ATTR_RSRC_MANF_ID:
    case VI_ATTR_MANF_NAME:
    case VI_ATTR_MODEL_NAME:
    case VI_ATTR_USB_PROTOCOL:
    case VI_ATTR_4882_COMPLIANT:
    case VI_ATTR_RSRC_NAME:
    case VI_ATTR_RSRC_CLASS:
    case VI_ATTR_RSRC_MANF_NAME:
    case VI_ATTR_RSRC_SPEC_VERSION:
    case VI_ATTR_RSRC_IMPL_VERSION:
    case VI_ATTR_RSRC_LOCK_STATE:
    case VI_ATTR_INTF_TYPE:
    case VI_ATTR_INTF_NUM:
    case VI_ATTR_MANF_ID:
    case VI_ATTR_MODEL_CODE:
    case VI_ATTR_USB_SERIAL_NUM:
    case VI_ATTR_USB_INTFC_NUM:
    case VI_ATTR_RD_BUF_SIZE:
    case VI_ATTR_WR_BUF_SIZE:
      return VI_ERROR_ATTR_READONLY;
    default:
      return VI_ERROR_NSUP_ATTR;
  }
}

// Runs `operation` on an open session's instrument, one I/O call at a time, when no other
// session's lock keeps this one out.
template <class Operation>
ViStatus WithInstrument(ViSession vi, Operation operation) {
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  if (!s) return VI_ERROR_INV_OBJECT;
  std::lock_guard<std::mutex> lock(s->io);
  if (!s->instr) return VI_ERROR_INV_OBJECT;  // closed while this call waited
  ViStatus access = CheckAccess(s->name.canonical, vi);
  if (access != VI_SUCCESS) return access;
  return operation(*s, *s->instr);
}

ViStatus GetEventAttribute(const EventObject& e, ViAttr attr, void* out) {
  switch (attr) {
    case VI_ATTR_EVENT_TYPE: return Store<ViEventType>(out, e.type);
    case VI_ATTR_STATUS: return Store<ViStatus>(out, VI_SUCCESS);
    default: return VI_ERROR_NSUP_ATTR;
  }
}

}  // namespace

ViStatus viOpenDefaultRM(ViPSession vi) {
  if (vi == nullptr) return VI_ERROR_INV_PARAMETER;
  *vi = VI_NULL;
  ViStatus forced = CurrentLayerFaults().openDefaultRmStatus;
  if (forced < VI_SUCCESS) return forced;
  auto rm = std::make_shared<ResourceManager>();
  rm->providers = ActiveProviders();
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
  if (list->names.empty()) return VI_ERROR_RSRC_NFOUND;
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
    std::lock_guard<std::mutex> lock(session->io);
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
  for (const std::shared_ptr<Object>& object : removed) {
    if (object->kind != Kind::kSession) continue;
    auto* session = static_cast<Session*>(object.get());
    std::lock_guard<std::mutex> lock(session->io);  // waits for an I/O call in progress
    session->instr.reset();
    ReleaseAllLocks(session->name.canonical, session->handle);
  }
  return VI_SUCCESS;
}

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue) {
  if (std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession)) {
    return SetSessionAttribute(*s, attrName, attrValue);
  }
  if (Handles().Get<ResourceManager>(vi, Kind::kResourceManager)) {
    return IsResourceManagerAttribute(attrName) ? VI_ERROR_ATTR_READONLY : VI_ERROR_NSUP_ATTR;
  }
  if (Handles().Has(vi)) return VI_ERROR_NSUP_ATTR;
  return VI_ERROR_INV_OBJECT;
}

ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue) {
  if (std::shared_ptr<EventObject> e = Handles().Get<EventObject>(vi, Kind::kEvent)) {
    if (attrValue == nullptr) return VI_ERROR_USER_BUF;
    return GetEventAttribute(*e, attrName, attrValue);
  }
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  bool isRm = !s && Handles().Get<ResourceManager>(vi, Kind::kResourceManager) != nullptr;
  if (!s && !isRm) return Handles().Has(vi) ? VI_ERROR_NSUP_ATTR : VI_ERROR_INV_OBJECT;
  if (attrValue == nullptr) return VI_ERROR_USER_BUF;
  return s ? GetSessionAttribute(*s, attrName, attrValue)
           : GetResourceManagerAttribute(attrName, attrValue);
}

ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size) {
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  if (!s) return VI_ERROR_INV_OBJECT;
  if (mask == 0 || (mask & ~(VI_READ_BUF | VI_WRITE_BUF | VI_IO_IN_BUF | VI_IO_OUT_BUF)) != 0) {
    return VI_ERROR_INV_MASK;
  }
  if (mask & (VI_READ_BUF | VI_IO_IN_BUF)) s->readBufferSize = size;
  if (mask & (VI_WRITE_BUF | VI_IO_OUT_BUF)) s->writeBufferSize = size;
  return VI_SUCCESS;
}

ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
  if (retCnt != nullptr) *retCnt = 0;
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  if (!s) return VI_ERROR_INV_OBJECT;
  if (buf == nullptr && cnt > 0) return VI_ERROR_USER_BUF;
  if (cnt == 0) return VI_SUCCESS_MAX_CNT;  // the count is filled before anything is read
  std::lock_guard<std::mutex> lock(s->io);
  if (!s->instr) return VI_ERROR_INV_OBJECT;  // closed while this call waited
  ViStatus access = CheckAccess(s->name.canonical, vi);
  if (access != VI_SUCCESS) return access;
  uint32_t received = 0;
  ViStatus status;
  if (!s->termCharEnabled && !s->suppressEnd && s->readBuffer.bytes.empty()) {
    status = s->instr->Read(buf, cnt, &received, s->timeoutMs);
  } else {
    ReadOptions options;
    options.termCharEnabled = s->termCharEnabled;
    options.termChar = s->termChar;
    options.suppressEnd = s->suppressEnd;
    status = TerminatedRead(*s->instr, s->readBuffer, options, buf, cnt, &received, s->timeoutMs);
  }
  // A backend that reports more than it could have read must not push the caller past `cnt`.
  if (retCnt != nullptr) *retCnt = received > cnt ? cnt : received;
  return status;
}

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
  if (retCnt != nullptr) *retCnt = 0;
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  if (!s) return VI_ERROR_INV_OBJECT;
  if (buf == nullptr && cnt > 0) return VI_ERROR_USER_BUF;
  std::lock_guard<std::mutex> lock(s->io);
  if (!s->instr) return VI_ERROR_INV_OBJECT;
  ViStatus access = CheckAccess(s->name.canonical, vi);
  if (access != VI_SUCCESS) return access;
  uint32_t written = 0;
  ViStatus status = s->instr->Write(buf, cnt, &written, s->timeoutMs);
  if (retCnt != nullptr) *retCnt = written > cnt ? cnt : written;
  return status;
}

ViStatus viClear(ViSession vi) {
  return WithInstrument(vi, [](Session& s, InstrSession& instr) {
    s.readBuffer.Discard();
    return instr.Clear(s.timeoutMs);
  });
}

ViStatus viFlush(ViSession vi, ViUInt16 mask) {
  constexpr ViUInt16 kKnown = VI_READ_BUF | VI_WRITE_BUF | VI_READ_BUF_DISCARD |
                              VI_WRITE_BUF_DISCARD | VI_IO_IN_BUF | VI_IO_OUT_BUF |
                              VI_IO_IN_BUF_DISCARD | VI_IO_OUT_BUF_DISCARD;
  if (mask == 0 || (mask & ~kKnown) != 0 ||
      ((mask & VI_READ_BUF) && (mask & VI_READ_BUF_DISCARD)) ||
      ((mask & VI_IO_IN_BUF) && (mask & VI_IO_IN_BUF_DISCARD))) {
    return Handles().Get<Session>(vi, Kind::kSession) ? VI_ERROR_INV_MASK : VI_ERROR_INV_OBJECT;
  }
  return WithInstrument(vi, [mask](Session& s, InstrSession& instr) {
    const bool held = !s.readBuffer.bytes.empty();
    const bool messageGoesOn = held && !s.readBuffer.endsMessage;
    s.readBuffer.Discard();
    // Flushing (not only discarding) the read buffer also drops the rest of a message that the
    // buffer held the start of, so that the next read starts with a new message.
    if ((mask & (VI_READ_BUF | VI_IO_IN_BUF)) && messageGoesOn) {
      uint8_t scrap[4096];
      uint32_t got = 0;
      ViStatus status;
      do {
        status = instr.Read(scrap, sizeof scrap, &got, s.timeoutMs);
      } while (status == VI_SUCCESS_MAX_CNT);
      if (status < VI_SUCCESS) return status;
    }
    // Writes go out unbuffered: there is nothing to send or drop on the write side.
    return VI_SUCCESS;
  });
}

ViStatus viReadSTB(ViSession vi, ViPUInt16 status) {
  if (status == nullptr) {
    return Handles().Get<Session>(vi, Kind::kSession) ? VI_ERROR_USER_BUF : VI_ERROR_INV_OBJECT;
  }
  *status = 0;
  return WithInstrument(vi, [status](Session& s, InstrSession& instr) {
    uint8_t statusByte = 0;
    ViStatus result = instr.ReadStatusByte(&statusByte, s.timeoutMs);
    if (result >= VI_SUCCESS) *status = statusByte;
    return result;
  });
}

ViStatus viAssertTrigger(ViSession vi, ViUInt16 protocol) {
  if (protocol != VI_TRIG_PROT_DEFAULT) {
    return Handles().Get<Session>(vi, Kind::kSession) ? VI_ERROR_INV_PROT : VI_ERROR_INV_OBJECT;
  }
  return WithInstrument(vi, [](Session& s, InstrSession& instr) {
    return instr.AssertTrigger(s.timeoutMs);
  });
}

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

ViStatus viEnableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism,
                       ViEventFilter context) {
  ViStatus checked = CheckEventCall(vi, eventType, mechanism);
  if (checked != VI_SUCCESS) return checked;
  if (context != VI_NULL) return VI_ERROR_INV_CONTEXT;
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  // Service requests are the only events this layer raises, and only where the instrument
  // has an interrupt-IN pipe to signal them.
  if (!s || (eventType != VI_EVENT_SERVICE_REQ && eventType != VI_ALL_ENABLED_EVENTS) ||
      !s->canSignalServiceRequest) {
    return VI_ERROR_INV_EVENT;
  }
  if (mechanism == VI_ALL_MECH || (mechanism & (VI_HNDLR | VI_SUSPEND_HNDLR)) != 0) {
    return VI_ERROR_HNDLR_NINSTALLED;  // handlers cannot be installed here
  }
  return s->serviceRequestsQueued.exchange(true) ? VI_SUCCESS_EVENT_EN : VI_SUCCESS;
}

ViStatus viDisableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
  ViStatus checked = CheckEventCall(vi, eventType, mechanism);
  if (checked != VI_SUCCESS) return checked;
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  if (!s || (eventType != VI_EVENT_SERVICE_REQ && eventType != VI_ALL_ENABLED_EVENTS) ||
      (mechanism & VI_QUEUE) == 0) {
    return VI_SUCCESS_EVENT_DIS;
  }
  return s->serviceRequestsQueued.exchange(false) ? VI_SUCCESS : VI_SUCCESS_EVENT_DIS;
}

ViStatus viDiscardEvents(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
  ViStatus checked = CheckEventCall(vi, eventType, mechanism);
  if (checked != VI_SUCCESS) return checked;
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  if (!s || !s->canSignalServiceRequest ||
      (eventType != VI_EVENT_SERVICE_REQ && eventType != VI_ALL_ENABLED_EVENTS) ||
      (mechanism & VI_QUEUE) == 0) {
    return VI_SUCCESS_QUEUE_EMPTY;
  }
  return WithInstrument(vi, [](Session&, InstrSession& instr) {
    // Service requests that arrived are taken off the interrupt pipe and dropped.
    uint8_t statusByte = 0;
    int dropped = 0;
    while (dropped < kMaxDiscardedEvents &&
           instr.WaitServiceRequest(&statusByte, VI_TMO_IMMEDIATE) == VI_SUCCESS) {
      ++dropped;
    }
    return dropped == 0 ? VI_SUCCESS_QUEUE_EMPTY : VI_SUCCESS;
  });
}

ViStatus viWaitOnEvent(ViSession vi, ViEventType inEventType, ViUInt32 timeout,
                       ViPEventType outEventType, ViPEvent outContext) {
  if (outEventType != nullptr) *outEventType = 0;
  if (outContext != nullptr) *outContext = VI_NULL;
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  if (!s) return VI_ERROR_INV_OBJECT;
  if (!KnownEvent(inEventType)) return VI_ERROR_INV_EVENT;
  if ((inEventType != VI_EVENT_SERVICE_REQ && inEventType != VI_ALL_ENABLED_EVENTS) ||
      !s->serviceRequestsQueued) {
    return VI_ERROR_NENABLED;
  }
  uint8_t statusByte = 0;
  ViStatus status = WithInstrument(vi, [&](Session&, InstrSession& instr) {
    return instr.WaitServiceRequest(&statusByte, timeout);
  });
  if (status < VI_SUCCESS) return status;
  if (outEventType != nullptr) *outEventType = VI_EVENT_SERVICE_REQ;
  if (outContext == nullptr) return VI_SUCCESS;  // the caller wants no event object
  auto event = std::make_shared<EventObject>();
  event->statusByte = statusByte;
  event->parent = vi;
  ViObject handle = Handles().Add(event);
  if (handle == VI_NULL) return VI_ERROR_INV_OBJECT;
  *outContext = handle;
  return VI_SUCCESS;
}

size_t OpenHandleCountForTesting() { return Handles().Size(); }

}  // namespace fg::visa
