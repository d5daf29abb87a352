// Test support: sets environment variables for one test and restores them afterwards; the
// provider registry is re-chosen on both sides so that it sees the change.
#pragma once
#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "visa/provider_registry.h"

namespace fg::testing {

class EnvGuard {
 public:
  EnvGuard(std::initializer_list<std::pair<const char*, const char*>> values) {
    for (const auto& [name, value] : values) {
      const char* old = getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      if (value) {
        setenv(name, value, 1);
      } else {
        unsetenv(name);
      }
    }
    visa::ResetProvidersForTesting();
  }
  ~EnvGuard() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
    visa::ResetProvidersForTesting();
  }
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace fg::testing
