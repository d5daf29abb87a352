// Payload folders of runs that were killed, on Windows: the next run removes them and keeps the
// folder of a run still going. The test starts this program again as the runs that hold a folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/private_folder.h"
#include "platform/process_stamp.h"
#include "sequence/payload_folder.h"

namespace fg::test {
namespace {

namespace fs = std::filesystem;

constexpr char kHolderVariable[] = "FG_PAYLOAD_HOLDER";

// The child: its payload written, it waits to be terminated.
TEST(AbandonedPayload, HolderSide) {
  if (std::getenv(kHolderVariable) == nullptr) {
    GTEST_SKIP() << "runs as the child of the tests below";
  }
  std::FILE* payload = std::fopen(PayloadTempPath().c_str(), "wb");
  ASSERT_NE(payload, nullptr);
  std::fputs("payload", payload);
  std::fclose(payload);
  Sleep(60000);
}

// The temporary folder of this process while it lives, as GetTempPath reads it from TMP.
class TemporaryFolderSetting {
 public:
  explicit TemporaryFolderSetting(const std::string& folder) {
    char old[MAX_PATH + 1] = {};
    had_ = GetEnvironmentVariableA("TMP", old, sizeof old) != 0;
    old_ = old;
    SetEnvironmentVariableA("TMP", folder.c_str());
  }
  ~TemporaryFolderSetting() { SetEnvironmentVariableA("TMP", had_ ? old_.c_str() : nullptr); }
  TemporaryFolderSetting(const TemporaryFolderSetting&) = delete;
  TemporaryFolderSetting& operator=(const TemporaryFolderSetting&) = delete;

 private:
  bool had_ = false;
  std::string old_;
};

// A run holding its payload folder in `temp` (this process's TMP), until it is terminated.
class HoldingRun {
 public:
  explicit HoldingRun(const std::string& temp) {
    char self[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command =
        std::string("\"") + self + "\" --gtest_filter=AbandonedPayload.HolderSide";
    SetEnvironmentVariableA(kHolderVariable, "1");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    const bool started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &process_);
    SetEnvironmentVariableA(kHolderVariable, nullptr);
    if (!started) return;
    // Its folder, once the payload is in it.
    const std::string prefix = "flintgate-" + std::to_string(process_.dwProcessId) + "-";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (folder_.empty() && std::chrono::steady_clock::now() < deadline) {
      std::error_code ec;
      for (const auto& entry : fs::directory_iterator(temp, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0 && fs::exists(entry.path() / kPayloadFileName)) {
          folder_ = entry.path().string();
        }
      }
      if (folder_.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~HoldingRun() { Terminate(); }
  HoldingRun(const HoldingRun&) = delete;
  HoldingRun& operator=(const HoldingRun&) = delete;

  void Terminate() {
    if (process_.hProcess == nullptr) return;
    TerminateProcess(process_.hProcess, 1);
    WaitForSingleObject(process_.hProcess, 10000);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    process_ = PROCESS_INFORMATION{};
  }
  const std::string& folder() const { return folder_; }

 private:
  PROCESS_INFORMATION process_{};
  std::string folder_;
};

TEST(AbandonedPayload, AKilledRunsFolderIsRemovedAndALiveRunsIsKept) {
  std::string temp;
  ASSERT_TRUE(platform::CreatePrivateTempFolder("fg-abandoned-test-", &temp));
  {
    TemporaryFolderSetting setting(temp);
    HoldingRun killed(temp);
    HoldingRun live(temp);
    ASSERT_FALSE(killed.folder().empty());
    ASSERT_FALSE(live.folder().empty());
    killed.Terminate();
    EXPECT_TRUE(fs::exists(fs::path(killed.folder()) / kPayloadFileName));
    // This process's id with another start: a process that had the id before.
    const platform::ProcessStamp self = platform::CurrentProcessStamp();
    const fs::path reused = fs::path(temp) / ("flintgate-" + std::to_string(self.id) + "-" +
                                              std::to_string(self.start + 1) + "-aB3dE6");
    fs::create_directory(reused);

    EXPECT_EQ(RemoveAbandonedPayloadFolders(), 2);
    EXPECT_FALSE(fs::exists(killed.folder()));
    EXPECT_FALSE(fs::exists(reused));
    EXPECT_TRUE(fs::exists(fs::path(live.folder()) / kPayloadFileName));
  }
  std::error_code ec;
  fs::remove_all(temp, ec);
}

}  // namespace
}  // namespace fg::test
