// Faults a simulated instrument can be told to commit, so that every error path of the host can
// be reached for real: wrong, missing or oversized replies, a wrong checksum, failing flash
// operations, leaving the bus, a broken identity, refused sessions.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fg::sim {

// What the instrument can receive, as far as a fault can target it.
enum class SimCommand : uint8_t {
  kIdn,       // "*IDN?"
  kUpdate,    // "SYST:UPDATE <model>"
  kReset,     // the writer's frames, by command
  kData,
  kDataEnd,
  kBlockId,
  kSize,
  kChecksum,
  kSetupEnd,
  kProgram,
  kErase,
};
inline constexpr uint32_t kSimCommandCount = 11;

// "idn", "update", "CmdReset", ...: the name used in fault specs and traces.
const char* SimCommandName(SimCommand command);
// Accepts the names above, case-insensitively, and the frame names without "Cmd".
bool ParseSimCommand(std::string_view name, SimCommand* command);

enum class FaultKind : uint8_t {
  kReplyInstead,   // the command is carried out, but its final reply is `text`
  kNoReply,        // the command is dropped unanswered (its payload is still consumed)
  kLongReply,      // the final reply is padded past the host's 1024-byte reply buffer
  kUnplug,         // the instrument leaves the bus when the command arrives
  kWrongChecksum,  // the checksum reply is one more than the true sum (kChecksum only)
  kFinalReply,     // the programming run ends with `text` ("Erase NG", ...) (kProgram only)
};

struct CommandFault {
  FaultKind kind;
  SimCommand command;
  uint32_t occurrence;  // 1 = the first time the command arrives; 0 = every time
  std::string text;
};

enum class IdentityFault : uint8_t {
  kNone,
  kNoVersions,  // the reply stops after the serial: no version field
  kGarbage,     // the first field, then bytes without commas or hyphens
};

// Pads a long reply to this many bytes, line feed included.
inline constexpr uint32_t kLongReplySize = 1500;
// Restart delay of an instrument that comes back later than the host's 4000 ms wait.
inline constexpr uint32_t kLateReturnDelayMs = 12000;

struct FaultPlan {
  std::vector<CommandFault> commandFaults;
  uint64_t unplugAfterDataBytes = 0;  // leave the bus once a data transfer reached this; 0 off
  bool neverReturn = false;           // leave on the update command and stay away
  bool returnLate = false;            // come back after kLateReturnDelayMs
  bool startInWriter = false;         // power up in the writer firmware
  bool singleSession = false;         // refuse a second session while one is open
  bool writerNamesNoModel = false;    // the writer's identity leaves the model field empty
  // The writer takes a record for any block id (as some do): into the partition whose block
  // range holds the id, else the first, cut to that partition's size, whatever block id the
  // record carries. A writer of another model then swallows a whole package.
  bool anyBlockId = false;
  bool ignoreUpdate = false;          // SYST:UPDATE is ignored: the normal firmware goes on
  IdentityFault identity = IdentityFault::kNone;
};

// The fault of `kind` for the n-th arrival (1-based) of `command`, or null.
const CommandFault* FindFault(const FaultPlan& plan, FaultKind kind, SimCommand command,
                              uint32_t arrival);

// Adds one fault written as on the command line:
//   reply:CMD[@N]=TEXT   no-reply:CMD[@N]   long-reply:CMD[@N]   unplug:CMD[@N]
//   wrong-checksum[@N]   final:erase-ng|program-ng|rtn-ng|latest[@N]   unplug-after:BYTES
//   never-return   return-late   start-writer   single-session   idn-no-versions   idn-garbage
//   writer-no-model   any-block-id   ignore-update
// Returns false with *error set when the text is not one of these.
bool ParseFaultSpec(std::string_view spec, FaultPlan* plan, std::string* error);

// The fault forms above, one per line, for --help.
const char* FaultSpecHelp();

}  // namespace fg::sim
