// The writer-mode command frame and the single-command exchanges built on it.
// Every exchange takes the link first and returns 0, 2 when the link failed, or the step's error
// number, which is the family's error base plus the step offset below.
#pragma once
#include <cstddef>
#include <cstdint>

#include "link/device_link.h"
#include "programmer/operation_budget.h"

namespace fg {

// 12 bytes: lead 0xAB, big-endian length (payload + 7), command code, six parameter bytes.
struct CommandFrame {
  uint8_t lead;
  uint8_t length[4];
  uint8_t command;
  uint8_t parameters[6];
};
static_assert(sizeof(CommandFrame) == 12);
static_assert(offsetof(CommandFrame, length) == 1);
static_assert(offsetof(CommandFrame, command) == 5);
static_assert(offsetof(CommandFrame, parameters) == 6);

inline constexpr uint8_t kFrameLead = 0xAB;
inline constexpr uint32_t kFrameLengthBias = 7;  // command byte and six parameter bytes
inline constexpr uint8_t kDefaultFrameParameters[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
inline constexpr uint8_t kResetFrameParameters[6] = {'R', 'E', 'S', 'E', 'T', '!'};

enum CommandCode : uint8_t {
  CmdProgram = 3,
  CmdSize = 7,
  CmdChecksum = 8,
  CmdReset = 10,
  CmdData = 12,
  CmdDataEnd = 13,
  CmdBlockId = 20,
  CmdSetupEnd = 21,
  CmdErase = 27,
};

// The exchanges the programmer notes in the link (DeviceLink::exchange): a writer frame's command
// code, or one of the text exchanges below.
enum ProgrammerExchange : int32_t {
  kExchangeNone = 0,
  kExchangeIdentity = 0x100,  // "*IDN?" and its reply
  kExchangeSwitch = 0x101,    // the update command and reopening the link on the writer
};

inline constexpr uint32_t kDataPieceSize = 4096;  // largest single write of a data transfer
inline constexpr uint32_t kSizeFieldLength = 12;  // the decimal text field after CmdSize

// Offsets from the family's error base of the steps that were not acknowledged (or failed).
enum StepError : int32_t {
  kStepReset = 1,
  kStepData = 2,
  kStepDataEnd = 3,
  kStepBlockId = 4,
  kStepSetupEnd = 5,
  kStepSize = 6,
  kStepChecksum = 7,      // the instrument's checksum differs from ours
  kStepLatest = 8,        // "Data is the latest update"
  kStepEraseNg = 9,       // "Erase NG"
  kStepProgramNg = 10,    // "Program NG"
  kStepReturnNg = 11,     // "RtnNg"
};

// Builds a frame; null parameters select the default bytes. The length wraps at 2^32.
CommandFrame BuildCommandFrame(uint8_t command, uint32_t payloadLength, const uint8_t* parameters);

// Splits a received frame; false when the bytes are not one. For the instrument side and tests.
bool DecodeCommandFrame(const uint8_t* bytes, size_t count, uint8_t* command,
                        uint32_t* payloadLength, uint8_t* parameters);

namespace programmer {

// Begins an exchange in the link's notes: no reply read yet, no slot failed.
void BeginExchange(DeviceLink* link, int32_t exchange);

// One call of the write slot; a failure is noted in the link. True when the slot succeeded.
bool WriteBytes(DeviceLink* link, const uint8_t* bytes, uint32_t* count);

// Writes one frame with a single call of the write slot and begins the exchange of its command.
// True when the slot reported success.
bool SendCommandFrame(DeviceLink* link, uint8_t command, uint32_t payloadLength,
                      const uint8_t* parameters = nullptr);

// Reads one reply into the link's reply buffer (whole buffer offered) and terminates it; the
// link notes it (or the failed read). True when the read slot succeeded; *received gets the
// byte count.
bool ReadReply(DeviceLink* link, uint32_t* received);

// Reads one reply; 0 when it begins with "OK" in any letter case, 2 when the read failed, else
// errorNumber. The reply stays as the instrument sent it.
int32_t ReadAcknowledge(DeviceLink* link, int32_t errorNumber);

int32_t SendReset(DeviceLink* link, int32_t errorBase);
int32_t SendDataEnd(DeviceLink* link, int32_t errorBase);
int32_t SendSetupEnd(DeviceLink* link, int32_t errorBase);
// Sends CmdData and the data in pieces of at most 4096 bytes, each piece starting where the
// count reported for the previous one ended; moves progressCounter from its value on entry by
// `share` in proportion to the bytes sent and reports each step. With a budget, no piece is
// sent once its deadline has passed (11).
int32_t SendData(DeviceLink* link, int32_t errorBase, const uint8_t* data, uint32_t length,
                 uint32_t share, const OperationBudget* budget = nullptr);
// Sends CmdBlockId and the low byte of blockId.
int32_t SendBlockId(DeviceLink* link, int32_t errorBase, uint32_t blockId);
// Sends CmdSize and a 12-byte field holding byteCount as decimal text, formatted in the reply
// buffer (the bytes after its NUL are whatever the buffer held).
int32_t SendSize(DeviceLink* link, int32_t errorBase, uint32_t byteCount);
// Sends CmdChecksum and parses the reply as a decimal number into *checksum (no number: 0).
int32_t QueryChecksum(DeviceLink* link, int32_t* checksum);

// Sets the link's progress counter and reports it through the progress slot.
void SetProgress(DeviceLink* link, int32_t percent);

}  // namespace programmer

// Parses decimal text as atol does: leading white space, an optional sign, digits up to the first
// other character; no digits gives 0. Values beyond 32 bits keep their low 32 bits, so an unsigned
// 32-bit sum sent as "4294967295" reads as the same bit pattern.
int32_t ParseChecksumText(const char* text);

}  // namespace fg
