// Indexing an image package: record walking, trailer placement, capacity, limits and lookup.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "firmware/image_index.h"
#include "tests/firmware/firmware_test_files.h"

namespace fg {
namespace {

using test::RecordBytes;
using test::RecordSpec;

class ImageIndexTest : public ::testing::Test {
 protected:
  ImageIndex Index(const std::string& payload, int32_t capacity = kWx2040ImageCapacity) {
    const std::string path = dir_.File("payload.bin");
    test::WriteFile(path, payload);
    ImageIndex index{};
    index.capacity = capacity;
    index.imageCount = 99;
    ParseImageIndex(&index, path.c_str());
    return index;
  }
  static std::string Records(int count, uint8_t firstBlock = 10) {
    std::string bytes;
    for (int i = 0; i < count; ++i) {
      bytes += RecordBytes({.blockId = static_cast<uint8_t>(firstBlock + i),
                            .bodySize = static_cast<size_t>(i * 5)});
    }
    return bytes;
  }
  test::TempDir dir_;
};

TEST_F(ImageIndexTest, EmptyPayloadGivesAnEmptyIndex) {
  EXPECT_EQ(Index("").imageCount, 0);
}

TEST_F(ImageIndexTest, DecodesEveryFieldBigEndian) {
  std::string payload = RecordBytes({.blockId = 0xC8,
                                     .bodySize = 100,
                                     .version = "1.2\xFF",
                                     .otherLength = 0x01020304,
                                     .leadWord = 0xA1B2C3D4,
                                     .tag = 0x4D41494E,
                                     .trailerWord = 0xFFFEFDFC,
                                     .trailerByte = 0xF0});
  ImageIndex index = Index(payload);
  ASSERT_EQ(index.imageCount, 1);
  const ImageIndexEntry& e = index.images[0];
  EXPECT_EQ(e.offset, 0);
  EXPECT_EQ(e.length, 126);
  EXPECT_EQ(e.leadWord, 0xA1B2C3D4u);
  EXPECT_EQ(e.imageLength, 0x01020304u);
  EXPECT_EQ(e.storedLength, 120u);
  EXPECT_EQ(std::string(e.version), "1.2\xFF");
  EXPECT_EQ(e.version[4], '\0');
  EXPECT_EQ(e.tag, 0x4D41494Eu);
  EXPECT_EQ(e.trailerWord, 0xFFFEFDFCu);
  EXPECT_EQ(e.blockId, 0xC8);  // zero-extended, not sign-extended
  EXPECT_EQ(e.trailerByte, 0xF0);
}

TEST_F(ImageIndexTest, RecordsFollowEachOtherWithoutGaps) {
  ImageIndex index = Index(Records(3));
  ASSERT_EQ(index.imageCount, 3);
  int32_t expectedOffset = 0;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(index.images[i].offset, expectedOffset);
    EXPECT_EQ(index.images[i].length, 26 + i * 5);
    EXPECT_EQ(index.images[i].blockId, 10 + i);
    expectedOffset += index.images[i].length;
  }
}

TEST_F(ImageIndexTest, StrayBytesAfterTheLastRecordAreIgnored) {
  for (size_t stray : {1u, 5u, 19u}) {
    EXPECT_EQ(Index(Records(2) + std::string(stray, '\x7F')).imageCount, 2) << stray;
  }
}

TEST_F(ImageIndexTest, CapacityOfEachFamilyLimitsTheIndex) {
  EXPECT_EQ(Index(Records(7), kWx2040ImageCapacity).imageCount, 6);
  EXPECT_EQ(Index(Records(4), kWx2050ImageCapacity).imageCount, 3);
  EXPECT_EQ(Index(Records(2), kWx2050ImageCapacity).imageCount, 2);
  // Out-of-range capacities are held to the bounds of the entry array.
  EXPECT_EQ(Index(Records(9), 50).imageCount, kImageIndexMaxCapacity);
  EXPECT_EQ(Index(Records(2), -3).imageCount, 0);
}

TEST_F(ImageIndexTest, TrailerOffsetComesFromStoredLengthUnlessZero) {
  // storedLength 0: T is imageLength.
  ImageIndex a = Index(RecordBytes({.blockId = 5, .bodySize = 30, .tInImageLength = true}));
  ASSERT_EQ(a.imageCount, 1);
  EXPECT_EQ(a.images[0].storedLength, 0u);
  EXPECT_EQ(a.images[0].imageLength, 50u);
  EXPECT_EQ(a.images[0].length, 56);
  EXPECT_EQ(a.images[0].blockId, 5);
  // Both set: T is storedLength, imageLength is only kept.
  ImageIndex b = Index(RecordBytes({.blockId = 6, .bodySize = 30, .otherLength = 18048}));
  ASSERT_EQ(b.imageCount, 1);
  EXPECT_EQ(b.images[0].length, 56);
  EXPECT_EQ(b.images[0].blockId, 6);
}

TEST_F(ImageIndexTest, TrailerBeyondTheEndEndsTheIndexAtThatRecord) {
  // The last record's trailer is one byte short.
  std::string truncated = RecordBytes({.blockId = 30, .bodySize = 40});
  truncated.resize(truncated.size() - 1);
  ImageIndex a = Index(Records(2) + truncated);
  EXPECT_EQ(a.imageCount, 2);
  EXPECT_EQ(FindImage(&a, 30), nullptr);

  // A trailer offset past the end of the file: the records behind it are never reached.
  std::string farOut = RecordBytes({.blockId = 30, .bodySize = 0});
  test::StoreBe32Into(&farOut, 8, 10000);
  ImageIndex b = Index(Records(2) + farOut + Records(1, 40));
  EXPECT_EQ(b.imageCount, 2);
  EXPECT_EQ(FindImage(&b, 40), nullptr);
  EXPECT_EQ(b.images[1].blockId, 11);
}

TEST_F(ImageIndexTest, TrailerBeyondAnyValidPositionEndsTheIndex) {
  for (uint32_t t : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFAu}) {
    std::string huge = RecordBytes({.blockId = 30, .bodySize = 0});
    test::StoreBe32Into(&huge, 8, t);
    ImageIndex index = Index(Records(1) + huge);
    EXPECT_EQ(index.imageCount, 1) << t;
  }
}

TEST_F(ImageIndexTest, ShortTrailerOffsetReadsTheTrailerFromTheHeader) {
  // T = 8: the trailer is bytes 8..13 of the record's own header, the next record starts at 14.
  std::string odd = RecordBytes({.blockId = 0, .bodySize = 0});
  test::StoreBe32Into(&odd, 8, 8);  // storedLength = 8 (the header keeps its 20 bytes)
  odd[12] = 'V';                    // version byte 0 = trailer byte 4 = blockId
  odd[13] = 0x09;                   // trailer byte 5
  odd.resize(14);
  ImageIndex index = Index(odd + Records(1, 77));
  ASSERT_EQ(index.imageCount, 2);
  EXPECT_EQ(index.images[0].length, 14);
  EXPECT_EQ(index.images[0].trailerWord, 8u);
  EXPECT_EQ(index.images[0].blockId, 'V');
  EXPECT_EQ(index.images[0].trailerByte, 9);
  EXPECT_EQ(index.images[1].offset, 14);
  EXPECT_EQ(index.images[1].blockId, 77);
}

TEST_F(ImageIndexTest, ZeroLengthsMakeSixByteRecordsAndTheWalkStillEnds) {
  std::string zeros(20 * 3, '\0');
  ImageIndex index = Index(zeros);
  // Each record has T = 0: its trailer is its own first six bytes.
  ASSERT_EQ(index.imageCount, 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(index.images[i].offset, i * 6);
    EXPECT_EQ(index.images[i].length, 6);
  }
}

TEST_F(ImageIndexTest, FindImageYieldsTheFirstOfDuplicates) {
  std::string payload = RecordBytes({.blockId = 3, .version = "0001"}) +
                        RecordBytes({.blockId = 67, .version = "0002"}) +
                        RecordBytes({.blockId = 3, .version = "0003"});
  ImageIndex index = Index(payload);
  ASSERT_EQ(index.imageCount, 3);
  const ImageIndexEntry* e = FindImage(&index, 3);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->version, "0001");
  EXPECT_EQ(e->offset, 0);
  EXPECT_EQ(FindImage(&index, 67), &index.images[1]);
  EXPECT_EQ(FindImage(&index, 4), nullptr);
  EXPECT_EQ(FindImage(&index, 3 + 256), nullptr);
}

TEST_F(ImageIndexTest, FindImageSeesOnlyCountedEntries) {
  ImageIndex index{};
  index.capacity = kWx2040ImageCapacity;
  index.images[0].blockId = 12;  // a stale slot beyond the count
  EXPECT_EQ(FindImage(&index, 12), nullptr);
  EXPECT_EQ(FindImage(&index, 0), nullptr);
}

TEST_F(ImageIndexTest, UnopenableFileLeavesTheIndexAsItWas) {
  ImageIndex index = Index(Records(2));
  ParseImageIndex(&index, dir_.File("absent.bin").c_str());
  EXPECT_EQ(index.imageCount, 2);
  EXPECT_EQ(index.images[1].blockId, 11);
}

TEST_F(ImageIndexTest, ReindexingAShorterPayloadResetsTheCount) {
  ImageIndex index = Index(Records(5));
  ASSERT_EQ(index.imageCount, 5);
  test::WriteFile(dir_.File("short.bin"), Records(1));
  ParseImageIndex(&index, dir_.File("short.bin").c_str());
  EXPECT_EQ(index.imageCount, 1);
}

TEST_F(ImageIndexTest, StreamOffsetsCountFromThePayloadStart) {
  const std::string header = test::Lines({"#ModelName=WX2040", "#FileStart"});
  test::WriteFile(dir_.File("fw.fq"), header + Records(2));
  std::FILE* f = std::fopen(dir_.File("fw.fq").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  ImageIndex index{};
  index.capacity = kWx2050ImageCapacity;
  ParseImageIndexStream(&index, f, static_cast<int64_t>(header.size()));
  std::fclose(f);
  ASSERT_EQ(index.imageCount, 2);
  EXPECT_EQ(index.images[0].offset, 0);
  EXPECT_EQ(index.images[1].offset, 26);
}

TEST_F(ImageIndexTest, AppendedOemRecordIsIndexedWhenThereIsRoom) {
  ImageIndex index = Index(Records(2) + test::OemRecordBytes());
  ASSERT_EQ(index.imageCount, 3);
  const ImageIndexEntry* oem = FindImage(&index, kOemBlockId);
  ASSERT_NE(oem, nullptr);
  EXPECT_EQ(oem->offset, 26 + 31);
  EXPECT_EQ(oem->length, 7794);

  ImageIndex full = Index(Records(6) + test::OemRecordBytes());
  EXPECT_EQ(full.imageCount, 6);
  EXPECT_EQ(FindImage(&full, kOemBlockId), nullptr);
}

}  // namespace
}  // namespace fg
