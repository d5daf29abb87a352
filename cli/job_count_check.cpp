#include "cli/job_count_check.h"

#include <charconv>
#include <string>

namespace fg::cli {

CLI::Validator JobCountCheck() {
  return CLI::Validator(
      [](std::string& value) {
        size_t n = 0;
        const char* end = value.data() + value.size();
        const auto parsed = std::from_chars(value.data(), end, n);
        return parsed.ec == std::errc() && parsed.ptr == end && n >= 1
                   ? std::string()
                   : "how many instruments are updated at once: a whole number of 1 or more, "
                     "not " + value;
      },
      "N >= 1");
}

}  // namespace fg::cli
