// The index over an image package: a run of binary image records, each keyed by its block id.
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

// The index record that a driver's context embeds. `capacity` is the family's (6 or 3).
struct ImageIndex {
  ImageIndexEntry images[kImageIndexMaxCapacity];
  int32_t capacity;
  int32_t imageCount;
};

// Rebuilds the index from the payload file. A file that cannot be opened leaves it as it was.
void ParseImageIndex(ImageIndex* index, const char* payloadPath);

// The same over an open stream whose payload starts at `payloadStart`; offsets count from there.
void ParseImageIndexStream(ImageIndex* index, std::FILE* file, int64_t payloadStart);

// The first entry whose blockId equals `blockId`, or null.
const ImageIndexEntry* FindImage(const ImageIndex* index, int32_t blockId);

}  // namespace fg
