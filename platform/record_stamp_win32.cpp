#include "platform/record_stamp.h"

#include <windows.h>

namespace fg::platform {

namespace {

std::string Format(const std::tm& parts, const char* format) {
  char text[64];
  const size_t n = std::strftime(text, sizeof text, format, &parts);
  return std::string(text, n);
}

}  // namespace

std::string HostName() {
  char name[256] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameExA(ComputerNameDnsHostname, name, &size) || name[0] == '\0') {
    return "unknown";
  }
  return name;
}

std::string UtcTimeText(std::time_t when) {
  std::tm parts{};
  if (gmtime_s(&parts, &when) != 0) return std::string();
  return Format(parts, "%Y-%m-%dT%H:%M:%SZ");
}

std::string LocalDateText(std::time_t when) {
  std::tm parts{};
  if (localtime_s(&parts, &when) != 0) return std::string();
  return Format(parts, "%Y-%m-%d");
}

}  // namespace fg::platform
