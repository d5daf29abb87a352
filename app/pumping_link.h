// Link slots for updates run from the window: a read waits for the instrument (a flash block
// can take half a second) on a worker thread while the window goes on handling its events.
#pragma once

#include "updater/package_driver.h"

namespace fg::app {

inline constexpr int kPumpIntervalMs = 10;

// For the lifetime of the object (one update run) the drivers use the VISA slots, except that
// each read runs on a worker thread and `pump(owner)` is called at least every
// `kPumpIntervalMs` until it is done; the driver still sees one blocking read. The previous
// slots come back afterwards.
class ScopedPumpingLink {
 public:
  ScopedPumpingLink(void (*pump)(void*), void* owner);
  ~ScopedPumpingLink();
  ScopedPumpingLink(const ScopedPumpingLink&) = delete;
  ScopedPumpingLink& operator=(const ScopedPumpingLink&) = delete;

 private:
  const DriverLinkSlots* previous_;
};

}  // namespace fg::app
