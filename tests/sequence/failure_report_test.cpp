// From the driver's state after a failed update to the lines a person reads: every fault an
// instrument can commit (the simulator's faults) gives its own step, partition and answer, what
// the instrument now holds and what to do next.
#include "sequence/failure_report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "programmer/command_frame.h"
#include "programmer/programmer_errors.h"
#include "sequence/update_run.h"
#include "updater/driver_errors.h"
#include "util/bounded_text.h"

namespace fg {
namespace {

ImagePlanRow Row(const char* name, const char* version, const char* installed) {
  ImagePlanRow row{};
  CopyBounded(row.partitionName, name);
  row.present = true;
  CopyBounded(row.version, version);
  CopyBounded(row.installed, installed);
  row.versioned = installed[0] != '\0';
  row.installedRead = row.versioned;
  row.length = 4096;
  row.maxSize = 0x10000;
  return row;
}

// A WX2040 package of three images: 1C3 programmed, MAIN the one being programmed, HTTP after it.
UpdatePlan ThreeImages() {
  UpdatePlan plan{};
  plan.ruleCount = 3;
  plan.rows[0] = Row("1C3", "01", "01");
  plan.rows[0].programmed = true;
  plan.rows[1] = Row("MAIN", "2.10", "2.00");
  plan.rows[2] = Row("HTTP", "0105", "0100");
  return plan;
}

// The instrument answered `reply` in `exchange` of MAIN and the programmer gave `error`.
UpdatePlan Answered(int32_t exchange, const char* reply, int32_t error) {
  UpdatePlan plan = ThreeImages();
  plan.programmerError = error;
  FailurePoint& f = plan.failure;
  f.noted = true;
  f.rule = 1;
  f.exchange = exchange;
  f.replies = 1;
  f.replyLength = static_cast<uint32_t>(std::strlen(reply));
  CopyBounded(f.reply, reply);
  return plan;
}

// The link failed in `exchange` of MAIN: `slot` and `fault`, after `replies` replies.
UpdatePlan LinkFailed(int32_t exchange, int32_t slot, LinkFault fault, uint32_t replies = 0,
                      const char* lastReply = "") {
  UpdatePlan plan = Answered(exchange, lastReply, kProgLinkFailed);
  plan.failure.replies = replies;
  plan.failure.failedSlot = slot;
  plan.failure.linkFault = fault;
  plan.failure.linkStatus = static_cast<int32_t>(0xBFFF003E);
  return plan;
}

// Outside the transfer: the programmer's Connect or identification failed.
UpdatePlan WriterFailed(int32_t exchange, int32_t error, const char* reply = nullptr) {
  UpdatePlan plan = Answered(exchange, reply != nullptr ? reply : "", error);
  plan.rows[0].programmed = false;
  plan.failure.rule = -1;
  plan.failure.replies = reply != nullptr ? 1 : 0;
  return plan;
}

UpdatePlan Checked(int32_t row, int32_t check, bool installedRead = true) {
  UpdatePlan plan = ThreeImages();
  plan.rows[0].programmed = false;
  plan.rows[row].check = check;
  plan.rows[row].installedRead = installedRead;
  return plan;
}

constexpr const char* kNothing =
    "Nothing was programmed: the instrument is in writer mode with all its old images.";
constexpr const char* kMainIncomplete =
    "The instrument stays in writer mode: 1C3 has its new image; MAIN may be incomplete; HTTP "
    "keeps its old image.";
constexpr const char* kMainUntouched =
    "The instrument stays in writer mode: 1C3 has its new image; MAIN and HTTP keep their old "
    "images.";
constexpr const char* kFlashNext =
    "Run the same update again; if MAIN fails again, the instrument's flash may be faulty: "
    "contact service with the error number.";
constexpr const char* kStepNext =
    "Run the same update again; if it fails at the same step again, contact service with the "
    "error number.";

TEST(FailureReport, EveryFaultKindNamesItsStepPartitionAnswerAndWhatToDo) {
  const struct {
    const char* fault;  // as flintgate-sim --fault writes it
    int32_t driverCode;
    UpdatePlan plan;
    const char* what;
    const char* holds;
  } cases[] = {
      {"final:erase-ng", kDriverProgramFailed, Answered(CmdProgram, "Erase NG\n", 0x109),
       "MAIN, erasing and programming: the instrument answered \"Erase NG\" (programmer error "
       "0x0109)",
       kMainIncomplete},
      {"final:program-ng", kDriverProgramFailed, Answered(CmdProgram, "Program NG\n", 0x10A),
       "MAIN, erasing and programming: the instrument answered \"Program NG\" (programmer error "
       "0x010A)",
       kMainIncomplete},
      {"final:rtn-ng", kDriverProgramFailed, Answered(CmdProgram, "RtnNg\r\n", 0x20B),
       "MAIN, erasing and programming: the instrument answered \"RtnNg\" (programmer error "
       "0x020B)",
       kMainIncomplete},
      {"final:latest", kDriverProgramFailed,
       Answered(CmdProgram, "Data is the latest update\n", 0x108),
       "MAIN, erasing and programming: the instrument answered \"Data is the latest update\" "
       "(programmer error 0x0108)",
       kMainUntouched},
      {"wrong-checksum", kDriverProgramFailed, Answered(CmdChecksum, "123457\n", 0x107),
       "MAIN, checksum: the instrument's checksum \"123457\" differs from the image's (programmer "
       "error 0x0107)",
       kMainUntouched},
      {"unplug-after:100000", kDriverProgramFailed,
       LinkFailed(CmdData, kWriteFailed, LinkFault::kConnectionLost),
       "MAIN, data transfer: the connection was lost (unplugged or switched off) (programmer "
       "error 0x0002)",
       kMainUntouched},
      {"unplug:CmdProgram", kDriverProgramFailed,
       LinkFailed(CmdProgram, kReadFailed, LinkFault::kConnectionLost, 3, "prog:15\n"),
       "MAIN, erasing and programming: the connection was lost (unplugged or switched off) after "
       "answering \"prog:15\" (programmer error 0x0002)",
       kMainIncomplete},
      {"no-reply:CmdProgram", kDriverProgramFailed,
       LinkFailed(CmdProgram, kReadFailed, LinkFault::kTimeout),
       "MAIN, erasing and programming: the instrument did not answer within the 10 s timeout "
       "(programmer error 0x0002)",
       kMainIncomplete},
      {"reply:CmdReset=NG", kDriverProgramFailed, Answered(CmdReset, "NG\n", 0x101),
       "MAIN, reset: the instrument answered \"NG\" instead of \"OK\" (programmer error 0x0101)",
       kMainUntouched},
      {"reply:CmdData=NG", kDriverProgramFailed, Answered(CmdData, "NG\n", 0x102),
       "MAIN, data transfer: the instrument answered \"NG\" instead of \"OK\" (programmer error "
       "0x0102)",
       kMainUntouched},
      {"reply:CmdDataEnd=NG", kDriverProgramFailed, Answered(CmdDataEnd, "NG\n", 0x103),
       "MAIN, end of data: the instrument answered \"NG\" instead of \"OK\" (programmer error "
       "0x0103)",
       kMainUntouched},
      {"reply:CmdBlockId=NG", kDriverProgramFailed, Answered(CmdBlockId, "NG\n", 0x204),
       "MAIN, block id: the instrument answered \"NG\" instead of \"OK\" (programmer error 0x0204)",
       kMainUntouched},
      {"reply:CmdSetupEnd=NG", kDriverProgramFailed, Answered(CmdSetupEnd, "NG\n", 0x105),
       "MAIN, end of setup: the instrument answered \"NG\" instead of \"OK\" (programmer error "
       "0x0105)",
       kMainUntouched},
      {"reply:CmdSize=NG", kDriverProgramFailed, Answered(CmdSize, "NG\n", 0x106),
       "MAIN, size: the instrument answered \"NG\" instead of \"OK\" (programmer error 0x0106)",
       kMainUntouched},
      {"no-reply:CmdSize", kDriverProgramFailed, LinkFailed(CmdSize, kReadFailed, LinkFault::kTimeout),
       "MAIN, size: the instrument did not answer within the 10 s timeout (programmer error "
       "0x0002)",
       kMainUntouched},
      {"chatter past the deadline", kDriverProgramFailed,
       Answered(CmdProgram, "prog:14\n", kProgDeadlinePassed),
       "MAIN, erasing and programming: the instrument did not finish in time (its last answer "
       "\"prog:14\") (programmer error 0x000B)",
       kMainIncomplete},
      {"ignore-update", kDriverNoWriter,
       WriterFailed(kExchangeIdentity, kProgNotWriter, "VANDRELL,WX2040,SN1,2.00-01-01-01-01-0100\n"),
       "Switch to writer mode: the instrument ignored it and still answers as its normal "
       "firmware (\"VANDRELL,WX2040,SN1,2.00-01-01-01-01-0100\") (programmer error 0x000F)",
       "Nothing was written: the instrument runs its normal firmware."},
      {"never-return", kDriverNoWriter, WriterFailed(kExchangeSwitch, kProgOpenFailed),
       "Switch to writer mode: no writer answered before the wait ran out (programmer error "
       "0x0001)",
       "Nothing was written: the instrument may still be restarting into its writer firmware."},
      {"no-reply:idn (writer)", kDriverProgramFailed,
       [] {
         UpdatePlan p = WriterFailed(kExchangeIdentity, kProgLinkFailed);
         p.failure.failedSlot = kReadFailed;
         p.failure.linkFault = LinkFault::kTimeout;
         return p;
       }(),
       "Identification: the instrument did not answer within the 10 s timeout (programmer error "
       "0x0002)",
       kNothing},
      {"older package", kDriverOlderImage,
       [] {
         UpdatePlan p = Checked(1, kDriverOlderImage);
         CopyBounded(p.rows[1].version, "1.90");
         p.rows[2].check = kDriverOlderImage;
         CopyBounded(p.rows[2].version, "0099");
         return p;
       }(),
       "Version check: MAIN 1.90 is older than the installed 2.00; HTTP 0099 is older than the "
       "installed 0100. Nothing older is installed without --allow-downgrade.",
       kNothing},
      {"idn-no-versions", kDriverOlderImage, Checked(1, kDriverOlderImage, false),
       "Version check: the installed versions cannot be read from the writer's identification "
       "reply",
       kNothing},
      {"--omit MAIN", 0x101,
       [] {
         UpdatePlan p = Checked(1, 0x101);
         p.rows[1].present = false;
         return p;
       }(),
       "Package check: the required image for MAIN is missing", kNothing},
      {"--oversize MAIN", 0x102,
       [] {
         UpdatePlan p = Checked(1, 0x102);
         p.rows[1].length = 0x10001;
         return p;
       }(),
       "Package check: the image for MAIN is 65537 bytes, more than its region's 65536", kNothing},
      {"--block-id (record refused)", kDriverProgramFailed,
       [] {
         UpdatePlan p = Checked(1, kDriverProgramFailed);
         p.rows[1].recordCheck = kProgBlockMismatch;
         p.programmerError = kProgBlockMismatch;
         return p;
       }(),
       "Package check: the image for MAIN was refused: image record belongs to another partition "
       "(programmer error 0x0006)",
       kNothing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    const FailureReport report = DescribeDriverFailure(c.driverCode, c.plan);
    EXPECT_EQ(report.what, c.what);
    EXPECT_EQ(report.holds.substr(0, std::strlen(c.holds)), c.holds);
    EXPECT_EQ(report.holds, report.detail.holds + " " + report.detail.next);
    EXPECT_FALSE(report.detail.next.empty());
    // The reason is one line of its own, and it names no resource.
    EXPECT_FALSE(report.reason.empty());
    EXPECT_EQ(report.reason.find('\n'), std::string::npos);
    EXPECT_EQ(report.what.find('\n'), std::string::npos);
    EXPECT_EQ(report.holds.find('\n'), std::string::npos);
  }
}

// What to do next depends on what went wrong, not only on where.
TEST(FailureReport, TheNextStepFollowsTheCause) {
  EXPECT_EQ(DescribeDriverFailure(8, Answered(CmdProgram, "Program NG\n", 0x10A)).detail.next,
            kFlashNext);
  EXPECT_EQ(DescribeDriverFailure(8, Answered(CmdReset, "NG\n", 0x101)).detail.next, kStepNext);
  EXPECT_NE(DescribeDriverFailure(8, Answered(CmdChecksum, "1\n", 0x107)).detail.next.find(
                "check the USB cable"),
            std::string::npos);
  EXPECT_NE(DescribeDriverFailure(8, LinkFailed(CmdData, kWriteFailed, LinkFault::kConnectionLost))
                .detail.next.find("Reconnect the instrument"),
            std::string::npos);
  EXPECT_NE(DescribeDriverFailure(8, LinkFailed(CmdProgram, kReadFailed, LinkFault::kTimeout))
                .detail.next.find("is on and its USB cable is in"),
            std::string::npos);
  EXPECT_NE(DescribeDriverFailure(9, Checked(1, 9)).detail.next.find("--allow-downgrade"),
            std::string::npos);
  // A partition the instrument needs to start, left incomplete: keep it powered.
  UpdatePlan writer = Answered(CmdProgram, "Program NG\n", 0x10A);
  CopyBounded(writer.rows[1].partitionName, "WRITER");
  EXPECT_EQ(DescribeDriverFailure(8, writer).detail.next,
            "Keep the instrument powered and run the same update again now: with WRITER "
            "incomplete it may not start again.");
}

// The instrument's answer is quoted as text that cannot disturb a terminal, and bounded.
TEST(FailureReport, TheAnswerIsEscapedAndBounded) {
  const FailureReport esc =
      DescribeDriverFailure(8, Answered(CmdProgram, "Program\x1b[2J NG\\\n", 0x10A));
  EXPECT_EQ(esc.detail.reply, "Program\\x1B[2J NG\\x5C");
  EXPECT_TRUE(esc.detail.answered);

  UpdatePlan longReply = Answered(CmdReset, "", 0x101);
  std::memset(longReply.failure.reply, 'N', kFailureReplyCapacity);
  longReply.failure.reply[kFailureReplyCapacity] = '\0';
  longReply.failure.replyLength = 1024;
  const FailureReport cut = DescribeDriverFailure(8, longReply);
  EXPECT_EQ(cut.detail.reply, std::string(kFailureReplyCapacity, 'N') + "...");
}

// A stop between two images leaves every partition whole: old or new.
TEST(FailureReport, AStopBetweenImagesNamesNewAndOldImages) {
  UpdatePlan plan = ThreeImages();
  const FailureReport report = DescribeDriverFailure(kDriverStopped, plan);
  EXPECT_EQ(report.what, "");
  EXPECT_EQ(report.detail.holds, kMainUntouched);
}

// Every run code a run can end with has a short reason of its own, one line, and success none.
TEST(FailureReport, EveryRunCodeHasAReasonOfOneLine) {
  EXPECT_EQ(RunCodeText(0), "");
  const int32_t codes[] = {kRunNoModel,          kRunNoUpdater,     kRunNoPayload,
                           kRunNoInstrument,     kRunDeclined,      kRunPickInstrument,
                           kRunInitFailed,       kRunConnectFailed, kRunOtherModel,
                           kRunWriterModelUnconfirmed, kRunInstrumentBusy, kRunNoInstrumentLock,
                           kRunDriverErrorBase + 4, kRunDriverErrorBase + 9};
  std::vector<std::string> seen;
  for (int32_t code : codes) {
    const std::string reason = DescribeFailure(code, nullptr).reason;
    EXPECT_FALSE(reason.empty()) << std::hex << code;
    EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
    for (const std::string& other : seen) EXPECT_NE(reason, other) << std::hex << code;
    seen.push_back(reason);
  }
  EXPECT_EQ(RunCodeText(0x7777), "error number 0x7777");
}

}  // namespace
}  // namespace fg
