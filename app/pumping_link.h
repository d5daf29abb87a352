// The window's thread never waits for an instrument: every wait of an update run (a read, an
// open, the writer-mode restart) and every device search runs on a worker thread while the
// window goes on handling its events.
#pragma once
#include <cstdint>
#include <functional>

#include "link/run_env.h"

namespace fg::app {

inline constexpr int kPumpIntervalMs = 10;

// Runs work() on a worker thread and calls pump(owner) at least every kPumpIntervalMs until it
// is done; returns work's result. The caller sees one blocking call.
int32_t RunPumping(void (*pump)(void*), void* owner, const std::function<int32_t()>& work);

// The window's run context: the drivers' VISA slots, except that each open and read runs
// through RunPumping, and the writer-mode wait sleeping the same way on the base's clock; the
// rest (deadline clock, search) as the base has them. The base (a test's fakes) may be null.
class PumpingRunEnv {
 public:
  PumpingRunEnv(void (*pump)(void*), void* owner, const RunEnv* base);
  PumpingRunEnv(const PumpingRunEnv&) = delete;
  PumpingRunEnv& operator=(const PumpingRunEnv&) = delete;

  const RunEnv* env() const { return &env_; }
  // The search the window's own search runs below its pumping (the base's, or VISA).
  const ResourceSearch* baseSearch() const { return baseSearch_; }
  // Puts the window's own search into the env.
  void SetSearch(const ResourceSearch* search) { env_.search = search; }

 private:
  static PumpingRunEnv* FromSlotOwner(void* owner);
  static int32_t Open(void* owner, const char* resourceName);
  static int32_t Read(void* owner, uint8_t* buffer, uint32_t* count);
  static int64_t Now(void* owner);
  static void Sleep(void* owner, uint32_t milliseconds);

  void (*pump_)(void*);
  void* pumpOwner_;
  const WaitClock* baseClock_;
  const ResourceSearch* baseSearch_;
  LinkSlots slots_;
  WaitClock clock_;
  RunEnv env_;
};

}  // namespace fg::app
