// A private bus folder for one test: created 0700 under the temporary directory, made the
// process's FLINTGATE_SIMBUS, removed with everything in it afterwards.
#pragma once
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fg::testing {

class TempBusFolder {
 public:
  TempBusFolder() {
    char pattern[] = "/tmp/fg-bus-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    path_ = made != nullptr ? made : "";
    if (!path_.empty()) ::chmod(path_.c_str(), 0700);
    ::setenv("FLINTGATE_SIMBUS", path_.c_str(), 1);
  }
  ~TempBusFolder() {
    ::unsetenv("FLINTGATE_SIMBUS");
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempBusFolder(const TempBusFolder&) = delete;
  TempBusFolder& operator=(const TempBusFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace fg::testing
