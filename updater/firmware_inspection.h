// Reading a firmware file the way the tool would before an update, without writing anything:
// header, acceptance, and the image index of the payload read in place.
#pragma once
#include <cstdint>

#include "catalog/model_catalog.h"
#include "firmware/firmware_header.h"
#include "firmware/image_index.h"

namespace fg {

// `error` value for a file that cannot be opened for reading, or is no regular file reached
// without a link.
inline constexpr int32_t kInspectCantOpen = -1;

struct FirmwareInspection {
  int32_t error;             // 0 accepted, kInspectCantOpen, or a parse or acceptance number
  FirmwareHeader header;     // as parsed (zero-filled when the file could not be opened)
  const ModelInfo* model;    // the matched catalogue row, or null
  int64_t fileSize;
  int64_t payloadSize;       // fileSize - payloadOffset
  bool indexed;              // the header was read, so the payload was indexed
  ImageIndex index;          // capacity of the matched model's family (6 when none is bound)
};

// Fills `out` for the file at `path`. The payload is indexed whenever the header could be read
// (accepted or not), from payloadOffset, with offsets counted from the first payload byte.
void InspectFirmwareFile(const char* path, FirmwareInspection* out);

}  // namespace fg
