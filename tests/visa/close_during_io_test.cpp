// viClose from another thread while a read waits on an instrument that never answers: the close
// returns at once, the read ends at once with VI_ERROR_ABORT, the instrument is free again for
// the next open, and (under ASan) nothing the read still used was freed under it. Over the
// simulated bus directly, and through the vendor provider with our own shared library as the
// vendor library, so that the vendor session's close is the one that ends the read.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "tests/visa/support/env_guard.h"
#include "tests/visa/support/private_bus.h"
#include "visa/provider_registry.h"
#include "visa/vendor/vendor_provider.h"
#include "visa/visa.h"

namespace fg::visa {
namespace {

using std::chrono::milliseconds;

// Generous limits for a busy machine and the sanitizers; a read cut short by its 5 s timeout
// instead of by the close still fails them.
constexpr milliseconds kPromptly{1500};
constexpr milliseconds kSurelyWaiting{300};

struct ReadEnd {
  ViStatus status = VI_SUCCESS;
  ViUInt32 count = 0;
};

class CloseDuringIo : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(bus_.path().empty());
    std::string error;
    // Never answers: every read waits for a reply that does not come.
    instrument_ = fg::testing::EchoInstrument::Attach(
        bus_, 0x3A01, "MUTE1", [](const std::string&) { return std::string(); }, &error);
    ASSERT_NE(instrument_, nullptr) << error;
  }
  void TearDown() override {
    EXPECT_EQ(OpenHandleCountForTesting(), 0u) << "a handle was left open";
    ResetProvidersForTesting();
  }

  // Opens a session with the given I/O timeout, reads in another thread until that read surely
  // waits, closes the session or its resource manager, and checks how both ended.
  void CloseWhileReading(ViUInt32 timeoutMs, bool closeResourceManager) {
    ViSession rm = VI_NULL, vi = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    ASSERT_EQ(viOpen(rm, instrument_->name().c_str(), VI_NULL, 2000, &vi), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, timeoutMs), VI_SUCCESS);

    auto read = std::async(std::launch::async, [vi] {
      ReadEnd end;
      ViByte buffer[64];
      end.status = viRead(vi, buffer, sizeof buffer, &end.count);
      return end;
    });
    if (read.wait_for(kSurelyWaiting) == std::future_status::ready) {
      viClose(rm);
      FAIL() << "the read did not wait: status " << std::hex << read.get().status;
    }

    auto close = std::async(std::launch::async, [handle = closeResourceManager ? rm : vi] {
      return viClose(handle);
    });
    const bool closedPromptly = close.wait_for(kPromptly) == std::future_status::ready;
    const bool readEnded = read.wait_for(kPromptly) == std::future_status::ready;
    if (!closedPromptly || !readEnded) {
      // Only the device leaving can end the read now, and with it a close that waits for it.
      instrument_->device()->Detach();
      close.wait();
      read.wait();
      viClose(rm);
      FAIL() << (closedPromptly ? "the read went on after the close"
                                : "viClose waited for the read");
    }
    EXPECT_EQ(close.get(), VI_SUCCESS);
    const ReadEnd end = read.get();
    EXPECT_EQ(end.status, VI_ERROR_ABORT);
    EXPECT_EQ(end.count, 0u);
    ViByte buffer[4];
    ViUInt32 count = 0;
    EXPECT_EQ(viRead(vi, buffer, sizeof buffer, &count), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viClose(vi), VI_ERROR_INV_OBJECT);
    if (!closeResourceManager) {
      EXPECT_EQ(viClose(rm), VI_SUCCESS);
    }

    // The close released the instrument: it opens again at once.
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    EXPECT_EQ(viOpen(rm, instrument_->name().c_str(), VI_NULL, 2000, &vi), VI_SUCCESS);
    EXPECT_EQ(viClose(rm), VI_SUCCESS);
  }

  void RunEveryCase() {
    for (ViUInt32 timeoutMs : {VI_TMO_INFINITE, ViUInt32{5000}}) {
      for (bool closeResourceManager : {false, true}) {
        SCOPED_TRACE(std::string(timeoutMs == VI_TMO_INFINITE ? "infinite timeout" : "5 s timeout") +
                     (closeResourceManager ? ", resource manager closed" : ", session closed"));
        CloseWhileReading(timeoutMs, closeResourceManager);
        if (HasFatalFailure()) return;
      }
    }
  }

  fg::testing::PrivateBus bus_;
  fg::testing::EnvGuard env_{{"FLINTGATE_VISA_PROVIDERS", "simbus"}};
  std::unique_ptr<fg::testing::EchoInstrument> instrument_;
};

TEST_F(CloseDuringIo, SimulatedBus) { RunEveryCase(); }

// Our own VISA library loaded as a vendor's (built on Linux only).
#ifdef FG_VISA_SHARED_LIBRARY
TEST_F(CloseDuringIo, VendorLibrary) {
  std::vector<Diagnostic> skipped;
  std::shared_ptr<Provider> vendor = LoadVendorLibrary(FG_VISA_SHARED_LIBRARY, &skipped);
  ASSERT_NE(vendor, nullptr);
  InstallProvidersForTesting({vendor});
  vendor.reset();
  RunEveryCase();
}
#endif

}  // namespace
}  // namespace fg::visa
