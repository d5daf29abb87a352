#include "visa/terminated_read.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace fg::visa {

namespace {

using Clock = std::chrono::steady_clock;

uint32_t Remaining(Clock::time_point deadline, uint32_t timeoutMs) {
  if (timeoutMs == VI_TMO_INFINITE) return VI_TMO_INFINITE;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() <= 0 ? 0 : static_cast<uint32_t>(left.count());
}

// The length up to and including the termination character, or `size` when there is none.
size_t TermCharSpan(const ReadOptions& options, const uint8_t* data, size_t size, bool* found) {
  *found = false;
  if (!options.termCharEnabled) return size;
  const void* hit = std::memchr(data, options.termChar, size);
  if (hit == nullptr) return size;
  *found = true;
  return static_cast<size_t>(static_cast<const uint8_t*>(hit) - data) + 1;
}

}  // namespace

ViStatus TerminatedRead(InstrSession& session, ReadBuffer& buffer, const ReadOptions& options,
                        uint8_t* data, uint32_t count, uint32_t* received, uint32_t timeoutMs) {
  *received = 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

  // Bytes left over from an earlier read come first.
  if (!buffer.bytes.empty()) {
    bool found = false;
    size_t take = TermCharSpan(options, buffer.bytes.data(), buffer.bytes.size(), &found);
    if (take > count) {
      take = count;
      found = false;
    }
    std::memcpy(data, buffer.bytes.data(), take);
    buffer.bytes.erase(buffer.bytes.begin(), buffer.bytes.begin() + static_cast<long>(take));
    *received = static_cast<uint32_t>(take);
    const bool messageEnded = buffer.bytes.empty() && buffer.endsMessage;
    if (buffer.bytes.empty()) buffer.endsMessage = false;
    if (found) return VI_SUCCESS_TERM_CHAR;
    if (messageEnded && !options.suppressEnd) return VI_SUCCESS;
    if (*received == count) return VI_SUCCESS_MAX_CNT;
    // Otherwise the message goes on in the device (or its end is suppressed): read on.
  }

  while (*received < count) {
    uint8_t* at = data + *received;
    uint32_t got = 0;
    ViStatus status = session.Read(at, count - *received, &got, Remaining(deadline, timeoutMs));
    if (got > count - *received) got = count - *received;
    bool found = false;
    const size_t keep = TermCharSpan(options, at, got, &found);
    if (found && keep < got) {
      // Past the termination character: kept for the next read.
      buffer.bytes.assign(at + keep, at + got);
      buffer.endsMessage = status == VI_SUCCESS;
    }
    *received += static_cast<uint32_t>(keep);
    if (status < VI_SUCCESS) return status;
    if (found) return VI_SUCCESS_TERM_CHAR;
    if (status == VI_SUCCESS && !options.suppressEnd) return VI_SUCCESS;
    if (got == 0 && Remaining(deadline, timeoutMs) == 0) return VI_ERROR_TMO;
  }
  return VI_SUCCESS_MAX_CNT;
}

}  // namespace fg::visa
