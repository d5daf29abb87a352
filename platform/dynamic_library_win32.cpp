#include "platform/dynamic_library.h"

#include <windows.h>

namespace fg::platform {

namespace {

std::string LastErrorText() {
  const DWORD code = GetLastError();
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, code, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == ' ' || text[length - 1] == '.')) {
    text[--length] = '\0';
  }
  std::string result = length > 0 ? std::string(text, length) : std::string("system error");
  return result + " (" + std::to_string(code) + ")";
}

}  // namespace

bool NamesAFile(const std::string& pathOrName) {
  return pathOrName.find_first_of("/\\:") != std::string::npos;
}

// A DLL's names never interpose on another module's: GetProcAddress looks in one module only.
void* OpenLibrary(const std::string& pathOrName, std::string* error) {
  // No "cannot find the DLL" box on old systems; the caller reports the failure.
  const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryA(pathOrName.c_str());
  if (module == nullptr) *error = LastErrorText();
  SetErrorMode(previous);
  return reinterpret_cast<void*>(module);
}

void* FindSymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

std::string LibraryFile(void* library, const std::string& pathOrName) {
  if (NamesAFile(pathOrName)) return pathOrName;
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(library), path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return pathOrName;
  return std::string(path, length);
}

}  // namespace fg::platform
