// The station's roster: which instruments it takes, refuses or leaves for later as the bus
// changes, and that an instrument is taken again only after it was unplugged once its run ended.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalog/model_catalog.h"
#include "sequence/station_roster.h"
#include "util/bounded_text.h"

namespace fg {
namespace {

std::string Normal2040(const std::string& serial) {
  return "USB0::0x2E5B::0x3A01::" + serial + "::INSTR";
}
std::string Normal2050(const std::string& serial) {
  return "USB0::0x2E5B::0x3A02::" + serial + "::INSTR";
}

FoundInstrument Found(const std::string& resource, const char* model, InstrumentMode mode) {
  FoundInstrument f{};
  CopyBounded(f.resource, resource.c_str());
  const size_t end = resource.rfind("::INSTR");
  const size_t start = resource.rfind("::", end - 1) + 2;
  CopyBounded(f.serial, resource.substr(start, end - start).c_str());
  CopyBounded(f.model, model);
  f.mode = mode;
  return f;
}

class StationRosterTest : public ::testing::Test {
 protected:
  const ModelInfo* wx2050 = FindModel("WX2050");
  StationRoster roster{wx2050};

  // A search that found `names`: what the roster hands back to be looked at.
  std::vector<std::string> See(const std::vector<std::string>& names) {
    return roster.Present(names);
  }
};

TEST_F(StationRosterTest, TakesTheFilesModelAndWritersThatNameItRefusesOthersAndWaitsForBusy) {
  ASSERT_NE(wx2050, nullptr);
  const std::vector<std::string> bus = {Normal2050("A"), Normal2040("B"), Normal2040("C"),
                                        Normal2040("D")};
  EXPECT_EQ(See(bus), bus);  // all new

  size_t entry = 99;
  EXPECT_EQ(roster.Consider(Found(bus[0], "WX2050", InstrumentMode::kNormal), &entry),
            RosterVerdict::kTake);
  EXPECT_EQ(entry, 0u);
  // A WX2050 left in writer mode enumerates under the WX2040's id and names its model.
  EXPECT_EQ(roster.Consider(Found(bus[1], "WX2050", InstrumentMode::kWriter), &entry),
            RosterVerdict::kTake);
  EXPECT_EQ(entry, 1u);
  EXPECT_EQ(roster.Consider(Found(bus[2], "WX2040", InstrumentMode::kNormal), &entry),
            RosterVerdict::kRefuse);
  EXPECT_EQ(roster.entries()[entry].phase, RosterPhase::kRefused);
  EXPECT_EQ(roster.entries()[entry].serial, "C");
  // Another program updates D: no entry, and it is looked at again at the next search.
  const size_t before = roster.entries().size();
  EXPECT_EQ(roster.Consider(Found(bus[3], "WX2040", InstrumentMode::kBusy), &entry),
            RosterVerdict::kLater);
  EXPECT_EQ(roster.entries().size(), before);
  EXPECT_EQ(See(bus), std::vector<std::string>{bus[3]});
}

TEST_F(StationRosterTest, AnInstrumentIsTakenOnceUntilUnpluggedAfterItsRun) {
  const std::string a = Normal2050("A");
  // Its writer-mode name: the same serial, the writer's product id.
  const std::string aWriter = Normal2040("A");
  ASSERT_EQ(See({a}), std::vector<std::string>{a});
  size_t entry = 0;
  ASSERT_EQ(roster.Consider(Found(a, "WX2050", InstrumentMode::kNormal), &entry),
            RosterVerdict::kTake);
  roster.RunStarted(entry);

  // While it runs it leaves the bus for its restart and comes back as a writer, then as itself:
  // none of it is a new instrument.
  EXPECT_TRUE(See({}).empty());
  EXPECT_TRUE(See({aWriter}).empty());
  EXPECT_EQ(roster.entries()[entry].resource, aWriter);
  EXPECT_TRUE(See({a}).empty());
  roster.RunEnded(entry);

  // Still plugged in after its run: left alone, however often the bus is searched.
  EXPECT_TRUE(See({a}).empty());
  EXPECT_TRUE(See({a}).empty());
  EXPECT_EQ(roster.entries()[entry].runs, 1);

  // Unplugged and plugged in again: looked at again, under the same entry.
  EXPECT_TRUE(See({}).empty());
  EXPECT_FALSE(roster.entries()[entry].present);
  ASSERT_EQ(See({a}), std::vector<std::string>{a});
  size_t again = 99;
  EXPECT_EQ(roster.Consider(Found(a, "WX2050", InstrumentMode::kNormal), &again),
            RosterVerdict::kTake);
  EXPECT_EQ(again, entry);
  EXPECT_EQ(roster.entries()[entry].runs, 2);
  EXPECT_EQ(roster.entries().size(), 1u);
}

TEST_F(StationRosterTest, ARefusedInstrumentIsLookedAtAgainOnlyWhenPluggedInAgain) {
  const std::string b = Normal2040("B");
  ASSERT_EQ(See({b}).size(), 1u);
  size_t entry = 0;
  ASSERT_EQ(roster.Consider(Found(b, "WX2040", InstrumentMode::kNormal), &entry),
            RosterVerdict::kRefuse);
  EXPECT_TRUE(See({b}).empty());
  EXPECT_TRUE(See({}).empty());
  EXPECT_EQ(See({b}), std::vector<std::string>{b});
}

}  // namespace
}  // namespace fg
