#include "app/pumping_link.h"

#include <chrono>
#include <future>

#include "link/device_link.h"

namespace fg::app {
namespace {

// The pump of the run in progress; runs happen one at a time on the window's thread.
void (*g_pump)(void*) = nullptr;
void* g_pumpOwner = nullptr;
const WaitClock* g_baseClock = nullptr;  // the clock the pumping one sleeps on

// The workers touch only the session handles, the buffer and the count; the driver, the sole
// other user of them, is blocked in the slot until the worker is done.
int32_t PumpingOpen(void* owner, const char* resourceName) {
  if (g_pump == nullptr) return VisaOpen<UpdaterContext>(owner, resourceName);
  return RunPumping(g_pump, g_pumpOwner,
                    [owner, resourceName] { return VisaOpen<UpdaterContext>(owner, resourceName); });
}

int32_t PumpingRead(void* owner, uint8_t* buffer, uint32_t* count) {
  if (g_pump == nullptr) return VisaRead<UpdaterContext>(owner, buffer, count);
  return RunPumping(g_pump, g_pumpOwner,
                    [owner, buffer, count] { return VisaRead<UpdaterContext>(owner, buffer, count); });
}

constexpr DriverLinkSlots kPumpingSlots = {PumpingOpen, VisaWrite<UpdaterContext>, PumpingRead,
                                           VisaClose<UpdaterContext>};

int64_t BaseNow() { return g_baseClock->nowMilliseconds(); }

void PumpingSleep(uint32_t milliseconds) {
  const WaitClock* base = g_baseClock;
  if (g_pump == nullptr) return base->sleepMilliseconds(milliseconds);
  RunPumping(g_pump, g_pumpOwner, [base, milliseconds] {
    base->sleepMilliseconds(milliseconds);
    return 0;
  });
}

constexpr WaitClock kPumpingClock = {BaseNow, PumpingSleep};

}  // namespace

int32_t RunPumping(void (*pump)(void*), void* owner, const std::function<int32_t()>& work) {
  std::future<int32_t> pending = std::async(std::launch::async, work);
  while (pending.wait_for(std::chrono::milliseconds(kPumpIntervalMs)) !=
         std::future_status::ready) {
    pump(owner);
  }
  return pending.get();
}

ScopedPumpingLink::ScopedPumpingLink(void (*pump)(void*), void* owner)
    : previousSlots_(InstallDriverLinkSlots(&kPumpingSlots)),
      previousClock_(InstallWaitClock(&kPumpingClock)) {
  g_baseClock = previousClock_;
  g_pump = pump;
  g_pumpOwner = owner;
}

ScopedPumpingLink::~ScopedPumpingLink() {
  g_pump = nullptr;
  g_pumpOwner = nullptr;
  InstallWaitClock(previousClock_);
  InstallDriverLinkSlots(previousSlots_);
  g_baseClock = nullptr;
}

}  // namespace fg::app
