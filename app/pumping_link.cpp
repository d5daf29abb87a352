#include "app/pumping_link.h"

#include <chrono>
#include <future>

#include "link/device_link.h"
#include "link/device_search.h"
#include "updater/package_driver.h"

namespace fg::app {

int32_t RunPumping(void (*pump)(void*), void* owner, const std::function<int32_t()>& work) {
  std::future<int32_t> pending = std::async(std::launch::async, work);
  while (pending.wait_for(std::chrono::milliseconds(kPumpIntervalMs)) !=
         std::future_status::ready) {
    pump(owner);
  }
  return pending.get();
}

PumpingRunEnv::PumpingRunEnv(void (*pump)(void*), void* owner, const RunEnv* base)
    : pump_(pump),
      pumpOwner_(owner),
      baseClock_(&WaitClockOf(base)),
      baseSearch_(&ResourceSearchOf(base)),
      slots_{Open, VisaWrite<UpdaterContext>, Read, VisaClose<UpdaterContext>, this},
      clock_{this, Now, Sleep},
      env_(base != nullptr ? *base : RunEnv{}) {
  env_.linkSlots = &slots_;
  env_.waitClock = &clock_;
}

// The slots' owner is the driver's context, whose env holds these slots (a run's copy of env_
// still points at them).
PumpingRunEnv* PumpingRunEnv::FromSlotOwner(void* owner) {
  return static_cast<PumpingRunEnv*>(static_cast<UpdaterContext*>(owner)->env->linkSlots->state);
}

// The workers touch only the session handles, the buffer and the count; the driver, the sole
// other user of them, is blocked in the slot until the worker is done.
int32_t PumpingRunEnv::Open(void* owner, const char* resourceName) {
  PumpingRunEnv* self = FromSlotOwner(owner);
  return RunPumping(self->pump_, self->pumpOwner_, [owner, resourceName] {
    return VisaOpen<UpdaterContext>(owner, resourceName);
  });
}

int32_t PumpingRunEnv::Read(void* owner, uint8_t* buffer, uint32_t* count) {
  PumpingRunEnv* self = FromSlotOwner(owner);
  return RunPumping(self->pump_, self->pumpOwner_, [owner, buffer, count] {
    return VisaRead<UpdaterContext>(owner, buffer, count);
  });
}

int64_t PumpingRunEnv::Now(void* owner) {
  const WaitClock* base = static_cast<PumpingRunEnv*>(owner)->baseClock_;
  return base->nowMilliseconds(base->owner);
}

void PumpingRunEnv::Sleep(void* owner, uint32_t milliseconds) {
  PumpingRunEnv* self = static_cast<PumpingRunEnv*>(owner);
  const WaitClock* base = self->baseClock_;
  RunPumping(self->pump_, self->pumpOwner_, [base, milliseconds] {
    base->sleepMilliseconds(base->owner, milliseconds);
    return 0;
  });
}

}  // namespace fg::app
