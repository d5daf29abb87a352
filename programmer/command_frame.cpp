#include "programmer/command_frame.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "programmer/programmer_errors.h"
#include "util/endian.h"

namespace fg {

CommandFrame BuildCommandFrame(uint8_t command, uint32_t payloadLength, const uint8_t* parameters) {
  CommandFrame frame{};
  frame.lead = kFrameLead;
  StoreBe32(frame.length, payloadLength + kFrameLengthBias);  // unsigned: wraps at 2^32
  frame.command = command;
  std::memcpy(frame.parameters, parameters ? parameters : kDefaultFrameParameters,
              sizeof frame.parameters);
  return frame;
}

bool DecodeCommandFrame(const uint8_t* bytes, size_t count, uint8_t* command,
                        uint32_t* payloadLength, uint8_t* parameters) {
  if (count != sizeof(CommandFrame) || bytes[0] != kFrameLead) return false;
  CommandFrame frame;
  std::memcpy(&frame, bytes, sizeof frame);
  const uint32_t length = LoadBe32(frame.length);
  if (length < kFrameLengthBias) return false;
  if (command) *command = frame.command;
  if (payloadLength) *payloadLength = length - kFrameLengthBias;
  if (parameters) std::memcpy(parameters, frame.parameters, sizeof frame.parameters);
  return true;
}

int32_t ParseChecksumText(const char* text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (std::isspace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  uint32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10u + static_cast<uint32_t>(*p - '0');
  return static_cast<int32_t>(negative ? 0u - value : value);
}

namespace programmer {

namespace {

// One write call of `count` bytes; true when the slot reported success.
bool WriteOnce(DeviceLink* link, const uint8_t* bytes, uint32_t count) {
  uint32_t n = count;
  return WriteBytes(link, bytes, &n);
}

bool IsAsciiLetter(uint8_t c, char upper) { return c == upper || c == upper + ('a' - 'A'); }

// A frame without payload followed by its acknowledgement.
int32_t SendAcknowledged(DeviceLink* link, uint8_t command, const uint8_t* parameters,
                         int32_t errorNumber) {
  if (!SendCommandFrame(link, command, 0, parameters)) return kProgLinkFailed;
  return ReadAcknowledge(link, errorNumber);
}

}  // namespace

void BeginExchange(DeviceLink* link, int32_t exchange) {
  link->exchange = exchange;
  link->exchangeReplies = 0;
  link->failedSlot = kNoSlotFailed;
}

bool WriteBytes(DeviceLink* link, const uint8_t* bytes, uint32_t* count) {
  if (link->write(link->owner, bytes, count) != 0) return true;
  link->failedSlot = kWriteFailed;
  return false;
}

bool SendCommandFrame(DeviceLink* link, uint8_t command, uint32_t payloadLength,
                      const uint8_t* parameters) {
  BeginExchange(link, command);
  const CommandFrame frame = BuildCommandFrame(command, payloadLength, parameters);
  return WriteOnce(link, reinterpret_cast<const uint8_t*>(&frame), sizeof frame);
}

bool ReadReply(DeviceLink* link, uint32_t* received) {
  uint32_t count = kReplyBufferSize;
  if (link->read(link->owner, link->replyBuffer, &count) == 0) {
    link->failedSlot = kReadFailed;
    return false;
  }
  // The slot terminates the reply itself; terminating here too keeps a slot that reports a
  // count beyond the capacity from leaving an unterminated text behind.
  count = std::min(count, kReplyBufferSize);
  link->replyBuffer[count] = 0;
  link->replyLength = count;
  ++link->exchangeReplies;
  if (received) *received = count;
  return true;
}

int32_t ReadAcknowledge(DeviceLink* link, int32_t errorNumber) {
  if (!ReadReply(link, nullptr)) return kProgLinkFailed;
  const uint8_t* reply = link->replyBuffer;
  return (IsAsciiLetter(reply[0], 'O') && IsAsciiLetter(reply[1], 'K')) ? 0 : errorNumber;
}

int32_t SendReset(DeviceLink* link, int32_t errorBase) {
  return SendAcknowledged(link, CmdReset, kResetFrameParameters, errorBase + kStepReset);
}

int32_t SendDataEnd(DeviceLink* link, int32_t errorBase) {
  return SendAcknowledged(link, CmdDataEnd, nullptr, errorBase + kStepDataEnd);
}

int32_t SendSetupEnd(DeviceLink* link, int32_t errorBase) {
  return SendAcknowledged(link, CmdSetupEnd, nullptr, errorBase + kStepSetupEnd);
}

int32_t SendData(DeviceLink* link, int32_t errorBase, const uint8_t* data, uint32_t length,
                 uint32_t share, const OperationBudget* budget) {
  const uint32_t base = static_cast<uint32_t>(link->progressCounter);
  if (!SendCommandFrame(link, CmdData, length)) return kProgLinkFailed;
  uint32_t sent = 0;
  while (sent < length) {
    // A link that takes its pieces a byte at a time must not stretch the transfer without end.
    if (BudgetExpired(budget)) return kProgDeadlinePassed;
    const uint32_t piece = std::min(length - sent, kDataPieceSize);
    uint32_t written = piece;
    if (!WriteBytes(link, data + sent, &written)) return kProgLinkFailed;
    // A write that moved nothing would repeat forever; one that claims more than it was handed
    // would skip data. The first is a link failure, the second counts as the piece.
    if (written == 0) return kProgLinkFailed;
    sent += std::min(written, piece);
    const uint64_t moved = uint64_t{sent} * share / length;
    SetProgress(link, static_cast<int32_t>(base + static_cast<uint32_t>(moved)));
  }
  return ReadAcknowledge(link, errorBase + kStepData);
}

int32_t SendBlockId(DeviceLink* link, int32_t errorBase, uint32_t blockId) {
  if (!SendCommandFrame(link, CmdBlockId, 1)) return kProgLinkFailed;
  const uint8_t id = static_cast<uint8_t>(blockId);
  if (!WriteOnce(link, &id, 1)) return kProgLinkFailed;
  return ReadAcknowledge(link, errorBase + kStepBlockId);
}

int32_t SendSize(DeviceLink* link, int32_t errorBase, uint32_t byteCount) {
  // Ten digits at most, so the text and its NUL fit the field; the rest keeps old reply bytes.
  std::snprintf(reinterpret_cast<char*>(link->replyBuffer), kSizeFieldLength, "%u", byteCount);
  if (!SendCommandFrame(link, CmdSize, kSizeFieldLength)) return kProgLinkFailed;
  if (!WriteOnce(link, link->replyBuffer, kSizeFieldLength)) return kProgLinkFailed;
  return ReadAcknowledge(link, errorBase + kStepSize);
}

int32_t QueryChecksum(DeviceLink* link, int32_t* checksum) {
  if (!SendCommandFrame(link, CmdChecksum, 0)) return kProgLinkFailed;
  if (!ReadReply(link, nullptr)) return kProgLinkFailed;
  *checksum = ParseChecksumText(reinterpret_cast<const char*>(link->replyBuffer));
  return 0;
}

void SetProgress(DeviceLink* link, int32_t percent) {
  link->progressCounter = percent;
  if (link->progress) link->progress(link->owner, static_cast<uint32_t>(percent));
}

}  // namespace programmer
}  // namespace fg
