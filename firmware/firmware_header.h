// The text header of a firmware file and the copy of its binary payload.
//
// A firmware file is a run of text lines, of which those that start with "#" are header lines of
// the form "# key = value", ended by the line whose key is "FileStart"; every byte after that
// line's line feed is the payload (an image package, see image_index.h).
#pragma once
#include <cstdint>
#include <cstdio>

#include "firmware/firmware_file.h"
#include "util/sha256.h"

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
// A header line holds a NUL byte. The file is refused rather than read up to the NUL: the text
// after it would go unseen, so "WX2040\0junk" would pass as WX2040.
inline constexpr int32_t kErrNulInHeader = 0x17;

// Header lines are read through one buffer of this size: at most 1022 characters and a NUL. The
// rest of a longer line is skipped up to its line feed and never seen as a line of its own.
inline constexpr int kHeaderLineBufferSize = 1023;

// Files of this size or more cannot be described by the 32-bit payloadOffset.
inline constexpr int64_t kMaxFirmwareFileSize = int64_t{1} << 31;

// Reads the header lines of `file` (opened for binary reading at its start) into `header`, which
// is zero-filled first. Returns 0 when the header was read or the file ended (payloadOffset stays
// 0 without a "FileStart" line), else the first error number; fields stored before an error stay.
// A header line ("#...") with a NUL byte anywhere in it is kErrNulInHeader.
// A file of kMaxFirmwareFileSize bytes or more gives kErrFileTooLarge before any line is read;
// no line is read beyond the size measured then. Leaves the stream where it stopped; the caller
// closes it.
int32_t ParseFirmwareHeader(FirmwareHeader* header, std::FILE* file);

// ExtractPayload and DigestPayload results.
inline constexpr int32_t kExtractOk = 0;
inline constexpr int32_t kExtractCantOpenFirmware = 1;  // the temporary file is not touched
inline constexpr int32_t kExtractCantCreateTemp = 2;
inline constexpr int32_t kExtractReadFailed = 3;   // I/O error, or the file shrank since it was opened
inline constexpr int32_t kExtractWriteFailed = 4;  // the temporary file is incomplete
// The payload's digest is not the one expected: its bytes were changed in place since the
// digest was taken. The temporary file is removed.
inline constexpr int32_t kExtractChanged = 5;

// The SHA-256 of the payload of the open firmware file: its bytes from `payloadOffset` up to the
// size it had when it was opened, read by position. 0, kExtractCantOpenFirmware when `firmware`
// is not open, kExtractReadFailed on an I/O error or a file cut short since.
int32_t DigestPayload(const FirmwareFile& firmware, int32_t payloadOffset, Sha256Digest* digest);

// Copies the bytes of the open firmware file from `payloadOffset` up to the size it had when it
// was opened into `tempPath` (created for this user alone or truncated, never through a link;
// see platform/regular_file.h). Reads by position, so the open file's position does not matter.
// With `expected`, the copy's digest must equal it: otherwise the copy is removed and the result
// is kExtractChanged. 0 on success, else one of the kExtract* numbers above
// (kExtractCantOpenFirmware when `firmware` is not open).
int32_t ExtractPayload(const FirmwareFile& firmware, int32_t payloadOffset, const char* tempPath,
                       const Sha256Digest* expected = nullptr);

}  // namespace fg
