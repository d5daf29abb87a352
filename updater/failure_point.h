// Where an Update stopped, as the driver saw it when it stopped: the programmer's exchange, the
// instrument's latest answer in it (or how the link failed), and the rule being programmed. A
// description of the failure is made from this alone (sequence/failure_report.h).
#pragma once
#include <cstddef>
#include <cstdint>

namespace fg {

// How the link failed, from the VISA status of the failed call.
enum class LinkFault : int32_t {
  kNone = 0,        // no slot call failed: the instrument answered
  kTimeout = 1,     // nothing came within the I/O timeout
  kConnectionLost = 2,  // the instrument left the bus (unplugged, switched off, restarted)
  kOther = 3,       // any other failure of the link
};

// The bytes of the instrument's answer kept for a description; a longer one is cut.
inline constexpr size_t kFailureReplyCapacity = 96;

struct FailurePoint {
  bool noted;             // the driver noted a failure of the programmer in this Update
  int32_t rule;           // index of the rule being programmed, -1 outside the transfer
  int32_t exchange;       // the programmer's exchange (ProgrammerExchange), 0 none
  uint32_t replies;       // replies read in that exchange
  int32_t failedSlot;     // LinkSlotFailure of the call that ended it (0: none failed)
  LinkFault linkFault;
  int32_t linkStatus;     // the VISA status of the latest read or write
  uint32_t replyLength;   // length of the latest reply as received (it may be longer than kept)
  char reply[kFailureReplyCapacity + 1];  // its first bytes, NUL-terminated; raw
};

// The link fault a VISA status stands for; kNone for a success.
LinkFault LinkFaultOfStatus(int32_t visaStatus);

}  // namespace fg
