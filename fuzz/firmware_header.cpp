// Arbitrary bytes as a firmware file: header parse, acceptance checks and the index of the
// payload in place, as inspect reads a file. Checks the records the parser leaves behind.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "firmware/file_acceptance.h"
#include "firmware/firmware_header.h"
#include "firmware/image_index.h"
#include "util/bounded_text.h"

namespace {

template <size_t N>
void RequireTerminated(const char (&field)[N]) {
  if (fg::BoundedLength(field, N) >= N) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;  // fmemopen needs a buffer
  std::FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (f == nullptr) return 0;

  fg::FirmwareHeader header;
  int32_t err = fg::ParseFirmwareHeader(&header, f);
  RequireTerminated(header.ImageRev);
  RequireTerminated(header.ModelName);
  RequireTerminated(header.RevsNotSupport);
  RequireTerminated(header.UpdatedDescription);
  RequireTerminated(header.UtilityRev);
  if (header.payloadOffset < 0 || static_cast<size_t>(header.payloadOffset) > size) __builtin_trap();
  const bool fieldTooLong = err >= fg::kErrImageRevTooLong && err <= fg::kErrUtilityRevTooLong;
  if (err != 0 && !fieldTooLong && err != fg::kErrNulInHeader) __builtin_trap();

  if (err == 0) {
    const fg::ModelInfo* model = nullptr;
    int32_t accept = fg::CheckFirmwareAcceptance(&header, &model);
    if (accept == fg::kErrModelNotInCatalog ? model != nullptr : model == nullptr) __builtin_trap();

    fg::ImageIndex index{};
    index.capacity = fg::kWx2040ImageCapacity;
    fg::ParseImageIndexStream(&index, f, header.payloadOffset);
    const int64_t payloadSize = static_cast<int64_t>(size) - header.payloadOffset;
    for (int32_t i = 0; i < index.imageCount; ++i) {
      const fg::ImageIndexEntry& e = index.images[i];
      // Every counted record's trailer was read in full, so it lies inside the payload.
      if (e.offset < 0 || e.length < 6 || int64_t{e.offset} + e.length > payloadSize) {
        __builtin_trap();
      }
    }
  }
  std::fclose(f);
  return 0;
}
