// Clean-up when the program is told to end from outside: Ctrl-C, and on POSIX SIGTERM and SIGHUP,
// on Windows Ctrl-Break, a closed console window, log-off and shut-down.
#pragma once

namespace fg::platform {

// Makes those events run `cleanup` before they end the program as they would have. `cleanup`
// must be safe in a signal handler (no allocation, no locks); on Windows it runs on a thread of
// its own while the program's threads go on. Installing it again changes nothing.
void RunOnTermination(void (*cleanup)());

}  // namespace fg::platform
