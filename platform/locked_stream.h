// Reading a C stream byte by byte under one lock taken for the whole loop, with each C runtime's
// own names. Inline, as the unlocked reads are meant to be: they replace a call per byte.
#pragma once
#include <cstdio>

namespace fg::platform {

#ifdef _WIN32
inline void LockStream(std::FILE* file) { _lock_file(file); }
inline int GetcLocked(std::FILE* file) { return _getc_nolock(file); }
inline void UnlockStream(std::FILE* file) { _unlock_file(file); }
#else
inline void LockStream(std::FILE* file) { flockfile(file); }
inline int GetcLocked(std::FILE* file) { return getc_unlocked(file); }
inline void UnlockStream(std::FILE* file) { funlockfile(file); }
#endif

}  // namespace fg::platform
