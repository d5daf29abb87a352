// The run context: what one update run (or one device search) uses of the world outside the
// core, handed down instead of being swapped process-wide. The update run makes one per run;
// the driver keeps it in its context and hands it to every link it creates, so the programmer
// reaches it through the link it is given. A null env, or a null member, means the default.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace fg {

struct ModelFacts;  // link/model_facts.h
class StopNotice;  // util/stop_notice.h

using LinkOpenFn = int32_t (*)(void* owner, const char* resourceName);
using LinkWriteFn = int32_t (*)(void* owner, const uint8_t* bytes, uint32_t* count);
using LinkReadFn = int32_t (*)(void* owner, uint8_t* buffer, uint32_t* count);
using LinkCloseFn = void (*)(void* owner);
using LinkProgressFn = int32_t (*)(void* owner, uint32_t percent);

// The link slots a driver puts into every link it creates and calls itself (with its context as
// the owner) to announce and to finish. They follow the DeviceLink slots' contract and block
// like them. Default: the VISA slots over the driver's context.
struct LinkSlots {
  LinkOpenFn open;
  LinkWriteFn write;
  LinkReadFn read;
  LinkCloseFn close;
  // Never passed to the slots: state of their own (the window's pump), which a slot finds
  // through its owner's env when it needs it.
  void* state;
};

// The monotonic clock of the writer-mode wait and of the reopen attempts after it.
// Default: the steady clock, the sleep blocking the calling thread.
struct WaitClock {
  void* owner;
  // Milliseconds that never go back, whatever the calendar does. Never blocks.
  int64_t (*nowMilliseconds)(void* owner);
  // Returns after about `milliseconds` (the waits look at the clock again). Blocks; a front end
  // may keep handling its events meanwhile.
  void (*sleepMilliseconds)(void* owner, uint32_t milliseconds);
};

// The monotonic clock that the deadlines of partition operations are measured with, read
// before every exchange of an erase or a programming. Never blocks. Default: the steady clock.
struct DeadlineClock {
  void* owner;
  int64_t (*nowMilliseconds)(void* owner);
};

// What the writer-mode switch tells the run, on the run's thread.
enum class WriterModeEvent : int32_t {
  kWaitingForRestart = 1,  // the update command went out; the instrument restarts
  kDidNotReturn = 2,       // no writer came back before the deadline: Connect fails with 1
  kFoundInWriterMode = 3,  // the first reply already came from the writer: no switch is made
};
struct WriterModeObserver {
  void* owner;
  // Called from inside the programmer's Connect; must not block. Default: nobody is told.
  void (*Notify)(void* owner, WriterModeEvent event);
};

struct InstrumentIdentity;

// How a device search finds resource names. Default: the VISA search (FindResourceNames).
struct ResourceSearch {
  void* owner;
  // Every resource name for the expression, in the provider's order; returns their number.
  // Blocks until the search is done (a window may run it on another thread meanwhile).
  int32_t (*Find)(void* owner, const char* expression, std::vector<std::string>* names);
  // Asks one instrument who it is (IdentifyResource's contract: 0 with *out filled). Blocks for
  // at most the VISA open timeout and two short exchanges. Null: IdentifyResource.
  int32_t (*Identify)(void* owner, const char* resourceName, InstrumentIdentity* out);
};

struct RunEnv {
  const LinkSlots* linkSlots;           // the driver's link slots
  const WaitClock* waitClock;           // the writer-mode wait and the reopen attempts
  const DeadlineClock* deadlineClock;   // the deadlines of erasing and programming
  const WriterModeObserver* writerModeObserver;  // the update run puts its own here
  const ResourceSearch* search;         // device searches (file selection, run, list)
  // What the run knows of its instrument's model (link/model_facts.h); the update run puts its
  // own here. Null: nothing is known, so a writer that names no model is never written to.
  ModelFacts* modelFacts;
  StopNotice* stopNotice;               // the run's lines for a stop that ends the program
  // The folder of the per-instrument locks (link/instrument_lock.h) that keep two updates off
  // one instrument; null: the user's own (platform::DefaultLockFolder).
  const char* lockFolder;
};

// The member of `env` in force: its own, or the default when env or the member is null.
const WaitClock& WaitClockOf(const RunEnv* env);
const DeadlineClock& DeadlineClockOf(const RunEnv* env);

// Tells the env's writer-mode observer, if it has one.
void NotifyWriterMode(const RunEnv* env, WriterModeEvent event);

}  // namespace fg
