// viRead over an InstrSession when a termination character or a suppressed END shapes what one
// read returns: bytes the session delivered past the termination character wait here for the
// next read, so that no byte is lost or read twice.
#pragma once
#include <cstdint>
#include <vector>

#include "visa/provider.h"

namespace fg::visa {

struct ReadOptions {
  bool termCharEnabled = false;  // VI_ATTR_TERMCHAR_EN
  uint8_t termChar = '\n';       // VI_ATTR_TERMCHAR
  bool suppressEnd = false;      // VI_ATTR_SUPPRESS_END_EN: the message's end does not end a read
};

// What a session delivered but no read returned yet.
struct ReadBuffer {
  std::vector<uint8_t> bytes;
  bool endsMessage = false;  // the message ended with the last of `bytes`
  void Discard() {
    bytes.clear();
    endsMessage = false;
  }
};

// Reads at most `count` bytes: VI_SUCCESS_TERM_CHAR when the termination character ended the
// read (it is the last byte returned), VI_SUCCESS at the message's end (unless suppressed),
// VI_SUCCESS_MAX_CNT when `count` filled first, or the session's error. *received is set in every
// case. `timeoutMs` bounds the whole read, however many session reads it takes.
ViStatus TerminatedRead(InstrSession& session, ReadBuffer& buffer, const ReadOptions& options,
                        uint8_t* data, uint32_t count, uint32_t* received, uint32_t timeoutMs);

}  // namespace fg::visa
