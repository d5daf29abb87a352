// The built-in OEM record: its fields, its agreement with the checked-in file and the generator,
// and how the index sees it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "firmware/image_index.h"
#include "firmware/image_record.h"
#include "resources/oem/oem_record_generator.h"
#include "tests/firmware/firmware_test_files.h"
#include "util/endian.h"

namespace fg {
namespace {

TEST(OemRecord, HeaderAndTrailerHoldTheirValues) {
  const uint8_t* r = kOemRecord;
  EXPECT_EQ(LoadBe32(r + kRecordLeadWordOffset), 0u);
  EXPECT_EQ(LoadBe32(r + kRecordImageLengthOffset), 18048u);
  EXPECT_EQ(LoadBe32(r + kRecordStoredLengthOffset), 7788u);
  EXPECT_EQ(std::memcmp(r + kRecordVersionOffset, "\x0C\x00\x00\x00", 4), 0);
  EXPECT_EQ(std::memcmp(r + kRecordTagOffset, "OEM\0", 4), 0);
  const uint8_t* trailer = r + 7788;
  EXPECT_EQ(LoadBe32(trailer), 0u);
  EXPECT_EQ(trailer[4], 67);
  EXPECT_EQ(trailer[5], 1);
  EXPECT_EQ(sizeof kOemRecord, 7794u);
}

TEST(OemRecord, BodyIsNotAFlatFill) {
  // A body of one repeated byte would mean the generator or the embedding lost its data.
  int histogram[256] = {};
  for (size_t i = kRecordHeaderSize; i < kOemStoredLength; ++i) ++histogram[kOemRecord[i]];
  int used = 0;
  for (int count : histogram) used += count > 0;
  EXPECT_GT(used, 200);
}

TEST(OemRecord, EmbeddedBytesEqualTheFileAndTheGenerator) {
  const std::string file = test::ReadFile(FG_SOURCE_DIR "/resources/oem/oem_record.bin");
  EXPECT_EQ(file, test::OemRecordBytes());
  static uint8_t regenerated[kOemRecordSize];
  oem::BuildOemRecord(regenerated);
  EXPECT_EQ(std::memcmp(regenerated, kOemRecord, kOemRecordSize), 0)
      << "oem_record.bin is stale: rebuild it with the regenerate_oem_record target";
}

TEST(OemRecord, IndexesAsOneEntryForBlock67) {
  test::TempDir dir;
  test::WriteFile(dir.File("oem.bin"), test::OemRecordBytes());
  ImageIndex index{};
  index.capacity = kWx2040ImageCapacity;
  ParseImageIndex(&index, dir.File("oem.bin").c_str());
  ASSERT_EQ(index.imageCount, 1);
  const ImageIndexEntry& e = index.images[0];
  EXPECT_EQ(e.offset, 0);
  EXPECT_EQ(e.length, 7794);
  EXPECT_EQ(e.blockId, 67);
  EXPECT_EQ(e.trailerByte, 1);
  EXPECT_EQ(e.imageLength, 18048u);
  EXPECT_EQ(e.storedLength, 7788u);
  EXPECT_EQ(std::memcmp(e.version, "\x0C\0\0\0\0", 5), 0);
  EXPECT_EQ(e.tag, 0x4F454D00u);
}

}  // namespace
}  // namespace fg
