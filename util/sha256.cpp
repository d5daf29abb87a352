#include "util/sha256.h"

#include <algorithm>
#include <cstring>

#include "util/endian.h"

namespace fg {

namespace {

constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void Compress(uint32_t state[8], const uint8_t* block) {
  uint32_t w[64];
  for (int i = 0; i < 16; ++i) w[i] = LoadBe32(block + 4 * i);
  for (int i = 16; i < 64; ++i) {
    const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int i = 0; i < 64; ++i) {
    const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                        kRound[i] + w[i];
    const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

}  // namespace

void Sha256Start(Sha256* hash) {
  static constexpr uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                           0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::memcpy(hash->state, kInitial, sizeof kInitial);
  hash->totalBytes = 0;
  hash->blockFill = 0;
}

void Sha256Feed(Sha256* hash, const void* data, size_t length) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  hash->totalBytes += length;
  if (hash->blockFill > 0) {
    const size_t take = std::min<size_t>(length, sizeof hash->block - hash->blockFill);
    std::memcpy(hash->block + hash->blockFill, bytes, take);
    hash->blockFill += static_cast<uint32_t>(take);
    bytes += take;
    length -= take;
    if (hash->blockFill < sizeof hash->block) return;
    Compress(hash->state, hash->block);
    hash->blockFill = 0;
  }
  // Whole blocks straight from the caller's buffer.
  for (; length >= sizeof hash->block; bytes += sizeof hash->block, length -= sizeof hash->block)
    Compress(hash->state, bytes);
  std::memcpy(hash->block, bytes, length);
  hash->blockFill = static_cast<uint32_t>(length);
}

Sha256Digest Sha256Finish(Sha256* hash) {
  const uint64_t bits = hash->totalBytes * 8;
  uint8_t* block = hash->block;
  uint32_t fill = hash->blockFill;
  block[fill++] = 0x80;
  if (fill > 56) {  // no room for the length: it goes into one more block
    std::memset(block + fill, 0, 64 - fill);
    Compress(hash->state, block);
    fill = 0;
  }
  std::memset(block + fill, 0, 56 - fill);
  StoreBe32(block + 56, static_cast<uint32_t>(bits >> 32));
  StoreBe32(block + 60, static_cast<uint32_t>(bits));
  Compress(hash->state, block);
  Sha256Digest digest;
  for (int i = 0; i < 8; ++i) StoreBe32(digest.data() + 4 * i, hash->state[i]);
  return digest;
}

std::string Sha256Hex(const Sha256Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * digest.size());
  for (uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace fg
