// Drives an InstrumentEngine directly, as the host would over the bus, on a clock the test owns:
// messages go in, and every action that falls due is collected with its time.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "firmware/image_record.h"
#include "programmer/command_frame.h"
#include "sim/instrument_engine.h"

namespace fg::sim::testing {

inline std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// A frame as it goes over the wire, laid out here rather than by the host's encoder: lead 0xAB,
// the count of the bytes after the length field (command, six parameters, payload) most
// significant byte first, the command, the parameters (01 to 06 unless given).
inline std::vector<uint8_t> FrameBytes(uint8_t command, uint32_t payloadLength,
                                       const uint8_t* parameters = nullptr) {
  const uint32_t length = payloadLength + 7;
  const uint8_t defaults[6] = {1, 2, 3, 4, 5, 6};
  const uint8_t* chosen = parameters != nullptr ? parameters : defaults;
  // Filled in place: mingw's g++ 12 warns falsely about a range insert here.
  std::vector<uint8_t> frame(12);
  frame[0] = 0xAB;
  frame[1] = static_cast<uint8_t>(length >> 24);
  frame[2] = static_cast<uint8_t>(length >> 16);
  frame[3] = static_cast<uint8_t>(length >> 8);
  frame[4] = static_cast<uint8_t>(length);
  frame[5] = command;
  std::copy(chosen, chosen + 6, frame.begin() + 6);
  return frame;
}

// The 12-byte field of CmdSize: the count in decimal, a NUL, filler.
inline std::vector<uint8_t> SizeField(uint32_t count) {
  std::vector<uint8_t> field(kSizeFieldLength, 'x');
  const std::string digits = std::to_string(count);
  std::copy(digits.begin(), digits.end(), field.begin());
  field[digits.size()] = 0;
  return field;
}

class EngineHarness {
 public:
  explicit EngineHarness(const SimFamily& family, FaultPlan faults = {},
                         SimTiming timing = FastTiming())
      : engine_(Setup(family, std::move(faults), timing), FlashStore(family), 0) {
    Advance(0);
    engine_.OnSessionOpened(now_);
  }

  InstrumentEngine& engine() { return engine_; }
  uint64_t now() const { return now_; }

  // One whole message (one transfer with end of message).
  void Send(const std::vector<uint8_t>& message) {
    engine_.OnMessageOut(now_, message.data(), message.size(), true);
  }
  void SendText(const std::string& text) { Send(Bytes(text)); }
  // Data in pieces of at most 4096 bytes, each its own message, as the host sends it.
  void SendPieces(const uint8_t* data, size_t size) {
    for (size_t sent = 0; sent < size; sent += kDataPieceSize) {
      const size_t piece = std::min<size_t>(kDataPieceSize, size - sent);
      engine_.OnMessageOut(now_, data + sent, piece, true);
    }
  }

  // Runs the clock until nothing is pending; returns the replies in order. Bus changes are
  // collected in busActions().
  std::vector<std::string> Drain() {
    std::vector<std::string> replies;
    replyTimes_.clear();
    uint64_t due = 0;
    while (engine_.NextDue(&due)) {
      Advance(std::max(due, now_));
      for (const Action& reply : taken_) replies.push_back(reply.bytes);
      taken_.clear();
    }
    return replies;
  }
  // Sends a message and returns what it is answered with, the clock run to the end.
  std::vector<std::string> Exchange(const std::vector<uint8_t>& message) {
    Send(message);
    return Drain();
  }
  std::string Ask(const std::string& text) {
    const std::vector<std::string> replies = Exchange(Bytes(text));
    return replies.size() == 1 ? replies[0] : "<" + std::to_string(replies.size()) + " replies>";
  }

  // When each reply of the last Drain fell due, in ms on the test's clock.
  const std::vector<uint64_t>& replyTimes() const { return replyTimes_; }
  const std::vector<Action>& busActions() const { return busActions_; }

  void Advance(uint64_t to) {
    now_ = to;
    Action action;
    while (engine_.TakeDue(now_, true, &action)) {
      if (action.kind == ActionKind::kReply) {
        replyTimes_.push_back(action.dueMs);
        taken_.push_back(action);
      } else {
        busActions_.push_back(action);
      }
    }
  }

 private:
  static InstrumentSetup Setup(const SimFamily& family, FaultPlan faults, SimTiming timing) {
    InstrumentSetup setup;
    setup.family = &family;
    setup.faults = std::move(faults);
    setup.timing = timing;
    return setup;
  }

  InstrumentEngine engine_;
  uint64_t now_ = 0;
  std::vector<Action> taken_;
  std::vector<uint64_t> replyTimes_;
  std::vector<Action> busActions_;
};

// Sends the host's whole programming sequence for one record and returns every reply, one
// entry per step: reset, data, data end, block id, size, checksum, setup end, then the
// replies to CmdProgram. Stops after the first step that is not acknowledged (the checksum step
// excepted, which answers a number).
struct ProgramReplies {
  std::vector<std::string> steps;     // one reply per setup step
  std::vector<std::string> program;   // the CmdProgram stream
};

inline ProgramReplies RunProgramSequence(EngineHarness& host, const std::vector<uint8_t>& record) {
  ProgramReplies out;
  const uint8_t blockId = record[record.size() - 2];
  const size_t skip = blockId == 0 ? 8 : 0;
  const uint32_t n = static_cast<uint32_t>(record.size() - skip);
  // An acknowledgement, as the host reads one: its first two characters, upper-cased, are "OK".
  auto acknowledges = [](const std::string& reply) {
    return reply.size() >= 2 && (reply[0] & ~0x20) == 'O' && (reply[1] & ~0x20) == 'K';
  };
  auto step = [&](const std::vector<std::string>& replies, bool numeric = false) {
    out.steps.push_back(replies.size() == 1 ? replies[0] : "<" + std::to_string(replies.size()) + ">");
    return replies.size() == 1 && (numeric || acknowledges(replies[0]));
  };
  if (!step(host.Exchange(FrameBytes(CmdReset, 0, kResetFrameParameters)))) return out;
  host.Send(FrameBytes(CmdData, n));
  host.SendPieces(record.data() + skip, n);
  if (!step(host.Drain())) return out;
  if (!step(host.Exchange(FrameBytes(CmdDataEnd, 0)))) return out;
  host.Send(FrameBytes(CmdBlockId, 1));
  if (!step(host.Exchange({blockId}))) return out;
  host.Send(FrameBytes(CmdSize, kSizeFieldLength));
  if (!step(host.Exchange(SizeField(n - 6)))) return out;
  if (!step(host.Exchange(FrameBytes(CmdChecksum, 0)), true)) return out;
  if (!step(host.Exchange(FrameBytes(CmdSetupEnd, 0)))) return out;
  out.program = host.Exchange(FrameBytes(CmdProgram, 0));
  return out;
}

}  // namespace fg::sim::testing
