#include "firmware/firmware_inspection.h"

#include <sys/stat.h>

#include <cstring>

#include "catalog/updater_family.h"
#include "firmware/file_acceptance.h"

namespace fg {

void InspectFirmwareFile(const char* path, FirmwareInspection* out) {
  std::memset(out, 0, sizeof *out);
  out->error = kInspectCantOpen;

  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return;
  // Only a regular file is a firmware file: a directory opens for reading but cannot be read,
  // and a device such as /dev/zero would feed the line reader without end.
  struct stat st;
  if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(file);
    return;
  }
  out->fileSize = static_cast<int64_t>(st.st_size);

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
  }
  std::fclose(file);
}

}  // namespace fg
