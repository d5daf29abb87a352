#include "firmware/image_index.h"

#include <sys/types.h>

#include <cstring>

#include "firmware/image_record.h"
#include "platform/shared_file.h"
#include "util/endian.h"

namespace fg {

namespace {

int32_t EffectiveCapacity(const ImageIndex* index) {
  if (index->capacity < 0) return 0;
  if (index->capacity > kImageIndexMaxCapacity) return kImageIndexMaxCapacity;
  return index->capacity;
}

bool ReadExactly(std::FILE* file, uint8_t* dest, size_t n) {
  return std::fread(dest, 1, n, file) == n;
}

// Decodes the 20 header bytes of a record into `entry`.
void DecodeRecordHeader(const uint8_t* h, ImageIndexEntry* entry) {
  entry->leadWord = LoadBe32(h + kRecordLeadWordOffset);
  entry->imageLength = LoadBe32(h + kRecordImageLengthOffset);
  entry->storedLength = LoadBe32(h + kRecordStoredLengthOffset);
  std::memcpy(entry->version, h + kRecordVersionOffset, 4);
  entry->version[4] = '\0';
  entry->tag = LoadBe32(h + kRecordTagOffset);
}

// Largest offset + length that an entry can describe.
constexpr int64_t kMaxIndexedEnd = INT32_MAX;

}  // namespace

void ParseImageIndexStream(ImageIndex* index, std::FILE* file, int64_t payloadStart) {
  const int32_t capacity = EffectiveCapacity(index);
  int32_t count = 0;
  int64_t recordStart = 0;  // counted from payloadStart

  if (payloadStart >= 0 && fseeko(file, static_cast<off_t>(payloadStart), SEEK_SET) == 0) {
    while (count < capacity && !std::feof(file)) {
      uint8_t header[kRecordHeaderSize];
      if (!ReadExactly(file, header, sizeof header)) break;
      ImageIndexEntry entry{};
      DecodeRecordHeader(header, &entry);

      const uint32_t t = entry.storedLength != 0 ? entry.storedLength : entry.imageLength;
      const int64_t end = recordStart + t + static_cast<int64_t>(kRecordTrailerSize);
      if (end > kMaxIndexedEnd) break;
      if (fseeko(file, static_cast<off_t>(payloadStart + recordStart + t), SEEK_SET) != 0) break;

      uint8_t trailer[kRecordTrailerSize];
      if (!ReadExactly(file, trailer, sizeof trailer)) break;
      entry.trailerWord = LoadBe32(trailer);
      entry.blockId = trailer[4];
      entry.trailerByte = trailer[5];
      entry.offset = static_cast<int32_t>(recordStart);
      entry.length = static_cast<int32_t>(end - recordStart);

      index->images[count++] = entry;
      recordStart = end;  // a T below 20 still moves on by T + 6
    }
  }
  index->imageCount = count;
}

void ParseImageIndex(ImageIndex* index, const char* payloadPath) {
  std::FILE* file = platform::OpenSharedFile(payloadPath, "rb");
  if (file == nullptr) return;
  ParseImageIndexStream(index, file, 0);
  std::fclose(file);
}

const ImageIndexEntry* FindImage(const ImageIndex* index, int32_t blockId) {
  int32_t count = index->imageCount;
  if (count > EffectiveCapacity(index)) count = EffectiveCapacity(index);
  for (int32_t i = 0; i < count; ++i) {
    if (index->images[i].blockId == blockId) return &index->images[i];
  }
  return nullptr;
}

}  // namespace fg
