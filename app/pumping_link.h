// The window's thread never waits for an instrument: every wait of an update run (a read, an
// open, the writer-mode restart) and every device search runs on a worker thread while the
// window goes on handling its events.
#pragma once
#include <cstdint>
#include <functional>

#include "programmer/writer_mode.h"
#include "updater/package_driver.h"

namespace fg::app {

inline constexpr int kPumpIntervalMs = 10;

// Runs work() on a worker thread and calls pump(owner) at least every kPumpIntervalMs until it
// is done; returns work's result. The caller sees one blocking call.
int32_t RunPumping(void (*pump)(void*), void* owner, const std::function<int32_t()>& work);

// For the lifetime of the object (one update run) the drivers use the VISA slots, except that
// each open and read runs through RunPumping, and the writer-mode wait sleeps the same way. The
// previous slots and clock come back afterwards.
class ScopedPumpingLink {
 public:
  ScopedPumpingLink(void (*pump)(void*), void* owner);
  ~ScopedPumpingLink();
  ScopedPumpingLink(const ScopedPumpingLink&) = delete;
  ScopedPumpingLink& operator=(const ScopedPumpingLink&) = delete;

 private:
  const DriverLinkSlots* previousSlots_;
  const WaitClock* previousClock_;
};

}  // namespace fg::app
