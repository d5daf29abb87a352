// Programming one image record into a partition and erasing a partition, over an instrument that
// is already in writer mode. Both keep the link's progressCounter moving from 0 to 100.
#pragma once
#include <cstdint>

#include "link/device_link.h"
#include "programmer/operation_budget.h"
#include "programmer/programmer_family.h"

namespace fg {

// Progress points of the data transfer within one partition operation.
inline constexpr uint32_t kDataTransferShare = 25;

// Sum modulo 2^32 of the big-endian words from offset 8 up to the trailer (W - 2 words, W being
// (length - 6) / 4). The record must be at least 26 bytes long.
uint32_t ImageChecksum(const uint8_t* image, uint32_t length);

// Divisors of the programming reply loop: about twice the blocks the data covers, plus one.
uint32_t Wx2040ProgramDivisor(uint32_t dataLength, uint32_t blockSize);  // (2(n+B) - 2) / B + 1
uint32_t Wx2050ProgramDivisor(uint32_t dataLength, uint32_t blockSize);  // 2((n+B-1) / B) + 1

namespace programmer {

// Every check that ProgramPartition makes on a record, without a link and without sending
// anything, so that a driver can run them over a whole package before the first image is
// written: 5 no such partition, 3 shorter than 26 bytes (or no block id at all), 6 the block id
// is not the partition's first block, 4 larger than the partition. The block id is the record's
// second-to-last byte.
int32_t CheckRecord(const ProgrammerFamily& family, int32_t partitionIndex, uint32_t blockId,
                    uint32_t length);

// Checks the record against the partition (nothing is sent when a check fails), then runs reset,
// data, data end, block id, size, checksum, setup end and the programming reply loop, within the
// budget of its data bytes and the blocks they cover (operation_budget.h): 11 past the deadline,
// 12 after too many idle replies.
int32_t ProgramPartition(const ProgrammerFamily& family, DeviceLink* link, int32_t partitionIndex,
                         const uint8_t* image, uint32_t length);

// Runs reset, block id, size (the capacity), setup end and the erase reply loop, within the
// budget of the partition's blocks.
int32_t ErasePartition(const ProgrammerFamily& family, DeviceLink* link, int32_t partitionIndex);

// Sends CmdProgram and follows the replies until a final one; `share` progress points are spread
// over the family's divisor of progress replies. With a budget, no reply is waited for past its
// deadline (11), and unrecognised replies and progress replies beyond the divisor count as idle
// (12 beyond the cap).
int32_t RunProgramLoop(const ProgrammerFamily& family, DeviceLink* link, uint32_t dataLength,
                       uint32_t blockSize, uint32_t share, OperationBudget* budget = nullptr);

// Sends CmdErase and follows the replies until "OK"; the same for both families. With a budget
// as above; "RtnOk" and progress replies beyond the block count are the idle ones.
int32_t RunEraseLoop(DeviceLink* link, uint32_t byteCount, uint32_t blockSize, uint32_t share,
                     OperationBudget* budget = nullptr);

}  // namespace programmer
}  // namespace fg
