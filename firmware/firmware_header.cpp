#include "firmware/firmware_header.h"

#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/locked_stream.h"
#include "platform/regular_file.h"

namespace fg {

namespace {

// One header key and the field it fills. `raw` keeps the value as written (not stripped, not
// upper-cased); the bound applies to the text that is stored.
struct HeaderField {
  const char* key;
  size_t offset;
  size_t capacity;
  int32_t tooLong;
  bool raw;
};

// Dispatch order is the order of the error numbers.
constexpr HeaderField kHeaderFields[] = {
    {"ImageRev", offsetof(FirmwareHeader, ImageRev), sizeof(FirmwareHeader::ImageRev),
     kErrImageRevTooLong, false},
    {"ModelName", offsetof(FirmwareHeader, ModelName), sizeof(FirmwareHeader::ModelName),
     kErrModelNameTooLong, false},
    {"RevsNotSupport", offsetof(FirmwareHeader, RevsNotSupport),
     sizeof(FirmwareHeader::RevsNotSupport), kErrRevsNotSupportTooLong, false},
    {"UpdatedDescription", offsetof(FirmwareHeader, UpdatedDescription),
     sizeof(FirmwareHeader::UpdatedDescription), kErrDescriptionTooLong, true},
    {"UtilityRev", offsetof(FirmwareHeader, UtilityRev), sizeof(FirmwareHeader::UtilityRev),
     kErrUtilityRevTooLong, false},
};

constexpr const char* kFileStartKey = "FileStart";

bool IsHeaderSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// A slice [begin, end) of the line buffer.
struct Span {
  const char* begin;
  const char* end;
  size_t size() const { return static_cast<size_t>(end - begin); }
  bool empty() const { return begin == end; }
};

Span Strip(Span s) {
  while (s.begin < s.end && IsHeaderSpace(*s.begin)) ++s.begin;
  while (s.end > s.begin && IsHeaderSpace(s.end[-1])) --s.end;
  return s;
}

bool Equals(Span s, const char* text) {
  size_t n = std::strlen(text);
  return s.size() == n && std::memcmp(s.begin, text, n) == 0;
}

// Skips "=" signs, then takes the run of characters up to the next "=" or the end of the text.
Span NextRun(const char*& p) {
  while (*p == '=') ++p;
  const char* begin = p;
  while (*p != '\0' && *p != '=') ++p;
  return {begin, p};
}

// Reads one line into `line` (kHeaderLineBufferSize bytes): the line feed is consumed and not
// kept, characters past the buffer's 1022 are consumed and dropped. Adds the bytes consumed to
// *consumed. A NUL byte inside the line ends its text; *sawNul tells whether the line held one.
void ReadHeaderLine(std::FILE* file, char* line, int64_t* consumed, bool* sawNul) {
  size_t n = 0;
  int c;
  *sawNul = false;
  platform::LockStream(file);
  while ((c = platform::GetcLocked(file)) != EOF) {
    ++*consumed;
    if (c == '\n') break;
    if (c == 0) *sawNul = true;
    if (n + 1 < static_cast<size_t>(kHeaderLineBufferSize)) line[n++] = static_cast<char>(c);
  }
  platform::UnlockStream(file);
  line[n] = '\0';
}

// Size of a seekable file; -1 when the stream cannot tell. The position is restored.
int64_t StreamSize(std::FILE* file) {
  off_t here = ftello(file);
  if (here < 0 || fseeko(file, 0, SEEK_END) != 0) return -1;
  off_t end = ftello(file);
  if (fseeko(file, here, SEEK_SET) != 0) return -1;
  return end;
}

// Applies one header line to `header`. Returns 1 when the line was "FileStart", 0 to go on, or
// an error number.
int32_t ApplyHeaderLine(FirmwareHeader* header, const char* line) {
  if (line[0] != '#') return 0;
  const char* p = line + 1;
  Span key = NextRun(p);
  if (key.empty()) return 0;
  key = Strip(key);
  if (key.empty()) return 0;
  if (Equals(key, kFileStartKey)) return 1;

  Span raw = NextRun(p);
  if (raw.empty()) return 0;
  Span value = Strip(raw);
  if (value.empty()) return 0;

  for (const HeaderField& field : kHeaderFields) {
    if (!Equals(key, field.key)) continue;
    Span stored = field.raw ? raw : value;
    if (stored.size() >= field.capacity) return field.tooLong;
    char* dest = reinterpret_cast<char*>(header) + field.offset;
    std::memcpy(dest, stored.begin, stored.size());
    dest[stored.size()] = '\0';
    if (!field.raw) {
      for (size_t i = 0; i < stored.size(); ++i) {
        if (dest[i] >= 'a' && dest[i] <= 'z') dest[i] = static_cast<char>(dest[i] - 'a' + 'A');
      }
    }
    return 0;
  }
  return 0;  // an unknown key is ignored
}

// Hands the payload of the open file to `take` block by block, from `payloadOffset` up to the
// size checked at open. kExtractReadFailed when the file ended early or could not be read,
// kExtractWriteFailed when `take` refused a block.
template <class Take>
int32_t ReadPayload(const FirmwareFile& firmware, int32_t payloadOffset, Take take) {
  if (payloadOffset < 0) return kExtractReadFailed;
  int64_t at = payloadOffset;
  unsigned char block[16384];
  while (at < firmware.size()) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(firmware.size() - at, sizeof block));
    const int64_t got = platform::ReadAt(firmware.handle(), block, want, at);
    // The end came before the size that was checked: the file was cut short since.
    if (got <= 0) return kExtractReadFailed;
    if (!take(static_cast<const void*>(block), static_cast<size_t>(got))) {
      return kExtractWriteFailed;
    }
    at += got;
  }
  return kExtractOk;
}

}  // namespace

int32_t ParseFirmwareHeader(FirmwareHeader* header, std::FILE* file) {
  std::memset(header, 0, sizeof *header);
  if (file == nullptr) return 0;

  // The payload offset is a 32-bit value: refuse what it cannot describe before reading a line.
  const int64_t size = StreamSize(file);
  if (size >= kMaxFirmwareFileSize) return kErrFileTooLarge;

  // The payload position is counted from the bytes consumed, so it never depends on the stream
  // being able to tell its position.
  off_t start = ftello(file);
  int64_t position = start > 0 ? start : 0;

  char line[kHeaderLineBufferSize];
  // A file that grows while it is read is read only as far as it reached at the start.
  while (!std::feof(file) && !std::ferror(file) && (size < 0 || position < size)) {
    bool sawNul = false;
    ReadHeaderLine(file, line, &position, &sawNul);
    if (sawNul && line[0] == '#') return kErrNulInHeader;
    int32_t r = ApplyHeaderLine(header, line);
    if (r == 1) {
      if (position >= kMaxFirmwareFileSize) return kErrFileTooLarge;
      header->payloadOffset = static_cast<int32_t>(position);
      return 0;
    }
    if (r != 0) return r;
  }
  return 0;
}

int32_t DigestPayload(const FirmwareFile& firmware, int32_t payloadOffset, Sha256Digest* digest) {
  if (!firmware.isOpen()) return kExtractCantOpenFirmware;
  Sha256 hash;
  Sha256Start(&hash);
  const int32_t result = ReadPayload(firmware, payloadOffset, [&hash](const void* bytes, size_t n) {
    Sha256Feed(&hash, bytes, n);
    return true;
  });
  *digest = Sha256Finish(&hash);
  return result;
}

int32_t ExtractPayload(const FirmwareFile& firmware, int32_t payloadOffset, const char* tempPath,
                       const Sha256Digest* expected) {
  if (!firmware.isOpen()) return kExtractCantOpenFirmware;
  const platform::FileHandle out = platform::CreatePrivateFileForWriting(tempPath);
  if (out == platform::kNoFile) return kExtractCantCreateTemp;

  Sha256 hash;
  Sha256Start(&hash);
  int32_t result = ReadPayload(firmware, payloadOffset, [&hash, out](const void* bytes, size_t n) {
    Sha256Feed(&hash, bytes, n);
    return platform::WriteAll(out, bytes, n);
  });
  // A temporary file that could not be written out is incomplete: report it rather than let an
  // update program a truncated package.
  if (!platform::CloseWrittenFile(out) && result == kExtractOk) result = kExtractWriteFailed;
  if (result == kExtractOk && expected != nullptr && Sha256Finish(&hash) != *expected) {
    // Same size, other bytes: what was checked at acceptance is not what would be installed.
    std::remove(tempPath);
    result = kExtractChanged;
  }
  return result;
}

}  // namespace fg
