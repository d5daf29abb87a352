#include "sim/sim_family.h"

#include <cstring>

namespace fg::sim {

namespace {

// Progress replies of one programming run. The instrument erases and programs every block the
// data covers and then verifies; the verification lines make up the count the host divides by.
uint32_t Wx2040ProgressReplies(uint32_t n, uint32_t b) { return ((2 * (n + b)) - 2) / b + 1; }
uint32_t Wx2050ProgressReplies(uint32_t n, uint32_t b) { return 2 * ((n + b - 1) / b) + 1; }

// Rows of kWx2040Partitions: 1C3 2, 1C6DDS 3, 1C6POUT 4, HTTP 5, MAIN 6.
constexpr VersionSubField kWx2040VersionFields[] = {
    {6, 4}, {kNoPartition, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 4},
};
// Rows of kWx2050Partitions: MAIN 1, XP2 28.
constexpr VersionSubField kWx2050VersionFields[] = {
    {1, 4}, {kNoPartition, 2}, {28, 2},
};
static_assert(std::size(kWx2040VersionFields) <= kMaxVersionSubFields);

// 1C3, 1C6DDS, 1C6POUT, MAIN, HTTP, OEM.
constexpr uint32_t kWx2040Package[] = {2, 3, 4, 6, 5, 16};
// MAIN, XP2, OEM.
constexpr uint32_t kWx2050Package[] = {1, 28, 19};

}  // namespace

const SimFamily kWx2040SimFamily = {
    "WX2040",         0x3A01, "SIM2040A", kWx2040PartitionTable, kWx2040VersionFields,
    "2.00-01-01-01-01-0100", &Wx2040ProgressReplies, kWx2040Package,
};

const SimFamily kWx2050SimFamily = {
    "WX2050", 0x3A02, "SIM2050A", kWx2050PartitionTable, kWx2050VersionFields, "1.10-01-01",
    &Wx2050ProgressReplies, kWx2050Package,
};

const SimFamily* FindSimFamily(std::string_view model) {
  for (const SimFamily* family : {&kWx2040SimFamily, &kWx2050SimFamily}) {
    if (model == family->model) return family;
  }
  return nullptr;
}

uint32_t FindPartitionByFirstBlock(const SimFamily& family, uint32_t blockId) {
  for (uint32_t row = 0; row < family.partitions.size(); ++row) {
    if (family.partitions[row].firstBlock == blockId && blockId <= 0xFF) return row;
  }
  return kNoPartition;
}

uint32_t FindPartitionByName(const SimFamily& family, std::string_view name) {
  for (uint32_t row = 0; row < family.partitions.size(); ++row) {
    const char* rowName = family.partitions[row].name;
    if (name == std::string_view(rowName, strnlen(rowName, kPartitionNameSize))) return row;
  }
  return kNoPartition;
}

uint64_t LargestProgrammableCapacity(const SimFamily& family) {
  uint64_t largest = 0;
  for (const PartitionInfo& row : family.partitions) {
    if (row.firstBlock <= 0xFF && PartitionCapacity(row) > largest) largest = PartitionCapacity(row);
  }
  return largest;
}

int32_t VersionFieldOfPartition(const SimFamily& family, uint32_t partition) {
  for (uint32_t i = 0; i < family.versionFields.size(); ++i) {
    if (family.versionFields[i].partition == partition) return static_cast<int32_t>(i);
  }
  return -1;
}

}  // namespace fg::sim
