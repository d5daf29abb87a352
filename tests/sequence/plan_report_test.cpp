// Verdicts and texts made from a driver's package plan.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "sequence/plan_report.h"
#include "util/bounded_text.h"

namespace fg {
namespace {

ImagePlanRow Row(const char* name, bool present, bool optional, const char* version,
                 const char* installed, uint32_t length, uint32_t maxSize) {
  ImagePlanRow row{};
  CopyBounded(row.partitionName, name);
  row.present = present;
  row.optional = optional;
  CopyBounded(row.version, version);
  CopyBounded(row.installed, installed);
  row.length = length;
  row.maxSize = maxSize;
  return row;
}

ImagePlanRow Checked(ImagePlanRow row, int32_t check, int32_t recordCheck = 0,
                     bool versioned = true, bool installedRead = true) {
  row.check = check;
  row.recordCheck = recordCheck;
  row.versioned = versioned;
  row.installedRead = installedRead;
  return row;
}

// The verdicts are the driver's own numbers put into words; the rules behind them are tested
// with the driver.
TEST(PlanVerdict, WordsForTheDriversVerdicts) {
  const ImagePlanRow main = Row("MAIN", true, false, "2.10", "2.00", 100, 0x100000);
  const struct {
    ImagePlanRow row;
    const char* verdict;
  } cases[] = {
      {Checked(Row("OEM", false, true, "", "", 0, 0x4000), 0), "absent (optional)"},
      {Checked(Row("MAIN", false, false, "", "2.00", 0, 0x100000), 0x101), "missing"},
      {Checked(main, 0), "ok"},
      {Checked(main, 0x202), "too large"},
      {Checked(main, 9), "older than installed"},
      {Checked(main, 9, 0, true, false), "installed version unreadable"},
      {Checked(main, 8, 3), "image record too short"},
      {Checked(main, 8, 6), "image record belongs to another partition"},
  };
  for (const auto& c : cases) EXPECT_STREQ(PlanVerdict(c.row), c.verdict) << c.row.check;
}

TEST(PlanVerdict, FailureNoteExplainsOnlyTheFirstFailingRule) {
  UpdatePlan plan{};
  plan.ruleCount = 3;
  plan.rows[0] = Checked(Row("1C3", true, false, "01", "01", 100, 0x10000), 0);
  plan.rows[1] = Checked(Row("HTTP", true, false, "01", "01", 24, 0x60000), 8, 3);
  plan.rows[2] = Checked(Row("MAIN", true, false, "2.10", "", 100, 0x100000), 9, 0, true, false);
  EXPECT_EQ(PlanFailureNote(plan),
            "The image for HTTP was refused before programming: image record too short "
            "(programmer error 0x0003). Nothing was programmed.");
  plan.rows[1].check = 0;
  EXPECT_EQ(PlanFailureNote(plan),
            "The installed versions could not be read from the instrument's identification reply.");
  plan.rows[0].check = 0x101;  // a missing image says enough by its number
  EXPECT_EQ(PlanFailureNote(plan), "");
  plan.rows[0].check = 0;
  plan.rows[2].check = 0;
  EXPECT_EQ(PlanFailureNote(plan), "");
}

UpdatePlan SamplePlan() {
  UpdatePlan plan{};
  plan.ruleCount = 4;
  plan.rows[0] = Row("1C3", true, false, "01", "01", 1000, 0x10000);
  plan.rows[1] = Row("1C6DDS", false, true, "", "01", 0, 0x20000);
  plan.rows[2] = Row("1C6POUT", true, false, "02", "01", 3000, 0x20000);
  plan.rows[3] = Row("MAIN", true, false, "2.10", "2.00", 50000, 0x100000);
  plan.currentRule = 3;
  return plan;
}

TEST(PlanText, TableHasAHeadingAndOneLinePerRule) {
  const std::string table = PlanTable(SamplePlan());
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 5);
  EXPECT_NE(table.find("1C3"), std::string::npos);
  EXPECT_NE(table.find("1000 / 65536"), std::string::npos);
  EXPECT_NE(table.find("- / 131072"), std::string::npos);
  EXPECT_NE(table.find("absent (optional)"), std::string::npos);
  EXPECT_NE(table.find("50000 / 1048576"), std::string::npos);
}

TEST(PlanText, ProgressCountsTheImagesBeforeTheCurrentOne) {
  const UpdatePlan plan = SamplePlan();
  EXPECT_EQ(PlanTotalBytes(plan), 54000u);
  EXPECT_EQ(PlanDoneBytes(plan, 60), 4000u);    // rules 0 and 2 went before MAIN
  EXPECT_EQ(PlanDoneBytes(plan, 100), 54000u);  // the last report: everything is in
  EXPECT_EQ(ProgressText(60, &plan, 65.7), "[ 60%] MAIN     4000/54000 bytes  1:05");
  EXPECT_EQ(ProgressText(7, nullptr, 0.2), "[  7%]  0:00");
  // With weights, the image being programmed adds the part of its weight the percent reached.
  UpdatePlan weighted = plan;
  weighted.rows[0].weight = 10;
  weighted.rows[2].weight = 10;
  weighted.rows[3].weight = 80;
  weighted.totalWeight = 100;
  weighted.doneWeight = 20;
  EXPECT_EQ(PlanDoneBytes(weighted, 60), 4000u + 25000u);  // half of MAIN's 80
  EXPECT_EQ(PlanDoneBytes(weighted, 20), 4000u);           // MAIN not begun
  EXPECT_EQ(PlanDoneBytes(weighted, 12), 4000u);           // never below the finished images
  EXPECT_EQ(PlanDoneBytes(weighted, 99), 4000u + 49375u);  // 79 of 80: still short of all
  weighted.doneWeight = 100;  // MAIN reported done, the percent not yet at 100
  EXPECT_EQ(PlanDoneBytes(weighted, 99), 54000u);
  UpdatePlan outside = plan;
  outside.currentRule = -1;  // between images: no name to show
  EXPECT_EQ(ProgressText(7, &outside, 3), "[  7%]  0:03");
}

}  // namespace
}  // namespace fg
