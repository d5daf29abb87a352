#include "visa/resource_locks.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

namespace fg::visa {

namespace {

struct ResourceLock {
  ViSession exclusiveHolder = VI_NULL;
  uint32_t exclusiveDepth = 0;
  std::string sharedKey;
  std::map<ViSession, uint32_t> sharedDepth;  // holders of the shared lock
  bool Unused() const { return exclusiveHolder == VI_NULL && sharedDepth.empty(); }
};

struct LockTable {
  std::mutex mutex;
  std::condition_variable released;
  std::map<std::string, ResourceLock> locks;
  uint64_t nextKey = 1;
};

// Never destroyed, like the handle table: sessions may close during exit.
LockTable& Table() {
  static LockTable* table = new LockTable;
  return *table;
}

bool Wait(std::unique_lock<std::mutex>& guard, uint32_t timeoutMs,
          const std::function<bool()>& ready) {
  if (timeoutMs == VI_TMO_INFINITE) {
    Table().released.wait(guard, ready);
    return true;
  }
  return Table().released.wait_for(guard, std::chrono::milliseconds(timeoutMs), ready);
}

// A wait that gave up leaves no empty entry behind.
ViStatus TimedOut(LockTable& table, const std::string& resource) {
  auto it = table.locks.find(resource);
  if (it != table.locks.end() && it->second.Unused()) table.locks.erase(it);
  return VI_ERROR_TMO;
}

}  // namespace

ViStatus AcquireLock(const std::string& resource, ViSession session, ViAccessMode type,
                     uint32_t timeoutMs, const std::string& requestedKey, std::string* key) {
  if (type != VI_EXCLUSIVE_LOCK && type != VI_SHARED_LOCK) return VI_ERROR_INV_LOCK_TYPE;
  LockTable& table = Table();
  std::unique_lock<std::mutex> guard(table.mutex);
  ResourceLock& lock = table.locks[resource];
  if (type == VI_EXCLUSIVE_LOCK) {
    if (lock.exclusiveHolder == session) {
      ++lock.exclusiveDepth;
      return VI_SUCCESS_NESTED_EXCLUSIVE;
    }
    // Free of others: no other exclusive holder and no shared holder but this session.
    auto free = [&] {
      ResourceLock& l = table.locks[resource];
      if (l.exclusiveHolder != VI_NULL) return false;
      for (const auto& holder : l.sharedDepth) {
        if (holder.first != session) return false;
      }
      return true;
    };
    if (!Wait(guard, timeoutMs, free)) return TimedOut(table, resource);
    ResourceLock& l = table.locks[resource];
    l.exclusiveHolder = session;
    l.exclusiveDepth = 1;
    return VI_SUCCESS;
  }

  auto held = lock.sharedDepth.find(session);
  if (held != lock.sharedDepth.end()) {
    if (!requestedKey.empty() && requestedKey != lock.sharedKey) return VI_ERROR_INV_ACCESS_KEY;
    ++held->second;
    if (key != nullptr) *key = lock.sharedKey;
    return VI_SUCCESS_NESTED_SHARED;
  }
  std::string wanted = requestedKey;
  if (wanted.empty()) wanted = "flintgate-lock-" + std::to_string(table.nextKey++);
  auto joinable = [&] {
    ResourceLock& l = table.locks[resource];
    if (l.exclusiveHolder != VI_NULL && l.exclusiveHolder != session) return false;
    return l.sharedDepth.empty() || l.sharedKey == wanted;
  };
  if (!Wait(guard, timeoutMs, joinable)) return TimedOut(table, resource);
  ResourceLock& l = table.locks[resource];
  if (l.sharedDepth.empty()) l.sharedKey = wanted;
  l.sharedDepth[session] = 1;
  if (key != nullptr) *key = wanted;
  return VI_SUCCESS;
}

ViStatus ReleaseLock(const std::string& resource, ViSession session) {
  LockTable& table = Table();
  std::lock_guard<std::mutex> guard(table.mutex);
  auto it = table.locks.find(resource);
  if (it == table.locks.end()) return VI_ERROR_SESN_NLOCKED;
  ResourceLock& lock = it->second;
  auto shared = lock.sharedDepth.find(session);
  const bool holdsShared = shared != lock.sharedDepth.end();
  if (lock.exclusiveHolder == session) {
    if (--lock.exclusiveDepth == 0) lock.exclusiveHolder = VI_NULL;
  } else if (holdsShared) {
    if (--shared->second == 0) lock.sharedDepth.erase(shared);
  } else {
    return VI_ERROR_SESN_NLOCKED;
  }
  ViStatus status = VI_SUCCESS;
  if (lock.exclusiveHolder == session) {
    status = VI_SUCCESS_NESTED_EXCLUSIVE;
  } else if (lock.sharedDepth.count(session) != 0) {
    status = VI_SUCCESS_NESTED_SHARED;
  }
  if (lock.Unused()) table.locks.erase(it);
  table.released.notify_all();
  return status;
}

void ReleaseAllLocks(const std::string& resource, ViSession session) {
  LockTable& table = Table();
  std::lock_guard<std::mutex> guard(table.mutex);
  auto it = table.locks.find(resource);
  if (it == table.locks.end()) return;
  if (it->second.exclusiveHolder == session) {
    it->second.exclusiveHolder = VI_NULL;
    it->second.exclusiveDepth = 0;
  }
  it->second.sharedDepth.erase(session);
  if (it->second.Unused()) table.locks.erase(it);
  table.released.notify_all();
}

ViStatus CheckAccess(const std::string& resource, ViSession session) {
  LockTable& table = Table();
  std::lock_guard<std::mutex> guard(table.mutex);
  auto it = table.locks.find(resource);
  if (it == table.locks.end()) return VI_SUCCESS;
  const ResourceLock& lock = it->second;
  if (lock.exclusiveHolder != VI_NULL) {
    return lock.exclusiveHolder == session ? VI_SUCCESS : VI_ERROR_RSRC_LOCKED;
  }
  if (lock.sharedDepth.empty() || lock.sharedDepth.count(session) != 0) return VI_SUCCESS;
  return VI_ERROR_RSRC_LOCKED;
}

ViAccessMode LockState(const std::string& resource) {
  LockTable& table = Table();
  std::lock_guard<std::mutex> guard(table.mutex);
  auto it = table.locks.find(resource);
  if (it == table.locks.end()) return VI_NO_LOCK;
  if (it->second.exclusiveHolder != VI_NULL) return VI_EXCLUSIVE_LOCK;
  return it->second.sharedDepth.empty() ? VI_NO_LOCK : VI_SHARED_LOCK;
}

}  // namespace fg::visa
