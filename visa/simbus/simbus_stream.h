// The host's end of one connection to a simulated device: a byte stream both ways, over a Unix
// socket (simbus_stream_posix.cpp) or a named pipe (simbus_stream_win32.cpp). The frames and the
// USBTMC session above it are the same on both.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "visa/simbus/simbus_deadline.h"
#include "visa/simbus/simbus_folder.h"

namespace fg::simbus {

// Used from one thread at a time, but for Cancel.
class BusStream {
 public:
  virtual ~BusStream() = default;
  // From any thread, without blocking: ends a send or receive in progress at once and every later
  // one (they fail or report the end of the stream), so that closing a session never waits for
  // a device that does not answer.
  virtual void Cancel() = 0;
  // Sends all `size` bytes before the deadline. *sent receives the bytes that went out (fewer on
  // a timeout). kClosed when the device end is gone.
  virtual IoResult SendAll(const uint8_t* data, size_t size, const Deadline& deadline,
                           size_t* sent) = 0;
  // Receives what is available, at least one byte, before the deadline. kClosed at the end of
  // the stream (the device end closed it or is gone).
  virtual IoResult ReceiveSome(uint8_t* buffer, size_t capacity, const Deadline& deadline,
                               size_t* received) = 0;
};

enum class StreamOpenResult {
  kOk,
  kGone,     // nobody listens behind the entry (any more)
  kBusy,     // the device is there but takes no connection now (stopped, all taken)
  kTimeout,  // the connection did not come about before the deadline
  kFailed,   // the system refused what the connection needs (handles, memory)
};

// Connects to the device behind a listed entry without blocking past the deadline.
StreamOpenResult OpenBusStream(const BusFolder& folder, const BusEntry& entry,
                               const Deadline& deadline, std::unique_ptr<BusStream>* stream);

}  // namespace fg::simbus
