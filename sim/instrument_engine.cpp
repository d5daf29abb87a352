#include "sim/instrument_engine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "firmware/image_record.h"
#include "programmer/command_frame.h"
#include "util/endian.h"

namespace fg::sim {

namespace {

// A text command or a frame is collected whole; anything longer is refused or ignored.
constexpr size_t kMaxMessageBytes = 4096;

constexpr uint32_t kVariablePayload = 0xFFFFFFFFu;  // CmdData: 1 byte up to a partition

struct FrameCommand {
  uint8_t code;
  SimCommand name;
  uint32_t payload;  // bytes that must follow the frame
};
constexpr FrameCommand kFrameCommands[] = {
    {CmdReset, SimCommand::kReset, 0},
    {CmdData, SimCommand::kData, kVariablePayload},
    {CmdDataEnd, SimCommand::kDataEnd, 0},
    {CmdBlockId, SimCommand::kBlockId, 1},
    {CmdSize, SimCommand::kSize, kSizeFieldLength},
    {CmdChecksum, SimCommand::kChecksum, 0},
    {CmdSetupEnd, SimCommand::kSetupEnd, 0},
    {CmdProgram, SimCommand::kProgram, 0},
    {CmdErase, SimCommand::kErase, 0},
};

const FrameCommand* FindFrameCommand(uint8_t code) {
  for (const FrameCommand& command : kFrameCommands) {
    if (command.code == code) return &command;
  }
  return nullptr;
}

std::string ToUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// Text for a trace line: printable characters as they are, others as \xNN, at most 80 of them.
std::string Printable(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < text.size() && i < 80; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  if (text.size() > 80) out += "...";
  return out;
}

// The argument of DISP:TEXT: a string in double or single quotes, a doubled quote standing for
// one; an unquoted argument is taken as it is.
std::string QuotedArgument(std::string_view argument) {
  argument = Trim(argument);
  if (argument.empty() || (argument.front() != '"' && argument.front() != '\'')) {
    return std::string(argument);
  }
  const char quote = argument.front();
  std::string text;
  for (size_t i = 1; i < argument.size(); ++i) {
    if (argument[i] != quote) {
      text += argument[i];
    } else if (i + 1 < argument.size() && argument[i + 1] == quote) {
      text += quote;
      ++i;
    } else {
      break;
    }
  }
  return text;
}

// The 12-byte size field: decimal digits, then a NUL; what follows the NUL is not looked at.
bool ParseSizeField(const std::vector<uint8_t>& field, uint32_t* value) {
  uint64_t number = 0;
  size_t digits = 0;
  for (; digits < field.size() && field[digits] >= '0' && field[digits] <= '9'; ++digits) {
    number = number * 10 + (field[digits] - '0');
    if (number > 0xFFFFFFFFu) return false;
  }
  if (digits == 0 || digits >= field.size() || field[digits] != 0) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

std::string Line(std::string text) { return text + "\n"; }

std::string HexId(uint16_t id) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", id);
  return text;
}

// WAV:DATA? takes 1 to kMaxWaveformSamples decimal samples.
constexpr uint32_t kMaxWaveformSamples = 1u << 20;

bool ParseSampleCount(std::string_view text, uint32_t* count) {
  if (text.empty() || text.size() > 7) return false;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value == 0 || value > kMaxWaveformSamples) return false;
  *count = value;
  return true;
}

// "#<digits of n><n>" + n bytes + "\n"; sample i is (i * 7) mod 65536.
std::string WaveformBlock(uint32_t count) {
  const std::string length = std::to_string(count * 2u);
  std::string block = "#" + std::to_string(length.size()) + length;
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t sample = static_cast<uint16_t>(i * 7u);
    block.push_back(static_cast<char>(sample & 0xFF));
    block.push_back(static_cast<char>(sample >> 8));
  }
  block.push_back('\n');
  return block;
}

}  // namespace

SimTiming FastTiming() {
  SimTiming timing;
  timing.eraseMsPerBlock = 0;
  timing.programMsPerBlock = 0;
  timing.restartDelayMs = 0;
  return timing;
}

uint32_t RecordChecksum(const uint8_t* data, size_t dataLength, uint32_t blockId) {
  const size_t skipped = blockId == 0 ? 8 : 0;
  const size_t recordLength = dataLength + skipped;
  if (recordLength < 6) return 0;
  const size_t words = (recordLength - 6) / 4;
  if (words < 2) return 0;
  const uint8_t* first = data + (kRecordStoredLengthOffset - skipped);
  uint32_t sum = 0;
  for (size_t i = 0; i < words - 2; ++i) sum += LoadBe32(first + 4 * i);
  return sum;
}

InstrumentEngine::InstrumentEngine(InstrumentSetup setup, FlashStore flash, uint64_t nowMs)
    : setup_(std::move(setup)), flash_(std::move(flash)) {
  if (setup_.serial.empty()) setup_.serial = setup_.family->defaultSerial;
  const FirmwareMode mode =
      setup_.faults.startInWriter ? FirmwareMode::kWriter : FirmwareMode::kNormal;
  mode_ = mode;
  Schedule(nowMs, Event{EventKind::kJoin, {}, mode});
}

uint16_t InstrumentEngine::CurrentProductId() const {
  return mode_ == FirmwareMode::kWriter ? kWriterProductId : setup_.family->normalProductId;
}

std::string InstrumentEngine::IdentityReply() const {
  const std::string first = mode_ == FirmwareMode::kWriter ? "WRITER" : "VANDRELL";
  // Some writers say nothing of the model they run on.
  const std::string model =
      mode_ == FirmwareMode::kWriter && setup_.faults.writerNamesNoModel ? "" : setup_.family->model;
  switch (setup_.faults.identity) {
    case IdentityFault::kNoVersions:
      return first + "," + model + "," + setup_.serial + "\n";
    case IdentityFault::kGarbage:
      return first + "#?!\x01\x7F~~%%\n";
    case IdentityFault::kNone:
      break;
  }
  return first + "," + model + "," + setup_.serial + "," + flash_.VersionRun() + "\n";
}

void InstrumentEngine::Trace(const std::string& line) const {
  if (setup_.trace) setup_.trace(setup_.serial + " " + line);
}

void InstrumentEngine::Schedule(uint64_t dueMs, Event event) {
  events_.emplace(std::make_pair(dueMs, sequence_++), std::move(event));
}

void InstrumentEngine::Reply(uint64_t nowMs, uint32_t delayMs, std::string text) {
  const uint64_t due = std::max(nowMs, replyCursorMs_) + delayMs;
  replyCursorMs_ = due;
  Schedule(due, Event{EventKind::kReply, std::move(text)});
}

void InstrumentEngine::CancelReplies() {
  std::erase_if(events_, [](const auto& entry) { return entry.second.kind == EventKind::kReply; });
  replyCursorMs_ = 0;
}

void InstrumentEngine::CancelAutoRestart() {
  std::erase_if(events_,
                [](const auto& entry) { return entry.second.kind == EventKind::kAutoRestart; });
}

void InstrumentEngine::ResetInput() {
  message_.clear();
  messageOverlong_ = false;
  collecting_ = false;
  keepPayload_ = false;
  payloadOverrun_ = false;
  payloadReceived_ = 0;
  payload_.clear();
}

void InstrumentEngine::LeaveBus(uint64_t nowMs, const char* why) {
  Trace(std::string("-- leaving the bus: ") + why);
  CancelReplies();
  CancelAutoRestart();
  onBus_ = false;
  sessions_ = 0;
  ResetInput();
  step_ = Step::kIdle;
  data_.clear();
  Schedule(nowMs, Event{EventKind::kLeave, {}});
}

bool InstrumentEngine::TakeDue(uint64_t nowMs, bool allowBusChanges, Action* action) {
  while (!events_.empty()) {
    auto it = events_.begin();
    if (it->first.first > nowMs) return false;
    if (it->second.kind != EventKind::kReply && !allowBusChanges) return false;
    const uint64_t due = it->first.first;
    Event event = std::move(it->second);
    events_.erase(it);
    switch (event.kind) {
      case EventKind::kReply:
        *action = Action{ActionKind::kReply, due, std::move(event.bytes)};
        return true;
      case EventKind::kLeave:
        *action = Action{ActionKind::kLeave, due, {}};
        return true;
      case EventKind::kJoin:
        mode_ = event.joinMode;
        onBus_ = true;
        sessions_ = 0;
        display_.clear();
        ResetInput();
        step_ = Step::kIdle;
        Trace(std::string("-- on the bus in the ") +
              (mode_ == FirmwareMode::kWriter ? "writer" : "normal") + " firmware, product " +
              HexId(CurrentProductId()));
        *action = Action{ActionKind::kJoin, due, {}, CurrentProductId()};
        return true;
      case EventKind::kAutoRestart:
        Trace("-- no session for a while: back to the normal firmware");
        PowerCycle(due);
        continue;
    }
  }
  return false;
}

bool InstrumentEngine::NextDue(uint64_t* dueMs) const {
  if (events_.empty()) return false;
  *dueMs = events_.begin()->first.first;
  return true;
}

void InstrumentEngine::PowerCycle(uint64_t nowMs) {
  Trace("-- power cycle");
  // Whatever was pending, a leave included, is replaced by one leave and one join.
  events_.clear();
  replyCursorMs_ = 0;
  if (onBus_) {
    LeaveBus(nowMs, "power cycle");
  } else {
    Schedule(nowMs, Event{EventKind::kLeave, {}});
  }
  Schedule(nowMs + setup_.timing.restartDelayMs, Event{EventKind::kJoin, {}, FirmwareMode::kNormal});
}

bool InstrumentEngine::OnSessionOpened(uint64_t /*nowMs*/) {
  if (!onBus_) return false;
  if (setup_.faults.singleSession && sessions_ > 0) {
    Trace("-- refused a second session");
    return false;
  }
  ++sessions_;
  CancelAutoRestart();
  Trace("-- session opened (" + std::to_string(sessions_) + " open)");
  return true;
}

void InstrumentEngine::OnSessionClosed(uint64_t nowMs) {
  if (!onBus_ || sessions_ == 0) return;
  --sessions_;
  Trace("-- session closed (" + std::to_string(sessions_) + " open)");
  if (sessions_ != 0) return;
  // Nobody is left to read what was still due, and a new session starts a new sequence.
  CancelReplies();
  ResetInput();
  step_ = Step::kIdle;
  data_.clear();
  if (mode_ == FirmwareMode::kWriter && setup_.timing.autoRestartMs >= 0) {
    Schedule(nowMs + static_cast<uint64_t>(setup_.timing.autoRestartMs),
             Event{EventKind::kAutoRestart, {}});
  }
}

void InstrumentEngine::OnClear(uint64_t /*nowMs*/) {
  if (!onBus_) return;
  Trace("-- device clear");
  CancelReplies();
  ResetInput();
  step_ = Step::kIdle;
  data_.clear();
}

void InstrumentEngine::OnTrigger(uint64_t /*nowMs*/) {
  if (!onBus_) return;
  ++triggers_;
  Trace("-- trigger " + std::to_string(triggers_));
}

void InstrumentEngine::OnMessageOut(uint64_t nowMs, const uint8_t* data, size_t size,
                                    bool endOfMessage) {
  if (!onBus_) return;
  if (collecting_) {
    ConsumePayload(nowMs, data, size, endOfMessage);
    return;
  }
  const size_t room = kMaxMessageBytes - message_.size();
  if (size > room) messageOverlong_ = true;
  message_.insert(message_.end(), data, data + std::min(size, room));
  if (!endOfMessage) return;
  std::vector<uint8_t> message = std::move(message_);
  const bool overlong = messageOverlong_;
  message_.clear();
  messageOverlong_ = false;
  if (overlong) {
    if (mode_ == FirmwareMode::kWriter && message[0] == kFrameLead) {
      Refuse(nowMs, "a frame longer than 12 bytes");
    } else {
      Trace("<- (a text longer than " + std::to_string(kMaxMessageBytes) + " bytes, ignored)");
    }
    return;
  }
  HandleMessage(nowMs, message);
}

void InstrumentEngine::HandleMessage(uint64_t nowMs, const std::vector<uint8_t>& message) {
  if (message.empty()) return;
  if (mode_ == FirmwareMode::kWriter && message[0] == kFrameLead) {
    if (message.size() != sizeof(CommandFrame)) {
      Refuse(nowMs, "a frame of " + std::to_string(message.size()) + " bytes");
      return;
    }
    HandleFrame(nowMs, message.data());
    return;
  }
  std::string_view text(reinterpret_cast<const char*>(message.data()), message.size());
  while (!text.empty() && onBus_) {
    const size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    if (!line.empty()) HandleText(nowMs, line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

void InstrumentEngine::HandleText(uint64_t nowMs, std::string_view line) {
  Trace("<- " + Printable(line));
  const size_t blank = line.find_first_of(" \t");
  const std::string header = ToUpper(line.substr(0, blank));
  const std::string_view argument =
      blank == std::string_view::npos ? std::string_view() : Trim(line.substr(blank));

  if (header == "*IDN?" && argument.empty()) {
    const uint32_t arrival = CountArrival(SimCommand::kIdn);
    if (FindFault(setup_.faults, FaultKind::kUnplug, SimCommand::kIdn, arrival)) {
      LeaveBus(nowMs, "unplugged");
      return;
    }
    if (FindFault(setup_.faults, FaultKind::kNoReply, SimCommand::kIdn, arrival)) {
      Trace("-- (no reply)");
      return;
    }
    Answer(nowMs, SimCommand::kIdn, arrival, IdentityReply());
    return;
  }
  if (mode_ == FirmwareMode::kWriter) {
    Trace("-- (the writer firmware ignores text commands)");
    return;
  }
  if (header == "DISP:TEXT:CLEAR" && argument.empty()) {
    display_.clear();
    Trace("-- display cleared");
    return;
  }
  if (header == "DISP:TEXT" && !argument.empty()) {
    display_ = QuotedArgument(argument).substr(0, 256);
    Trace("-- display shows \"" + Printable(display_) + "\"");
    return;
  }
  if (header == "SYST:UPDATE" && argument == setup_.family->model) {
    if (setup_.faults.ignoreUpdate) {
      Trace("-- (update command ignored)");
      return;
    }
    const uint32_t arrival = CountArrival(SimCommand::kUpdate);
    if (FindFault(setup_.faults, FaultKind::kUnplug, SimCommand::kUpdate, arrival)) {
      LeaveBus(nowMs, "unplugged");
      return;
    }
    if (FindFault(setup_.faults, FaultKind::kNoReply, SimCommand::kUpdate, arrival)) {
      Trace("-- (update command dropped)");
      return;
    }
    LeaveBus(nowMs, "restarting into the writer firmware");
    if (setup_.faults.neverReturn) {
      Trace("-- (will not come back)");
      return;
    }
    const uint32_t delay =
        setup_.faults.returnLate ? kLateReturnDelayMs : setup_.timing.restartDelayMs;
    Schedule(nowMs + delay, Event{EventKind::kJoin, {}, FirmwareMode::kWriter});
    return;
  }
  if (header == "WAV:DATA?") {
    // A waveform read-back for clients of binary block transfers: `count` 16-bit samples of
    // a ramp, little-endian, as an IEEE 488.2 definite-length block.
    uint32_t count = 0;
    if (!ParseSampleCount(argument, &count)) {
      Trace("-- (bad sample count)");
      return;
    }
    Trace("-- waveform data, " + std::to_string(count) + " samples");
    Reply(nowMs, 0, WaveformBlock(count));
    return;
  }
  Trace("-- (ignored)");
}

void InstrumentEngine::Answer(uint64_t nowMs, SimCommand command, uint32_t arrival,
                              const std::string& normal) {
  std::string reply = normal;
  if (const CommandFault* fault =
          FindFault(setup_.faults, FaultKind::kReplyInstead, command, arrival)) {
    reply = Line(fault->text);
  }
  if (FindFault(setup_.faults, FaultKind::kLongReply, command, arrival)) {
    if (!reply.empty() && reply.back() == '\n') reply.pop_back();
    reply.resize(kLongReplySize - 1, ' ');
    reply += '\n';
  }
  Reply(nowMs, 0, std::move(reply));
}

uint32_t InstrumentEngine::CountArrival(SimCommand command) {
  uint32_t& count = arrivals_[static_cast<uint32_t>(command)];
  if (count != 0xFFFFFFFFu) ++count;
  return count;
}

void InstrumentEngine::Refuse(uint64_t nowMs, const std::string& why) {
  Trace("-- NG: " + why);
  Reply(nowMs, 0, "NG\n");
  step_ = Step::kIdle;
  data_.clear();
}

void InstrumentEngine::HandleFrame(uint64_t nowMs, const uint8_t* bytes) {
  CommandFrame frame;
  std::memcpy(&frame, bytes, sizeof frame);
  const uint32_t length = LoadBe32(frame.length);
  if (length < kFrameLengthBias) {
    Trace("<- command " + std::to_string(frame.command) + " with length field " +
          std::to_string(length));
    Refuse(nowMs, "a length field below 7");
    return;
  }
  const uint32_t payload = length - kFrameLengthBias;
  // Whatever happens to the frame, the payload it announces is consumed, so that the following
  // frames are read as frames again.
  frame_ = Frame{frame.command, SimCommand::kReset, payload, 0};
  payload_.clear();
  payloadReceived_ = 0;
  payloadOverrun_ = false;
  collecting_ = payload != 0;
  keepPayload_ = false;

  const FrameCommand* command = FindFrameCommand(frame.command);
  if (command == nullptr) {
    Trace("<- unknown command " + std::to_string(frame.command) + ", payload " +
          std::to_string(payload));
    Refuse(nowMs, "unknown command");
    return;
  }
  frame_.name = command->name;
  frame_.arrival = CountArrival(command->name);
  Trace(std::string("<- ") + SimCommandName(command->name) +
        (payload != 0 ? ", payload " + std::to_string(payload) : std::string()));

  if (FindFault(setup_.faults, FaultKind::kUnplug, command->name, frame_.arrival)) {
    LeaveBus(nowMs, "unplugged");
    return;
  }
  if (FindFault(setup_.faults, FaultKind::kNoReply, command->name, frame_.arrival)) {
    Trace("-- (no reply)");
    return;
  }
  const uint8_t* expectedParameters =
      command->code == CmdReset ? kResetFrameParameters : kDefaultFrameParameters;
  if (std::memcmp(frame.parameters, expectedParameters, sizeof frame.parameters) != 0) {
    Refuse(nowMs, command->code == CmdReset ? "no \"RESET!\" in the reset frame"
                                            : "parameter bytes other than 01..06");
    return;
  }
  const bool payloadFits =
      command->payload == kVariablePayload
          ? (payload != 0 && payload <= LargestProgrammableCapacity(*setup_.family))
          : payload == command->payload;
  if (!payloadFits) {
    Refuse(nowMs, "a payload of " + std::to_string(payload) + " bytes");
    return;
  }
  bool inOrder = false;
  switch (command->name) {
    case SimCommand::kReset: inOrder = true; break;
    case SimCommand::kData: inOrder = step_ == Step::kReset; break;
    case SimCommand::kDataEnd: inOrder = step_ == Step::kData; break;
    case SimCommand::kBlockId: inOrder = step_ == Step::kReset || step_ == Step::kDataEnd; break;
    case SimCommand::kSize:
      inOrder = step_ == Step::kProgramBlock || step_ == Step::kEraseBlock;
      break;
    case SimCommand::kChecksum: inOrder = step_ == Step::kProgramSize; break;
    case SimCommand::kSetupEnd: inOrder = step_ == Step::kChecksum || step_ == Step::kEraseSize; break;
    case SimCommand::kProgram: inOrder = step_ == Step::kProgramReady; break;
    case SimCommand::kErase: inOrder = step_ == Step::kEraseReady; break;
    default: break;
  }
  if (!inOrder) {
    Refuse(nowMs, std::string(SimCommandName(command->name)) + " out of order");
    return;
  }
  if (payload == 0) {
    Execute(nowMs);
    return;
  }
  keepPayload_ = true;
}

void InstrumentEngine::ConsumePayload(uint64_t nowMs, const uint8_t* data, size_t size,
                                      bool endOfMessage) {
  const uint64_t remaining = frame_.payloadLength - payloadReceived_;
  const size_t take = static_cast<size_t>(std::min<uint64_t>(size, remaining));
  if (keepPayload_) payload_.insert(payload_.end(), data, data + take);
  payloadReceived_ += take;
  if (size > take) payloadOverrun_ = true;
  const uint64_t unplugAfter = setup_.faults.unplugAfterDataBytes;
  if (keepPayload_ && frame_.name == SimCommand::kData && unplugAfter != 0 &&
      payloadReceived_ >= unplugAfter) {
    LeaveBus(nowMs, "unplugged during the data transfer");
    return;
  }
  if (!endOfMessage || payloadReceived_ < frame_.payloadLength) return;
  collecting_ = false;
  const bool keep = keepPayload_;
  keepPayload_ = false;
  if (payloadOverrun_) {
    payloadOverrun_ = false;
    payload_.clear();
    if (keep) Refuse(nowMs, "more payload than the frame announced");
    return;
  }
  if (keep) Execute(nowMs);
  payload_.clear();
}

void InstrumentEngine::Execute(uint64_t nowMs) {
  switch (frame_.name) {
    case SimCommand::kReset: DoReset(nowMs); break;
    case SimCommand::kData: DoData(nowMs); break;
    case SimCommand::kDataEnd:
      step_ = Step::kDataEnd;
      Answer(nowMs, SimCommand::kDataEnd, frame_.arrival, "OK\n");
      break;
    case SimCommand::kBlockId: DoBlockId(nowMs); break;
    case SimCommand::kSize: DoSize(nowMs); break;
    case SimCommand::kChecksum: DoChecksum(nowMs); break;
    case SimCommand::kSetupEnd: DoSetupEnd(nowMs); break;
    case SimCommand::kProgram: DoProgram(nowMs); break;
    case SimCommand::kErase: DoErase(nowMs); break;
    default: break;
  }
}

void InstrumentEngine::DoReset(uint64_t nowMs) {
  step_ = Step::kReset;
  data_.clear();
  partition_ = kNoPartition;
  Answer(nowMs, SimCommand::kReset, frame_.arrival, "OK\n");
}

void InstrumentEngine::DoData(uint64_t nowMs) {
  data_ = std::move(payload_);
  payload_.clear();
  step_ = Step::kData;
  Answer(nowMs, SimCommand::kData, frame_.arrival, "OK\n");
}

void InstrumentEngine::DoBlockId(uint64_t nowMs) {
  const uint32_t blockId = payload_[0];
  uint32_t row = FindPartitionByFirstBlock(*setup_.family, blockId);
  if (row == kNoPartition && setup_.faults.anyBlockId) row = PartitionHoldingBlock(blockId);
  if (row == kNoPartition) {
    Refuse(nowMs, "block id " + std::to_string(blockId) + " starts no partition");
    return;
  }
  const PartitionInfo& partition = setup_.family->partitions[row];
  if (step_ == Step::kDataEnd) {
    const size_t recordLength = data_.size() + (blockId == 0 ? 8 : 0);
    if (recordLength < kRecordMinimumSize) {
      Refuse(nowMs, "a record of " + std::to_string(recordLength) + " bytes");
      return;
    }
    if (data_.size() > PartitionCapacity(partition) && !setup_.faults.anyBlockId) {
      Refuse(nowMs, std::to_string(data_.size()) + " bytes do not fit the partition");
      return;
    }
    if (data_[data_.size() - 2] != blockId && !setup_.faults.anyBlockId) {
      Refuse(nowMs, "the record carries block id " + std::to_string(data_[data_.size() - 2]));
      return;
    }
    step_ = Step::kProgramBlock;
  } else {
    step_ = Step::kEraseBlock;
  }
  blockId_ = blockId;
  partition_ = row;
  Answer(nowMs, SimCommand::kBlockId, frame_.arrival, "OK\n");
}

uint32_t InstrumentEngine::PartitionHoldingBlock(uint32_t blockId) const {
  const std::span<const PartitionInfo> rows = setup_.family->partitions;
  for (uint32_t row = 0; row < rows.size(); ++row) {
    if (blockId >= rows[row].firstBlock && blockId <= rows[row].lastBlock) return row;
  }
  return 0;
}

void InstrumentEngine::DoSize(uint64_t nowMs) {
  uint32_t size = 0;
  if (!ParseSizeField(payload_, &size)) {
    Refuse(nowMs, "the size field is not a decimal count");
    return;
  }
  if (step_ == Step::kProgramBlock) {
    if (size != data_.size() - kRecordTrailerSize) {
      Refuse(nowMs, "size " + std::to_string(size) + " for " + std::to_string(data_.size()) +
                        " data bytes");
      return;
    }
    step_ = Step::kProgramSize;
  } else {
    const uint64_t capacity = PartitionCapacity(setup_.family->partitions[partition_]);
    if (size == 0 || size > capacity) {
      Refuse(nowMs, "erase size " + std::to_string(size) + " for a partition of " +
                        std::to_string(capacity) + " bytes");
      return;
    }
    eraseBytes_ = size;
    step_ = Step::kEraseSize;
  }
  Answer(nowMs, SimCommand::kSize, frame_.arrival, "OK\n");
}

void InstrumentEngine::DoChecksum(uint64_t nowMs) {
  uint32_t sum = RecordChecksum(data_.data(), data_.size(), blockId_);
  if (FindFault(setup_.faults, FaultKind::kWrongChecksum, SimCommand::kChecksum, frame_.arrival)) {
    sum += 1;
  }
  step_ = Step::kChecksum;
  Answer(nowMs, SimCommand::kChecksum, frame_.arrival, Line(std::to_string(sum)));
}

void InstrumentEngine::DoSetupEnd(uint64_t nowMs) {
  step_ = step_ == Step::kChecksum ? Step::kProgramReady : Step::kEraseReady;
  Answer(nowMs, SimCommand::kSetupEnd, frame_.arrival, "OK\n");
}

void InstrumentEngine::DoProgram(uint64_t nowMs) {
  step_ = Step::kIdle;
  const PartitionInfo& partition = setup_.family->partitions[partition_];
  const auto n = static_cast<uint32_t>(data_.size());
  const uint32_t blockSize = partition.blockSize;
  const uint32_t blocks = (n + blockSize - 1) / blockSize;
  const uint32_t replies = setup_.family->progressReplies(n, blockSize);
  const SimTiming& timing = setup_.timing;
  Trace("-- programming " + std::string(partition.name, strnlen(partition.name, kPartitionNameSize)) +
        ": " + std::to_string(n) + " bytes, " + std::to_string(blocks) + " blocks, " +
        std::to_string(replies) + " progress replies");

  const CommandFault* final =
      FindFault(setup_.faults, FaultKind::kFinalReply, SimCommand::kProgram, frame_.arrival);
  const std::string finalText = final != nullptr ? final->text : std::string();
  if (finalText == "Data is the latest update") {
    Reply(nowMs, 0, Line(finalText));
    return;
  }
  if (finalText == "Erase NG") {
    Reply(nowMs, timing.eraseMsPerBlock, Line(finalText));
    return;
  }
  if (finalText == "Program NG") {
    Reply(nowMs, timing.eraseMsPerBlock, "eras:" + std::to_string(partition.firstBlock) + "\n");
    flash_.EraseBlocks(partition_, 1);
    Reply(nowMs, timing.programMsPerBlock, Line(finalText));
    return;
  }

  // Erase and program block by block, then verify: the verification lines make the count.
  uint32_t sent = 0;
  for (uint32_t i = 0; i < blocks && sent < replies; ++i) {
    const std::string block = std::to_string(partition.firstBlock + i);
    Reply(nowMs, timing.eraseMsPerBlock, "eras:" + block + "\n");
    if (++sent == replies) break;
    Reply(nowMs, timing.programMsPerBlock, "prog:" + block + "\n");
    ++sent;
  }
  if (finalText == "RtnNg") {
    flash_.EraseBlocks(partition_, blocks);
    Reply(nowMs, 0, Line(finalText));
    return;
  }
  for (; sent < replies; ++sent) Reply(nowMs, 0, "RtnOk\n");
  // Only the any-block-id writer takes a record larger than its partition: the rest is lost.
  const size_t kept = static_cast<size_t>(std::min<uint64_t>(data_.size(), PartitionCapacity(partition)));
  if (kept < data_.size()) Trace("-- record cut to the " + std::to_string(kept) + " bytes of the partition");
  flash_.Program(partition_, data_.data(), kept);
  RecordInstalledVersion(partition_);
  if (final != nullptr) {
    Reply(nowMs, 0, Line(finalText));
  } else {
    Answer(nowMs, SimCommand::kProgram, frame_.arrival, "OK\n");
  }
  data_.clear();
}

void InstrumentEngine::DoErase(uint64_t nowMs) {
  step_ = Step::kIdle;
  const PartitionInfo& partition = setup_.family->partitions[partition_];
  const uint32_t blocks = static_cast<uint32_t>(
      (uint64_t{eraseBytes_} + partition.blockSize - 1) / partition.blockSize);
  Trace("-- erasing " + std::to_string(blocks) + " blocks from block " +
        std::to_string(partition.firstBlock));
  for (uint32_t i = 0; i < blocks; ++i) {
    Reply(nowMs, setup_.timing.eraseMsPerBlock,
          "eras:" + std::to_string(partition.firstBlock + i) + "\n");
  }
  flash_.EraseBlocks(partition_, blocks);
  Answer(nowMs, SimCommand::kErase, frame_.arrival, "OK\n");
}

void InstrumentEngine::RecordInstalledVersion(uint32_t row) {
  const int32_t field = VersionFieldOfPartition(*setup_.family, row);
  if (field < 0) return;
  const uint32_t width = setup_.family->versionFields[field].width;
  const size_t offset = kRecordVersionOffset - (blockId_ == 0 ? 8 : 0);
  std::string version;
  for (uint32_t i = 0; i < width && i < 4 && data_[offset + i] != 0; ++i) {
    const char c = static_cast<char>(data_[offset + i]);
    // Keep the identification reply parseable whatever bytes a record carries.
    const bool fits = c > 0x20 && c < 0x7F && c != '-' && c != ',';
    version += fits ? c : '?';
  }
  if (version.empty()) version = "?";
  flash_.SetVersion(static_cast<uint32_t>(field), version);
  Trace("-- installed version " + std::to_string(field) + " is now " + version);
}

}  // namespace fg::sim
