// Framing of the simulated bus: the byte stream of a device socket carries the same USBTMC
// transfers as a USB cable, each one wrapped in an 8-byte frame header that gives its kind and
// length, plus a few frames for the session handshake and the control pipe.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fg::simbus {

// Frame kinds. Host -> device below 0x80, device -> host from 0x80.
inline constexpr uint8_t kFrameOpen = 0x01;          // no payload: ask for a session
inline constexpr uint8_t kFrameBulkOut = 0x02;       // one bulk-OUT transfer
inline constexpr uint8_t kFrameControl = 0x03;       // request id (4) + setup packet (8)
inline constexpr uint8_t kFrameOpenReply = 0x81;     // one byte: kOpenAccepted or kOpenBusy
inline constexpr uint8_t kFrameBulkIn = 0x82;        // one bulk-IN transfer (or a piece of one)
inline constexpr uint8_t kFrameControlReply = 0x83;  // request id (4) + result (1) + data

inline constexpr uint8_t kOpenAccepted = 1;
inline constexpr uint8_t kOpenBusy = 2;
inline constexpr uint8_t kControlOk = 0;
inline constexpr uint8_t kControlStall = 1;

// The frame header: byte 0 kind, bytes 1-3 zero, bytes 4-7 payload length (little-endian).
inline constexpr size_t kFrameHeaderSize = 8;
// Larger frames are refused: a peer cannot make the other side allocate without bound.
inline constexpr uint32_t kMaxFramePayload = 16u * 1024 * 1024;

// Offsets in a control frame and its reply.
inline constexpr size_t kControlIdSize = 4;
inline constexpr size_t kControlReplyResultOffset = kControlIdSize;
inline constexpr size_t kControlReplyDataOffset = kControlIdSize + 1;

// The pipes a simulated device offers, as a high-speed USBTMC interface would.
inline constexpr uint16_t kSimMaxPacketSize = 512;
inline constexpr uint8_t kSimBulkInAddress = 0x81;
inline constexpr uint8_t kSimBulkOutAddress = 0x02;

struct Frame {
  uint8_t kind = 0;
  std::vector<uint8_t> payload;
};

void EncodeFrameHeader(uint8_t kind, uint32_t length, uint8_t out[kFrameHeaderSize]);
// Header plus payload in one buffer, ready to send.
std::vector<uint8_t> EncodeFrame(uint8_t kind, const uint8_t* payload, size_t size);

// Collects bytes from a stream and cuts them into frames. A malformed header (reserved bytes
// set, an oversized length) makes the stream unusable: Broken() turns true and stays so.
class FrameReader {
 public:
  void Feed(const uint8_t* data, size_t size);
  // Moves the next complete frame to *frame. False when none is complete (or broken).
  bool Take(Frame* frame);
  bool Broken() const { return broken_; }

 private:
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;
  bool broken_ = false;
};

}  // namespace fg::simbus
