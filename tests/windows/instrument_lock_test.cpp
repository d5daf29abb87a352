// The instrument lock on Windows: a byte-range lock on a file in the user's temporary folder.
// Two handles exclude each other as two processes do; the holder's text stays readable; closing
// the handle (as the end of a process does) frees it.
#include <gtest/gtest.h>
// clang-format off
#include <windows.h>
// clang-format on

#include <string>

#include "link/instrument_lock.h"
#include "platform/instrument_lock.h"
#include "platform/private_folder.h"

namespace fg::test {
namespace {

TEST(InstrumentLockWin32, TwoHoldersExcludeEachOtherAndTheHolderIsNamed) {
  std::string folder;
  ASSERT_TRUE(platform::CreatePrivateTempFolder("fg-win-locks-", &folder));
  RunEnv env{};
  env.lockFolder = folder.c_str();
  const std::string key = InstrumentKeyOfResource("USB0::0x2E5B::0x3A02::SN9::INSTR");

  ScopedInstrumentLock first, second;
  LockHolder holder{};
  std::string problem;
  ASSERT_EQ(LockInstrument(&env, key, "WX2050", LockPurpose::kUpdate, first.get(), &holder,
                           &problem),
            kInstrumentLocked)
      << problem;
  EXPECT_EQ(LockInstrument(&env, key, "WX2050", LockPurpose::kUpdate, second.get(), &holder,
                           &problem),
            kInstrumentBusy);
  EXPECT_EQ(HolderDescription(holder),
            "test_windows (process " + std::to_string(GetCurrentProcessId()) + ")");
  EXPECT_STREQ(holder.model, "WX2050");
  LockHolder probed{};
  EXPECT_EQ(ProbeInstrument(&env, key, &probed, &problem), kInstrumentBusy);
  // The writer's name of the same instrument meets the same lock.
  EXPECT_EQ(LockInstrument(&env, InstrumentKeyOfResource("USB::0x2E5B::0x3A01::sn9"), nullptr,
                           LockPurpose::kUpdate, second.get(), &holder, &problem),
            kInstrumentBusy);

  UnlockInstrument(first.get());
  EXPECT_EQ(ProbeInstrument(&env, key, &probed, &problem), kInstrumentFree);
  EXPECT_EQ(LockInstrument(&env, key, nullptr, LockPurpose::kUpdate, second.get(), &holder,
                           &problem),
            kInstrumentLocked);
  UnlockInstrument(second.get());

  // A name that is no plain file name is refused rather than used as a path.
  platform::LockHandle handle;
  std::string text;
  EXPECT_EQ(platform::TakeLock(folder, "..\\evil", "x", &handle, &text, &problem),
            platform::kLockUnavailable);
  EXPECT_EQ(handle.value, -1);

  WIN32_FIND_DATAA found;
  const HANDLE listing = FindFirstFileA((folder + "\\*.lock").c_str(), &found);
  ASSERT_NE(listing, INVALID_HANDLE_VALUE);
  FindClose(listing);
  platform::RemoveFileNow((folder + "\\" + found.cFileName).c_str());
  platform::RemoveFolderNow(folder.c_str());
}

TEST(InstrumentLockWin32, TheDefaultFolderIsInTheUsersTemporaryFolder) {
  char base[MAX_PATH + 1] = {};
  const std::string temp(base, GetTempPathA(sizeof base, base));
  EXPECT_EQ(platform::DefaultLockFolder(), temp + "flintgate-locks");
  EXPECT_EQ(platform::CurrentProgramName(), "test_windows");
}

}  // namespace
}  // namespace fg::test
