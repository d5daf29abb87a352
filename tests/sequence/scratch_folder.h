// Private folders for the sequence tests: one scratch folder per test, and one simulated bus per
// process (FLINTGATE_SIMBUS), so that parallel test processes never see each other's devices.
#pragma once
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/private_folder.h"

namespace fg::test {

inline std::string MakePrivateFolder(const char* tag) {
  std::string folder;
  if (!platform::CreatePrivateTempFolder((std::string(tag) + "-").c_str(), &folder)) return {};
  return folder;
}

// Points XDG_RUNTIME_DIR at a private folder of this process, once, so that the instrument
// locks of its runs (link/instrument_lock.h) are its own: test processes running at the same
// time use the same serial numbers.
inline const std::string& PrivateRuntimeFolder() {
  static const std::string folder = [] {
    std::string f = MakePrivateFolder("fg-seq-run");
#ifdef _WIN32
    _putenv_s("XDG_RUNTIME_DIR", f.c_str());
#else
    setenv("XDG_RUNTIME_DIR", f.c_str(), 1);
#endif
    static const pid_t creator = getpid();
    static const std::string removed = f;
    std::atexit([] {
      if (getpid() != creator) return;  // a forked child leaves it alone
      std::error_code ec;
      std::filesystem::remove_all(removed, ec);
    });
    return f;
  }();
  return folder;
}

// Sets FLINTGATE_SIMBUS to an empty private folder before the first search of this process.
inline const std::string& PrivateBusFolder() {
  static const std::string folder = [] {
    std::string f = MakePrivateFolder("fg-seq-bus");
#ifdef _WIN32
    _putenv_s("FLINTGATE_SIMBUS", f.c_str());
#else
    setenv("FLINTGATE_SIMBUS", f.c_str(), 1);
#endif
    static const pid_t creator = getpid();
    std::atexit([] {
      const char* bus = getenv("FLINTGATE_SIMBUS");
      if (getpid() != creator || bus == nullptr) return;  // a forked child leaves it alone
      std::error_code ec;
      std::filesystem::remove_all(bus, ec);
    });
    PrivateRuntimeFolder();
    return f;
  }();
  return folder;
}

class ScratchFolder {
 public:
  ScratchFolder() : path_(MakePrivateFolder("fg-seq")) { PrivateRuntimeFolder(); }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

  std::string Write(const std::string& name, const std::string& bytes) const {
    std::string p = File(name);
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }

 private:
  std::string path_;
};

// A firmware file: header lines, "FileStart", then the payload bytes.
inline std::string FirmwareText(const std::string& model, const std::string& imageRev,
                                const std::string& utilityRev, const std::string& description,
                                const std::string& payload) {
  std::string text;
  if (!model.empty()) text += "# ModelName = " + model + "\n";
  if (!imageRev.empty()) text += "# ImageRev = " + imageRev + "\n";
  if (!utilityRev.empty()) text += "# UtilityRev = " + utilityRev + "\n";
  if (!description.empty()) text += "# UpdatedDescription =" + description + "\n";
  text += "# FileStart\n";
  return text + payload;
}

}  // namespace fg::test
