#include "sequence/failure_report.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "programmer/command_frame.h"
#include "programmer/programmer_errors.h"
#include "sequence/update_run.h"
#include "updater/driver_errors.h"
#include "util/bounded_text.h"
#include "util/printable_text.h"

namespace fg {

namespace {

// The words for each exchange of the programmer, as a step of the update.
struct StepWords {
  int32_t exchange;
  const char* name;
};
constexpr StepWords kStepWords[] = {
    {CmdReset, "reset"},
    {CmdData, "data transfer"},
    {CmdDataEnd, "end of data"},
    {CmdBlockId, "block id"},
    {CmdSize, "size"},
    {CmdChecksum, "checksum"},
    {CmdSetupEnd, "end of setup"},
    {CmdProgram, "erasing and programming"},
    {CmdErase, "erasing"},
    {kExchangeIdentity, "identification"},
    {kExchangeSwitch, "switch to writer mode"},
};

// Partitions the instrument needs to start at all: one left incomplete must be programmed again
// before the instrument is switched off.
constexpr const char* kStartPartitions[] = {"BOOT", "BOOTER", "WRITER"};

constexpr const char* kNothingProgrammed =
    "Nothing was programmed: the instrument is in writer mode with all its old images.";
constexpr const char* kRunAgain = "Run the same update again; it finds the instrument in writer mode.";

const char* StepName(int32_t exchange) {
  for (const StepWords& s : kStepWords)
    if (s.exchange == exchange) return s.name;
  return "opening the instrument";
}

std::string Hex4(int32_t number) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(number));
  return text;
}

template <size_t N>
std::string Field(const char (&text)[N]) {
  return std::string(text, BoundedLength(text, N));
}

// "A", "A and B", "A, B and C".
std::string JoinNames(const std::vector<std::string>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += (i + 1 == names.size()) ? " and " : ", ";
    out += names[i];
  }
  return out;
}

// The instrument's answer as it can be quoted: without its line end, escaped, bounded.
std::string QuotedReply(const FailurePoint& f) {
  size_t n = BoundedLength(f.reply, sizeof f.reply);
  while (n > 0 && (f.reply[n - 1] == '\n' || f.reply[n - 1] == '\r')) --n;
  std::string text = EscapeBytes(f.reply, n);
  if (f.replyLength > kFailureReplyCapacity) text += "...";
  // Built in place: mingw's g++ 12 warns falsely on a literal prepended to a string.
  std::string quoted(1, '"');
  quoted += text;
  quoted += '"';
  return quoted;
}

// The step offset of a family's step error (command_frame.h StepError), or 0 for any other number.
int32_t StepOf(int32_t programmerError) {
  const int32_t base = programmerError & ~0xFF;
  return base == kWx2040ErrorBase || base == kWx2050ErrorBase ? programmerError & 0xFF : 0;
}

bool IsStepError(int32_t programmerError, int32_t step) { return StepOf(programmerError) == step; }

bool IsFlashReply(int32_t programmerError) {
  return IsStepError(programmerError, kStepEraseNg) || IsStepError(programmerError, kStepProgramNg) ||
         IsStepError(programmerError, kStepReturnNg) || programmerError == kProgEraseReply;
}

// Whether the partition's flash may have been touched: the instrument erases and programs only
// after the start command, and "Data is the latest update" refuses before it begins.
bool FlashTouched(const FailurePoint& f, int32_t programmerError) {
  if (f.exchange != CmdProgram && f.exchange != CmdErase) return false;
  return !IsStepError(programmerError, kStepLatest);
}

// What the instrument answered, or how it did not, in the step that failed; fills the detail's
// answer fields.
std::string Answer(const FailurePoint& f, int32_t programmerError, FailureDetail* d) {
  d->answered = f.failedSlot == kNoSlotFailed && f.replies > 0;
  const std::string reply = f.replies > 0 ? QuotedReply(f) : std::string();
  if (d->answered) d->reply = reply.substr(1, reply.size() - 2);
  if (f.failedSlot != kNoSlotFailed) {
    const bool sending = f.failedSlot == kWriteFailed;
    const std::string after = f.replies > 0 ? " after answering " + reply : "";
    switch (f.linkFault) {
      case LinkFault::kTimeout:
        d->noAnswer = "timeout";
        return sending ? "the instrument took nothing within the 10 s timeout"
                       : "the instrument did not answer within the 10 s timeout" + after;
      case LinkFault::kConnectionLost:
        d->noAnswer = "connection lost";
        return "the connection was lost (unplugged or switched off)" + after;
      default: {
        d->noAnswer = "link failure";
        std::string text = sending ? "the link failed to write" : "the link failed to read";
        if (f.linkStatus != 0) {
          char status[32];
          std::snprintf(status, sizeof status, " (VISA status 0x%08X)",
                        static_cast<unsigned>(f.linkStatus));
          text += status;
        }
        return text + after;
      }
    }
  }
  if (programmerError == kProgNotWriter) {
    return "the instrument ignored it and still answers as its normal firmware" +
           (d->answered ? " (" + reply + ")" : std::string());
  }
  if (programmerError == kProgOpenFailed) {
    return f.exchange == kExchangeSwitch ? "no writer answered before the wait ran out"
                                         : "the instrument could not be opened";
  }
  if (programmerError == kProgDeadlinePassed) {
    return "the instrument did not finish in time" +
           (d->answered ? " (its last answer " + reply + ")" : std::string());
  }
  if (programmerError == kProgTooManyReplies) {
    return "the instrument kept answering without getting on (its last answer " + reply + ")";
  }
  if (IsStepError(programmerError, kStepChecksum)) {
    return "the instrument's checksum " + reply + " differs from the image's";
  }
  if (d->answered && StepOf(programmerError) >= kStepReset && StepOf(programmerError) <= kStepSize) {
    return "the instrument answered " + reply + " instead of \"OK\"";
  }
  if (d->answered) return "the instrument answered " + reply;
  return ProgrammerErrorText(programmerError);
}

// What to do next after a failure in the programmer's exchange with the writer.
std::string NextAfterExchange(const FailurePoint& f, int32_t programmerError,
                              const std::string& partition) {
  switch (f.linkFault) {
    case LinkFault::kTimeout:
      return "Check that the instrument is on and its USB cable is in, then run the same update "
             "again; it finds the instrument in writer mode.";
    case LinkFault::kConnectionLost:
      return "Reconnect the instrument (USB cable, power), wait until it has started, then run "
             "the same update again; it finds the instrument in writer mode.";
    case LinkFault::kOther: return kRunAgain;
    case LinkFault::kNone: break;
  }
  if (IsStepError(programmerError, kStepLatest)) {
    return "The instrument reports that " + partition +
           " already holds this data: a dry run (flintgate-cli update FILE --dry-run) shows the "
           "installed versions; a file with newer images installs.";
  }
  if (IsStepError(programmerError, kStepChecksum)) {
    return "The image changed on its way to the instrument: check the USB cable, then run the "
           "same update again.";
  }
  if (IsFlashReply(programmerError)) {
    return "Run the same update again; if " + partition +
           " fails again, the instrument's flash may be faulty: contact service with the error "
           "number.";
  }
  return "Run the same update again; if it fails at the same step again, contact service with "
         "the error number.";
}

// Which partitions have their new image, which may be incomplete and which keep their old one,
// after a transfer that stopped at rule `stoppedRule` (-1: none was being programmed).
std::string Holdings(const UpdatePlan& plan, int32_t stoppedRule, bool stoppedTouched,
                     std::string* incompleteOut) {
  std::vector<std::string> fresh;
  std::vector<std::string> old;
  std::string incomplete;
  const int32_t count = plan.ruleCount < 0 ? 0 : (plan.ruleCount > 6 ? 6 : plan.ruleCount);
  for (int32_t i = 0; i < count; ++i) {
    const ImagePlanRow& row = plan.rows[i];
    if (!row.present) continue;
    const std::string name = Field(row.partitionName);
    if (row.programmed) {
      fresh.push_back(name);
    } else if (i == stoppedRule && stoppedTouched) {
      incomplete = name;
    } else {
      old.push_back(name);
    }
  }
  std::vector<std::string> parts;
  if (!fresh.empty())
    parts.push_back(JoinNames(fresh) + (fresh.size() == 1 ? " has its new image" : " have their new images"));
  if (!incomplete.empty()) parts.push_back(incomplete + " may be incomplete");
  if (!old.empty())
    parts.push_back(JoinNames(old) + (old.size() == 1 ? " keeps its old image" : " keep their old images"));
  if (incompleteOut != nullptr) *incompleteOut = incomplete;
  std::string out = "The instrument stays in writer mode";
  for (size_t i = 0; i < parts.size(); ++i) out += (i == 0 ? ": " : "; ") + parts[i];
  return out + ".";
}

bool NeededToStart(const std::string& partition) {
  for (const char* name : kStartPartitions)
    if (partition == name) return true;
  return false;
}

void SetHolds(FailureReport* report, std::string holds, std::string next) {
  report->detail.holds = std::move(holds);
  report->detail.next = std::move(next);
  report->holds = report->detail.holds + " " + report->detail.next;
}

// An image being programmed failed: its step, its partition, the instrument's answer.
void DescribeTransferFailure(const UpdatePlan& plan, FailureReport* report) {
  const FailurePoint& f = plan.failure;
  FailureDetail& d = report->detail;
  d.partition = Field(plan.rows[f.rule].partitionName);
  d.step = StepName(f.exchange);
  const std::string answer = Answer(f, plan.programmerError, &d);
  report->reason = d.partition + ", " + d.step + ": " + answer;
  report->what = report->reason + " (programmer error " + Hex4(plan.programmerError) + ")";
  std::string incomplete;
  const std::string holds =
      Holdings(plan, f.rule, FlashTouched(f, plan.programmerError), &incomplete);
  std::string next = NextAfterExchange(f, plan.programmerError, d.partition);
  if (!incomplete.empty() && NeededToStart(incomplete)) {
    next = "Keep the instrument powered and run the same update again now: with " + incomplete +
           " incomplete it may not start again.";
  }
  SetHolds(report, holds, next);
}

// The writer could not be reached or would not identify itself: nothing was programmed.
void DescribeWriterFailure(int32_t driverCode, const UpdatePlan& plan, FailureReport* report) {
  const FailurePoint& f = plan.failure;
  FailureDetail& d = report->detail;
  d.step = StepName(f.exchange);
  if (plan.programmerError == kProgNotWriter) d.step = "switch to writer mode";
  std::string step = d.step;
  step[0] = static_cast<char>(step[0] - 'a' + 'A');
  const std::string answer = Answer(f, plan.programmerError, &d);
  report->reason = step + ": " + answer;
  report->what = report->reason + " (programmer error " + Hex4(plan.programmerError) + ")";
  if (plan.programmerError == kProgNotWriter) {
    SetHolds(report, "Nothing was written: the instrument runs its normal firmware.",
             "Switch it off and on, then run the update again; if it ignores the switch again, "
             "contact service.");
  } else if (driverCode == kDriverProgramFailed) {
    SetHolds(report, kNothingProgrammed, NextAfterExchange(f, plan.programmerError, ""));
  } else if (plan.programmerError == kProgOpenFailed && f.exchange == kExchangeSwitch) {
    SetHolds(report, "Nothing was written: the instrument may still be restarting into its writer firmware.",
             "Wait until flintgate-cli list shows it in writer mode, then run the same update "
             "again; if it never shows, switch it off and on.");
  } else {
    const std::string next =
        f.linkFault == LinkFault::kNone
            ? std::string("Check that the instrument is on and connected, then run the update again.")
            : NextAfterExchange(f, plan.programmerError, "");
    SetHolds(report, "Nothing was written to the instrument's flash.", next);
  }
}

// The package checks refused the package: which image, and why.
void DescribeCheckFailure(int32_t driverCode, const UpdatePlan& plan, FailureReport* report) {
  std::vector<std::string> older;
  std::string first;
  const int32_t count = plan.ruleCount < 0 ? 0 : (plan.ruleCount > 6 ? 6 : plan.ruleCount);
  FailureDetail& d = report->detail;
  for (int32_t i = 0; i < count; ++i) {
    const ImagePlanRow& row = plan.rows[i];
    if (row.check == 0) continue;
    const std::string name = Field(row.partitionName);
    if (d.partition.empty()) d.partition = name;
    if (row.check == kDriverOlderImage && row.versioned && row.installedRead) {
      older.push_back(name + " " + Field(row.version) + " is older than the installed " +
                      Field(row.installed));
      continue;
    }
    if (!first.empty() || !older.empty()) continue;
    if (row.check == kDriverOlderImage) {
      first = "the installed versions cannot be read from the writer's identification reply";
    } else if (row.check == kDriverProgramFailed && row.recordCheck != 0) {
      first = "the image for " + name + " was refused: " + ProgrammerErrorText(row.recordCheck) +
              " (programmer error " + Hex4(row.recordCheck) + ")";
      d.programmerError = row.recordCheck;
    } else if ((row.check & 0xFF) == kDriverMissingImage && !row.present) {
      first = "the required image for " + name + " is missing";
    } else if ((row.check & 0xFF) == kDriverOversizeImage) {
      first = "the image for " + name + " is " + std::to_string(row.length) +
              " bytes, more than its region's " + std::to_string(row.maxSize);
    } else {
      first = name + ": " + DriverErrorText(row.check);
    }
  }
  d.step = driverCode == kDriverOlderImage ? "version check" : "package check";
  if (driverCode == kDriverOlderImage && !older.empty()) {
    std::string list;
    for (size_t i = 0; i < older.size(); ++i) list += (i == 0 ? "" : "; ") + older[i];
    report->what = "Version check: " + list + ". Nothing older is installed without --allow-downgrade.";
    report->reason = "older than installed: " + list;
    SetHolds(report, kNothingProgrammed,
             "To install the older images on purpose, run flintgate-cli update FILE "
             "--allow-downgrade; otherwise use a newer firmware file.");
    return;
  }
  if (first.empty()) first = DriverErrorText(driverCode);
  std::string step = d.step;
  step[0] = static_cast<char>(step[0] - 'a' + 'A');
  report->what = step + ": " + first;
  report->reason = first;
  SetHolds(report, kNothingProgrammed,
           driverCode == kDriverOlderImage
               ? "flintgate-cli update FILE --allow-downgrade installs without the version check."
               : "The file's package is not fit for this instrument: use another firmware file "
                 "of its model.");
}

}  // namespace

std::string RunCodeText(int32_t runCode) {
  switch (runCode) {
    case 0: return std::string();
    case kRunNoModel: return "no firmware file is selected";
    case kRunNoUpdater: return "Flintgate cannot update this model";
    case kRunNoPayload: return "the firmware file could not be read, or changed since it was opened";
    case kRunNoInstrument: return "no instrument of the file's model was found";
    case kRunDeclined: return "the update was declined";
    case kRunPickInstrument: return "several instruments were found and none was picked";
    case kRunInitFailed: return "the update driver could not start";
    case kRunConnectFailed: return "the instrument could not be opened or did not answer";
    case kRunOtherModel: return "the instrument is another model than the file's";
    case kRunWriterModelUnconfirmed:
      return "the instrument is in writer mode, names no model, and its model was not confirmed";
    case kRunInstrumentBusy: return "another update holds the instrument";
    case kRunNoInstrumentLock: return "the instrument could not be locked against a second update";
    default: break;
  }
  if (runCode > kRunDriverErrorBase) return DriverErrorText(runCode - kRunDriverErrorBase);
  char text[48];
  std::snprintf(text, sizeof text, "error number 0x%04X", static_cast<unsigned>(runCode));
  return text;
}

FailureReport DescribeDriverFailure(int32_t driverCode, const UpdatePlan& plan) {
  FailureReport report;
  report.reason = DriverErrorText(driverCode);
  report.detail.programmerError = plan.programmerError;
  const FailurePoint& f = plan.failure;
  const bool inTransfer = f.noted && f.rule >= 0 && f.rule < plan.ruleCount && f.rule < 6;
  switch (driverCode) {
    case kDriverProgramFailed:
      if (inTransfer) {
        DescribeTransferFailure(plan, &report);
      } else if (f.noted) {
        DescribeWriterFailure(driverCode, plan, &report);
      } else {
        DescribeCheckFailure(driverCode, plan, &report);
      }
      break;
    case kDriverNoWriter:
      if (f.noted) DescribeWriterFailure(driverCode, plan, &report);
      break;
    case kDriverOlderImage:
      DescribeCheckFailure(driverCode, plan, &report);
      break;
    case kDriverStopped:
      report.detail.step = "stopped on request";
      SetHolds(&report, Holdings(plan, -1, false, nullptr),
               "Run the same update again to program the images that keep their old ones.");
      break;
    case kDriverPayloadUnreadable:
    case kDriverNoMemory:
    case kDriverOemAppendFailed:
      SetHolds(&report, kNothingProgrammed, kRunAgain);
      break;
    case kDriverOtherModel:
    case kDriverWriterNamesNoModel:
      break;  // the run's own line names the instrument and the models
    default:
      if ((driverCode & 0xFF) == kDriverMissingImage || (driverCode & 0xFF) == kDriverOversizeImage)
        DescribeCheckFailure(driverCode, plan, &report);
      break;
  }
  return report;
}

FailureReport DescribeFailure(int32_t runCode, const UpdaterOps* driver) {
  FailureReport report;
  report.reason = RunCodeText(runCode);
  if (runCode <= kRunDriverErrorBase || driver == nullptr) return report;
  UpdatePlan plan{};
  if (ReadUpdatePlan(driver, &plan) != 0) return report;
  FailureReport described = DescribeDriverFailure(runCode - kRunDriverErrorBase, plan);
  if (described.reason.empty()) described.reason = report.reason;
  return described;
}

}  // namespace fg
