// The events that tell the program to stop from outside: Ctrl-C, and on POSIX the signals INT,
// TERM and HUP, on Windows Ctrl-Break, a closed console window, log-off and shut-down. Also a
// closed output, which on POSIX would end the program with SIGPIPE.
#pragma once
#include <cstddef>
#ifndef _WIN32
#include <signal.h>
#endif

namespace fg::platform {

// What the program does with a stop event. Each function must be safe in a signal handler (no
// allocation, no locks); on Windows they run on a thread of their own while the program's
// threads go on. A null function is left out.
struct StopEventHandlers {
  // Called first: true when the event is deferred and the program goes on.
  bool (*defer)();
  // True while a deferred stop is still finishing its work. On Windows a closed console, log-off
  // and shut-down end the program once the handler returns, whatever it answers (and after a few
  // seconds in any case): the handler waits for this to turn false, for at most 4 s.
  bool (*finishing)();
  // Runs before an event ends the program as it would have without a handler.
  void (*cleanup)();
};

// Installs `handlers` for the stop events; installing again replaces them.
void RunOnStopEvents(const StopEventHandlers& handlers);

// A closed output becomes a write error for whoever writes (SIGPIPE ignored on POSIX; Windows
// never stops a program for it).
void IgnoreClosedOutput();

// Writes to standard error from a stop event's handler, unbuffered, ignoring failures.
void WriteErrorNow(const char* text, size_t size);

// Holds the stop events back on this thread while it lives, so that their handler never runs
// in the middle of what the thread does (POSIX signal mask). On Windows the handler runs on a
// thread of its own and nothing is held back.
class StopEventsBlocked {
 public:
  StopEventsBlocked();
  ~StopEventsBlocked();
  StopEventsBlocked(const StopEventsBlocked&) = delete;
  StopEventsBlocked& operator=(const StopEventsBlocked&) = delete;

#ifndef _WIN32
 private:
  sigset_t previous_;
#endif
};

// For a program whose main thread only waits to be told to stop (flintgate-sim): from its
// construction on, the stop events are kept for Wait() instead of ending the program. On POSIX
// INT, TERM and HUP are blocked in this thread and in every thread it starts later, and stay so;
// on Windows a console handler records Ctrl-C, Ctrl-Break, a closed console, log-off and
// shut-down, and for the last three holds the process, at most 4 s, until the waiter is gone.
// One waiter per program.
class StopEventWaiter {
 public:
  StopEventWaiter();
  ~StopEventWaiter();
  StopEventWaiter(const StopEventWaiter&) = delete;
  StopEventWaiter& operator=(const StopEventWaiter&) = delete;

  // Returns when a stop event has come (at once when one came before).
  void Wait();

#ifndef _WIN32
 private:
  sigset_t events_;
#endif
};

}  // namespace fg::platform
