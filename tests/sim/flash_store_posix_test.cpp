// The simulated flash's state folder on POSIX: private (mode 0700, as are the folders made above
// it), and written where it is, never through a link.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sim/flash_store.h"
#include "tests/sim/state_folder_fixture.h"

namespace fg::sim {
namespace {

// The state folder is private and its files are written where they are, never through a link
// that somebody planted: a link in place of a partition file is refused, one in place of the
// temporary file or the folder itself leads nowhere.
TEST_F(StateFolderTest, IsPrivateAndFollowsNoLinks) {
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
