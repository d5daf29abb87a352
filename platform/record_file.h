// A file of update records that several programs append to at the same time (stations and
// updates on one machine, or on several over a shared folder): each record is one line, written
// with a single write at the file's end under an exclusive advisory lock of the whole file and
// flushed to the disk before the lock is released, so that lines never interleave and a line
// that was reported written survives a power cut.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace fg::platform {

// An open record file: a descriptor, or a Windows file handle. -1 when none.
struct RecordFileHandle {
  intptr_t value = -1;
};

// Opens `path` for appending, creating it when missing (mode 0644 less the umask; on Windows
// the folder's inherited access). A link is followed, as a user may keep the records anywhere;
// anything but a plain file is refused. False with *problem set ("it cannot be ...").
bool OpenRecordFile(const char* path, RecordFileHandle* file, std::string* problem);

// Appends `size` bytes (one or more whole lines) at the end of the file as it is at that moment:
// lock (waiting for other writers), one write, flush to the disk, unlock. False with *problem
// set when any step fails or the write came up short.
bool AppendRecord(RecordFileHandle file, const char* data, size_t size, std::string* problem);

// Closes the file; closing twice does nothing.
void CloseRecordFile(RecordFileHandle* file);

}  // namespace fg::platform
