// Arbitrary bytes, in arbitrary pieces, as the stream of a simulated-bus socket. The frames cut
// from it, encoded again, must give back exactly the bytes they came from; a broken stream
// yields nothing more; no frame exceeds the payload limit.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "visa/simbus/simbus_frames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  fg::simbus::FrameReader reader;
  std::vector<uint8_t> fed;
  std::vector<uint8_t> reencoded;
  while (in.remaining_bytes() > 0) {
    const std::vector<uint8_t> piece =
        in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(1, 600));
    reader.Feed(piece.data(), piece.size());
    fed.insert(fed.end(), piece.begin(), piece.end());
    fg::simbus::Frame frame;
    while (reader.Take(&frame)) {
      if (frame.payload.size() > fg::simbus::kMaxFramePayload) __builtin_trap();
      const std::vector<uint8_t> again =
          fg::simbus::EncodeFrame(frame.kind, frame.payload.data(), frame.payload.size());
      reencoded.insert(reencoded.end(), again.begin(), again.end());
    }
    if (reader.Broken() && reader.Take(&frame)) __builtin_trap();
  }
  // The frames are the stream's prefix, byte for byte.
  if (reencoded.size() > fed.size()) __builtin_trap();
  if (!reencoded.empty() && std::memcmp(reencoded.data(), fed.data(), reencoded.size()) != 0) {
    __builtin_trap();
  }
  return 0;
}
