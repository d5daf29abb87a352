// Layout of one binary image record: 20 header bytes, a body, a 6-byte trailer at offset T,
// where T is storedLength when it is not 0, else imageLength. All integers big-endian.
//
//   0..3 leadWord   4..7 imageLength   8..11 storedLength   12..15 version (4 characters)
//   16..19 tag      20..T-1 body       T..T+3 trailerWord   T+4 blockId   T+5 trailerByte
#pragma once
#include <cstddef>
#include <cstdint>

namespace fg {

inline constexpr size_t kRecordLeadWordOffset = 0;
inline constexpr size_t kRecordImageLengthOffset = 4;
inline constexpr size_t kRecordStoredLengthOffset = 8;
inline constexpr size_t kRecordVersionOffset = 12;
inline constexpr size_t kRecordTagOffset = 16;
inline constexpr size_t kRecordHeaderSize = 20;
inline constexpr size_t kRecordTrailerSize = 6;  // trailerWord (4), blockId (1), trailerByte (1)
inline constexpr size_t kRecordMinimumSize = kRecordHeaderSize + kRecordTrailerSize;
inline constexpr size_t kRecordTrailerBlockIdOffset = 4;    // within the trailer
inline constexpr size_t kRecordTrailerByteOffset = 5;       // within the trailer
static_assert(kRecordTagOffset + 4 == kRecordHeaderSize);
static_assert(kRecordTrailerByteOffset + 1 == kRecordTrailerSize);

// The built-in OEM record appended by the WX2040 driver (7794 bytes): an image for the OEM
// region whose 7768 body bytes are our own deterministic filler (resources/oem/).
inline constexpr uint32_t kOemLeadWord = 0;
inline constexpr uint32_t kOemImageLength = 18048;
inline constexpr uint32_t kOemStoredLength = 7788;  // T
inline constexpr uint8_t kOemVersion[4] = {0x0C, 0x00, 0x00, 0x00};
inline constexpr uint8_t kOemTag[4] = {'O', 'E', 'M', 0};
inline constexpr uint32_t kOemTrailerWord = 0;
inline constexpr uint8_t kOemBlockId = 67;  // first block of the WX2040's OEM region
inline constexpr uint8_t kOemTrailerByte = 1;
inline constexpr size_t kOemRecordSize = kOemStoredLength + kRecordTrailerSize;
inline constexpr size_t kOemBodySize = kOemStoredLength - kRecordHeaderSize;
static_assert(kOemRecordSize == 7794);
static_assert(kOemBodySize == 7768);

extern const uint8_t kOemRecord[kOemRecordSize];

}  // namespace fg
