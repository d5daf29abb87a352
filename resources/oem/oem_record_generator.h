// Builds the built-in OEM image record: the fixed header and trailer values around 7768 body
// bytes from a seeded xorshift32 sequence. make_oem_record writes it to oem_record.bin, which is
// what the program embeds; a test checks that the two still agree.
#pragma once
#include <cstdint>
#include <cstring>

#include "firmware/image_record.h"
#include "util/endian.h"

namespace fg::oem {

inline constexpr uint32_t kBodySeed = 0x0E3A2040;

// One step of Marsaglia's xorshift32; never yields 0 from a nonzero state.
constexpr uint32_t NextXorshift32(uint32_t x) {
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return x;
}

inline void BuildOemRecord(uint8_t (&out)[kOemRecordSize]) {
  std::memset(out, 0, sizeof out);
  StoreBe32(out + kRecordLeadWordOffset, kOemLeadWord);
  StoreBe32(out + kRecordImageLengthOffset, kOemImageLength);
  StoreBe32(out + kRecordStoredLengthOffset, kOemStoredLength);
  std::memcpy(out + kRecordVersionOffset, kOemVersion, sizeof kOemVersion);
  std::memcpy(out + kRecordTagOffset, kOemTag, sizeof kOemTag);

  uint32_t state = kBodySeed;
  for (size_t i = kRecordHeaderSize; i < kOemStoredLength; ++i) {
    state = NextXorshift32(state);
    out[i] = static_cast<uint8_t>(state >> 24);
  }

  uint8_t* trailer = out + kOemStoredLength;
  StoreBe32(trailer, kOemTrailerWord);
  trailer[kRecordTrailerBlockIdOffset] = kOemBlockId;
  trailer[kRecordTrailerByteOffset] = kOemTrailerByte;
}

}  // namespace fg::oem
