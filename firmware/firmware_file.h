// A firmware file held open from the moment it is chosen to the copy of its payload, so that
// what was checked is what gets installed: the name is resolved once, without following a
// link, and only a regular file is taken, at the size it had then.
#pragma once
#include <cstdint>
#include <cstdio>
#include <utility>

#include "platform/regular_file.h"

namespace fg {

class FirmwareFile {
 public:
  FirmwareFile() = default;
  ~FirmwareFile() { Close(); }
  FirmwareFile(FirmwareFile&& other) noexcept { *this = std::move(other); }
  FirmwareFile& operator=(FirmwareFile&& other) noexcept;
  FirmwareFile(const FirmwareFile&) = delete;
  FirmwareFile& operator=(const FirmwareFile&) = delete;

  // Opens `path` for reading, closing what was open before: no link is followed and a FIFO or
  // device never blocks the open; then only a regular file is kept, with its size as it is now.
  // True when the file is open; false leaves nothing open (a link, a directory, a FIFO, a
  // device, a missing or unreadable file).
  bool Open(const char* path);
  void Close();

  bool isOpen() const { return handle_ != platform::kNoFile; }
  platform::FileHandle handle() const { return handle_; }
  // The size checked at Open: no read goes beyond it, whatever the file has grown to since.
  int64_t size() const { return size_; }

  // A stdio stream over a duplicate of the open file, at the start of the file, for the header
  // parser and the index; the caller closes it. Null when no file is open or on failure.
  std::FILE* OpenStream() const;

 private:
  platform::FileHandle handle_ = platform::kNoFile;
  int64_t size_ = 0;
};

}  // namespace fg
