#include "sim/firmware_maker.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "firmware/image_record.h"

namespace fg::sim {

namespace {

std::string PartitionName(const PartitionInfo& row) {
  return std::string(row.name, strnlen(row.name, kPartitionNameSize));
}

// A version above the default installed one of the partition's sub-field, as wide as a record
// allows: "2.10" for a main firmware at "2.00", "0200" for a 2-character field at "01".
std::string DefaultImageVersion(const SimFamily& family, uint32_t partition) {
  const int32_t field = VersionFieldOfPartition(family, partition);
  if (field == 0) return family.model == std::string_view("WX2040") ? "2.10" : "1.20";
  if (field < 0) return "0100";
  return family.versionFields[field].width == 4 ? "0110" : "0200";
}

}  // namespace

FirmwarePlan DefaultFirmwarePlan(const SimFamily& family) {
  FirmwarePlan plan;
  plan.family = &family;
  plan.header.modelName = family.model;
  plan.header.imageRev = "2.10";
  plan.header.utilityRev = "2.04";
  plan.header.description = std::string("Simulated ") + family.model + " firmware package";
  for (uint32_t row : family.packagePartitions) {
    const PartitionInfo& partition = family.partitions[row];
    ImagePlan image;
    image.partition = row;
    image.recordLength = static_cast<uint32_t>(PartitionCapacity(partition) / 2);
    image.version = DefaultImageVersion(family, row);
    image.blockId = partition.firstBlock;
    plan.images.push_back(image);
  }
  return plan;
}

ImagePlan* FindImagePlan(FirmwarePlan* plan, std::string_view key) {
  uint32_t block = 0;
  const auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), block);
  const bool numeric = ec == std::errc() && end == key.data() + key.size();
  for (ImagePlan& image : plan->images) {
    const PartitionInfo& row = plan->family->partitions[image.partition];
    if (numeric ? row.firstBlock == block : PartitionName(row) == key) return &image;
  }
  return nullptr;
}

void MakeFullSize(FirmwarePlan* plan) {
  for (ImagePlan& image : plan->images) {
    image.recordLength =
        static_cast<uint32_t>(PartitionCapacity(plan->family->partitions[image.partition]));
  }
}

bool BuildImageRecord(const FirmwarePlan& plan, const ImagePlan& image, std::vector<uint8_t>* out,
                      std::string* error) {
  if (image.recordLength < kRecordMinimumSize) {
    *error = "an image record needs at least 26 bytes";
    return false;
  }
  const PartitionInfo& row = plan.family->partitions[image.partition];
  const size_t bodySize = image.recordLength - kRecordMinimumSize;
  ImageRecordFields fields = PlainRecordFields(static_cast<uint8_t>(image.blockId), bodySize);
  SetRecordVersion(&fields, image.version);
  fields.tag = TagFromText(PartitionName(row));
  fields.trailerByte = 1;

  // xorshift32 over the seed and the block, so that every image and every seed differ.
  std::vector<uint8_t> body(bodySize);
  uint32_t state = (plan.seed * 0x9E3779B9u) ^ (row.firstBlock + 1) * 0x85EBCA6Bu;
  if (state == 0) state = 1;
  for (uint8_t& byte : body) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<uint8_t>(state >> 24);
  }
  if (EncodeImageRecord(fields, body.data(), body.size(), out) != kRecordWriteOk) {
    *error = "the image record cannot be encoded";
    return false;
  }
  return true;
}

bool BuildFirmwareFile(const FirmwarePlan& plan, std::vector<uint8_t>* out, std::string* error) {
  std::string header;
  if (FormatFirmwareHeader(plan.header, &header) != kRecordWriteOk) {
    *error = "a header value holds '=' or a line feed";
    return false;
  }
  out->assign(header.begin(), header.end());
  for (const ImagePlan& image : plan.images) {
    if (image.omitted) continue;
    if (!BuildImageRecord(plan, image, out, error)) return false;
  }
  return true;
}

bool WriteFirmwareFile(const FirmwarePlan& plan, const std::string& path, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!BuildFirmwareFile(plan, &bytes, error)) return false;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !written) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace fg::sim
