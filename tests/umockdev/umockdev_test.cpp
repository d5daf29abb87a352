// The libusb provider through the system libusb and its usbdevfs ioctls, against an instrument
// that usbtmc_testbed.py emulates under umockdev. Each test belongs to one scenario of the
// helper and skips when run outside it. The helper logs what the device saw on its pipes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "visa/builtin_providers.h"
#include "visa/provider_registry.h"
#include "visa/visa.h"

namespace fg::visa {
namespace {

constexpr char kNormal[] = "USB0::0x2E5B::0x3A01::UMD2040::INSTR";
constexpr char kWx2050[] = "USB0::0x2E5B::0x3A02::UMD2040::INSTR";

class Umockdev : public ::testing::Test {
 protected:
  // Skips unless the helper runs this process in `scenario`.
  bool InScenario(const char* scenario) {
    const char* current = std::getenv("FG_UMOCKDEV_SCENARIO");
    if (current == nullptr || std::string(current) != scenario) return false;
    InstallProvidersForTesting({std::shared_ptr<Provider>(CreateUsbtmcProvider())});
    installed_ = true;
    EXPECT_EQ(viOpenDefaultRM(&rm_), VI_SUCCESS);
    return true;
  }
  void TearDown() override {
    if (rm_ != VI_NULL) viClose(rm_);
    if (installed_) ResetProvidersForTesting();
  }

  std::vector<std::string> List() {
    std::vector<std::string> names;
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    char desc[VI_FIND_BUFLEN];
    if (viFindRsrc(rm_, "USB?*INSTR", &list, &count, desc) != VI_SUCCESS) return names;
    names.push_back(desc);
    while (viFindNext(list, desc) == VI_SUCCESS) names.push_back(desc);
    viClose(list);
    return names;
  }

  ViSession Open(const char* name) {
    ViSession vi = VI_NULL;
    EXPECT_EQ(viOpen(rm_, name, VI_NULL, 2000, &vi), VI_SUCCESS) << name;
    if (vi != VI_NULL) viSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000);
    return vi;
  }

  static ViStatus Write(ViSession vi, const std::string& text) {
    ViUInt32 n = 0;
    return viWrite(vi, reinterpret_cast<ViConstBuf>(text.data()),
                   static_cast<ViUInt32>(text.size()), &n);
  }

  static std::string Read(ViSession vi, ViStatus* status, ViUInt32 capacity = 4096) {
    std::string buffer(capacity, '\0');
    ViUInt32 n = 0;
    *status = viRead(vi, reinterpret_cast<ViPBuf>(buffer.data()), capacity, &n);
    buffer.resize(n);
    return buffer;
  }

  static std::string Query(ViSession vi, const std::string& text) {
    if (Write(vi, text) != VI_SUCCESS) return "(write failed)";
    ViStatus status = 0;
    std::string reply = Read(vi, &status);
    return status == VI_SUCCESS ? reply : "(read failed)";
  }

  // The device's log so far.
  static std::string DeviceLog() {
    const char* path = std::getenv("FG_UMOCKDEV_LOG");
    if (path == nullptr) return {};
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  template <class Condition>
  static bool Eventually(Condition condition, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  ViSession rm_ = VI_NULL;
  bool installed_ = false;
};

const std::string kIdentity = "VANDRELL,WX2040,UMD2040,2.00-01-01-01-01-0100\n";

TEST_F(Umockdev, Plain) {
  if (!InScenario("plain")) GTEST_SKIP() << "runs under usbtmc_testbed.py plain";
  // Listing reads the serial number from the string descriptor.
  EXPECT_EQ(List(), std::vector<std::string>{kNormal});
  ViSession vi = Open(kNormal);
  ASSERT_NE(vi, VI_NULL);
  char text[VI_FIND_BUFLEN];
  ASSERT_EQ(viGetAttribute(vi, VI_ATTR_USB_SERIAL_NUM, text), VI_SUCCESS);
  EXPECT_STREQ(text, "UMD2040");
  ASSERT_EQ(viGetAttribute(vi, VI_ATTR_MANF_NAME, text), VI_SUCCESS);
  EXPECT_STREQ(text, "VANDRELL");
  ASSERT_EQ(viGetAttribute(vi, VI_ATTR_MODEL_NAME, text), VI_SUCCESS);
  EXPECT_STREQ(text, "WX2040");
  ViInt16 protocol = 0;
  ASSERT_EQ(viGetAttribute(vi, VI_ATTR_USB_PROTOCOL, &protocol), VI_SUCCESS);
  EXPECT_EQ(protocol, 1);  // the descriptor's USB488 interface

  // *IDN? through the bulk pipes, then enough queries for the bTag to wrap past 255.
  EXPECT_EQ(Query(vi, "*IDN?\n"), kIdentity);
  for (int i = 0; i < 140; ++i) ASSERT_EQ(Query(vi, "*IDN?\n"), kIdentity) << "query " << i;

  // The status byte comes on the interrupt-IN pipe, tagged with its request.
  ASSERT_EQ(Write(vi, "*IDN?\n"), VI_SUCCESS);
  ViUInt16 stb = 0;
  ASSERT_EQ(viReadSTB(vi, &stb), VI_SUCCESS);
  EXPECT_EQ(stb & 0x10, 0x10);  // MAV: the reply waits
  ViStatus status = 0;
  EXPECT_EQ(Read(vi, &status), kIdentity);
  ASSERT_EQ(viReadSTB(vi, &stb), VI_SUCCESS);
  EXPECT_EQ(stb & 0x10, 0);

  // A service request on the interrupt pipe, waited for as a queued event.
  EXPECT_EQ(viAssertTrigger(vi, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);
  ASSERT_EQ(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
  ViEventType type = 0;
  ViEvent event = VI_NULL;
  EXPECT_EQ(viWaitOnEvent(vi, VI_EVENT_SERVICE_REQ, 200, &type, &event), VI_ERROR_TMO);
  ASSERT_EQ(Write(vi, "SRQ\n"), VI_SUCCESS);
  ASSERT_EQ(viWaitOnEvent(vi, VI_EVENT_SERVICE_REQ, 2000, &type, &event), VI_SUCCESS);
  EXPECT_EQ(type, VI_EVENT_SERVICE_REQ);
  EXPECT_EQ(viClose(event), VI_SUCCESS);
  // An event left open closes with its resource manager, as the session does.
  ASSERT_EQ(Write(vi, "SRQ\n"), VI_SUCCESS);
  ASSERT_EQ(viWaitOnEvent(vi, VI_EVENT_SERVICE_REQ, 2000, &type, &event), VI_SUCCESS);
  EXPECT_EQ(viClose(rm_), VI_SUCCESS);
  rm_ = VI_NULL;
  EXPECT_EQ(viClose(event), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viClose(vi), VI_ERROR_INV_OBJECT);

  const std::string log = DeviceLog();
  EXPECT_NE(log.find("tag wrapped"), std::string::npos) << log;
  EXPECT_EQ(log.find("bad tag"), std::string::npos) << log;
  EXPECT_NE(log.find("trigger"), std::string::npos) << log;
  EXPECT_EQ(log.find("unhandled"), std::string::npos) << log;
}

TEST_F(Umockdev, SplitReply) {
  if (!InScenario("split-reply")) GTEST_SKIP() << "runs under usbtmc_testbed.py split-reply";
  ViSession vi = Open(kNormal);
  ASSERT_NE(vi, VI_NULL);
  // The device sends at most 1000 bytes per transfer: one read gathers all 70000.
  ASSERT_EQ(Write(vi, "DATA? 70000\n"), VI_SUCCESS);
  ViStatus status = 0;
  std::string reply = Read(vi, &status, 100000);
  EXPECT_EQ(status, VI_SUCCESS);
  ASSERT_EQ(reply.size(), 70000u);
  for (size_t i = 0; i < reply.size(); ++i) {
    ASSERT_EQ(static_cast<uint8_t>(reply[i]), static_cast<uint8_t>(i * 13)) << "byte " << i;
  }
  // A smaller count takes the reply in pieces.
  ASSERT_EQ(Write(vi, "DATA? 2500\n"), VI_SUCCESS);
  EXPECT_EQ(Read(vi, &status, 2000).size(), 2000u);
  EXPECT_EQ(status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(Read(vi, &status, 2000).size(), 500u);
  EXPECT_EQ(status, VI_SUCCESS);
  EXPECT_EQ(viClose(vi), VI_SUCCESS);
}

TEST_F(Umockdev, Timeout) {
  if (!InScenario("timeout")) GTEST_SKIP() << "runs under usbtmc_testbed.py timeout";
  ViSession vi = Open(kNormal);
  ASSERT_NE(vi, VI_NULL);
  viSetAttribute(vi, VI_ATTR_TMO_VALUE, 300);
  // The first answer is lost: the read times out and the request is aborted; what the device
  // had already sent of it is drained, so the next query gets its own answer.
  ASSERT_EQ(Write(vi, "*IDN?\n"), VI_SUCCESS);
  ViStatus status = 0;
  Read(vi, &status);
  EXPECT_EQ(status, VI_ERROR_TMO);
  viSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000);
  EXPECT_EQ(Query(vi, "*IDN?\n"), kIdentity);
  EXPECT_EQ(viClose(vi), VI_SUCCESS);
  const std::string log = DeviceLog();
  EXPECT_NE(log.find("discard 0x81"), std::string::npos) << log;
  EXPECT_NE(log.find("in progress\n"), std::string::npos) << log;
  EXPECT_NE(log.find("abort done"), std::string::npos) << log;
}

TEST_F(Umockdev, KernelDriver) {
  if (!InScenario("kernel-driver")) GTEST_SKIP() << "runs under usbtmc_testbed.py kernel-driver";
  // The kernel's usbtmc driver holds the interface: it is detached for the session and
  // given back when the session closes.
  ViSession vi = Open(kNormal);
  ASSERT_NE(vi, VI_NULL);
  EXPECT_EQ(Query(vi, "*IDN?\n"), kIdentity);
  EXPECT_EQ(viClose(vi), VI_SUCCESS);
  const std::string log = DeviceLog();
  const size_t detach = log.find("detach 0"), claim = log.find("claim"),
               release = log.find("release"), attach = log.find("attach 0");
  ASSERT_NE(detach, std::string::npos) << log;
  ASSERT_NE(attach, std::string::npos) << log;
  EXPECT_LT(detach, claim);
  EXPECT_LT(release, attach);
  // Opened again, the same dance.
  vi = Open(kNormal);
  EXPECT_EQ(Query(vi, "*IDN?\n"), kIdentity);
  EXPECT_EQ(viClose(vi), VI_SUCCESS);
}

TEST_F(Umockdev, ClearStalls) {
  if (!InScenario("clear-stalls")) GTEST_SKIP() << "runs under usbtmc_testbed.py clear-stalls";
  ViSession vi = Open(kNormal);
  ASSERT_NE(vi, VI_NULL);
  // INITIATE_CLEAR stalls: the clear fails, and says so, and the session stays usable.
  EXPECT_EQ(viClear(vi), VI_ERROR_IO);
  EXPECT_EQ(Query(vi, "*IDN?\n"), kIdentity);
  EXPECT_EQ(viClear(vi), VI_SUCCESS);
  EXPECT_EQ(viClose(vi), VI_SUCCESS);
  EXPECT_NE(DeviceLog().find("clear stalled"), std::string::npos);
}

TEST_F(Umockdev, Unplug) {
  if (!InScenario("unplug")) GTEST_SKIP() << "runs under usbtmc_testbed.py unplug";
  ViSession vi = Open(kNormal);
  ASSERT_NE(vi, VI_NULL);
  EXPECT_EQ(Query(vi, "*IDN?\n"), kIdentity);
  // Unplugged while the read waits for its answer.
  ASSERT_EQ(Write(vi, "*IDN?\n"), VI_SUCCESS);
  ViStatus status = 0;
  Read(vi, &status);
  EXPECT_EQ(status, VI_ERROR_CONN_LOST);
  EXPECT_EQ(Write(vi, "*IDN?\n"), VI_ERROR_CONN_LOST);
  EXPECT_EQ(viClose(vi), VI_SUCCESS);
  EXPECT_TRUE(Eventually([&] { return List().empty(); })) << "the device is still listed";
}

TEST_F(Umockdev, ClosePending) {
  if (!InScenario("close-pending")) GTEST_SKIP() << "runs under usbtmc_testbed.py close-pending";
  ViSession vi = Open(kNormal);
  ASSERT_NE(vi, VI_NULL);
  viSetAttribute(vi, VI_ATTR_TMO_VALUE, VI_TMO_INFINITE);
  // A command the instrument never answers: the read waits with its bulk-IN transfer in flight
  // until the close from this thread cancels it.
  ASSERT_EQ(Write(vi, "HOLD\n"), VI_SUCCESS);
  auto read = std::async(std::launch::async, [vi] {
    ViStatus status = 0;
    Read(vi, &status);
    return status;
  });
  ASSERT_TRUE(Eventually([] { return DeviceLog().find("command HOLD") != std::string::npos; }));
  ASSERT_EQ(read.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
      << "the read did not wait";
  const auto closing = std::chrono::steady_clock::now();
  EXPECT_EQ(viClose(vi), VI_SUCCESS);
  EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::milliseconds(1500));
  ASSERT_EQ(read.wait_for(std::chrono::seconds(3)), std::future_status::ready)
      << "the read went on after the close";
  EXPECT_EQ(read.get(), VI_ERROR_ABORT);
  // The transfer was taken back from the device and the interface released, with no abort
  // sequence on the control pipe.
  const std::string log = DeviceLog();
  const size_t discard = log.find("discard 0x81"), release = log.find("release");
  ASSERT_NE(discard, std::string::npos) << log;
  ASSERT_NE(release, std::string::npos) << log;
  EXPECT_LT(discard, release);
  EXPECT_EQ(log.find("abort-bulk-in"), std::string::npos) << log;
}

TEST_F(Umockdev, Reenumerate) {
  if (!InScenario("reenumerate")) GTEST_SKIP() << "runs under usbtmc_testbed.py reenumerate";
  // A WX2050 restarts into its writer firmware: it leaves the bus and a new device appears
  // under product id 0x3A01 with the same serial number.
  EXPECT_EQ(List(), std::vector<std::string>{kWx2050});
  ViSession vi = Open(kWx2050);
  ASSERT_NE(vi, VI_NULL);
  ASSERT_EQ(Write(vi, "SYST:UPDATE WX2050\n"), VI_SUCCESS);
  EXPECT_TRUE(Eventually([&] { return Write(vi, "*IDN?\n") == VI_ERROR_CONN_LOST; }));
  EXPECT_EQ(viClose(vi), VI_SUCCESS);
  ASSERT_TRUE(Eventually([&] { return List() == std::vector<std::string>{kNormal}; }))
      << "the writer did not appear";
  vi = Open(kNormal);
  ASSERT_NE(vi, VI_NULL);
  EXPECT_EQ(Query(vi, "*IDN?\n"), "VANDRELL,WX2040-WRITER,UMD2040,2.00-01-01-01-01-0100\n");
  EXPECT_EQ(viClose(vi), VI_SUCCESS);
}

}  // namespace
}  // namespace fg::visa
