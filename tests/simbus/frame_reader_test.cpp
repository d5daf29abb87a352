// The socket framing: frames cut out of a stream however it is chunked, and hostile headers
// refused before anything is allocated for them.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include <string>
#include <vector>

#include "visa/simbus/simbus_frames.h"

namespace fg::simbus {
namespace {

using Bytes = std::vector<uint8_t>;

// Three bulk-IN frames, written out byte by byte: kind 0x82, three zero bytes, the payload's
// length least significant byte first, the payload.
Bytes Stream() {
  static constexpr uint8_t kHeads[] = {0x82, 0, 0, 0, 5, 0, 0, 0, 'f', 'i', 'r', 's', 't',
                                       0x82, 0, 0, 0, 0, 0, 0, 0,
                                       0x82, 0, 0, 0, 0xE8, 0x03, 0, 0};
  // Sized once and filled: growing a vector from a short list trips a false -Warray-bounds of
  // mingw's GCC 12 at -O3.
  Bytes stream(sizeof kHeads + 1000, 'x');
  std::copy(std::begin(kHeads), std::end(kHeads), stream.begin());
  return stream;
}

TEST(FrameReaderTest, EncoderWritesTheSameBytes) {
  Bytes encoded;
  for (const std::string& payload : {std::string("first"), std::string(), std::string(1000, 'x')}) {
    const Bytes frame =
        EncodeFrame(kFrameBulkIn, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
    encoded.insert(encoded.end(), frame.begin(), frame.end());
  }
  EXPECT_EQ(encoded, Stream());
}

TEST(FrameReaderTest, SameFramesWhateverTheChunking) {
  const Bytes stream = Stream();
  for (size_t chunk : {size_t{1}, size_t{3}, size_t{8}, size_t{13}, stream.size()}) {
    SCOPED_TRACE(chunk);
    FrameReader reader;
    std::vector<Frame> frames;
    for (size_t at = 0; at < stream.size(); at += chunk) {
      reader.Feed(stream.data() + at, std::min(chunk, stream.size() - at));
      Frame frame;
      while (reader.Take(&frame)) frames.push_back(frame);
    }
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].kind, kFrameBulkIn);
    EXPECT_EQ(std::string(frames[0].payload.begin(), frames[0].payload.end()), "first");
    EXPECT_TRUE(frames[1].payload.empty());
    EXPECT_EQ(frames[2].payload, Bytes(1000, 'x'));
    EXPECT_FALSE(reader.Broken());
  }
}

TEST(FrameReaderTest, HostileHeadersBreakTheStream) {
  struct Row {
    const char* what;
    Bytes header;
  };
  const Row rows[] = {
      {"reserved byte set", {kFrameBulkIn, 0, 1, 0, 4, 0, 0, 0}},
      {"length beyond the limit", {kFrameBulkIn, 0, 0, 0, 0x01, 0x00, 0x00, 0x01}},
      {"length of 4 GiB", {kFrameBulkIn, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FrameReader reader;
    reader.Feed(row.header.data(), row.header.size());
    Frame frame;
    EXPECT_FALSE(reader.Take(&frame));
    EXPECT_TRUE(reader.Broken());
    // Nothing more is cut out of a broken stream, even a good frame.
    Bytes good = EncodeFrame(kFrameBulkIn, nullptr, 0);
    reader.Feed(good.data(), good.size());
    EXPECT_FALSE(reader.Take(&frame));
  }
}

}  // namespace
}  // namespace fg::simbus
