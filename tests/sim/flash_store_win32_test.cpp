// The simulated flash's state folder on Windows: made with an access list that admits only this
// user, as are the folders made above it, and kept across restarts. (Links cannot be made under
// wine, where these tests run; the POSIX tests cover a planted link.)
#include <gtest/gtest.h>
// clang-format off
#include <windows.h>
#include <aclapi.h>
// clang-format on

#include <filesystem>

#include "platform/user_only_access_win32.h"
#include "sim/flash_store.h"
#include "tests/sim/state_folder_fixture.h"

namespace fg::sim {
namespace {

// Who besides this user (the system, the administrators) may open `path`; "" for nobody.
std::string OthersAdmittedTo(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return "(unreadable)";
  }
  std::string others = platform::OthersAdmitted(descriptor);
  LocalFree(descriptor);
  return others;
}

TEST_F(StateFolderTest, FoldersMadeForTheStateAdmitOnlyThisUser) {
  namespace fs = std::filesystem;
  const fs::path serial = fs::path(folder_) / "state" / "deeper" / "SN1";
  const std::vector<uint8_t> main = Pattern(1000, 9);
  {
    FlashStore flash(kWx2040SimFamily);
    std::string error;
    ASSERT_TRUE(flash.Bind(serial.string(), &error)) << error;
    for (const fs::path& made : {serial.parent_path().parent_path(), serial.parent_path(), serial}) {
      EXPECT_EQ(OthersAdmittedTo(made.string()), "") << made;
    }
    flash.Program(6, main.data(), main.size());
    EXPECT_FALSE(fs::exists(serial / "MAIN.bin.tmp"));  // renamed into place
  }
  FlashStore again(kWx2040SimFamily);
  std::string error;
  ASSERT_TRUE(again.Bind(serial.string(), &error)) << error;
  EXPECT_EQ(again.Content(6), main);

  // A folder in the place of a partition file is refused, naming it.
  fs::remove(serial / "HTTP.bin");
  fs::create_directory(serial / "HTTP.bin");
  FlashStore third(kWx2040SimFamily);
  EXPECT_FALSE(third.Bind(serial.string(), &error));
  EXPECT_NE(error.find("HTTP.bin"), std::string::npos) << error;
}

}  // namespace
}  // namespace fg::sim
