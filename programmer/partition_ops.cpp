#include "programmer/partition_ops.h"

#include <cstring>

#include "firmware/image_record.h"
#include "programmer/command_frame.h"
#include "programmer/programmer_errors.h"
#include "util/endian.h"

namespace fg {

uint32_t ImageChecksum(const uint8_t* image, uint32_t length) {
  const uint32_t words = (length - kRecordTrailerSize) / 4;
  uint32_t sum = 0;
  for (uint32_t i = 0; i + 2 < words; ++i) sum += LoadBe32(image + 8 + 4 * i);
  return sum;
}

uint32_t Wx2040ProgramDivisor(uint32_t n, uint32_t b) { return (2 * (n + b) - 2) / b + 1; }
uint32_t Wx2050ProgramDivisor(uint32_t n, uint32_t b) { return 2 * ((n + b - 1) / b) + 1; }

namespace programmer {

namespace {

constexpr int32_t kProgressDone = 100;
constexpr int32_t kProgressBeforeLoop = 99;  // the reply loop gets what is left below this

bool StartsWith(const uint8_t* reply, const char* prefix) {
  return std::strncmp(reinterpret_cast<const char*>(reply), prefix, std::strlen(prefix)) == 0;
}

// An exchange's result, or 11 when it ended past the operation's deadline: the next exchange
// must not start then.
int32_t Step(const OperationBudget* budget, int32_t result) {
  if (result == 0 && BudgetExpired(budget)) return kProgDeadlinePassed;
  return result;
}

// One more point for a completed exchange.
void Advance(DeviceLink* link) { SetProgress(link, link->progressCounter + 1); }

// The counter after `sum` progress points spread over `divisor` replies.
void SpreadProgress(DeviceLink* link, uint32_t base, uint32_t sum, uint32_t divisor) {
  SetProgress(link, static_cast<int32_t>(base + sum / divisor));
}

// The row of a partition index, or null when the family's table has none.
const PartitionInfo* PartitionRow(const ProgrammerFamily& family, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= family.partitions.size()) return nullptr;
  return &family.partitions[static_cast<size_t>(index)];
}

// The record checks against one row, in the order ProgramPartition reports them.
int32_t CheckRecordAgainstRow(const PartitionInfo& row, uint32_t blockId, uint32_t length) {
  if (length < 2) return kProgRecordTooShort;  // no trailer byte to hold a block id
  if (blockId != row.firstBlock) return kProgBlockMismatch;
  if (length < kRecordMinimumSize) return kProgRecordTooShort;
  if (length > PartitionCapacity(row)) return kProgRecordTooLong;
  return 0;
}

}  // namespace

int32_t CheckRecord(const ProgrammerFamily& family, int32_t partitionIndex, uint32_t blockId,
                    uint32_t length) {
  const PartitionInfo* row = PartitionRow(family, partitionIndex);
  if (row == nullptr) return kProgBadPartition;
  return CheckRecordAgainstRow(*row, blockId, length);
}

int32_t ProgramPartition(const ProgrammerFamily& family, DeviceLink* link, int32_t partitionIndex,
                         const uint8_t* image, uint32_t length) {
  if (link == nullptr) return kProgNoLink;
  const PartitionInfo* row = PartitionRow(family, partitionIndex);
  if (row == nullptr) return kProgBadPartition;
  SetProgress(link, 0);

  // The block id is the trailer's fifth byte, second from the end of the record.
  if (image == nullptr || length < 2) return kProgRecordTooShort;
  const uint32_t blockId = image[length - 2];
  int32_t rc = CheckRecordAgainstRow(*row, blockId, length);
  if (rc != 0) return rc;
  const uint32_t checksum = ImageChecksum(image, length);

  // Block 0 (the boot loader) goes without the record's first 8 bytes.
  const uint32_t skipped = (blockId == 0) ? 8 : 0;
  const uint32_t n = length - skipped;
  OperationBudget budget =
      StartOperationBudget(link->env, n, (uint64_t{n} + row->blockSize - 1) / row->blockSize);

  const int32_t e = family.errorBase;
  if ((rc = Step(&budget, SendReset(link, e))) != 0) return rc;
  Advance(link);

  if ((rc = SendData(link, e, image + skipped, n, kDataTransferShare, &budget)) != 0) return rc;
  Advance(link);

  if ((rc = Step(&budget, SendDataEnd(link, e))) != 0) return rc;
  Advance(link);
  if ((rc = Step(&budget, SendBlockId(link, e, blockId))) != 0) return rc;
  Advance(link);
  if ((rc = Step(&budget, SendSize(link, e, n - kRecordTrailerSize))) != 0) return rc;
  Advance(link);

  int32_t instrumentSum = 0;
  if ((rc = Step(&budget, QueryChecksum(link, &instrumentSum))) != 0) return rc;
  if (static_cast<uint32_t>(instrumentSum) != checksum) return e + kStepChecksum;
  Advance(link);

  if ((rc = Step(&budget, SendSetupEnd(link, e))) != 0) return rc;
  Advance(link);

  const uint32_t share = static_cast<uint32_t>(kProgressBeforeLoop - link->progressCounter);
  if (BudgetExpired(&budget)) return kProgDeadlinePassed;
  if ((rc = RunProgramLoop(family, link, n, row->blockSize, share, &budget)) != 0) return rc;
  SetProgress(link, kProgressDone);
  return 0;
}

int32_t ErasePartition(const ProgrammerFamily& family, DeviceLink* link, int32_t partitionIndex) {
  if (link == nullptr) return kProgNoLink;
  const PartitionInfo* row = PartitionRow(family, partitionIndex);
  if (row == nullptr) return kProgBadPartition;
  const uint32_t capacity = static_cast<uint32_t>(PartitionCapacity(*row));
  SetProgress(link, 0);
  OperationBudget budget =
      StartOperationBudget(link->env, 0, uint64_t{row->lastBlock} - row->firstBlock + 1);

  const int32_t e = family.errorBase;
  int32_t rc;
  if ((rc = Step(&budget, SendReset(link, e))) != 0) return rc;
  Advance(link);
  if ((rc = Step(&budget, SendBlockId(link, e, row->firstBlock))) != 0) return rc;
  Advance(link);
  if ((rc = Step(&budget, SendSize(link, e, capacity))) != 0) return rc;
  Advance(link);
  if ((rc = Step(&budget, SendSetupEnd(link, e))) != 0) return rc;
  Advance(link);

  const uint32_t share = static_cast<uint32_t>(kProgressBeforeLoop - link->progressCounter);
  if (BudgetExpired(&budget)) return kProgDeadlinePassed;
  if ((rc = RunEraseLoop(link, capacity, row->blockSize, share, &budget)) != 0) return rc;
  SetProgress(link, kProgressDone);
  return 0;
}

int32_t RunProgramLoop(const ProgrammerFamily& family, DeviceLink* link, uint32_t dataLength,
                       uint32_t blockSize, uint32_t share, OperationBudget* budget) {
  if (!SendCommandFrame(link, CmdProgram, 0)) return kProgLinkFailed;
  const uint32_t base = static_cast<uint32_t>(link->progressCounter);
  const uint32_t divisor = family.programDivisor(dataLength, blockSize);
  uint32_t sum = 0;
  uint32_t progressReplies = 0;
  const int32_t e = family.errorBase;
  for (;;) {
    if (BudgetExpired(budget)) return kProgDeadlinePassed;
    uint32_t received = 0;
    if (!ReadReply(link, &received)) return kProgLinkFailed;
    const uint8_t* reply = link->replyBuffer;
    if (StartsWith(reply, "prog:") || StartsWith(reply, "RtnOk") || StartsWith(reply, "eras:")) {
      // Beyond the expected count a progress reply still moves the counter, but it is idle talk.
      if (++progressReplies > divisor && CountIdleReply(budget, received)) return kProgTooManyReplies;
      sum += share;
      SpreadProgress(link, base, sum, divisor);
    } else if (StartsWith(reply, "OK")) {
      SetProgress(link, static_cast<int32_t>(base + share));
      return 0;
    } else if (StartsWith(reply, "Erase NG")) {
      return e + kStepEraseNg;
    } else if (StartsWith(reply, "Program NG")) {
      return e + kStepProgramNg;
    } else if (StartsWith(reply, "RtnNg")) {
      return e + kStepReturnNg;
    } else if (StartsWith(reply, "Data is the latest update")) {
      return e + kStepLatest;
    } else if (CountIdleReply(budget, received)) {
      return kProgTooManyReplies;
    }
    // Anything else is chatter of the writer firmware: wait for the next reply.
  }
}

int32_t RunEraseLoop(DeviceLink* link, uint32_t byteCount, uint32_t blockSize, uint32_t share,
                     OperationBudget* budget) {
  if (!SendCommandFrame(link, CmdErase, 0)) return kProgLinkFailed;
  const uint32_t base = static_cast<uint32_t>(link->progressCounter);
  const uint32_t divisor = (byteCount + blockSize - 1) / blockSize;  // blocks to erase
  uint32_t sum = 0;
  uint32_t progressReplies = 0;
  for (;;) {
    if (BudgetExpired(budget)) return kProgDeadlinePassed;
    uint32_t received = 0;
    if (!ReadReply(link, &received)) return kProgLinkFailed;
    const uint8_t* reply = link->replyBuffer;
    if (StartsWith(reply, "OK")) return 0;
    if (StartsWith(reply, "RtnOk")) {  // acknowledged, but no block finished
      if (CountIdleReply(budget, received)) return kProgTooManyReplies;
      continue;
    }
    if (!StartsWith(reply, "eras:")) return kProgEraseReply;
    if (++progressReplies > divisor && CountIdleReply(budget, received)) return kProgTooManyReplies;
    sum += share;
    SpreadProgress(link, base, sum, divisor);
  }
}

}  // namespace programmer
}  // namespace fg
