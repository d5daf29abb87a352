// The index over an image package: a run of binary image records, each keyed by its block id.
// The record layout is in image_record.h.
#pragma once
#include <cstdint>
#include <cstdio>

namespace fg {

struct ImageIndexEntry {
  int32_t offset;          // payload position of the record's first byte
  int32_t length;          // T + 6: first byte to the end of the trailer
  uint32_t leadWord;
  uint32_t imageLength;
  uint32_t storedLength;
  char version[5];         // bytes 12..15 and a terminator
  uint32_t tag;
  uint32_t trailerWord;
  int32_t blockId;         // 0..255
  int32_t trailerByte;     // 0..255
};

inline constexpr int32_t kImageIndexMaxCapacity = 6;

// Index capacities of the two driver families.
inline constexpr int32_t kWx2040ImageCapacity = 6;
inline constexpr int32_t kWx2050ImageCapacity = 3;
static_assert(kWx2040ImageCapacity <= kImageIndexMaxCapacity);
static_assert(kWx2050ImageCapacity <= kImageIndexMaxCapacity);

// The index record that a driver's context embeds. `capacity` is the family's (6 or 3); values
// outside 0..kImageIndexMaxCapacity are treated as the nearest bound.
struct ImageIndex {
  ImageIndexEntry images[kImageIndexMaxCapacity];
  int32_t capacity;
  int32_t imageCount;
};

// Rebuilds the index from the payload file. A file that cannot be opened leaves it as it was.
//
// Records are walked from the first payload byte until a read comes up short (the end of the
// file) or the index is full. A record's trailer sits at record start + T; a trailer beyond the
// end of the file, or so far out that the record's offset or length would not fit its 32-bit
// entry, ends the index at that record. Only complete records are stored and counted. Records are
// read in place, never held in memory, so any payload size costs the same.
void ParseImageIndex(ImageIndex* index, const char* payloadPath);

// The same over an open stream whose payload starts at file position `payloadStart`; offsets
// count from there. The stream is left at an unspecified position.
void ParseImageIndexStream(ImageIndex* index, std::FILE* file, int64_t payloadStart);

// The first entry whose blockId equals `blockId`, or null.
const ImageIndexEntry* FindImage(const ImageIndex* index, int32_t blockId);

}  // namespace fg
