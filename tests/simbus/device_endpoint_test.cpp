// The device endpoint seen from the host: a minimal instrument attached to a private bus folder
// and reached through the simulated-bus provider, exactly as the VISA layer reaches it.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <string>
#include <thread>

#include "tests/simbus/recording_handler.h"
#include "tests/visa/support/private_bus.h"
#include "visa/builtin_providers.h"
#include "visa/simbus/simbus_device.h"

namespace fg {
namespace {

using testing::RecordingHandler;
using testing::PrivateBus;
using namespace fg::visa;

constexpr uint32_t kTimeout = 10000;

class DeviceEndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handler_.answer = [](const std::string& m) { return "echo:" + m; };
    std::string error;
    device_ = simbus::SimBusDevice::Attach(bus_.path(), identity_, &handler_, &error);
    ASSERT_NE(device_, nullptr) << error;
    handler_.device = device_.get();
    provider_ = CreateSimBusProvider();
  }

  std::unique_ptr<InstrSession> OpenSession(ViStatus expected = VI_SUCCESS) {
    std::unique_ptr<InstrSession> session;
    EXPECT_EQ(provider_->Open(device_->ResourceName(), 1000, &session), expected);
    return session;
  }

  static ViStatus WriteText(InstrSession* s, const std::string& text) {
    uint32_t written = 0;
    ViStatus status = s->Write(reinterpret_cast<const uint8_t*>(text.data()),
                               static_cast<uint32_t>(text.size()), &written, kTimeout);
    if (status == VI_SUCCESS) {
      EXPECT_EQ(written, text.size());
    }
    return status;
  }

  static std::string ReadText(InstrSession* s, uint32_t count, ViStatus* status,
                              uint32_t timeoutMs = kTimeout) {
    std::string buffer(count, '\0');
    uint32_t received = 0;
    *status = s->Read(reinterpret_cast<uint8_t*>(buffer.data()), count, &received, timeoutMs);
    buffer.resize(received);
    return buffer;
  }

  PrivateBus bus_;
  simbus::SimDeviceIdentity identity_{0x2E5B, 0x3A01, "SIM2040A", 0};
  RecordingHandler handler_;
  std::unique_ptr<simbus::SimBusDevice> device_;
  std::unique_ptr<Provider> provider_;
};

TEST_F(DeviceEndpointTest, ListedOpenedAnsweredAndClosed) {
  EXPECT_EQ(device_->ResourceName(), "USB0::0x2E5B::0x3A01::SIM2040A::INSTR");
  std::vector<std::string> names;
  provider_->ListResources(&names);
  EXPECT_EQ(names, std::vector<std::string>{"USB0::0x2E5B::0x3A01::SIM2040A::INSTR"});

  auto session = OpenSession();
  ASSERT_NE(session, nullptr);
  ASSERT_EQ(WriteText(session.get(), "*IDN?\n"), VI_SUCCESS);
  ViStatus status;
  EXPECT_EQ(ReadText(session.get(), 100, &status), "echo:*IDN?\n");
  EXPECT_EQ(status, VI_SUCCESS);
  session.reset();
  ASSERT_TRUE(handler_.WaitFor("closed"));
  // Opening clears the device before anything else reaches it.
  EXPECT_EQ(handler_.Events(), (std::vector<std::string>{"opened", "clear", "message", "closed"}));
  EXPECT_EQ(handler_.Messages(), std::vector<std::string>{"*IDN?\n"});
}

TEST_F(DeviceEndpointTest, InterfaceNumberAndCaseOfSerialInNames) {
  RecordingHandler other;
  std::string error;
  auto second =
      simbus::SimBusDevice::Attach(bus_.path(), {0x2E5B, 0x3A10, "Box-7", 2}, &other, &error);
  ASSERT_NE(second, nullptr) << error;
  EXPECT_EQ(second->ResourceName(), "USB0::0x2E5B::0x3A10::Box-7::2::INSTR");
  std::vector<std::string> names;
  provider_->ListResources(&names);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"USB0::0x2E5B::0x3A01::SIM2040A::INSTR",
                                             "USB0::0x2E5B::0x3A10::Box-7::2::INSTR"}));
  std::unique_ptr<InstrSession> session;
  EXPECT_EQ(provider_->Open("USB0::0x2E5B::0x3A10::box-7::2::INSTR", 1000, &session), VI_SUCCESS);
  EXPECT_EQ(provider_->Open("USB0::0x2E5B::0x3A10::Box-7::INSTR", 1000, &session),
            VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(provider_->Open("USB0::0x2E5B::0x3A02::SIM2040A::INSTR", 1000, &session),
            VI_ERROR_RSRC_NFOUND);
}

TEST_F(DeviceEndpointTest, RefusedSessionIsBusyAndLeavesTheFirstAlone) {
  auto first = OpenSession();
  ASSERT_NE(first, nullptr);
  handler_.refuseSessions = true;
  auto second = OpenSession(VI_ERROR_RSRC_BUSY);
  EXPECT_EQ(second, nullptr);
  ASSERT_EQ(WriteText(first.get(), "still here"), VI_SUCCESS);
  ViStatus status;
  EXPECT_EQ(ReadText(first.get(), 64, &status), "echo:still here");
  EXPECT_EQ(status, VI_SUCCESS);
}

TEST_F(DeviceEndpointTest, ReplyLongerThanTheReadComesInParts) {
  auto session = OpenSession();
  ASSERT_NE(session, nullptr);
  handler_.answer = [](const std::string&) { return std::string("0123456789"); };
  ASSERT_EQ(WriteText(session.get(), "Q"), VI_SUCCESS);
  ViStatus status;
  EXPECT_EQ(ReadText(session.get(), 4, &status), "0123");
  EXPECT_EQ(status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(ReadText(session.get(), 4, &status), "4567");
  EXPECT_EQ(status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(ReadText(session.get(), 4, &status), "89");
  EXPECT_EQ(status, VI_SUCCESS);
}

TEST_F(DeviceEndpointTest, RequestWaitsForAReplyQueuedLater) {
  auto session = OpenSession();
  ASSERT_NE(session, nullptr);
  handler_.answer = nullptr;
  auto reader = std::async(std::launch::async, [&] {
    ViStatus status;
    std::string text = ReadText(session.get(), 64, &status, 20000);
    return std::make_pair(status, text);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string late = "late reply";
  device_->QueueReply(reinterpret_cast<const uint8_t*>(late.data()), late.size());
  auto [status, text] = reader.get();
  EXPECT_EQ(status, VI_SUCCESS);
  EXPECT_EQ(text, late);
}

TEST_F(DeviceEndpointTest, TimedOutRequestIsDroppedAndTheReplyWaitsForTheNextRead) {
  auto session = OpenSession();
  ASSERT_NE(session, nullptr);
  handler_.answer = nullptr;
  ViStatus status;
  EXPECT_EQ(ReadText(session.get(), 64, &status, 200), "");
  EXPECT_EQ(status, VI_ERROR_TMO);
  // Queued after the abort: the dropped request must not swallow it.
  const std::string reply = "after timeout";
  device_->QueueReply(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
  EXPECT_EQ(ReadText(session.get(), 64, &status), reply);
  EXPECT_EQ(status, VI_SUCCESS);
}

TEST_F(DeviceEndpointTest, LongWriteArrivesAsSeveralTransfersWithOneEnd) {
  auto session = OpenSession();
  ASSERT_NE(session, nullptr);
  handler_.answer = nullptr;
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  ASSERT_EQ(WriteText(session.get(), big), VI_SUCCESS);
  ASSERT_TRUE(handler_.WaitFor("message"));
  ASSERT_EQ(handler_.Messages().size(), 1u);
  EXPECT_TRUE(handler_.Messages()[0] == big);
  EXPECT_GT(handler_.TransferSizes().size(), 1u);
}

TEST_F(DeviceEndpointTest, ClearDropsQueuedReplies) {
  auto session = OpenSession();
  ASSERT_NE(session, nullptr);
  handler_.answer = nullptr;
  const std::string stale = "stale";
  device_->QueueReply(reinterpret_cast<const uint8_t*>(stale.data()), stale.size());
  ASSERT_EQ(session->Clear(kTimeout), VI_SUCCESS);
  ASSERT_TRUE(handler_.WaitFor("clear", 2));  // once on open, once now
  ViStatus status;
  EXPECT_EQ(ReadText(session.get(), 64, &status, 200), "");
  EXPECT_EQ(status, VI_ERROR_TMO);
}

TEST_F(DeviceEndpointTest, DetachEndsSessionsAndLeavesTheBus) {
  auto session = OpenSession();
  ASSERT_NE(session, nullptr);
  device_->Detach();
  device_->Detach();  // idempotent
  ASSERT_TRUE(handler_.WaitFor("closed"));
  std::vector<std::string> names;
  provider_->ListResources(&names);
  EXPECT_TRUE(names.empty());
  ViStatus status;
  ReadText(session.get(), 64, &status);
  EXPECT_EQ(status, VI_ERROR_CONN_LOST);
  uint32_t written = 0;
  const uint8_t byte = 'x';
  EXPECT_EQ(session->Write(&byte, 1, &written, kTimeout), VI_ERROR_CONN_LOST);
  EXPECT_EQ(OpenSession(VI_ERROR_RSRC_NFOUND), nullptr);
}

TEST_F(DeviceEndpointTest, DetachFromInsideACallbackEndsTheWaitingRead) {
  auto session = OpenSession();
  ASSERT_NE(session, nullptr);
  handler_.answer = [this](const std::string&) {
    device_->Detach();
    return std::string();
  };
  ASSERT_EQ(WriteText(session.get(), "SYST:UPDATE WX2040\n"), VI_SUCCESS);
  ViStatus status;
  ReadText(session.get(), 64, &status);
  EXPECT_EQ(status, VI_ERROR_CONN_LOST);
  EXPECT_TRUE(handler_.WaitFor("closed"));
}

TEST_F(DeviceEndpointTest, NewSessionDoesNotSeeRepliesLeftByTheLastOne) {
  auto session = OpenSession();
  ASSERT_NE(session, nullptr);
  ASSERT_EQ(WriteText(session.get(), "unread"), VI_SUCCESS);
  ASSERT_TRUE(handler_.WaitFor("message"));
  session.reset();
  ASSERT_TRUE(handler_.WaitFor("closed"));
  session = OpenSession();
  ASSERT_NE(session, nullptr);
  ASSERT_EQ(WriteText(session.get(), "fresh"), VI_SUCCESS);
  ViStatus status;
  EXPECT_EQ(ReadText(session.get(), 64, &status), "echo:fresh");
}

}  // namespace
}  // namespace fg
