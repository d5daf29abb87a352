// The objects behind the VISA handles (resource managers, find lists, instrument sessions,
// events) and the one table that hands the handles out. Resource managers own the find lists
// and sessions opened through them; every object is shared, so that a close racing an I/O call
// on another thread never frees what that call still uses.
#pragma once
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "visa/provider.h"
#include "visa/resource_locks.h"
#include "visa/resource_name.h"
#include "visa/terminated_read.h"
#include "visa/visa_types.h"

namespace fg::visa {

inline constexpr ViUInt32 kDefaultTimeoutMs = 2000;  // VISA's default VI_ATTR_TMO_VALUE
// How long viClose waits for an I/O call that it cut short to return before it gives up on
// releasing the instrument itself. Our providers end such a call within milliseconds; the bound
// only keeps a close from hanging on a vendor library that does not end its call when its
// session is closed. Then the instrument is released when that call returns.
inline constexpr std::chrono::milliseconds kCloseWait{1000};

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
  std::timed_mutex io;  // one I/O call at a time; held by viClose while it releases `instr`
  // Null once viClose released it; left to the session's destructor (the last user's) when an
  // I/O call outlived kCloseWait.
  std::unique_ptr<InstrSession> instr;
  // Set by viClose before it cancels the instrument's I/O: no call starts any more, and a call
  // in progress that fails reports VI_ERROR_ABORT.
  std::atomic<bool> closing{false};
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
  ViObject Add(std::shared_ptr<Object> object);

  // The object of a handle when it is of that kind, else null.
  template <class T>
  std::shared_ptr<T> Get(ViObject handle, Kind kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(handle);
    if (it == objects_.end() || it->second->kind != kind) return nullptr;
    return std::static_pointer_cast<T>(it->second);
  }

  bool Has(ViObject handle);

  // Removes an object and everything opened through it: a resource manager's find lists and
  // sessions, and their events.
  std::vector<std::shared_ptr<Object>> Remove(ViObject handle);

  size_t Size();

 private:
  std::mutex mutex_;
  std::unordered_map<ViObject, std::shared_ptr<Object>> objects_;
  ViObject next_ = 0x1000;
};

// The table of the process. Never destroyed, like the registry.
HandleTable& Handles();

// The status of an I/O call that has returned: a failure while viClose was closing the session
// is the close's doing. VI_ERROR_ABORT is the status VISA gives viRead and viWrite for a
// transfer stopped on purpose: a client tells it from a timeout (worth a retry) and from a lost
// device (worth a reconnect); any later call on the handle is VI_ERROR_INV_OBJECT.
inline ViStatus CutShortByClose(const Session& s, ViStatus status) {
  return status < VI_SUCCESS && s.closing ? VI_ERROR_ABORT : status;
}

// Runs `operation` on an open session's instrument, one I/O call at a time, when no other
// session's lock keeps this one out.
template <class Operation>
ViStatus WithInstrument(ViSession vi, Operation operation) {
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  if (!s) return VI_ERROR_INV_OBJECT;
  std::lock_guard<std::timed_mutex> lock(s->io);
  if (s->closing || !s->instr) return VI_ERROR_INV_OBJECT;  // closed while this call waited
  ViStatus access = CheckAccess(s->name.canonical, vi);
  if (access != VI_SUCCESS) return access;
  return CutShortByClose(*s, operation(*s, *s->instr));
}

}  // namespace fg::visa
