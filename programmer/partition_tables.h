// The flash partition tables of both instrument families, as constant data.
// A partition is a run of flash blocks; its first block doubles as the block id that an image
// record must carry to be written there. The programmer and the simulated instrument read the
// same rows, so this header is the single source for both.
#pragma once
#include <cstdint>
#include <span>

namespace fg {

inline constexpr uint32_t kPartitionNameSize = 16;

struct PartitionInfo {
  uint32_t firstBlock;  // first flash block, also the partition's block id
  uint32_t lastBlock;   // last flash block, inclusive
  uint32_t address;     // flash address; carried for the instrument's sake, not read here
  uint32_t blockSize;   // bytes per block
  uint32_t flag;        // 0 or 1; carried for the instrument's sake, not read here
  char name[kPartitionNameSize];  // ASCII, NUL padded
};
static_assert(sizeof(PartitionInfo) == 36);

// Bytes a partition can hold: its block count times its block size.
constexpr uint64_t PartitionCapacity(const PartitionInfo& row) {
  return (uint64_t{row.lastBlock} - row.firstBlock + 1) * row.blockSize;
}

inline constexpr PartitionInfo kWx2040Partitions[] = {
    {0, 0, 0x000000, 0x10000, 0, "BOOT"},
    {1, 2, 0x010000, 0x10000, 0, "WRITER"},
    {3, 3, 0x030000, 0x10000, 0, "1C3"},
    {4, 5, 0x040000, 0x10000, 0, "1C6DDS"},
    {6, 7, 0x060000, 0x10000, 0, "1C6POUT"},
    {8, 13, 0x080000, 0x10000, 0, "HTTP"},
    {14, 29, 0x0E0000, 0x10000, 0, "MAIN"},
    {30, 30, 0x1E0000, 0x10000, 0, "SAVE"},
    {31, 38, 0x1F0000, 0x10000, 0, "ARB1"},
    {39, 46, 0x270000, 0x10000, 0, "ARB2"},
    {47, 54, 0x2F0000, 0x10000, 0, "ARB3"},
    {55, 62, 0x370000, 0x10000, 0, "ARB4"},
    {63, 63, 0x3F0000, 0x2000, 0, "CAL"},
    {64, 64, 0x3F2000, 0x2000, 0, "STORED DATA"},
    {65, 65, 0x3F4000, 0x2000, 0, "PRODUCT"},
    {66, 66, 0x3F6000, 0x2000, 0, "ARBINFO"},
    {67, 68, 0x3F8000, 0x2000, 0, "OEM"},
};

// Not sorted by block: "XP2" lies inside the block range of "RESERVE", and the address column
// restarts at 0 in the MAIN, WRITER and XP2 rows.
inline constexpr PartitionInfo kWx2050Partitions[] = {
    {0, 3, 0x080000, 0x2000, 1, "BOOTER"},
    {4, 11, 0x000000, 0x10000, 1, "MAIN"},
    {12, 27, 0x000000, 0x1000, 1, "WRITER"},
    {28, 28, 0x010000, 0x1000, 1, "UPT_INFO"},
    {29, 32, 0x011000, 0x1000, 0, "ARB1"},
    {33, 36, 0x015000, 0x1000, 0, "ARB2"},
    {37, 40, 0x019000, 0x1000, 0, "ARB3"},
    {41, 44, 0x01D000, 0x1000, 0, "ARB4"},
    {45, 48, 0x021000, 0x1000, 0, "SIN"},
    {49, 52, 0x025000, 0x1000, 0, "EXPR"},
    {53, 56, 0x029000, 0x1000, 0, "EXPF"},
    {57, 60, 0x02D000, 0x1000, 0, "NRAMP"},
    {61, 64, 0x031000, 0x1000, 0, "SINC"},
    {65, 68, 0x035000, 0x1000, 0, "CARD"},
    {69, 69, 0x039000, 0x1000, 0, "ARBINFO"},
    {70, 70, 0x03A000, 0x1000, 0, "SAVE"},
    {71, 72, 0x03B000, 0x1000, 0, "CAL"},
    {73, 73, 0x03D000, 0x1000, 0, "WX2SET"},
    {74, 74, 0x03E000, 0x1000, 0, "PRODUCT"},
    {75, 75, 0x03F000, 0x1000, 0, "OEM"},
    {76, 79, 0x040000, 0x1000, 0, "VOLATILE"},
    {80, 80, 0x044000, 0x1000, 0, "SEQARB1"},
    {81, 81, 0x045000, 0x1000, 0, "SEQARB2"},
    {82, 82, 0x046000, 0x1000, 0, "SEQARB3"},
    {83, 83, 0x047000, 0x1000, 0, "SEQARB4"},
    {84, 84, 0x048000, 0x1000, 0, "SEQARB_VOL"},
    {85, 395, 0x049000, 0x1000, 1, "RESERVE"},
    {396, 523, 0x180000, 0x80000, 0, "COMM"},
    {254, 293, 0x000000, 0x1000, 1, "XP2"},
};

inline constexpr uint32_t kWx2040PartitionCount = std::size(kWx2040Partitions);
inline constexpr uint32_t kWx2050PartitionCount = std::size(kWx2050Partitions);
static_assert(kWx2040PartitionCount == 17);
static_assert(kWx2050PartitionCount == 29);

// Row index of the partition named "OEM" in each family's table.
inline constexpr uint32_t kWx2040OemPartition = 16;
inline constexpr uint32_t kWx2050OemPartition = 19;
static_assert(kWx2040Partitions[kWx2040OemPartition].firstBlock == 67);
static_assert(kWx2050Partitions[kWx2050OemPartition].firstBlock == 75);

inline constexpr std::span<const PartitionInfo> kWx2040PartitionTable{kWx2040Partitions};
inline constexpr std::span<const PartitionInfo> kWx2050PartitionTable{kWx2050Partitions};

}  // namespace fg
