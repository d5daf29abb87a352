// The simulated flash: erase and program semantics, and the state folder that outlives a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "sim/flash_store.h"

namespace fg::sim {
namespace {

class StateFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/fg-sim-state-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    ASSERT_NE(made, nullptr);
    folder_ = made;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::vector<uint8_t> ReadFile(const std::string& name) const {
    std::ifstream in(std::filesystem::path(folder_) / name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string folder_;
};

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
  return bytes;
}

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

TEST_F(StateFolder, MirrorsEveryPartitionAndSurvivesARestart) {
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

TEST_F(StateFolder, RefusesStateThatCannotBeTheFlash) {
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

// The state folder is private and its files are written where they are, never through a link
// that somebody planted: a link in place of a partition file is refused, one in place of the
// temporary file or the folder itself leads nowhere.
TEST_F(StateFolder, IsPrivateAndFollowsNoLinks) {
  namespace fs = std::filesystem;
  const fs::path outside = fs::path(folder_) / "outside";
  { std::ofstream(outside) << "not flash"; }

  const fs::path serial = fs::path(folder_) / "state" / "deeper" / "SN1";
  FlashStore flash(kWx2040SimFamily);
  std::string error;
  ASSERT_TRUE(flash.Bind(serial.string(), &error)) << error;
  for (const fs::path& made : {serial.parent_path().parent_path(), serial.parent_path(), serial}) {
    EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all) << made;
  }

  // A link where the next temporary file goes.
  fs::create_symlink(outside, serial / "MAIN.bin.tmp");
  const std::vector<uint8_t> main = Pattern(1000, 9);
  flash.Program(6, main.data(), main.size());
  EXPECT_EQ(ReadFile("outside"), std::vector<uint8_t>({'n', 'o', 't', ' ', 'f', 'l', 'a', 's', 'h'}));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(serial / "MAIN.bin")));

  // A link in place of a partition file, and a folder that is a link.
  fs::remove(serial / "HTTP.bin");
  fs::create_symlink(outside, serial / "HTTP.bin");
  FlashStore again(kWx2040SimFamily);
  EXPECT_FALSE(again.Bind(serial.string(), &error));
  EXPECT_NE(error.find("HTTP.bin"), std::string::npos) << error;
  const fs::path linked = fs::path(folder_) / "linked";
  fs::create_directory_symlink(serial, linked);
  EXPECT_FALSE(again.Bind(linked.string(), &error));

  // A folder left open by an earlier version is closed to others.
  fs::remove(serial / "HTTP.bin");
  fs::permissions(serial, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  FlashStore third(kWx2040SimFamily);
  ASSERT_TRUE(third.Bind(serial.string(), &error)) << error;
  EXPECT_EQ(fs::status(serial).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(third.Content(6), main);
}

}  // namespace
}  // namespace fg::sim
