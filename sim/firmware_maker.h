// Firmware files for the simulated models: a text header and one image record per partition a
// package carries, with deterministic bodies, for `flintgate-sim make-firmware` and for tests.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/image_record_writer.h"
#include "sim/sim_family.h"

namespace fg::sim {

struct ImagePlan {
  uint32_t partition;       // row of the family's partition table
  bool omitted = false;     // left out of the package
  uint32_t recordLength;    // bytes of the whole record, header and trailer included
  std::string version;      // up to 4 characters, NUL padded in the record
  uint32_t blockId;         // carried in the trailer; the partition's first block unless faulted
};

struct FirmwarePlan {
  const SimFamily* family;
  FirmwareHeaderText header;
  std::vector<ImagePlan> images;  // in package order
  uint32_t seed = 1;              // varies the body bytes
};

// A package that updates a fresh instrument of the family: every image at half its partition,
// versions above the family's default installed ones.
FirmwarePlan DefaultFirmwarePlan(const SimFamily& family);

// The image for a partition given by name ("MAIN") or by first block ("14"), or null.
ImagePlan* FindImagePlan(FirmwarePlan* plan, std::string_view key);

// Makes every image as long as its partition allows.
void MakeFullSize(FirmwarePlan* plan);

// Appends the bytes of one image record as the plan describes it to *out. False with *error
// when it cannot be encoded (a record shorter than 26 bytes).
bool BuildImageRecord(const FirmwarePlan& plan, const ImagePlan& image, std::vector<uint8_t>* out,
                      std::string* error);

// The whole file: header, then the records of the images that are not omitted.
bool BuildFirmwareFile(const FirmwarePlan& plan, std::vector<uint8_t>* out, std::string* error);
bool WriteFirmwareFile(const FirmwarePlan& plan, const std::string& path, std::string* error);

}  // namespace fg::sim
