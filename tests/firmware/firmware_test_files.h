// Test helpers that build firmware files and image packages from a readable description.
#pragma once
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "firmware/firmware_header.h"
#include "firmware/image_index.h"
#include "firmware/image_record.h"
#include "platform/private_folder.h"

namespace fg::test {

// A private folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    std::string made;
    if (!fg::platform::CreatePrivateTempFolder("fg-test-", &made)) std::abort();
    path_ = made;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);
}

inline std::string ReadFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return "<missing>";
  std::string bytes;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  std::fclose(f);
  return bytes;
}

// Makes `link` a symbolic link to `target`; true when the link exists afterwards. Windows needs
// a privilege or developer mode for it, and wine reports success without making one.
inline bool MakeSymbolicLink(const std::string& target, const std::string& link) {
#ifdef _WIN32
  if (!CreateSymbolicLinkA(link.c_str(), target.c_str(),
                           SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    return false;
  }
  const DWORD attributes = GetFileAttributesA(link.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
#else
  return symlink(target.c_str(), link.c_str()) == 0;
#endif
}

// Header text: each line followed by a line feed, written exactly as given.
inline std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// One image record described by its fields. By default the trailer offset T = 20 + bodySize is
// held in storedLength; with `tInImageLength` it is held in imageLength and storedLength is 0.
struct RecordSpec {
  uint8_t blockId = 0;
  size_t bodySize = 8;
  const char* version = "0100";  // 4 characters
  bool tInImageLength = false;
  uint32_t otherLength = 0;      // the length field that does not hold T (imageLength by default)
  uint32_t leadWord = 0;
  uint32_t tag = 0;
  uint32_t trailerWord = 0;
  uint8_t trailerByte = 0;
};

// Four bytes, most significant first, written out here so that the layout does not come from
// the codecs that the readers under test use.
inline std::string Be32(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

// Overwrites four bytes of `bytes` at `at` with `v`, big-endian.
inline void StoreBe32Into(std::string* bytes, size_t at, uint32_t v) {
  bytes->replace(at, 4, Be32(v));
}

inline std::string RecordBytes(const RecordSpec& r) {
  const uint32_t t = static_cast<uint32_t>(kRecordHeaderSize + r.bodySize);
  std::string bytes;
  bytes += Be32(r.leadWord);
  bytes += Be32(r.tInImageLength ? t : r.otherLength);
  bytes += Be32(r.tInImageLength ? 0 : t);
  bytes += std::string(r.version, 4);
  bytes += Be32(r.tag);
  for (size_t i = 0; i < r.bodySize; ++i) bytes += static_cast<char>(i * 7 + r.blockId);
  bytes += Be32(r.trailerWord);
  bytes += static_cast<char>(r.blockId);
  bytes += static_cast<char>(r.trailerByte);
  return bytes;
}

inline std::string OemRecordBytes() {
  return std::string(reinterpret_cast<const char*>(kOemRecord), kOemRecordSize);
}

// Where the image record with `blockId` starts in the firmware file at `path`, counted from the
// file's start; -1 when the file holds no such record.
inline int64_t ImageRecordOffset(const std::string& path, int32_t blockId) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return -1;
  FirmwareHeader header{};
  ImageIndex index{};
  index.capacity = kImageIndexMaxCapacity;
  if (ParseFirmwareHeader(&header, f) == 0) ParseImageIndexStream(&index, f, header.payloadOffset);
  std::fclose(f);
  const ImageIndexEntry* entry = FindImage(&index, blockId);
  return entry == nullptr ? -1 : header.payloadOffset + entry->offset;
}

// Overwrites `size` bytes at `offset` in place, the file keeping its size (and, on POSIX, its
// inode: a descriptor open on it sees the new bytes).
inline void OverwriteInPlace(const std::string& path, int64_t offset, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  if (f == nullptr || std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0) std::abort();
  for (size_t i = 0; i < size; ++i) {
    if (std::fputc(0xA5 ^ static_cast<int>(i), f) == EOF) std::abort();
  }
  std::fclose(f);
}

}  // namespace fg::test
