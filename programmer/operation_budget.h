// How long, and through how many replies, one partition operation may keep the host waiting.
//
// Every read and write of the link is bounded by the link's I/O timeout, but an instrument that
// answers just in time, sends its data back in one-byte pieces or keeps talking without ever
// finishing could hold an operation for hours. So each erase and each programming gets an
// overall deadline derived from its size, checked before every further exchange, data piece and
// reply, and a cap on the replies that move nothing forward.
//
//   deadline = 60 s + 5 s per flash block the operation covers + 100 ms per KiB of data sent
//
// The 5 s per block cover erasing and writing one block of real flash several times over (and
// the simulator's default 300 ms + 500 ms); the 100 ms per KiB allow 10 KiB/s on the link. An
// operation ends at most one I/O timeout after its deadline.
#pragma once
#include <cstdint>

#include "link/run_env.h"

namespace fg {

inline constexpr int64_t kDeadlineBaseMs = 60000;
inline constexpr int64_t kDeadlinePerBlockMs = 5000;
inline constexpr int64_t kDeadlinePerKiBMs = 100;
// Replies that neither finish the operation nor move its progress (chatter, progress beyond
// the expected count, "RtnOk" while erasing), by number and by bytes.
inline constexpr uint32_t kMaxIdleReplies = 256;
inline constexpr uint32_t kMaxIdleReplyBytes = 64 * 1024;

struct OperationBudget {
  const DeadlineClock* clock;  // the run's deadline clock, taken once at the start
  int64_t deadlineMs;        // on that clock
  uint32_t idleReplies;
  uint32_t idleReplyBytes;
};

// The budget of an operation that sends `dataBytes` bytes and covers `blocks` flash blocks,
// starting now on the env's deadline clock (the steady clock when env is null).
OperationBudget StartOperationBudget(const RunEnv* env, uint64_t dataBytes, uint64_t blocks);

// True once the deadline has passed. A null budget never expires.
bool BudgetExpired(const OperationBudget* budget);

// Counts one idle reply of `length` bytes; true once either cap is exceeded. A null budget
// counts nothing.
bool CountIdleReply(OperationBudget* budget, uint32_t length);

}  // namespace fg
