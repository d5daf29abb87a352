// Libraries loaded at run time (vendor VISA libraries): dlopen on POSIX, LoadLibrary on Windows.
#pragma once
#include <string>

namespace fg::platform {

// True when the text names a file (it has a folder separator) rather than a bare library name
// for the system's search path.
bool NamesAFile(const std::string& pathOrName);

// Loads a library, by file or by bare name, binding its names locally: neither its names nor
// ours can interpose on the other. Null with *error set when it does not load.
void* OpenLibrary(const std::string& pathOrName, std::string* error);

// The address of an exported function; null when the library lacks it.
void* FindSymbol(void* library, const char* name);

void CloseLibrary(void* library);

// The file a library loaded by `pathOrName` came from; `pathOrName` itself when unknown.
std::string LibraryFile(void* library, const std::string& pathOrName);

}  // namespace fg::platform
