#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <limits.h>

namespace fg::platform {

bool NamesAFile(const std::string& pathOrName) {
  return pathOrName.find('/') != std::string::npos;
}

void* OpenLibrary(const std::string& pathOrName, std::string* error) {
  dlerror();
  void* handle = dlopen(pathOrName.c_str(), RTLD_LOCAL | RTLD_NOW);
  if (handle == nullptr) {
    const char* why = dlerror();
    *error = why != nullptr ? why : "unknown";
  }
  return handle;
}

void* FindSymbol(void* library, const char* name) { return dlsym(library, name); }

void CloseLibrary(void* library) { dlclose(library); }

std::string LibraryFile(void* library, const std::string& pathOrName) {
  if (NamesAFile(pathOrName)) return pathOrName;
  char origin[PATH_MAX];
  if (dlinfo(library, RTLD_DI_ORIGIN, origin) != 0) return pathOrName;
  return std::string(origin) + "/" + pathOrName;
}

}  // namespace fg::platform
