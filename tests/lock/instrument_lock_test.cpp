// The per-instrument lock: across processes, within one process, with searches that pass, in a
// folder of the user's own; and the names that reach one instrument.
#include "link/instrument_lock.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/instrument_lock.h"
#include "platform/private_folder.h"
#include "tests/support/lock_holder.h"

namespace fg::test {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A clock that moves only when the lock sleeps; a hook runs at every sleep.
struct StepClock {
  int64_t nowMs = 0;
  int sleeps = 0;
  std::function<void()> onSleep;
  WaitClock clock{this, [](void* o) { return static_cast<StepClock*>(o)->nowMs; },
                  [](void* o, uint32_t ms) {
                    auto* c = static_cast<StepClock*>(o);
                    c->nowMs += ms;
                    ++c->sleeps;
                    if (c->onSleep) c->onSleep();
                  }};
};

class InstrumentLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::CreatePrivateTempFolder("fg-lock-test-", &root_));
    folder_ = root_ + "/locks";
    env_.lockFolder = folder_.c_str();
    env_.waitClock = &clock_.clock;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(folder_, fs::perms::owner_all, ignored);
    fs::remove_all(root_, ignored);
  }

  int32_t Lock(const std::string& key, LockPurpose purpose, InstrumentLock* lock,
               LockHolder* holder) {
    std::string problem;
    const int32_t rc = LockInstrument(&env_, key, "WX2050", purpose, lock, holder, &problem);
    if (rc == kInstrumentLockFailed) ADD_FAILURE() << problem;
    return rc;
  }

  std::string root_;
  std::string folder_;
  StepClock clock_;
  RunEnv env_{};
};

TEST_F(InstrumentLockTest, AnotherProcessHoldsItUntilItEndsHoweverItEnds) {
  const std::string key = InstrumentKeyOfResource("USB0::0x2E5B::0x3A02::SN7::INSTR");
  testing::LockHoldingChild child(&env_, key, "WX2050");
  ASSERT_TRUE(child.holding());

  ScopedInstrumentLock lock;
  LockHolder holder{};
  EXPECT_EQ(Lock(key, LockPurpose::kUpdate, lock.get(), &holder), kInstrumentBusy);
  EXPECT_EQ(clock_.sleeps, 0) << "an update's hold is not waited for";
  EXPECT_EQ(holder.pid, child.pid());
  EXPECT_EQ(HolderDescription(holder),
            platform::CurrentProgramName() + " (process " + std::to_string(child.pid()) + ")");
  EXPECT_STREQ(holder.model, "WX2050");
  std::string problem;
  LockHolder probed{};
  EXPECT_EQ(ProbeInstrument(&env_, key, &probed, &problem), kInstrumentBusy);
  EXPECT_EQ(probed.pid, child.pid());
  // The writer's name of the same instrument reaches the same lock.
  const std::string writerKey = InstrumentKeyOfResource("usb::0x2e5b::0x3a01::sn7");
  EXPECT_EQ(Lock(writerKey, LockPurpose::kUpdate, lock.get(), &holder), kInstrumentBusy);

  child.Kill();  // SIGKILL: nothing of its own releases the lock
  EXPECT_EQ(ProbeInstrument(&env_, key, &probed, &problem), kInstrumentFree);
  EXPECT_EQ(Lock(key, LockPurpose::kUpdate, lock.get(), &holder), kInstrumentLocked);
  const std::string text = ReadFile(fs::path(folder_) / "instrument-USB-SERIAL-SN7.lock");
  EXPECT_EQ(text, FormatLockText(platform::CurrentProcessId(), platform::CurrentProgramName(),
                                 "WX2050", LockPurpose::kUpdate));
}

// The runs of `update --all` share a process: two holds in it exclude each other all the same.
TEST_F(InstrumentLockTest, TwoRunsOfOneProcessExcludeEachOther) {
  const std::string key = InstrumentKeyOfResource("USB0::0x2E5B::0x3A01::SN1::INSTR");
  ScopedInstrumentLock first, second, other;
  LockHolder holder{};
  ASSERT_EQ(Lock(key, LockPurpose::kUpdate, first.get(), &holder), kInstrumentLocked);
  EXPECT_EQ(Lock(key, LockPurpose::kUpdate, second.get(), &holder), kInstrumentBusy);
  EXPECT_EQ(holder.pid, platform::CurrentProcessId());
  const std::string otherKey = InstrumentKeyOfResource("USB0::0x2E5B::0x3A01::SN2::INSTR");
  EXPECT_EQ(Lock(otherKey, LockPurpose::kUpdate, other.get(), &holder), kInstrumentLocked);
  UnlockInstrument(first.get());
  UnlockInstrument(first.get());  // twice does nothing
  EXPECT_EQ(Lock(key, LockPurpose::kUpdate, second.get(), &holder), kInstrumentLocked);
}

// A search holds the lock only while it asks the instrument who it is: an update waits for it,
// up to the longest such question; a probe counts it as free.
TEST_F(InstrumentLockTest, ASearchIsWaitedForAnUpdateIsNot) {
  const std::string key = InstrumentKeyOfResource("USB0::0x2E5B::0x3A01::SN3::INSTR");
  ScopedInstrumentLock search, update;
  LockHolder holder{};
  ASSERT_EQ(Lock(key, LockPurpose::kSearch, search.get(), &holder), kInstrumentLocked);
  std::string problem;
  EXPECT_EQ(ProbeInstrument(&env_, key, &holder, &problem), kInstrumentFree);

  clock_.onSleep = [&] {
    if (clock_.sleeps == 3) UnlockInstrument(search.get());  // the search got its answer
  };
  EXPECT_EQ(Lock(key, LockPurpose::kUpdate, update.get(), &holder), kInstrumentLocked);
  EXPECT_EQ(clock_.sleeps, 3);

  // A search that never lets go is given up on after the longest question.
  clock_.onSleep = nullptr;
  clock_.sleeps = 0;
  UnlockInstrument(update.get());
  ASSERT_EQ(Lock(key, LockPurpose::kSearch, search.get(), &holder), kInstrumentLocked);
  const int64_t start = clock_.nowMs;
  EXPECT_EQ(Lock(key, LockPurpose::kUpdate, update.get(), &holder), kInstrumentBusy);
  EXPECT_GE(clock_.nowMs - start, kSearchHoldMaxMs);
  EXPECT_LT(clock_.nowMs - start, kSearchHoldMaxMs + 2 * kLockRetryMs);
  EXPECT_EQ(holder.purpose, LockPurpose::kSearch);
}

// The folder is the user's alone and nothing in it is followed through a link.
TEST_F(InstrumentLockTest, TheFolderIsPrivateAndLinksAreNeverFollowed) {
  const std::string key = "USB-SERIAL-SN4";
  ScopedInstrumentLock lock;
  LockHolder holder{};
  ASSERT_EQ(Lock(key, LockPurpose::kUpdate, lock.get(), &holder), kInstrumentLocked);
  struct stat info {};
  ASSERT_EQ(stat(folder_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  ASSERT_EQ(stat((folder_ + "/instrument-USB-SERIAL-SN4.lock").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  UnlockInstrument(lock.get());

  // A lock file that is a link: refused, its target untouched.
  const std::string target = root_ + "/target";
  std::ofstream(target) << "keep";
  ASSERT_EQ(symlink(target.c_str(), (folder_ + "/instrument-USB-SERIAL-SN5.lock").c_str()), 0);
  std::string problem;
  EXPECT_EQ(LockInstrument(&env_, "USB-SERIAL-SN5", nullptr, LockPurpose::kUpdate, lock.get(),
                           &holder, &problem),
            kInstrumentLockFailed);
  EXPECT_NE(problem.find("instrument-USB-SERIAL-SN5.lock"), std::string::npos) << problem;
  EXPECT_EQ(ReadFile(target), "keep");

  // A folder others may enter, and a folder that is a link.
  ASSERT_EQ(chmod(folder_.c_str(), 0755), 0);
  EXPECT_EQ(LockInstrument(&env_, key, nullptr, LockPurpose::kUpdate, lock.get(), &holder,
                           &problem),
            kInstrumentLockFailed);
  EXPECT_NE(problem.find("mode 0755"), std::string::npos) << problem;
  EXPECT_EQ(ProbeInstrument(&env_, key, &holder, &problem), kInstrumentLockFailed);
  ASSERT_EQ(chmod(folder_.c_str(), 0700), 0);
  const std::string linked = root_ + "/linked";
  ASSERT_EQ(symlink(folder_.c_str(), linked.c_str()), 0);
  RunEnv viaLink = env_;
  viaLink.lockFolder = linked.c_str();
  EXPECT_EQ(LockInstrument(&viaLink, key, nullptr, LockPurpose::kUpdate, lock.get(), &holder,
                           &problem),
            kInstrumentLockFailed);
}

// TMPDIR never moves the folder: two processes with different ones must meet at one lock.
TEST(InstrumentLockDefaults, TheRuntimeFolderElseTheTemporaryOne) {
  std::string base;
  ASSERT_TRUE(platform::CreatePrivateTempFolder("fg-lock-default-", &base));
  const char* savedRuntime = getenv("XDG_RUNTIME_DIR");
  const std::string restoreRuntime = savedRuntime != nullptr ? savedRuntime : "";
  const char* savedTemp = getenv("TMPDIR");
  const std::string restoreTemp = savedTemp != nullptr ? savedTemp : "";
  const std::string uid = std::to_string(geteuid());
  setenv("XDG_RUNTIME_DIR", base.c_str(), 1);
  EXPECT_EQ(platform::DefaultLockFolder(), base + "/flintgate-locks");
  setenv("XDG_RUNTIME_DIR", "/no/such/folder", 1);
  setenv("TMPDIR", base.c_str(), 1);
  EXPECT_EQ(platform::DefaultLockFolder(), "/tmp/flintgate-locks-" + uid);
  unsetenv("XDG_RUNTIME_DIR");
  setenv("TMPDIR", "relative", 1);
  EXPECT_EQ(platform::DefaultLockFolder(), "/tmp/flintgate-locks-" + uid);
  if (savedRuntime != nullptr) setenv("XDG_RUNTIME_DIR", restoreRuntime.c_str(), 1);
  if (savedTemp != nullptr) {
    setenv("TMPDIR", restoreTemp.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  platform::RemoveFolderNow(base.c_str());
}

// What a lock file says, read back; a file half written or written by something else says no
// more than it holds, in printable characters.
TEST(LockText, ReadBackBoundedAndPrintable) {
  LockHolder holder{};
  ParseLockText(FormatLockText(4242, "flintgate-cli", "WX2040", LockPurpose::kUpdate), &holder);
  EXPECT_EQ(HolderDescription(holder), "flintgate-cli (process 4242)");
  EXPECT_STREQ(holder.model, "WX2040");
  EXPECT_EQ(holder.purpose, LockPurpose::kUpdate);
  ParseLockText(FormatLockText(7, "flintgate", nullptr, LockPurpose::kSearch), &holder);
  EXPECT_EQ(holder.purpose, LockPurpose::kSearch);
  EXPECT_STREQ(holder.model, "");

  ParseLockText("", &holder);
  EXPECT_EQ(HolderDescription(holder), "another process");
  ParseLockText("flintgate instrument lock\npid=12\nprogram=flint", &holder);  // cut short
  EXPECT_EQ(holder.pid, 12);
  EXPECT_EQ(HolderDescription(holder), "a program (process 12)");
  ParseLockText("pid=5\nprogram=" + std::string(300, 'x') + "\x1b[2J\nmodel=\x01\n", &holder);
  EXPECT_EQ(std::string(holder.program), std::string(kHolderProgramSize - 1, 'x'));
  EXPECT_STREQ(holder.model, "?");
}

// --device names compare as VISA compares them, and one serial is one instrument.
TEST(SameInstrument, AliasesAndBothModesAreOneInstrument) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"USB0::0x2E5B::0x3A01::A1::INSTR", "USB0::0x2E5B::0x3A01::A1::INSTR", true},
      {"USB0::0x2E5B::0x3A01::A1::INSTR", "usb::0x2e5b::0x3a01::a1::instr", true},
      {"USB0::0x2E5B::0x3A01::A1::INSTR", "USB::11867::14849::A1", true},
      {"USB0::0x2E5B::0x3A01::A1::INSTR", "USB0::0x2E5B::0x3A01::A1::0::INSTR", true},
      {"USB0::0x2E5B::0x3A02::A1::INSTR", "USB0::0x2E5B::0x3A01::A1::INSTR", true},  // its writer
      {"USB0::0x2E5B::0x3A01::A1::INSTR", "USB0::0x2E5B::0x3A01::A2::INSTR", false},
      {"TCPIP::10.0.0.7::INSTR", "tcpip0::10.0.0.7", true},
      {"GPIB0::12::INSTR", "GPIB0::13::INSTR", false},
      {"not a name", "NOT A NAME", true},
      {"not a name", "another", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    EXPECT_EQ(SameInstrument(c.a, c.b), c.same);
    EXPECT_EQ(SameInstrument(c.b, c.a), c.same);
  }
}

// Serials of any bytes and any length make lock files of their own: none is a path, none clashes
// with another's.
TEST_F(InstrumentLockTest, EveryKeyHasAFileOfItsOwn) {
  const std::string keys[] = {"A/B", "A_2FB", "../X", "a b", std::string(250, 'S'),
                              std::string(250, 'S') + "T"};
  ScopedInstrumentLock locks[std::size(keys)];
  LockHolder holder{};
  for (size_t i = 0; i < std::size(keys); ++i) {
    SCOPED_TRACE(keys[i]);
    EXPECT_EQ(Lock(keys[i], LockPurpose::kUpdate, locks[i].get(), &holder), kInstrumentLocked);
  }
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(folder_)) {
    EXPECT_LE(entry.path().filename().string().size(), 200u);
    ++files;
  }
  EXPECT_EQ(files, std::size(keys));
  EXPECT_FALSE(fs::exists(root_ + "/X")) << "a key never names a path";
}

}  // namespace
}  // namespace fg::test
