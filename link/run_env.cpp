#include "link/run_env.h"

#include <chrono>
#include <thread>

namespace fg {

namespace {

int64_t SteadyNowMilliseconds(void*) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
void SleepThread(void*, uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

constexpr WaitClock kSteadyWaitClock = {nullptr, SteadyNowMilliseconds, SleepThread};
constexpr DeadlineClock kSteadyDeadlineClock = {nullptr, SteadyNowMilliseconds};

}  // namespace

const WaitClock& WaitClockOf(const RunEnv* env) {
  return env != nullptr && env->waitClock != nullptr ? *env->waitClock : kSteadyWaitClock;
}

const DeadlineClock& DeadlineClockOf(const RunEnv* env) {
  return env != nullptr && env->deadlineClock != nullptr ? *env->deadlineClock
                                                         : kSteadyDeadlineClock;
}

void NotifyWriterMode(const RunEnv* env, WriterModeEvent event) {
  if (env == nullptr) return;
  const WriterModeObserver* observer = env->writerModeObserver;
  if (observer != nullptr && observer->Notify != nullptr) observer->Notify(observer->owner, event);
}

}  // namespace fg
