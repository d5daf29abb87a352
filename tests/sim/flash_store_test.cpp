// The simulated flash: erase and program semantics, and the state folder that outlives a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "sim/flash_store.h"
#include "tests/sim/state_folder_fixture.h"

namespace fg::sim {
namespace {

TEST(FlashStore, ProgrammingErasesOnlyTheBlocksItCovers) {
  FlashStore flash(kWx2040SimFamily);  // OEM: row 16, two blocks of 8192
  const std::vector<uint8_t> big = Pattern(12000, 1);
  flash.Program(16, big.data(), big.size());
  EXPECT_EQ(flash.Content(16), big);

  const std::vector<uint8_t> small = Pattern(100, 9);
  flash.Program(16, small.data(), small.size());
  const std::vector<uint8_t>& now = flash.Content(16);
  ASSERT_EQ(now.size(), 12000u);
  EXPECT_TRUE(std::equal(small.begin(), small.end(), now.begin()));
  EXPECT_TRUE(std::all_of(now.begin() + 100, now.begin() + 8192, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(std::equal(now.begin() + 8192, now.end(), big.begin() + 8192));

  flash.EraseBlocks(16, 2);
  EXPECT_TRUE(flash.Content(16).empty());
  flash.Program(16, big.data(), big.size());
  flash.Program(16, small.data(), small.size());
  flash.EraseBlocks(16, 1);
  EXPECT_EQ(flash.Content(16).size(), 12000u);
}

TEST(FlashStore, VersionRunsAreCheckedPerFamily) {
  FlashStore wx2040(kWx2040SimFamily);
  FlashStore wx2050(kWx2050SimFamily);
  EXPECT_EQ(wx2040.VersionRun(), "2.00-01-01-01-01-0100");
  EXPECT_EQ(wx2050.VersionRun(), "1.10-01-01");
  std::string error;
  EXPECT_TRUE(wx2040.SetVersionRun("10.0-01-02-03-04-0105", &error)) << error;
  EXPECT_EQ(wx2040.Version(0), "10.0");
  EXPECT_EQ(wx2040.Version(5), "0105");
  for (const char* bad : {"1.10-01", "1.10-01-01-01", "1.10--01", "1.10-01-0 1", "1,10-01-01", ""}) {
    EXPECT_FALSE(wx2050.SetVersionRun(bad, &error)) << bad;
  }
  EXPECT_EQ(wx2050.VersionRun(), "1.10-01-01");  // unchanged by refusals
}

TEST_F(StateFolderTest, MirrorsEveryPartitionAndSurvivesARestart) {
  const std::vector<uint8_t> main = Pattern(70000, 3);
  {
    FlashStore flash(kWx2040SimFamily);
    std::string error;
    ASSERT_TRUE(flash.Bind(folder_, &error)) << error;
    flash.Program(6, main.data(), main.size());
    flash.SetVersion(0, "2.31");
    EXPECT_EQ(ReadFile("MAIN.bin"), main);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(folder_) / "STORED_DATA.bin"));
    EXPECT_TRUE(ReadFile("HTTP.bin").empty());
    const std::vector<uint8_t> versions = ReadFile("versions");
    EXPECT_EQ(std::string(versions.begin(), versions.end()), "2.31-01-01-01-01-0100\n");
  }
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
    files += entry.path().extension() == ".bin";
  }
  EXPECT_EQ(files, kWx2040SimFamily.partitions.size());

  FlashStore again(kWx2040SimFamily);
  std::string error;
  ASSERT_TRUE(again.Bind(folder_, &error)) << error;
  EXPECT_EQ(again.Content(6), main);
  EXPECT_EQ(again.VersionRun(), "2.31-01-01-01-01-0100");
}

TEST_F(StateFolderTest, RefusesStateThatCannotBeTheFlash) {
  {
    std::ofstream(std::filesystem::path(folder_) / "OEM.bin", std::ios::binary)
        << std::string(16385, 'x');  // one byte beyond the partition
  }
  FlashStore flash(kWx2040SimFamily);
  std::string error;
  EXPECT_FALSE(flash.Bind(folder_, &error));
  EXPECT_NE(error.find("OEM.bin"), std::string::npos);

  std::filesystem::remove(std::filesystem::path(folder_) / "OEM.bin");
  { std::ofstream(std::filesystem::path(folder_) / "versions") << "1.10-01\n"; }
  EXPECT_FALSE(flash.Bind(folder_, &error));
}

}  // namespace
}  // namespace fg::sim
