// Files the core opens with the system's own calls rather than stdio: the firmware file, opened
// once and read by position, and the payload copy, written into a file only this user can read.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace fg::platform {

// An open file: a descriptor on POSIX, a HANDLE on Windows.
#ifdef _WIN32
using FileHandle = void*;
inline constexpr FileHandle kNoFile = nullptr;
#else
using FileHandle = int;
inline constexpr FileHandle kNoFile = -1;
#endif

// Opens `path` for reading when it is a regular file reached without following a link (on
// Windows, any reparse point), and never waits in the open (a FIFO without writer, a device).
// Sets *size to the file's size now. kNoFile for anything else: a link, a folder, a FIFO, a
// device, a missing or unreadable file. On Windows the file may still be renamed, deleted or
// rewritten by others while it is open, as on POSIX.
FileHandle OpenRegularFileForReading(const char* path, int64_t* size);
void CloseFile(FileHandle file);

// Why OpenRegularFileForReading refused `path`, in words for the user: "there is no such file",
// "permission denied", "it is a folder", "it is a pipe, socket or device, not a plain file", "it
// is a symbolic link; ...: choose the file it points to", or the system's words. Looks at the
// name once more, after the fact.
std::string WhyNotRegularFile(const char* path);

// A stdio stream for binary reading over a duplicate of `file`, at the file's start; the caller
// closes it, `file` stays open. Null on failure.
std::FILE* OpenReadStream(FileHandle file);

// Reads up to `size` bytes at `offset`, whatever the file position. The number of bytes read,
// 0 at the end of the file, -1 on a failure.
int64_t ReadAt(FileHandle file, void* buffer, size_t size, int64_t offset);

// Opens `path` for writing, created with access for this user alone (mode 0600; on Windows an
// access list with only the user) or truncated when it exists, never through a link. On Windows
// with delete sharing, so that the console's clean-up thread can remove it while it is open.
// kNoFile when it cannot.
FileHandle CreatePrivateFileForWriting(const char* path);
// Writes all `size` bytes; false on a failure.
bool WriteAll(FileHandle file, const void* data, size_t size);
// Closes a file written with WriteAll; false when the system reports the data may be lost.
bool CloseWrittenFile(FileHandle file);

}  // namespace fg::platform
