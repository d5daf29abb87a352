// The folder a simulated instrument's flash is mirrored into (--state DIR/SERIAL): made for this
// user alone when missing, as are missing folders above it; opened once, never through a link;
// its files read and replaced by name inside it, never through a link either. On POSIX everything
// goes through the folder's descriptor (state_folder_posix.cpp); on Windows the folder is held
// open without delete sharing, so its path keeps naming it (state_folder_win32.cpp).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fg::sim {

class StateFolder {
 public:
  StateFolder() = default;  // not open: reads find nothing, writes are dropped
  StateFolder(StateFolder&& other) noexcept;
  StateFolder& operator=(StateFolder&& other) noexcept;
  ~StateFolder();
  StateFolder(const StateFolder&) = delete;
  StateFolder& operator=(const StateFolder&) = delete;

  // Creates and opens `folder`. An existing folder must be a real one of this user's; when others
  // may enter it (made by an earlier version), it is closed to them. False with *error set.
  bool Open(const std::string& folder, std::string* error);
  bool IsOpen() const;
  const std::string& path() const { return path_; }

  // Reads the file `name` of at most `limit` bytes. True with *exists false when there is none;
  // false with *error set when it is a link, not a plain file, too large or unreadable.
  bool Read(const std::string& name, uint64_t limit, bool* exists, std::vector<uint8_t>* out,
            std::string* error) const;
  // Replaces the file `name` through a fresh temporary file and a rename within the folder, so
  // that a reader never sees half of it. A failure is reported on standard error.
  void Write(const std::string& name, const void* data, size_t size) const;

 private:
  void Close();
  std::string path_;
#ifdef _WIN32
  void* handle_ = nullptr;  // the folder's HANDLE
#else
  int fd_ = -1;  // the folder's descriptor
#endif
};

}  // namespace fg::sim
