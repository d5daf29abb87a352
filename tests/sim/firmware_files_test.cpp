// The record encoder and the firmware files of make-firmware, read back by the core's own
// parsers: what we write is what the host reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "firmware/file_acceptance.h"
#include "firmware/firmware_header.h"
#include "firmware/image_index.h"
#include "firmware/image_record.h"
#include "firmware/image_record_writer.h"
#include "platform/private_folder.h"
#include "sim/firmware_maker.h"

namespace fg {
namespace {

// A file in a private folder, removed afterwards.
class ScratchFile {
 public:
  ScratchFile() {
    platform::CreatePrivateTempFolder("fg-sim-file-", &folder_);
    path_ = folder_ + "/file.fq";
  }
  ~ScratchFile() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  const std::string& path() const { return path_; }
  void Write(const std::vector<uint8_t>& bytes) const {
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::string folder_;
  std::string path_;
};

TEST(ImageRecordWriter, EncodesWhatTheIndexReadsBack) {
  std::vector<uint8_t> package;
  // A plain record, one with its trailer at storedLength, and one with a 4-byte body.
  ImageRecordFields plain = PlainRecordFields(14, 100);
  plain.leadWord = 0x01020304;
  plain.tag = TagFromText("MAIN");
  plain.trailerWord = 0xA0B0C0D0;
  plain.trailerByte = 0xEE;
  SetRecordVersion(&plain, "2.10");
  const std::vector<uint8_t> body(100, 0x5A);
  ASSERT_EQ(EncodeImageRecord(plain, body.data(), body.size(), &package), kRecordWriteOk);

  ImageRecordFields stored;
  stored.imageLength = 18048;
  stored.storedLength = 24;
  stored.blockId = 67;
  SetRecordVersion(&stored, "01");
  const uint8_t four[4] = {1, 2, 3, 4};
  ASSERT_EQ(EncodeImageRecord(stored, four, 4, &package), kRecordWriteOk);
  ASSERT_EQ(package.size(), 126u + 30u);

  ScratchFile file;
  file.Write(package);
  ImageIndex index{};
  index.capacity = 6;
  ParseImageIndex(&index, file.path().c_str());
  ASSERT_EQ(index.imageCount, 2);
  const ImageIndexEntry& first = index.images[0];
  EXPECT_EQ(first.offset, 0);
  EXPECT_EQ(first.length, 126);
  EXPECT_EQ(first.leadWord, 0x01020304u);
  EXPECT_EQ(first.imageLength, 120u);
  EXPECT_EQ(first.storedLength, 0u);
  EXPECT_STREQ(first.version, "2.10");
  EXPECT_EQ(first.tag, 0x4D41494Eu);
  EXPECT_EQ(first.trailerWord, 0xA0B0C0D0u);
  EXPECT_EQ(first.blockId, 14);
  EXPECT_EQ(first.trailerByte, 0xEE);
  const ImageIndexEntry& second = index.images[1];
  EXPECT_EQ(second.offset, 126);
  EXPECT_EQ(second.length, 30);
  EXPECT_EQ(second.imageLength, 18048u);
  EXPECT_EQ(second.storedLength, 24u);
  EXPECT_STREQ(second.version, "01");
  EXPECT_EQ(second.blockId, 67);
}

TEST(ImageRecordWriter, ReproducesTheBuiltInOemRecord) {
  ImageRecordFields fields;
  fields.leadWord = kOemLeadWord;
  fields.imageLength = kOemImageLength;
  fields.storedLength = kOemStoredLength;
  std::memcpy(fields.version, kOemVersion, 4);
  fields.tag = TagFromText("OEM");
  fields.trailerWord = kOemTrailerWord;
  fields.blockId = kOemBlockId;
  fields.trailerByte = kOemTrailerByte;
  std::vector<uint8_t> record;
  ASSERT_EQ(EncodeImageRecord(fields, kOemRecord + kRecordHeaderSize, kOemBodySize, &record),
            kRecordWriteOk);
  EXPECT_EQ(record, std::vector<uint8_t>(kOemRecord, kOemRecord + kOemRecordSize));
}

TEST(ImageRecordWriter, RefusesFieldsItCannotWrite) {
  std::vector<uint8_t> out = {9};
  ImageRecordFields fields = PlainRecordFields(3, 10);
  const std::vector<uint8_t> body(11, 0);
  EXPECT_EQ(EncodeImageRecord(fields, body.data(), 11, &out), kRecordBodySizeMismatch);
  fields.imageLength = 19;
  EXPECT_EQ(EncodeImageRecord(fields, body.data(), 0, &out), kRecordTrailerInsideHeader);
  EXPECT_EQ(out, std::vector<uint8_t>{9});  // untouched on error

  std::string text = "kept";
  EXPECT_EQ(AppendHeaderLine(&text, "ImageRev", "1=2"), kHeaderValueUnwritable);
  EXPECT_EQ(AppendHeaderLine(&text, "Model\nName", "X"), kHeaderValueUnwritable);
  FirmwareHeaderText header;
  header.modelName = "WX2040";
  header.description = "two\nlines";
  EXPECT_EQ(FormatFirmwareHeader(header, &text), kHeaderValueUnwritable);
  EXPECT_EQ(text, "kept");
}

TEST(ImageRecordWriter, HeaderTextParsesBackExactly) {
  FirmwareHeaderText text;
  text.modelName = "WX2050";
  text.imageRev = "1.05B";
  text.revsNotSupport = "1.00";
  text.description = "  Fixes the sweep, Adds   things  ";
  std::string header;
  ASSERT_EQ(FormatFirmwareHeader(text, &header), kRecordWriteOk);
  header += "PAYLOAD";
  std::vector<uint8_t> bytes(header.begin(), header.end());
  ScratchFile file;
  file.Write(bytes);

  std::FILE* in = std::fopen(file.path().c_str(), "rb");
  ASSERT_NE(in, nullptr);
  FirmwareHeader parsed;
  EXPECT_EQ(ParseFirmwareHeader(&parsed, in), 0);
  std::fclose(in);
  EXPECT_STREQ(parsed.ModelName, "WX2050");
  EXPECT_STREQ(parsed.ImageRev, "1.05B");
  EXPECT_STREQ(parsed.RevsNotSupport, "1.00");
  EXPECT_STREQ(parsed.UtilityRev, "2.04");
  EXPECT_STREQ(parsed.UpdatedDescription, "  Fixes the sweep, Adds   things  ");
  EXPECT_EQ(parsed.payloadOffset, static_cast<int32_t>(header.size() - 7));
}

struct PackageFile {
  FirmwareHeader header;
  ImageIndex index;
  int32_t acceptance;
};

PackageFile ReadBack(const sim::FirmwarePlan& plan) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(sim::BuildFirmwareFile(plan, &bytes, &error)) << error;
  ScratchFile file;
  file.Write(bytes);
  PackageFile out{};
  std::FILE* in = std::fopen(file.path().c_str(), "rb");
  EXPECT_NE(in, nullptr);
  if (in == nullptr) return out;
  EXPECT_EQ(ParseFirmwareHeader(&out.header, in), 0);
  const ModelInfo* model = nullptr;
  out.acceptance = CheckFirmwareAcceptance(&out.header, &model);
  out.index.capacity = 6;
  ParseImageIndexStream(&out.index, in, out.header.payloadOffset);
  std::fclose(in);
  return out;
}

TEST(MakeFirmware, DefaultPackagesCarryOneAcceptableImagePerRule) {
  struct Case {
    const sim::SimFamily* family;
    std::vector<int32_t> blocks;  // the required-image rules, in table order
  };
  const Case cases[] = {
      {&sim::kWx2040SimFamily, {3, 4, 6, 14, 8, 67}},
      {&sim::kWx2050SimFamily, {4, 254, 75}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.family->model);
    const sim::FirmwarePlan plan = sim::DefaultFirmwarePlan(*c.family);
    const PackageFile file = ReadBack(plan);
    EXPECT_EQ(file.acceptance, 0);
    EXPECT_STREQ(file.header.ModelName, c.family->model);
    ASSERT_EQ(file.index.imageCount, static_cast<int32_t>(c.blocks.size()));
    for (size_t i = 0; i < c.blocks.size(); ++i) {
      const ImageIndexEntry& entry = file.index.images[i];
      EXPECT_EQ(entry.blockId, c.blocks[i]);
      const PartitionInfo& row = c.family->partitions[plan.images[i].partition];
      EXPECT_EQ(row.firstBlock, static_cast<uint32_t>(c.blocks[i]));
      EXPECT_LE(static_cast<uint64_t>(entry.length), PartitionCapacity(row));
      EXPECT_EQ(entry.length, static_cast<int32_t>(plan.images[i].recordLength));
    }
  }
}

TEST(MakeFirmware, OptionsShapeThePackage) {
  sim::FirmwarePlan plan = sim::DefaultFirmwarePlan(sim::kWx2040SimFamily);
  sim::MakeFullSize(&plan);
  uint64_t total = 0;
  for (const sim::ImagePlan& image : plan.images) total += image.recordLength;
  EXPECT_EQ(total, 0x10000u + 0x20000 + 0x20000 + 0x100000 + 0x60000 + 0x4000);

  ASSERT_NE(sim::FindImagePlan(&plan, "HTTP"), nullptr);
  EXPECT_EQ(sim::FindImagePlan(&plan, "8"), sim::FindImagePlan(&plan, "HTTP"));
  EXPECT_EQ(sim::FindImagePlan(&plan, "CAL"), nullptr);  // not in a package
  sim::FindImagePlan(&plan, "1C3")->omitted = true;
  sim::FindImagePlan(&plan, "MAIN")->recordLength = 0x100001;  // oversize
  sim::FindImagePlan(&plan, "HTTP")->blockId = 9;               // wrong block id
  sim::FindImagePlan(&plan, "OEM")->version = "07";
  const PackageFile file = ReadBack(plan);
  ASSERT_EQ(file.index.imageCount, 5);
  EXPECT_EQ(file.index.images[0].blockId, 4);
  EXPECT_EQ(file.index.images[2].length, 0x100001);
  EXPECT_EQ(file.index.images[3].blockId, 9);
  EXPECT_STREQ(file.index.images[4].version, "07");

  plan.header.modelName = "WX9999";
  EXPECT_EQ(ReadBack(plan).acceptance, kErrModelNotInCatalog);
  sim::ImagePlan tiny = plan.images[0];
  tiny.recordLength = 25;
  std::vector<uint8_t> out;
  std::string error;
  EXPECT_FALSE(sim::BuildImageRecord(plan, tiny, &out, &error));
}

TEST(MakeFirmware, SeedsAndBlocksGiveDifferentBodies) {
  sim::FirmwarePlan plan = sim::DefaultFirmwarePlan(sim::kWx2050SimFamily);
  std::vector<uint8_t> a, b, c;
  std::string error;
  sim::ImagePlan image = plan.images[2];
  ASSERT_TRUE(sim::BuildImageRecord(plan, image, &a, &error));
  ASSERT_TRUE(sim::BuildImageRecord(plan, image, &b, &error));
  EXPECT_EQ(a, b);  // deterministic
  plan.seed = 2;
  ASSERT_TRUE(sim::BuildImageRecord(plan, image, &c, &error));
  EXPECT_NE(a, c);
}

}  // namespace
}  // namespace fg
