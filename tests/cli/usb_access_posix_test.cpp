// The facts doctor reads about USB access on Linux: the rule in the folders searched, the user
// and groups, and the user active at the seat as logind records it.
#include <gtest/gtest.h>
#include <grp.h>
#include <unistd.h>

#include <string>

#include "platform/usb_access.h"
#include "tests/firmware/firmware_test_files.h"

namespace fg {
namespace {

TEST(UsbAccess, FindsTheRuleInTheFirstFolderThatHasIt) {
  test::TempDir dir;
  const std::string a = dir.File("a"), b = dir.File("b"), c = dir.File("c");
  for (const std::string& folder : {a, b, c}) std::filesystem::create_directory(folder);
  test::WriteFile(b + "/60-flintgate.rules", "# rule\n");
  test::WriteFile(c + "/60-flintgate.rules", "# rule\n");
  std::filesystem::create_directory(a + "/60-flintgate.rules");  // a folder is no rule

  platform::UsbAccessFacts facts =
      platform::ReadUsbAccessFacts("60-flintgate.rules", {a, b, c}, dir.File("no-seat"));
  EXPECT_TRUE(facts.applies);
  EXPECT_EQ(facts.rule, b + "/60-flintgate.rules");
  EXPECT_EQ(facts.ruleFolders, (std::vector<std::string>{a, b, c}));
  EXPECT_EQ(facts.seatUser, "");
  EXPECT_FALSE(facts.activeOnSeat);

  facts = platform::ReadUsbAccessFacts("60-flintgate.rules", {a}, dir.File("no-seat"));
  EXPECT_EQ(facts.rule, "");
}

TEST(UsbAccess, NamesTheUserTheGroupsAndTheSeatsActiveUser) {
  test::TempDir dir;
  const std::string seat = dir.File("seat0");
  test::WriteFile(seat, "# This is private data.\nIS_SEAT0=1\nACTIVE=c1\nACTIVE_UID=" +
                            std::to_string(geteuid()) + "\nUIDS=" + std::to_string(geteuid()) +
                            "\n");
  platform::UsbAccessFacts facts = platform::ReadUsbAccessFacts("x.rules", {}, seat);
  EXPECT_EQ(facts.root, geteuid() == 0);
  EXPECT_FALSE(facts.user.empty());
  EXPECT_EQ(facts.seatUser, facts.user);
  EXPECT_TRUE(facts.activeOnSeat);
  ASSERT_FALSE(facts.groups.empty());
  const group* primary = getgrgid(getegid());
  EXPECT_EQ(facts.groups[0], primary != nullptr ? primary->gr_name : std::to_string(getegid()));

  // Another user at the seat; one with no name is named by number.
  test::WriteFile(seat, "ACTIVE_UID=4000000\n");
  facts = platform::ReadUsbAccessFacts("x.rules", {}, seat);
  EXPECT_EQ(facts.seatUser, "uid 4000000");
  EXPECT_FALSE(facts.activeOnSeat);
}

TEST(UsbAccess, TheInstallFolderJoinsUdevsFoldersOnce) {
  const std::vector<std::string> plain = platform::UdevRuleFolders("");
  ASSERT_FALSE(plain.empty());
  EXPECT_EQ(plain.front(), "/etc/udev/rules.d");
  EXPECT_EQ(platform::UdevRuleFolders("/lib/udev/rules.d"), plain);
  std::vector<std::string> withPrefix = plain;
  withPrefix.push_back("/opt/fg/lib/udev/rules.d");
  EXPECT_EQ(platform::UdevRuleFolders("/opt/fg/lib/udev/rules.d"), withPrefix);
}

}  // namespace
}  // namespace fg
