#include "programmer/operation_budget.h"

#include <chrono>

namespace fg {

namespace {

int64_t SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

constexpr DeadlineClock kSteadyClock = {SteadyNowMs};
const DeadlineClock* g_deadlineClock = &kSteadyClock;

}  // namespace

const DeadlineClock* InstallDeadlineClock(const DeadlineClock* clock) {
  const DeadlineClock* previous = g_deadlineClock;
  g_deadlineClock = clock ? clock : &kSteadyClock;
  return previous;
}

OperationBudget StartOperationBudget(uint64_t dataBytes, uint64_t blocks) {
  const uint64_t kib = (dataBytes + 1023) / 1024;
  // Sizes are at most 32 bits, so the sum stays far below the range of int64_t.
  const int64_t allowance = kDeadlineBaseMs + kDeadlinePerBlockMs * static_cast<int64_t>(blocks) +
                            kDeadlinePerKiBMs * static_cast<int64_t>(kib);
  return {g_deadlineClock->nowMilliseconds() + allowance, 0, 0};
}

bool BudgetExpired(const OperationBudget* budget) {
  return budget != nullptr && g_deadlineClock->nowMilliseconds() > budget->deadlineMs;
}

bool CountIdleReply(OperationBudget* budget, uint32_t length) {
  if (budget == nullptr) return false;
  ++budget->idleReplies;
  budget->idleReplyBytes += length < kMaxIdleReplyBytes ? length : kMaxIdleReplyBytes;
  return budget->idleReplies > kMaxIdleReplies || budget->idleReplyBytes > kMaxIdleReplyBytes;
}

}  // namespace fg
