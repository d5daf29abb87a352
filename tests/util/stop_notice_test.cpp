// The runs' stop notices: which line of a run is written, for how long, and within what bounds.
#include "util/stop_notice.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace fg {
namespace {

std::string g_written;
void Capture(const char* text, size_t size) { g_written.append(text, size); }

// What a stop that ends the program at once would write now.
std::string WrittenNow() {
  g_written.clear();
  WriteStopNotices(Capture);
  return g_written;
}

TEST(StopNoticeTest, AnImageLineStandsForItsRunUntilItIsCleared) {
  EXPECT_EQ(WrittenNow(), "");
  auto a = std::make_unique<StopNotice>();
  StopNotice b;
  ASSERT_TRUE(a->held() && b.held());
  EXPECT_EQ(WrittenNow(), "") << "a run without lines leaves nothing to say";

  a->Set(StopNotice::kRunLine, "A in writer mode\n");
  b.Set(StopNotice::kRunLine, "B in writer mode\n");
  a->Set(StopNotice::kImageLine, "A cut short in MAIN\n");
  EXPECT_EQ(WrittenNow(), "A cut short in MAIN\nB in writer mode\n");

  a->Set(StopNotice::kImageLine, nullptr);
  b.Set(StopNotice::kRunLine, "");
  EXPECT_EQ(WrittenNow(), "A in writer mode\n");

  a.reset();
  EXPECT_EQ(WrittenNow(), "");
  StopNotice reused;  // takes the slot `a` gave back, without its lines
  EXPECT_EQ(WrittenNow(), "");
}

TEST(StopNoticeTest, LinesAndRunsStayWithinTheTable) {
  std::vector<std::unique_ptr<StopNotice>> runs;
  for (int32_t i = 0; i < kStopNoticeSlots; ++i) {
    runs.push_back(std::make_unique<StopNotice>());
    ASSERT_TRUE(runs.back()->held()) << i;
    runs.back()->Set(StopNotice::kRunLine, "r");
  }
  StopNotice extra;  // one run too many keeps no lines and writes nothing
  EXPECT_FALSE(extra.held());
  extra.Set(StopNotice::kRunLine, "extra");
  EXPECT_EQ(WrittenNow(), std::string(static_cast<size_t>(kStopNoticeSlots), 'r'));
  runs.clear();

  StopNotice longLine;
  longLine.Set(StopNotice::kRunLine, std::string(3 * kStopNoticeCapacity, 'x').c_str());
  EXPECT_EQ(WrittenNow(), std::string(kStopNoticeCapacity - 1, 'x'));
}

}  // namespace
}  // namespace fg
