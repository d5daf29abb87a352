// Test support: setting environment variables the same way on every system, and a guard that
// sets some for one test and restores them afterwards; the provider registry is re-chosen on both
// sides so that it sees the change.
#pragma once
#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "visa/provider_registry.h"

namespace fg::testing {

// Sets `name` to `value`, or removes it for a null value. Children started later inherit it. On
// Windows an empty value removes it too: the C runtime holds no empty variables.
inline void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value != nullptr ? value : "");  // an empty value removes it
#else
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

class EnvGuard {
 public:
  EnvGuard(std::initializer_list<std::pair<const char*, const char*>> values) {
    for (const auto& [name, value] : values) {
      const char* old = getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      SetEnvironment(name, value);
    }
    visa::ResetProvidersForTesting();
  }
  ~EnvGuard() {
    for (const auto& [name, value] : saved_) {
      SetEnvironment(name.c_str(), value ? value->c_str() : nullptr);
    }
    visa::ResetProvidersForTesting();
  }
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace fg::testing
