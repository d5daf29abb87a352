// Layout of one binary image record: 20 header bytes, a body, a 6-byte trailer at offset T,
// where T is storedLength when it is not 0, else imageLength. All integers big-endian.
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

// The built-in OEM record appended by the WX2040 driver (7794 bytes).
inline constexpr size_t kOemRecordSize = 7794;
extern const uint8_t kOemRecord[kOemRecordSize];

}  // namespace fg
