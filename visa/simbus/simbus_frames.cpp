#include "visa/simbus/simbus_frames.h"

#include <cstring>

#include "util/endian.h"

namespace fg::simbus {

namespace {
constexpr size_t kOffKind = 0;
constexpr size_t kOffLength = 4;
static_assert(kOffLength + 4 == kFrameHeaderSize);
}  // namespace

void EncodeFrameHeader(uint8_t kind, uint32_t length, uint8_t out[kFrameHeaderSize]) {
  std::memset(out, 0, kFrameHeaderSize);
  out[kOffKind] = kind;
  StoreLe32(out + kOffLength, length);
}

std::vector<uint8_t> EncodeFrame(uint8_t kind, const uint8_t* payload, size_t size) {
  // The header goes into a vector already sized for it: written into one sized in a single step,
  // mingw's GCC 12 at -O3 sees a write past an empty allocation (a false -Warray-bounds).
  std::vector<uint8_t> frame;
  frame.reserve(kFrameHeaderSize + size);
  frame.resize(kFrameHeaderSize);
  EncodeFrameHeader(kind, static_cast<uint32_t>(size), frame.data());
  frame.resize(kFrameHeaderSize + size);
  if (size != 0) std::memcpy(frame.data() + kFrameHeaderSize, payload, size);
  return frame;
}

void FrameReader::Feed(const uint8_t* data, size_t size) {
  if (broken_ || size == 0) return;
  // Drop consumed bytes before growing, so the buffer stays about one frame long.
  if (start_ != 0) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), data, data + size);
}

bool FrameReader::Take(Frame* frame) {
  if (broken_) return false;
  const size_t available = buffer_.size() - start_;
  if (available < kFrameHeaderSize) return false;
  const uint8_t* header = buffer_.data() + start_;
  if (header[1] != 0 || header[2] != 0 || header[3] != 0) {
    broken_ = true;
    return false;
  }
  const uint32_t length = LoadLe32(header + kOffLength);
  if (length > kMaxFramePayload) {
    broken_ = true;
    return false;
  }
  if (available - kFrameHeaderSize < length) return false;
  frame->kind = header[kOffKind];
  frame->payload.assign(header + kFrameHeaderSize, header + kFrameHeaderSize + length);
  start_ += kFrameHeaderSize + length;
  return true;
}

}  // namespace fg::simbus
