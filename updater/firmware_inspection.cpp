#include "updater/firmware_inspection.h"

#include <cstring>

#include "firmware/file_acceptance.h"
#include "firmware/firmware_file.h"
#include "updater/updater_families.h"

namespace fg {

void InspectFirmwareFile(const char* path, FirmwareInspection* out) {
  std::memset(out, 0, sizeof *out);
  out->error = kInspectCantOpen;

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
  }
  std::fclose(file);
}

}  // namespace fg
