#include "firmware/firmware_file.h"

namespace fg {

FirmwareFile& FirmwareFile::operator=(FirmwareFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    size_ = other.size_;
    other.handle_ = platform::kNoFile;
    other.size_ = 0;
  }
  return *this;
}

bool FirmwareFile::Open(const char* path) {
  Close();
  if (path == nullptr) return false;
  int64_t size = 0;
  const platform::FileHandle handle = platform::OpenRegularFileForReading(path, &size);
  if (handle == platform::kNoFile) return false;
  handle_ = handle;
  size_ = size;
  return true;
}

void FirmwareFile::Close() {
  platform::CloseFile(handle_);
  handle_ = platform::kNoFile;
  size_ = 0;
}

std::FILE* FirmwareFile::OpenStream() const { return platform::OpenReadStream(handle_); }

}  // namespace fg
