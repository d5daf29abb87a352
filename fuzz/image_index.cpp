// Arbitrary bytes as an image package. The first byte picks the family capacity; the rest is the
// payload. Every indexed entry must lie inside the payload and lookups must agree with the index.
#include <cstdint>
#include <cstdio>

#include "firmware/image_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t capacity = (data[0] & 1) ? fg::kWx2050ImageCapacity : fg::kWx2040ImageCapacity;
  const uint8_t* payload = data + 1;
  const size_t payloadSize = size - 1;
  std::FILE* f = fmemopen(const_cast<uint8_t*>(payload), payloadSize, "rb");
  if (f == nullptr) return 0;

  fg::ImageIndex index{};
  index.capacity = capacity;
  fg::ParseImageIndexStream(&index, f, 0);
  std::fclose(f);

  if (index.imageCount < 0 || index.imageCount > capacity) __builtin_trap();
  int64_t expectedOffset = 0;
  for (int32_t i = 0; i < index.imageCount; ++i) {
    const fg::ImageIndexEntry& e = index.images[i];
    // Records follow each other; each trailer lies inside the payload.
    if (e.offset != expectedOffset || e.length < 6) __builtin_trap();
    if (static_cast<uint64_t>(e.offset) + static_cast<uint64_t>(e.length) > payloadSize) __builtin_trap();
    const uint8_t* trailer = payload + e.offset + e.length - 6;
    if (e.blockId != trailer[4] || e.trailerByte != trailer[5]) __builtin_trap();
    const fg::ImageIndexEntry* found = fg::FindImage(&index, e.blockId);
    if (found == nullptr || found > &e) __builtin_trap();
    expectedOffset += e.length;
  }
  return 0;
}
