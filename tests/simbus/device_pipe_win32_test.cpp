// A device's named pipe on Windows: only this user may open it, and a device that takes no
// connection (every instance taken) or never answers the handshake ends searches and opens in
// time, busy rather than gone.
#include <gtest/gtest.h>
// clang-format off
#include <windows.h>
#include <aclapi.h>
// clang-format on

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "tests/simbus/recording_handler.h"
#include "tests/simbus/windows_folders.h"
#include "tests/visa/support/private_bus.h"
#include "visa/builtin_providers.h"
#include "visa/simbus/simbus_device.h"
#include "visa/simbus/simbus_device_name.h"
#include "visa/simbus/simbus_folder.h"
#include "visa/simbus/simbus_pipe_entry_win32.h"

namespace fg {
namespace {

using testing::PrivateBus;
using testing::RecordingHandler;
using testing::WriteWholeFile;

// Runs `body` on a thread of its own and fails when it has not ended within `seconds`: a hang
// must fail the test, not stall the suite (the thread is left to the end of the program).
void ExpectEndsWithin(int seconds, std::function<bool()> body) {
  auto verdict = std::make_shared<std::promise<bool>>();
  std::future<bool> result = verdict->get_future();
  std::thread([verdict, body = std::move(body)] { verdict->set_value(body()); }).detach();
  ASSERT_EQ(result.wait_for(std::chrono::seconds(seconds)), std::future_status::ready)
      << "still blocked after " << seconds << " s";
  EXPECT_TRUE(result.get()) << "the checks on the thread failed";
}

// A pipe under a device entry that nobody serves: `instances` waiting instances, each taken by
// a connection of its own when `taken`.
class StalledDevice {
 public:
  StalledDevice(const std::string& folder, const simbus::SimDeviceIdentity& identity, bool taken)
      : pipeName_(simbus::NewDevicePipeName()) {
    listener_ = CreateNamedPipeA(pipeName_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    if (listener_ == INVALID_HANDLE_VALUE) return;
    if (taken) {
      client_ = CreateFileA(pipeName_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
      if (client_ == INVALID_HANDLE_VALUE) return;
    }
    ready_ = WriteWholeFile(folder + "\\" + simbus::DeviceEntryName(identity), pipeName_ + "\n");
  }
  ~StalledDevice() {
    if (client_ != INVALID_HANDLE_VALUE) CloseHandle(client_);
    if (listener_ != INVALID_HANDLE_VALUE) CloseHandle(listener_);
  }
  bool Ready() const { return ready_; }

 private:
  std::string pipeName_;
  HANDLE listener_ = INVALID_HANDLE_VALUE;
  HANDLE client_ = INVALID_HANDLE_VALUE;
  bool ready_ = false;
};

TEST(DevicePipeTest, AdmitsThisUserAloneWithNothingInherited) {
  PrivateBus bus;
  RecordingHandler handler;
  std::string error;
  const simbus::SimDeviceIdentity identity{0x2E5B, 0x3A01, "ACL", 0};
  auto device = simbus::SimBusDevice::Attach(bus.path(), identity, &handler, &error);
  ASSERT_NE(device, nullptr) << error;
  std::string problem;
  auto folder = simbus::BusFolder::Open(bus.path(), &problem);
  ASSERT_NE(folder, nullptr) << problem;
  std::string pipeName;
  ASSERT_TRUE(simbus::ReadPipeEntry(*folder, simbus::DeviceEntryName(identity), &pipeName));

  HANDLE pipe = CreateFileA(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "entries from elsewhere reach the pipe";
  ASSERT_NE(dacl, nullptr) << "a missing list would let everybody in";
  ASSERT_EQ(dacl->AceCount, 1);
  void* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, &ace));
  auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(allowed->Header.AceFlags & INHERITED_ACE, 0);
  EXPECT_EQ(platform::OthersAdmitted(descriptor), "");
  LocalFree(descriptor);
  CloseHandle(pipe);
}

TEST(DevicePipeTest, EveryInstanceTakenIsBusyAndNeverBlocks) {
  PrivateBus bus;
  const simbus::SimDeviceIdentity identity{0x2E5B, 0x3A01, "WEDGED", 0};
  StalledDevice device(bus.path(), identity, true);
  ASSERT_TRUE(device.Ready());

  ExpectEndsWithin(10, [&] {
    // The listing still shows the device: it is there, only not answering.
    std::string problem;
    const auto folder = simbus::BusFolder::Open(bus.path(), &problem);
    if (!folder || simbus::ListBusDevices(*folder).size() != 1) return false;
    auto provider = visa::CreateSimBusProvider();
    std::unique_ptr<visa::InstrSession> session;
    const auto start = std::chrono::steady_clock::now();
    const visa::ViStatus status =
        provider->Open("USB0::0x2E5B::0x3A01::WEDGED::INSTR", 1000, &session);
    return status == visa::VI_ERROR_RSRC_BUSY &&
           std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500);
  });
}

TEST(DevicePipeTest, ADeviceThatNeverAnswersTheHandshakeTimesOut) {
  PrivateBus bus;
  const simbus::SimDeviceIdentity identity{0x2E5B, 0x3A01, "SILENT", 0};
  StalledDevice device(bus.path(), identity, false);
  ASSERT_TRUE(device.Ready());

  ExpectEndsWithin(10, [&] {
    auto provider = visa::CreateSimBusProvider();
    std::unique_ptr<visa::InstrSession> session;
    const auto start = std::chrono::steady_clock::now();
    const visa::ViStatus status =
        provider->Open("USB0::0x2E5B::0x3A01::SILENT::INSTR", 1000, &session);
    const auto took = std::chrono::steady_clock::now() - start;
    return status == visa::VI_ERROR_TMO && took >= std::chrono::milliseconds(900) &&
           took < std::chrono::milliseconds(1500);
  });
}

}  // namespace
}  // namespace fg
