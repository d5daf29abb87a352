#include "programmer/operation_budget.h"

namespace fg {

OperationBudget StartOperationBudget(const RunEnv* env, uint64_t dataBytes, uint64_t blocks) {
  const uint64_t kib = (dataBytes + 1023) / 1024;
  // Sizes are at most 32 bits, so the sum stays far below the range of int64_t.
  const int64_t allowance = kDeadlineBaseMs + kDeadlinePerBlockMs * static_cast<int64_t>(blocks) +
                            kDeadlinePerKiBMs * static_cast<int64_t>(kib);
  const DeadlineClock& clock = DeadlineClockOf(env);
  return {&clock, clock.nowMilliseconds(clock.owner) + allowance, 0, 0};
}

bool BudgetExpired(const OperationBudget* budget) {
  return budget != nullptr &&
         budget->clock->nowMilliseconds(budget->clock->owner) > budget->deadlineMs;
}

bool CountIdleReply(OperationBudget* budget, uint32_t length) {
  if (budget == nullptr) return false;
  ++budget->idleReplies;
  budget->idleReplyBytes += length < kMaxIdleReplyBytes ? length : kMaxIdleReplyBytes;
  return budget->idleReplies > kMaxIdleReplies || budget->idleReplyBytes > kMaxIdleReplyBytes;
}

}  // namespace fg
