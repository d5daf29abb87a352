// Another process that holds an instrument's lock: a child of the test, forked, that takes the
// lock as an update run would and keeps it until it is killed, when the system releases it.
#pragma once
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "link/instrument_lock.h"

namespace fg::testing {

class LockHoldingChild {
 public:
  // Forks; the child takes the lock of `key` in the env's lock folder, naming `model`, and says
  // whether it got it. holding() tells.
  LockHoldingChild(const RunEnv* env, const std::string& key, const char* model) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      InstrumentLock lock{};
      LockHolder holder{};
      std::string problem;
      const char got =
          LockInstrument(env, key, model, LockPurpose::kUpdate, &lock, &holder, &problem) ==
                  kInstrumentLocked
              ? '1'
              : '0';
      if (write(ready[1], &got, 1) != 1) _exit(1);
      for (;;) pause();
    }
    close(ready[1]);
    char got = '0';
    holding_ = pid_ > 0 && read(ready[0], &got, 1) == 1 && got == '1';
    close(ready[0]);
  }
  ~LockHoldingChild() { Kill(); }
  LockHoldingChild(const LockHoldingChild&) = delete;
  LockHoldingChild& operator=(const LockHoldingChild&) = delete;

  bool holding() const { return holding_; }
  pid_t pid() const { return pid_; }

  // Ends the child as a crash would: no release of its own.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    holding_ = false;
  }

 private:
  pid_t pid_ = -1;
  bool holding_ = false;
};

}  // namespace fg::testing
