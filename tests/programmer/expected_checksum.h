// The checksum an instrument answers for an image record, worked out here from the record's
// layout and not by the programmer's ImageChecksum, so that the two can disagree.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fg::test {

// A record of L bytes is read as W = (L - 6) / 4 big-endian words from its start; all but the
// first two (the lead word and the image length) are summed, modulo 2^32. Byte by byte: each
// byte from offset 8 up to 4W, weighted by its place in its word (the first is the most
// significant).
inline uint32_t ExpectedChecksum(const std::vector<uint8_t>& record) {
  const size_t end = (record.size() - 6) / 4 * 4;
  uint32_t sum = 0;
  for (size_t at = 8; at < end; ++at) sum += uint32_t{record[at]} << (8 * (3 - at % 4));
  return sum;
}

}  // namespace fg::test
