// Reading a firmware file the way the tool would before an update, without writing anything:
// header, acceptance, the image index of the payload read in place, the package checks that need
// no instrument, and the verdict on the whole file: whether an update could install it.
#pragma once
#include <cstdint>

#include "catalog/model_catalog.h"
#include "firmware/firmware_header.h"
#include "firmware/image_index.h"
#include "updater/update_plan.h"

namespace fg {

// `error` value for a file that cannot be opened for reading, or is no regular file reached
// without a link.
inline constexpr int32_t kInspectCantOpen = -1;

// What keeps a file from being installed on its model. The checks run in this order and the
// first that holds is the verdict.
enum class InstallBlocker : int32_t {
  kNone = 0,        // installable: an update would program its package (the versions aside,
                    // which only the instrument can tell)
  kCantOpen,        // the file cannot be opened
  kHeaderRefused,   // the header is refused: `error` holds its number
  kNoUpdater,       // the model has no updater: every update of it ends with run code 2
  kNoFileStart,     // no "FileStart" line: the payload would be the whole file, header included
  kEmptyPayload,    // nothing follows the "FileStart" line
  kTruncated,       // the payload ends inside an image record: the file was cut short
  kPackageRefused,  // a package check fails: `packageError` holds the driver's number
};

// The payload walked record by record to its end, past the index's capacity: a file cut short
// ends inside a record, which the index simply leaves out.
struct PayloadWalk {
  bool walked;             // false: too many records to walk, so nothing is said of the end
  int32_t records;         // complete records from the first payload byte
  int64_t completeBytes;   // the bytes they take; payloadSize - completeBytes are left over
  int64_t cutLength;       // the length the left-over record's header announces; 0 when fewer
                           // than its 20 header bytes are left
};

struct FirmwareInspection {
  int32_t error;             // 0 accepted, kInspectCantOpen, or a parse or acceptance number
  FirmwareHeader header;     // as parsed (zero-filled when the file could not be opened)
  const ModelInfo* model;    // the matched catalogue row, or null
  int64_t fileSize;
  int64_t payloadSize;       // fileSize - payloadOffset
  bool indexed;              // the header was read, so the payload was indexed
  ImageIndex index;          // capacity of the matched model's family (6 when none is bound)
  PayloadWalk walk;          // walked whenever the payload was indexed
  // The package checks of the model's driver over the index (an accepted file of a model with
  // an updater only): presence, size and the programmer's record checks, no versions.
  bool packageChecked;
  int32_t packageError;      // the first failing check's driver number, or 0
  UpdatePlan plan;
  InstallBlocker blocker;    // the verdict
};

// Fills `out` for the file at `path`. The payload is indexed whenever the header could be read
// (accepted or not), from payloadOffset, with offsets counted from the first payload byte.
void InspectFirmwareFile(const char* path, FirmwareInspection* out);

}  // namespace fg
