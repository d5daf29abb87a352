// SHA-256 (FIPS 180-4), fed in pieces of any size. Used to pin a firmware file's payload from the
// moment it was accepted to the moment it is extracted, and to name a file in update records.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace fg {

inline constexpr size_t kSha256Size = 32;
using Sha256Digest = std::array<uint8_t, kSha256Size>;

struct Sha256 {
  uint32_t state[8];
  uint64_t totalBytes;    // bytes fed so far
  uint8_t block[64];      // the block being filled
  uint32_t blockFill;     // bytes of `block` in use
};

void Sha256Start(Sha256* hash);
void Sha256Feed(Sha256* hash, const void* data, size_t length);
// Pads, returns the digest. The record must be started again before further use.
Sha256Digest Sha256Finish(Sha256* hash);

// The digest as 64 lower-case hexadecimal digits.
std::string Sha256Hex(const Sha256Digest& digest);

}  // namespace fg
