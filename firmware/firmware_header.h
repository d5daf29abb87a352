// The text header of a firmware file and the copy of its binary payload.
#pragma once
#include <cstdint>
#include <cstdio>

namespace fg {

struct FirmwareHeader {
  char ImageRev[16];             // upper-cased, at most 15 characters
  char ModelName[64];            // upper-cased, at most 63
  char RevsNotSupport[16];       // upper-cased, at most 15; stored only
  char UpdatedDescription[512];  // raw value as written, at most 511
  char UtilityRev[16];           // upper-cased, at most 15
  int32_t payloadOffset;         // first payload byte; 0 until "FileStart" was read
};

// Parse error numbers: a field too long, and a file too large for the format.
inline constexpr int32_t kErrImageRevTooLong = 0x10;
inline constexpr int32_t kErrModelNameTooLong = 0x11;
inline constexpr int32_t kErrRevsNotSupportTooLong = 0x12;
inline constexpr int32_t kErrDescriptionTooLong = 0x13;
inline constexpr int32_t kErrUtilityRevTooLong = 0x14;
inline constexpr int32_t kErrFileTooLarge = 0x16;  // 2 GiB or more

// Reads the header lines of `file` (opened for binary reading at its start) into `header`.
// Returns 0 when the header was read or the file ended, else the first error number.
int32_t ParseFirmwareHeader(FirmwareHeader* header, std::FILE* file);

// Copies the bytes of `firmwarePath` from `payloadOffset` to its end into `tempPath` (created or
// truncated). 0 on success, nonzero when either file cannot be opened.
int32_t ExtractPayload(const char* firmwarePath, int32_t payloadOffset, const char* tempPath);

}  // namespace fg
