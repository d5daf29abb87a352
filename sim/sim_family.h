// What differs between the simulated WX2040 and WX2050, as data: identity, flash layout, the
// version sub-fields of the identification reply, the number of progress replies of a
// programming run, and which partitions a firmware package for the model carries.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

#include "programmer/partition_tables.h"

namespace fg::sim {

inline constexpr uint16_t kVendorId = 0x2E5B;
inline constexpr uint16_t kWriterProductId = 0x3A01;  // the writer firmware of both families

inline constexpr uint32_t kNoPartition = 0xFFFFFFFFu;

// One hyphen-separated sub-field of the version run in the identification reply. The sub-field
// carries the installed version of `partition` (kNoPartition: a field nothing writes), cut to
// `width` characters of the record's version when that partition is programmed.
struct VersionSubField {
  uint32_t partition;
  uint32_t width;
};

inline constexpr uint32_t kMaxVersionSubFields = 6;

struct SimFamily {
  const char* model;                 // "WX2040"; also the argument of its update command
  uint16_t normalProductId;          // product id of the normal firmware
  const char* defaultSerial;         // stable serial when none is given
  std::span<const PartitionInfo> partitions;
  std::span<const VersionSubField> versionFields;  // sub-field 0 first
  const char* defaultVersions;       // installed versions of a fresh instrument
  // How many progress replies ("eras:", "prog:", "RtnOk") a programming run of dataLength bytes
  // into blocks of blockSize bytes sends before its final reply.
  uint32_t (*progressReplies)(uint32_t dataLength, uint32_t blockSize);
  // Partition rows that a complete firmware package carries an image for, in package order;
  // the last one is the optional OEM image.
  std::span<const uint32_t> packagePartitions;
};

extern const SimFamily kWx2040SimFamily;
extern const SimFamily kWx2050SimFamily;

// The family simulating `model` ("WX2040", "WX2050"), or null.
const SimFamily* FindSimFamily(std::string_view model);

// Row of the partition whose first block is `blockId`, or kNoPartition. Rows are searched in
// table order; only block ids up to 255 can name a partition, since a block id is one byte.
uint32_t FindPartitionByFirstBlock(const SimFamily& family, uint32_t blockId);

// Row of the partition named `name` (exact), or kNoPartition.
uint32_t FindPartitionByName(const SimFamily& family, std::string_view name);

// The largest record a programming run can carry: the biggest partition a block id can name.
uint64_t LargestProgrammableCapacity(const SimFamily& family);

// The sub-field whose version `partition` holds, or -1.
int32_t VersionFieldOfPartition(const SimFamily& family, uint32_t partition);

}  // namespace fg::sim
