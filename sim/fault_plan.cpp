#include "sim/fault_plan.h"

#include <charconv>
#include <cstring>

namespace fg::sim {

namespace {

constexpr const char* kCommandNames[kSimCommandCount] = {
    "idn",    "update",      "CmdReset",  "CmdData",    "CmdDataEnd", "CmdBlockId",
    "CmdSize", "CmdChecksum", "CmdSetupEnd", "CmdProgram", "CmdErase",
};

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool ParseUnsigned(std::string_view text, uint64_t* value) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

// Splits "NAME@N" into the name and the occurrence (0 when there is no "@N").
bool SplitOccurrence(std::string_view text, std::string_view* name, uint32_t* occurrence,
                     std::string* error) {
  const size_t at = text.find('@');
  *name = text.substr(0, at);
  *occurrence = 0;
  if (at == std::string_view::npos) return true;
  uint64_t n = 0;
  if (!ParseUnsigned(text.substr(at + 1), &n) || n == 0 || n > 0xFFFFFFFFu) {
    *error = "the occurrence after '@' must be a number from 1";
    return false;
  }
  *occurrence = static_cast<uint32_t>(n);
  return true;
}

struct FinalReplyName {
  const char* name;
  const char* reply;
};
constexpr FinalReplyName kFinalReplies[] = {
    {"erase-ng", "Erase NG"},
    {"program-ng", "Program NG"},
    {"rtn-ng", "RtnNg"},
    {"latest", "Data is the latest update"},
};

struct FlagName {
  const char* name;
  bool FaultPlan::*flag;
};
constexpr FlagName kFlags[] = {
    {"never-return", &FaultPlan::neverReturn},
    {"return-late", &FaultPlan::returnLate},
    {"start-writer", &FaultPlan::startInWriter},
    {"single-session", &FaultPlan::singleSession},
    {"writer-no-model", &FaultPlan::writerNamesNoModel},
    {"any-block-id", &FaultPlan::anyBlockId},
    {"ignore-update", &FaultPlan::ignoreUpdate},
};

struct CommandFaultName {
  const char* prefix;
  FaultKind kind;
};
constexpr CommandFaultName kCommandFaults[] = {
    {"reply:", FaultKind::kReplyInstead},
    {"no-reply:", FaultKind::kNoReply},
    {"long-reply:", FaultKind::kLongReply},
    {"unplug:", FaultKind::kUnplug},
};

}  // namespace

const char* SimCommandName(SimCommand command) {
  return kCommandNames[static_cast<uint32_t>(command)];
}

bool ParseSimCommand(std::string_view name, SimCommand* command) {
  for (uint32_t i = 0; i < kSimCommandCount; ++i) {
    std::string_view known = kCommandNames[i];
    const bool frame = known.substr(0, 3) == "Cmd";
    if (EqualsIgnoreCase(name, known) || (frame && EqualsIgnoreCase(name, known.substr(3)))) {
      *command = static_cast<SimCommand>(i);
      return true;
    }
  }
  if (EqualsIgnoreCase(name, "*IDN?")) {
    *command = SimCommand::kIdn;
    return true;
  }
  return false;
}

const CommandFault* FindFault(const FaultPlan& plan, FaultKind kind, SimCommand command,
                              uint32_t arrival) {
  for (const CommandFault& fault : plan.commandFaults) {
    if (fault.kind == kind && fault.command == command &&
        (fault.occurrence == 0 || fault.occurrence == arrival)) {
      return &fault;
    }
  }
  return nullptr;
}

bool ParseFaultSpec(std::string_view spec, FaultPlan* plan, std::string* error) {
  for (const FlagName& flag : kFlags) {
    if (spec == flag.name) {
      plan->*flag.flag = true;
      return true;
    }
  }
  if (spec == "idn-no-versions" || spec == "idn-garbage") {
    plan->identity = spec == "idn-garbage" ? IdentityFault::kGarbage : IdentityFault::kNoVersions;
    return true;
  }
  if (spec.starts_with("unplug-after:")) {
    uint64_t bytes = 0;
    if (!ParseUnsigned(spec.substr(std::strlen("unplug-after:")), &bytes) || bytes == 0) {
      *error = "unplug-after needs a byte count from 1";
      return false;
    }
    plan->unplugAfterDataBytes = bytes;
    return true;
  }
  std::string_view name;
  uint32_t occurrence = 0;
  if (spec == "wrong-checksum" || spec.starts_with("wrong-checksum@")) {
    if (!SplitOccurrence(spec, &name, &occurrence, error)) return false;
    plan->commandFaults.push_back({FaultKind::kWrongChecksum, SimCommand::kChecksum, occurrence, {}});
    return true;
  }
  if (spec.starts_with("final:")) {
    if (!SplitOccurrence(spec.substr(std::strlen("final:")), &name, &occurrence, error)) return false;
    for (const FinalReplyName& final : kFinalReplies) {
      if (name == final.name) {
        plan->commandFaults.push_back(
            {FaultKind::kFinalReply, SimCommand::kProgram, occurrence, final.reply});
        return true;
      }
    }
    *error = "final: takes erase-ng, program-ng, rtn-ng or latest";
    return false;
  }
  for (const CommandFaultName& form : kCommandFaults) {
    if (!spec.starts_with(form.prefix)) continue;
    std::string_view rest = spec.substr(std::strlen(form.prefix));
    std::string text;
    if (form.kind == FaultKind::kReplyInstead) {
      const size_t eq = rest.find('=');
      if (eq == std::string_view::npos) {
        *error = "reply: needs CMD=TEXT";
        return false;
      }
      text = std::string(rest.substr(eq + 1));
      rest = rest.substr(0, eq);
    }
    if (!SplitOccurrence(rest, &name, &occurrence, error)) return false;
    SimCommand command;
    if (!ParseSimCommand(name, &command)) {
      *error = "unknown command '" + std::string(name) + "'";
      return false;
    }
    plan->commandFaults.push_back({form.kind, command, occurrence, text});
    return true;
  }
  *error = "unknown fault '" + std::string(spec) + "'";
  return false;
}

const char* FaultSpecHelp() {
  return "  reply:CMD[@N]=TEXT   answer TEXT instead of the command's final reply\n"
         "  no-reply:CMD[@N]     drop the command without any reply\n"
         "  long-reply:CMD[@N]   pad the final reply beyond 1024 bytes\n"
         "  unplug:CMD[@N]       leave the bus when the command arrives\n"
         "  unplug-after:BYTES   leave the bus once a data transfer reached BYTES\n"
         "  wrong-checksum[@N]   answer the checksum query with a wrong sum\n"
         "  final:erase-ng|program-ng|rtn-ng|latest[@N]   end a programming run with that reply\n"
         "  never-return         leave on SYST:UPDATE and never come back\n"
         "  return-late          come back 12 s after SYST:UPDATE\n"
         "  idn-no-versions      identify without the version field\n"
         "  idn-garbage          identify with garbage after the first field\n"
         "  start-writer         power up in the writer firmware\n"
         "  single-session       refuse a second session while one is open\n"
         "  writer-no-model      the writer identifies without a model: WRITER,,SERIAL,versions\n"
         "  any-block-id         the writer takes a record for any block id, into the partition\n"
         "                       whose blocks hold it (or the first), cut to its size\n"
         "  ignore-update        ignore SYST:UPDATE and go on as the normal firmware\n"
         "  CMD: idn, update, CmdReset, CmdData, CmdDataEnd, CmdBlockId, CmdSize, CmdChecksum,\n"
         "       CmdSetupEnd, CmdProgram, CmdErase; @N: only its N-th arrival\n";
}

}  // namespace fg::sim
