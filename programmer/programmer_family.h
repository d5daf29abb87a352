// What differs between the two programmer families, as data. The steps are written once
// (partition_ops.h, writer_mode.h) and take a family.
#pragma once
#include <cstdint>
#include <span>

#include "programmer/partition_tables.h"

namespace fg {

// The whole serial number, however long: a serial cut short would rebuild the name of no
// instrument. A resource name (255 characters and a NUL) bounds it.
inline constexpr uint32_t kSerialNumberSize = 256;

// How long an instrument gets to come back as its writer after the update command, in
// milliseconds counted from that command on a monotonic clock.
struct WriterReturnTiming {
  uint32_t firstWaitMs;      // before the first reopen; instruments rely on getting all of it
  uint32_t retryIntervalMs;  // between reopen attempts after that
  uint32_t deadlineMs;       // the last attempt; then the instrument counts as not back
};

struct ProgrammerFamily {
  const char* name;                           // "WX2040", "WX2050": the model it writes to
  int32_t errorBase;                          // 0x100, 0x200
  std::span<const PartitionInfo> partitions;  // the family's partition table
  // Divisor of the programming reply loop for n data bytes and block size B.
  uint32_t (*programDivisor)(uint32_t dataLength, uint32_t blockSize);
  const char* updateCommand;                  // switches the normal firmware to the writer
  uint32_t oemPartition;                      // row of the partition "OEM"
  // The family's kSerialNumberSize-byte result buffer of ExtractSerialNumber, one per thread:
  // instruments of one family switched on threads of their own must not see each other's serial.
  char* (*serialBuffer)();
  WriterReturnTiming writerReturn;
};

extern const ProgrammerFamily kWx2040ProgrammerFamily;
extern const ProgrammerFamily kWx2050ProgrammerFamily;

}  // namespace fg
