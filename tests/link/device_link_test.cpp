// The instrument link's VISA slots over scripted providers (chosen statuses) and over the real
// VISA layer talking to a minimal instrument on the simulated bus.
#include <gtest/gtest.h>

#include <cstring>

#include "link/device_link.h"
#include "tests/visa/support/env_guard.h"
#include "tests/visa/support/private_bus.h"
#include "tests/visa/support/scripted_fixture.h"

namespace fg {
namespace {

using fg::testing::Bytes;
using namespace fg::visa;

// Any owner with the two handle fields can be served by the VISA slots.
struct Owner {
  int before = 0x11;
  ViSession rmSession = 0;
  ViSession session = 0;
  int after = 0x22;
};

const std::string kDev = "USB0::0x2E5B::0x3A01::SN1::INSTR";
const std::string kDev2 = "USB0::0x2E5B::0x3A02::SN2::INSTR";

class DeviceLinkTest : public fg::testing::ScriptedVisaTest {
 protected:
  void SetUp() override {
    ScriptedVisaTest::SetUp();
    first_->AddResource(kDev);
    first_->AddResource(kDev2);
  }
  void TearDown() override {
    VisaClose<Owner>(&owner_);
    ScriptedVisaTest::TearDown();
  }
  size_t EventCount() const { return first_->Events().size(); }

  Owner owner_;
};

int closeCalls = 0;
void* closedOwner = nullptr;
void CountingClose(void* owner) {
  ++closeCalls;
  closedOwner = owner;
}

TEST_F(DeviceLinkTest, CreateFillsTheRecordAndFreeClosesFirst) {
  DeviceLink* link = CreateDeviceLink(VisaOpen<Owner>, VisaWrite<Owner>, VisaRead<Owner>,
                                      CountingClose, nullptr, &owner_);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->open, &VisaOpen<Owner>);
  EXPECT_EQ(link->owner, &owner_);
  EXPECT_EQ(link->replyBuffer, link->replyStorage);
  EXPECT_EQ(link->progressCounter, 0);
  for (uint8_t byte : link->replyStorage) ASSERT_EQ(byte, 0);
  closeCalls = 0;
  FreeDeviceLink(link);
  EXPECT_EQ(closeCalls, 1);
  EXPECT_EQ(closedOwner, &owner_);
  FreeDeviceLink(nullptr);
  EXPECT_EQ(closeCalls, 1);

  // With the VISA close slot, freeing a link closes the owner's open sessions.
  link = CreateDeviceLink(VisaOpen<Owner>, VisaWrite<Owner>, VisaRead<Owner>, VisaClose<Owner>,
                          nullptr, &owner_);
  ASSERT_EQ(link->open(link->owner, kDev.c_str()), 1);
  EXPECT_EQ(first_->OpenSessionCount(), 1u);
  FreeDeviceLink(link);
  EXPECT_EQ(first_->OpenSessionCount(), 0u);
  EXPECT_EQ(owner_.rmSession, 0u);
  EXPECT_EQ(owner_.session, 0u);
  EXPECT_EQ(owner_.before, 0x11);
  EXPECT_EQ(owner_.after, 0x22);
}

TEST_F(DeviceLinkTest, OpenSetsTimeoutsAndBufferAndReplacesAnOpenSession) {
  ASSERT_EQ(VisaOpen<Owner>(&owner_, kDev.c_str()), 1);
  EXPECT_NE(owner_.rmSession, 0u);
  EXPECT_NE(owner_.session, 0u);
  EXPECT_EQ(first_->Events().back().timeoutMs, 1000u);  // the open timeout
  ViUInt32 value = 0;
  ASSERT_EQ(viGetAttribute(owner_.session, VI_ATTR_TMO_VALUE, &value), VI_SUCCESS);
  EXPECT_EQ(value, 10000u);
  ASSERT_EQ(viGetAttribute(owner_.session, VI_ATTR_RD_BUF_SIZE, &value), VI_SUCCESS);
  EXPECT_EQ(value, 4096u);

  // Opening again closes the old session before the new one opens.
  ViSession oldSession = owner_.session;
  ASSERT_EQ(VisaOpen<Owner>(&owner_, kDev2.c_str()), 1);
  std::vector<ScriptedEvent> events = first_->Events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[events.size() - 2].kind, ScriptedEvent::kClose);
  EXPECT_EQ(events[events.size() - 2].resource, kDev);
  EXPECT_EQ(events.back().kind, ScriptedEvent::kOpen);
  EXPECT_EQ(events.back().resource, kDev2);
  EXPECT_EQ(first_->OpenSessionCount(), 1u);
  EXPECT_EQ(viClose(oldSession), VI_ERROR_INV_OBJECT);
}

TEST_F(DeviceLinkTest, FailedOpensLeaveNothingOpen) {
  first_->AddResource("USB0::0x2E5B::0x3A01::BUSY::INSTR", VI_ERROR_RSRC_BUSY);
  first_->AddResource("USB0::0x2E5B::0x3A01::WARN::INSTR", VI_SUCCESS_DEV_NPRESENT);
  struct Case {
    const char* name;
    LayerFaults faults;
  };
  const Case cases[] = {
      {"USB0::0x2E5B::0x3A01::ABSENT::INSTR", {}},
      {"USB0::0x2E5B::0x3A01::BUSY::INSTR", {}},
      {"not a resource name", {}},
      {"USB0::0x2E5B::0x3A01::WARN::INSTR", {}},  // a warning is not success here
      {kDev.c_str(), {VI_ERROR_SYSTEM_ERROR, -1, 0}},
      {kDev.c_str(), {VI_WARN_CONFIG_NLOADED, -1, 0}},  // the warned session is closed too
  };
  for (const Case& c : cases) {
    // An open session first: the failing open must close it too.
    SetLayerFaultsForTesting({});
    ASSERT_EQ(VisaOpen<Owner>(&owner_, kDev2.c_str()), 1);
    SetLayerFaultsForTesting(c.faults);
    EXPECT_EQ(VisaOpen<Owner>(&owner_, c.name), 0) << c.name;
    EXPECT_EQ(owner_.rmSession, 0u) << c.name;
    EXPECT_EQ(owner_.session, 0u) << c.name;
    EXPECT_EQ(OpenHandleCountForTesting(), 0u) << c.name;
    EXPECT_EQ(first_->OpenSessionCount(), 0u) << c.name;
  }
}

TEST_F(DeviceLinkTest, WriteSuccessFlagsAndCounts) {
  ASSERT_EQ(VisaOpen<Owner>(&owner_, kDev.c_str()), 1);
  uint32_t count = 0;
  size_t before = EventCount();
  EXPECT_EQ(VisaWrite<Owner>(&owner_, Bytes("x"), &count), 0);  // zero bytes: no I/O
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(EventCount(), before);

  struct Case {
    ViStatus status;
    int64_t reported;
    int32_t flag;
    uint32_t count;
  };
  const Case cases[] = {
      {VI_SUCCESS, -1, 1, 6},          {VI_SUCCESS_TERM_CHAR, -1, 1, 6},
      {VI_SUCCESS_MAX_CNT, -1, 0, 6},  {VI_WARN_NSUP_BUF, -1, 0, 6},
      {VI_ERROR_TMO, 2, 0, 2},         {VI_ERROR_IO, 0, 0, 0},
      {VI_ERROR_CONN_LOST, 5, 0, 5},
  };
  for (const Case& c : cases) {
    first_->ScriptWrite(kDev, {c.status, {}, c.reported});
    count = 6;
    EXPECT_EQ(VisaWrite<Owner>(&owner_, Bytes("ABCDEF"), &count), c.flag) << std::hex << c.status;
    EXPECT_EQ(count, c.count) << std::hex << c.status;
  }
}

TEST_F(DeviceLinkTest, ReadSuccessFlagsCountsAndTerminator) {
  ASSERT_EQ(VisaOpen<Owner>(&owner_, kDev.c_str()), 1);
  struct Case {
    ViStatus status;
    const char* data;
    int32_t flag;
  };
  const Case cases[] = {
      {VI_SUCCESS, "abc", 1},          {VI_SUCCESS_TERM_CHAR, "abc", 1},
      {VI_SUCCESS_MAX_CNT, "abcdefgh", 1},  // cut at the capacity
      {VI_SUCCESS_NCHAIN, "abc", 0},   // another success code is a failure here
      {VI_WARN_NSUP_BUF, "abc", 0},    {VI_ERROR_TMO, "ab", 0},
      {VI_ERROR_IO, "", 0},            {VI_ERROR_CONN_LOST, "a", 0},
  };
  for (const Case& c : cases) {
    std::string data(c.data);
    first_->ScriptRead(kDev, {c.status, std::vector<uint8_t>(data.begin(), data.end()), -1});
    uint8_t buffer[9];
    std::memset(buffer, 0xAA, sizeof buffer);
    uint32_t count = 8;
    EXPECT_EQ(VisaRead<Owner>(&owner_, buffer, &count), c.flag) << std::hex << c.status;
    uint32_t expected = static_cast<uint32_t>(std::min<size_t>(8, data.size()));
    EXPECT_EQ(count, expected) << std::hex << c.status;
    EXPECT_EQ(std::memcmp(buffer, data.data(), expected), 0);
    EXPECT_EQ(buffer[expected], c.flag ? 0x00 : 0xAA) << std::hex << c.status;
  }
}

TEST_F(DeviceLinkTest, FullLengthReplyIsTerminatedInsideTheReplyStorage) {
  DeviceLink* link = CreateDeviceLink(VisaOpen<Owner>, VisaWrite<Owner>, VisaRead<Owner>,
                                      VisaClose<Owner>, nullptr, &owner_);
  ASSERT_EQ(link->open(link->owner, kDev.c_str()), 1);
  std::memset(link->replyStorage, 0xAA, sizeof link->replyStorage);
  first_->QueueReply(kDev, std::string(kReplyBufferSize + 10, 'r'));
  uint32_t count = kReplyBufferSize;
  EXPECT_EQ(link->read(link->owner, link->replyBuffer, &count), 1);  // VI_SUCCESS_MAX_CNT
  EXPECT_EQ(count, kReplyBufferSize);
  EXPECT_EQ(link->replyBuffer[kReplyBufferSize], 0);
  EXPECT_EQ(link->replyBuffer[kReplyBufferSize - 1], 'r');

  // A backend that reports more than the capacity still ends the text at the capacity.
  first_->ScriptRead(kDev, {VI_SUCCESS, std::vector<uint8_t>(4, 'q'), 5000});
  count = 4;
  EXPECT_EQ(link->read(link->owner, link->replyBuffer, &count), 1);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(link->replyBuffer[4], 0);
  FreeDeviceLink(link);
}

TEST_F(DeviceLinkTest, CloseIsIdempotent) {
  ASSERT_EQ(VisaOpen<Owner>(&owner_, kDev.c_str()), 1);
  VisaClose<Owner>(&owner_);
  EXPECT_EQ(owner_.rmSession, 0u);
  EXPECT_EQ(owner_.session, 0u);
  EXPECT_EQ(first_->OpenSessionCount(), 0u);
  size_t before = EventCount();
  VisaClose<Owner>(&owner_);
  EXPECT_EQ(EventCount(), before);
  EXPECT_EQ(OpenHandleCountForTesting(), 0u);
}

// The same slots over the simulated bus: a minimal instrument that answers "*IDN?".
class DeviceLinkOverSimBus : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(bus_.path().empty());
    std::string error;
    instrument_ = fg::testing::EchoInstrument::Attach(
        bus_, 0x3A01, "LINK1",
        [](const std::string& m) {
          return m == "*IDN?\n" ? std::string("VANDRELL,WX2040,LINK1,1.23\n") : std::string();
        },
        &error);
    ASSERT_NE(instrument_, nullptr) << error;
  }
  void TearDown() override { VisaClose<Owner>(&owner_); }

  fg::testing::PrivateBus bus_;
  fg::testing::EnvGuard env_{{"FLINTGATE_VISA_PROVIDERS", "simbus"}};
  std::unique_ptr<fg::testing::EchoInstrument> instrument_;
  Owner owner_;
};

TEST_F(DeviceLinkOverSimBus, QueryReplyAndDeviceLeaving) {
  ASSERT_EQ(VisaOpen<Owner>(&owner_, "USB0::11867::14849::LINK1::0::INSTR"), 1);
  uint32_t count = 0;
  EXPECT_EQ(VisaWrite<Owner>(&owner_, Bytes("*IDN?\n"), &count), 0);
  count = 6;
  ASSERT_EQ(VisaWrite<Owner>(&owner_, Bytes("*IDN?\n"), &count), 1);
  EXPECT_EQ(count, 6u);

  // Read in two parts: the first fills its capacity exactly.
  uint8_t buffer[11];
  count = 10;
  ASSERT_EQ(VisaRead<Owner>(&owner_, buffer, &count), 1);
  EXPECT_EQ(instrument_->Received(), "*IDN?\n");  // it answered, so it has seen the query
  EXPECT_EQ(count, 10u);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "VANDRELL,W");
  uint8_t rest[64];
  count = 63;
  ASSERT_EQ(VisaRead<Owner>(&owner_, rest, &count), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(rest), "X2040,LINK1,1.23\n");

  // Reopening replaces the session and the instrument still answers.
  ASSERT_EQ(VisaOpen<Owner>(&owner_, "USB0::0x2E5B::0x3A01::LINK1::INSTR"), 1);
  count = 6;
  ASSERT_EQ(VisaWrite<Owner>(&owner_, Bytes("*IDN?\n"), &count), 1);
  count = 63;
  ASSERT_EQ(VisaRead<Owner>(&owner_, rest, &count), 1);
  EXPECT_EQ(count, 27u);

  // The instrument leaves the bus: the next write fails, and it cannot be opened again.
  instrument_->device()->Detach();
  count = 6;
  EXPECT_EQ(VisaWrite<Owner>(&owner_, Bytes("*IDN?\n"), &count), 0);
  EXPECT_EQ(VisaOpen<Owner>(&owner_, "USB0::0x2E5B::0x3A01::LINK1::INSTR"), 0);
  EXPECT_EQ(owner_.session, 0u);
  EXPECT_EQ(owner_.rmSession, 0u);
}

}  // namespace
}  // namespace fg
