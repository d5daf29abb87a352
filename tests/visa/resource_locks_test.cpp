// Exclusive and shared locks among sessions: nesting, keys, waiting with a timeout, access.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "visa/resource_locks.h"

namespace fg::visa {
namespace {

const std::string kRes = "USB0::0x2E5B::0x3A01::LOCK1::INSTR";
const std::string kOther = "USB0::0x2E5B::0x3A01::LOCK2::INSTR";
constexpr ViSession kA = 0x1001, kB = 0x1002, kC = 0x1003;

ViStatus Exclusive(ViSession s, uint32_t timeoutMs = 0) {
  return AcquireLock(kRes, s, VI_EXCLUSIVE_LOCK, timeoutMs, "", nullptr);
}

class ResourceLocksTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (ViSession s : {kA, kB, kC}) {
      ReleaseAllLocks(kRes, s);
      ReleaseAllLocks(kOther, s);
    }
  }
};

TEST_F(ResourceLocksTest, ExclusiveLocksNestAndKeepOthersOut) {
  EXPECT_EQ(LockState(kRes), VI_NO_LOCK);
  ASSERT_EQ(Exclusive(kA), VI_SUCCESS);
  EXPECT_EQ(Exclusive(kA), VI_SUCCESS_NESTED_EXCLUSIVE);
  EXPECT_EQ(LockState(kRes), VI_EXCLUSIVE_LOCK);
  EXPECT_EQ(CheckAccess(kRes, kA), VI_SUCCESS);
  EXPECT_EQ(CheckAccess(kRes, kB), VI_ERROR_RSRC_LOCKED);
  EXPECT_EQ(CheckAccess(kOther, kB), VI_SUCCESS);  // another resource is not affected
  EXPECT_EQ(Exclusive(kB), VI_ERROR_TMO);
  std::string key;
  EXPECT_EQ(AcquireLock(kRes, kB, VI_SHARED_LOCK, 0, "k", &key), VI_ERROR_TMO);

  EXPECT_EQ(ReleaseLock(kRes, kB), VI_ERROR_SESN_NLOCKED);
  EXPECT_EQ(ReleaseLock(kRes, kA), VI_SUCCESS_NESTED_EXCLUSIVE);
  EXPECT_EQ(CheckAccess(kRes, kB), VI_ERROR_RSRC_LOCKED);
  EXPECT_EQ(ReleaseLock(kRes, kA), VI_SUCCESS);
  EXPECT_EQ(ReleaseLock(kRes, kA), VI_ERROR_SESN_NLOCKED);
  EXPECT_EQ(CheckAccess(kRes, kB), VI_SUCCESS);
  EXPECT_EQ(LockState(kRes), VI_NO_LOCK);
  EXPECT_EQ(AcquireLock(kRes, kA, VI_NO_LOCK, 0, "", nullptr), VI_ERROR_INV_LOCK_TYPE);
}

TEST_F(ResourceLocksTest, SharedLocksAdmitTheirKeyOnly) {
  std::string key;
  ASSERT_EQ(AcquireLock(kRes, kA, VI_SHARED_LOCK, 0, "", &key), VI_SUCCESS);
  EXPECT_FALSE(key.empty());  // a new key when none was asked for
  std::string second;
  EXPECT_EQ(AcquireLock(kRes, kB, VI_SHARED_LOCK, 0, key, &second), VI_SUCCESS);
  EXPECT_EQ(second, key);
  EXPECT_EQ(AcquireLock(kRes, kC, VI_SHARED_LOCK, 0, "another", &second), VI_ERROR_TMO);
  EXPECT_EQ(LockState(kRes), VI_SHARED_LOCK);
  EXPECT_EQ(CheckAccess(kRes, kB), VI_SUCCESS);
  EXPECT_EQ(CheckAccess(kRes, kC), VI_ERROR_RSRC_LOCKED);
  // Nested under its own key; another key is refused to a holder.
  EXPECT_EQ(AcquireLock(kRes, kA, VI_SHARED_LOCK, 0, "", &second), VI_SUCCESS_NESTED_SHARED);
  EXPECT_EQ(AcquireLock(kRes, kA, VI_SHARED_LOCK, 0, "another", &second), VI_ERROR_INV_ACCESS_KEY);
  // An exclusive lock waits for the other shared holders, not for the session's own.
  EXPECT_EQ(Exclusive(kA), VI_ERROR_TMO);
  ReleaseAllLocks(kRes, kB);
  EXPECT_EQ(Exclusive(kA), VI_SUCCESS);
  EXPECT_EQ(ReleaseLock(kRes, kA), VI_SUCCESS_NESTED_SHARED);  // the exclusive one goes first
  EXPECT_EQ(ReleaseLock(kRes, kA), VI_SUCCESS_NESTED_SHARED);
  EXPECT_EQ(ReleaseLock(kRes, kA), VI_SUCCESS);
  EXPECT_EQ(LockState(kRes), VI_NO_LOCK);
}

TEST_F(ResourceLocksTest, AWaiterGetsTheLockWhenItIsReleasedAndGivesUpAtItsTimeout) {
  ASSERT_EQ(Exclusive(kA), VI_SUCCESS);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Exclusive(kB, 150), VI_ERROR_TMO);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(140));

  auto waiter = std::async(std::launch::async, [] { return Exclusive(kB, 5000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ReleaseAllLocks(kRes, kA);  // a closing session
  EXPECT_EQ(waiter.get(), VI_SUCCESS);
  EXPECT_EQ(CheckAccess(kRes, kA), VI_ERROR_RSRC_LOCKED);
}

}  // namespace
}  // namespace fg::visa
