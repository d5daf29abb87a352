#include "app/pumping_link.h"

#include <chrono>
#include <future>

#include "link/device_link.h"

namespace fg::app {
namespace {

// The pump of the run in progress; runs happen one at a time on the window's thread.
void (*g_pump)(void*) = nullptr;
void* g_pumpOwner = nullptr;

int32_t PumpingRead(void* owner, uint8_t* buffer, uint32_t* count) {
  if (g_pump == nullptr) return VisaRead<UpdaterContext>(owner, buffer, count);
  // The worker touches only the session handle, the buffer and the count; the driver, the sole
  // other user of them, is blocked in this call until the worker is done.
  std::future<int32_t> pending = std::async(std::launch::async, [owner, buffer, count] {
    return VisaRead<UpdaterContext>(owner, buffer, count);
  });
  while (pending.wait_for(std::chrono::milliseconds(kPumpIntervalMs)) !=
         std::future_status::ready) {
    g_pump(g_pumpOwner);
  }
  return pending.get();
}

constexpr DriverLinkSlots kPumpingSlots = {VisaOpen<UpdaterContext>, VisaWrite<UpdaterContext>,
                                           PumpingRead, VisaClose<UpdaterContext>};

}  // namespace

ScopedPumpingLink::ScopedPumpingLink(void (*pump)(void*), void* owner)
    : previous_(InstallDriverLinkSlots(&kPumpingSlots)) {
  g_pump = pump;
  g_pumpOwner = owner;
}

ScopedPumpingLink::~ScopedPumpingLink() {
  g_pump = nullptr;
  g_pumpOwner = nullptr;
  InstallDriverLinkSlots(previous_);
}

}  // namespace fg::app
