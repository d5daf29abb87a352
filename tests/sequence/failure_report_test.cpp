#include "sequence/failure_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sequence/update_run.h"

namespace fg {
namespace {

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
