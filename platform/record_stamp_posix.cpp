#include "platform/record_stamp.h"

#include <unistd.h>

#include <climits>

namespace fg::platform {

namespace {

std::string Format(const std::tm& parts, const char* format) {
  char text[64];
  const size_t n = std::strftime(text, sizeof text, format, &parts);
  return std::string(text, n);
}

}  // namespace

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "unknown";
  return name;
}

std::string UtcTimeText(std::time_t when) {
  std::tm parts{};
  if (gmtime_r(&when, &parts) == nullptr) return std::string();
  return Format(parts, "%Y-%m-%dT%H:%M:%SZ");
}

std::string LocalDateText(std::time_t when) {
  std::tm parts{};
  if (localtime_r(&when, &parts) == nullptr) return std::string();
  return Format(parts, "%Y-%m-%d");
}

}  // namespace fg::platform
