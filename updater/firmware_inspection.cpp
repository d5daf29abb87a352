#include "updater/firmware_inspection.h"

#include <sys/types.h>

#include <cstring>

#include "firmware/file_acceptance.h"
#include "firmware/firmware_file.h"
#include "firmware/image_record.h"
#include "updater/updater_families.h"
#include "util/endian.h"

namespace fg {

namespace {

// A package holds a handful of records. The walk stops counting long before a file of tiny
// records (6 bytes each at the least) could make it slow, and then says nothing of the end.
constexpr int32_t kMaxWalkedRecords = 4096;

// Walks the records from `payloadStart` to the end of a payload of `payloadSize` bytes, by the
// lengths their headers announce, as the index does but without its capacity.
PayloadWalk WalkPayload(std::FILE* file, int64_t payloadStart, int64_t payloadSize) {
  PayloadWalk walk{};
  int64_t at = 0;
  while (at < payloadSize) {
    if (walk.records == kMaxWalkedRecords) return walk;
    const int64_t left = payloadSize - at;
    if (left < static_cast<int64_t>(kRecordHeaderSize)) break;
    uint8_t header[kRecordHeaderSize];
    if (fseeko(file, static_cast<off_t>(payloadStart + at), SEEK_SET) != 0 ||
        std::fread(header, 1, sizeof header, file) != sizeof header) {
      return walk;  // unreadable: nothing to say of the end
    }
    const uint32_t stored = LoadBe32(header + kRecordStoredLengthOffset);
    const uint32_t t = stored != 0 ? stored : LoadBe32(header + kRecordImageLengthOffset);
    const int64_t length = int64_t{t} + static_cast<int64_t>(kRecordTrailerSize);
    if (length > left) {
      walk.cutLength = length;
      break;
    }
    ++walk.records;
    at += length;
  }
  walk.completeBytes = at;
  walk.walked = true;
  return walk;
}

InstallBlocker Verdict(const FirmwareInspection& r) {
  if (r.error == kInspectCantOpen) return InstallBlocker::kCantOpen;
  if (r.error != 0) return InstallBlocker::kHeaderRefused;
  if (r.model == nullptr || r.model->updater == nullptr) return InstallBlocker::kNoUpdater;
  if (r.header.payloadOffset == 0) return InstallBlocker::kNoFileStart;
  if (r.payloadSize == 0) return InstallBlocker::kEmptyPayload;
  if (r.walk.walked && r.walk.completeBytes != r.payloadSize) return InstallBlocker::kTruncated;
  if (!r.packageChecked || r.packageError != 0) return InstallBlocker::kPackageRefused;
  return InstallBlocker::kNone;
}

}  // namespace

void InspectFirmwareFile(const char* path, FirmwareInspection* out) {
  std::memset(out, 0, sizeof *out);
  out->error = kInspectCantOpen;
  out->blocker = InstallBlocker::kCantOpen;

  // Opened as the file selection opens it: only a regular file reached without a link, and a
  // FIFO or device never blocks the open or feeds the line reader without end.
  FirmwareFile firmware;
  if (!firmware.Open(path)) return;
  std::FILE* file = firmware.OpenStream();
  if (file == nullptr) return;
  out->fileSize = firmware.size();

  int32_t err = ParseFirmwareHeader(&out->header, file);
  const bool headerRead = err == 0;
  if (headerRead) err = CheckFirmwareAcceptance(&out->header, &out->model);
  out->error = err;

  const int64_t payloadSize = out->fileSize - out->header.payloadOffset;
  out->payloadSize = payloadSize > 0 ? payloadSize : 0;

  if (headerRead) {
    out->index.capacity = ImageCapacityForModel(out->model);
    ParseImageIndexStream(&out->index, file, out->header.payloadOffset);
    out->indexed = true;
    out->walk = WalkPayload(file, out->header.payloadOffset, out->payloadSize);
  }
  std::fclose(file);

  if (err == 0 && out->model != nullptr && out->model->updater != nullptr) {
    out->packageChecked =
        CheckPackagePlan(out->model->updater, &out->index, &out->plan, &out->packageError) == 0;
  }
  out->blocker = Verdict(*out);
}

}  // namespace fg
