// One simulated instrument, independent of any transport: the bytes of USBTMC messages go in,
// timed actions come out (reply messages, leaving the bus, joining it under a product id).
//
// The engine never reads a clock. Every input carries the caller's time in milliseconds, and
// every action carries the time at which it is due; the caller (SimInstrument on the simulated
// bus, a test, the fuzzer) executes the actions when they are due. Replies leave in the order
// they were made, each no earlier than the one before, so a slow flash operation delays whatever
// is answered after it.
//
// Normal firmware: text commands, one per line; "*IDN?", "DISP:TEXT \"...\"", "DISP:TEXT:CLEAR"
// and "SYST:UPDATE <model>" are understood, everything else is ignored. Writer firmware: binary
// command frames, each a message of its own, with payloads in the messages that follow; "*IDN?"
// as text; anything malformed or out of order is answered "NG".
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sim/fault_plan.h"
#include "sim/flash_store.h"
#include "sim/sim_family.h"

namespace fg::sim {

enum class FirmwareMode : uint8_t { kNormal, kWriter };

struct SimTiming {
  uint32_t eraseMsPerBlock = 300;
  uint32_t programMsPerBlock = 500;
  uint32_t restartDelayMs = 1500;  // from leaving the bus to joining it again
  int64_t autoRestartMs = -1;      // writer mode: back to normal firmware this long after the
                                   // last session closed; negative: never
};

// No waiting at all: flash operations and restarts complete at once.
SimTiming FastTiming();

using TraceFn = std::function<void(std::string_view line)>;

struct InstrumentSetup {
  const SimFamily* family = nullptr;
  std::string serial;        // empty: the family's default serial
  SimTiming timing;
  FaultPlan faults;
  TraceFn trace;             // one line per command received and per state change; may be empty
};

enum class ActionKind : uint8_t {
  kReply,  // queue `bytes` as one reply message
  kLeave,  // leave the bus: every session ends
  kJoin,   // join the bus under `productId` with the instrument's serial
};

struct Action {
  ActionKind kind;
  uint64_t dueMs;
  std::string bytes;
  uint16_t productId = 0;
};

class InstrumentEngine {
 public:
  // Powers up: the first action joins the bus at `nowMs`.
  InstrumentEngine(InstrumentSetup setup, FlashStore flash, uint64_t nowMs);

  // Transport events. OnSessionOpened returns false to refuse the session.
  bool OnSessionOpened(uint64_t nowMs);
  void OnSessionClosed(uint64_t nowMs);
  // One bulk-out transfer; endOfMessage marks the last transfer of a message.
  void OnMessageOut(uint64_t nowMs, const uint8_t* data, size_t size, bool endOfMessage);
  // The host cleared the device: partial input is dropped and the writer's sequence restarts.
  void OnClear(uint64_t nowMs);
  // A USB488 TRIGGER: counted and traced; the instruments start nothing on it.
  void OnTrigger(uint64_t nowMs);

  // Removes the next action that is due at nowMs and moves the engine's state along with it
  // (joining the bus completes a restart). With allowBusChanges false only replies are taken.
  bool TakeDue(uint64_t nowMs, bool allowBusChanges, Action* action);
  // When the next action falls due; false when none is pending.
  bool NextDue(uint64_t* dueMs) const;

  // Controls of the device library.
  void PowerCycle(uint64_t nowMs);  // leave the bus, come back in the normal firmware
  void SetFaults(FaultPlan faults) { setup_.faults = std::move(faults); }
  const FaultPlan& Faults() const { return setup_.faults; }

  // Observations.
  FirmwareMode Mode() const { return mode_; }
  bool OnBus() const { return onBus_; }
  uint32_t OpenSessions() const { return sessions_; }
  uint32_t Triggers() const { return triggers_; }
  const std::string& DisplayText() const { return display_; }
  const FlashStore& Flash() const { return flash_; }
  const std::string& Serial() const { return setup_.serial; }
  const SimFamily& Family() const { return *setup_.family; }
  uint16_t CurrentProductId() const;
  std::string IdentityReply() const;  // the reply to "*IDN?" now, faults included

 private:
  enum class Step : uint8_t {
    kIdle,           // waiting for CmdReset
    kReset,          // after CmdReset: CmdData (programming) or CmdBlockId (erasing)
    kData,           // after CmdData: CmdDataEnd
    kDataEnd,        // after CmdDataEnd: CmdBlockId
    kProgramBlock,   // after CmdBlockId: CmdSize
    kProgramSize,    // after CmdSize: CmdChecksum
    kChecksum,       // after CmdChecksum: CmdSetupEnd
    kProgramReady,   // after CmdSetupEnd: CmdProgram
    kEraseBlock,     // after CmdBlockId: CmdSize
    kEraseSize,      // after CmdSize: CmdSetupEnd
    kEraseReady,     // after CmdSetupEnd: CmdErase
  };
  enum class EventKind : uint8_t { kReply, kLeave, kJoin, kAutoRestart };
  struct Event {
    EventKind kind;
    std::string bytes;
    FirmwareMode joinMode = FirmwareMode::kNormal;
  };
  struct Frame {
    uint8_t command = 0;
    SimCommand name = SimCommand::kReset;
    uint32_t payloadLength = 0;
    uint32_t arrival = 0;
  };

  void Trace(const std::string& line) const;
  void Schedule(uint64_t dueMs, Event event);
  void Reply(uint64_t nowMs, uint32_t delayMs, std::string text);
  void CancelReplies();
  void CancelAutoRestart();
  void LeaveBus(uint64_t nowMs, const char* why);
  void ResetInput();

  void HandleMessage(uint64_t nowMs, const std::vector<uint8_t>& message);
  void HandleText(uint64_t nowMs, std::string_view line);
  void HandleFrame(uint64_t nowMs, const uint8_t* bytes);
  void ConsumePayload(uint64_t nowMs, const uint8_t* data, size_t size, bool endOfMessage);
  void Execute(uint64_t nowMs);
  void Refuse(uint64_t nowMs, const std::string& why);

  void DoReset(uint64_t nowMs);
  void DoData(uint64_t nowMs);
  void DoBlockId(uint64_t nowMs);
  // The partition whose block range holds `blockId`, else row 0 (the any-block-id fault).
  uint32_t PartitionHoldingBlock(uint32_t blockId) const;
  void DoSize(uint64_t nowMs);
  void DoChecksum(uint64_t nowMs);
  void DoSetupEnd(uint64_t nowMs);
  void DoProgram(uint64_t nowMs);
  void DoErase(uint64_t nowMs);

  // Sends the final reply of a command, after the reply faults of its arrival.
  void Answer(uint64_t nowMs, SimCommand command, uint32_t arrival, const std::string& normal);
  uint32_t CountArrival(SimCommand command);
  void RecordInstalledVersion(uint32_t row);

  InstrumentSetup setup_;
  FlashStore flash_;
  FirmwareMode mode_ = FirmwareMode::kNormal;
  bool onBus_ = false;
  uint32_t sessions_ = 0;
  uint32_t triggers_ = 0;
  std::string display_;
  uint32_t arrivals_[kSimCommandCount] = {};

  // Pending actions by due time, then by order of scheduling.
  std::map<std::pair<uint64_t, uint64_t>, Event> events_;
  uint64_t sequence_ = 0;
  uint64_t replyCursorMs_ = 0;

  // Input: the message being collected (frame or text), or the payload of a frame.
  std::vector<uint8_t> message_;
  bool messageOverlong_ = false;
  bool collecting_ = false;     // the following bytes belong to the frame's payload
  bool keepPayload_ = false;    // false: consumed and dropped (a refused or dropped frame)
  bool payloadOverrun_ = false; // the payload's last message held more bytes than announced
  uint64_t payloadReceived_ = 0;
  std::vector<uint8_t> payload_;
  Frame frame_;

  // The writer's sequence.
  Step step_ = Step::kIdle;
  std::vector<uint8_t> data_;       // the data of CmdData: the record, less 8 bytes for block 0
  uint32_t blockId_ = 0;
  uint32_t partition_ = kNoPartition;
  uint32_t eraseBytes_ = 0;
};

// The sum, modulo 2^32, of the big-endian words of a record from its offset 8 up to its trailer,
// as the host counts them: W - 2 words with W = (L - 6) / 4 for a record of L bytes. `data` is
// what the host sent: the whole record, or for block id 0 the record without its first 8 bytes.
uint32_t RecordChecksum(const uint8_t* data, size_t dataLength, uint32_t blockId);

}  // namespace fg::sim
