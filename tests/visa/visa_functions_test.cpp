// The VISA functions over scripted providers: handles, routing, the search, attributes and I/O.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/visa/support/scripted_fixture.h"

namespace fg::visa {
namespace {

using fg::testing::Bytes;

const std::string kDev1 = "USB0::0x2E5B::0x3A01::SN1::INSTR";
const std::string kDev2 = "USB0::0x2E5B::0x3A01::SN2::INSTR";
const std::string kOther = "USB0::0x2E5B::0x3A02::SN3::INSTR";

class VisaFunctions : public fg::testing::ScriptedVisaTest {};

TEST_F(VisaFunctions, HandlesAreCheckedAndClosingARmClosesItsChildren) {
  first_->AddResource(kDev1);
  EXPECT_EQ(viOpenDefaultRM(nullptr), VI_ERROR_INV_PARAMETER);
  ViSession rm = OpenRm();
  ViSession rm2 = OpenRm();
  EXPECT_NE(rm, rm2);

  ViSession vi = VI_NULL;
  ASSERT_EQ(viOpen(rm, kDev1.c_str(), VI_NULL, 1000, &vi), VI_SUCCESS);
  ViFindList list = VI_NULL;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN];
  ASSERT_EQ(viFindRsrc(rm, "?*", &list, &count, desc), VI_SUCCESS);
  EXPECT_EQ(first_->OpenSessionCount(), 1u);

  // Wrong kinds of handle are refused.
  ViSession nested = VI_NULL;
  EXPECT_EQ(viOpen(vi, kDev1.c_str(), VI_NULL, 1000, &nested), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viFindRsrc(vi, "?*", nullptr, nullptr, desc), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viFindNext(vi, desc), VI_ERROR_INV_OBJECT);
  uint8_t byte = 0;
  EXPECT_EQ(viRead(rm, &byte, 1, nullptr), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viWrite(list, &byte, 1, nullptr), VI_ERROR_INV_OBJECT);

  EXPECT_EQ(viClose(rm), VI_SUCCESS);  // closes the session and the find list with it
  EXPECT_EQ(first_->OpenSessionCount(), 0u);
  EXPECT_EQ(viClose(vi), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viClose(list), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viClose(rm), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viClose(VI_NULL), VI_WARN_NULL_OBJECT);
  EXPECT_EQ(viClose(0xDEADBEEF), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viClose(rm2), VI_SUCCESS);
}

TEST_F(VisaFunctions, FindListsWalkEveryMatchOnce) {
  first_->AddResource(kDev2);
  first_->AddResource(kOther);
  second_->AddResource(kDev1);
  second_->AddResource("USB0::0x2E5B::0x3A01::SN2::0::INSTR");  // the same as kDev2: left out
  ViSession rm = OpenRm();
  ViFindList list = VI_NULL;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN];
  ASSERT_EQ(viFindRsrc(rm, "USB0::0x2E5B::0x3A01::?*::INSTR", &list, &count, desc), VI_SUCCESS);
  ASSERT_EQ(count, 2u);
  std::vector<std::string> names{desc};
  ASSERT_EQ(viFindNext(list, desc), VI_SUCCESS);
  names.push_back(desc);
  EXPECT_EQ(names, (std::vector<std::string>{kDev2, kDev1}));  // routing order
  EXPECT_EQ(viFindNext(list, desc), VI_ERROR_RSRC_NFOUND);
  EXPECT_STREQ(desc, "");
  EXPECT_EQ(viClose(list), VI_SUCCESS);

  // No match, a malformed expression, and no list wanted.
  list = 0x1234;
  count = 7;
  EXPECT_EQ(viFindRsrc(rm, "USB0::0x2E5B::0x3A10::?*::INSTR", &list, &count, desc),
            VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(list, VI_NULL);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(viFindRsrc(rm, "USB0::(", &list, &count, desc), VI_ERROR_INV_EXPR);
  EXPECT_EQ(viFindRsrc(rm, nullptr, &list, &count, desc), VI_ERROR_INV_EXPR);
  EXPECT_EQ(viFindRsrc(rm, "?*", nullptr, &count, desc), VI_SUCCESS);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(viClose(rm), VI_SUCCESS);
}

TEST_F(VisaFunctions, OpenCanonicalisesRoutesAndPassesTheTimeout) {
  second_->AddResource(kDev1);
  first_->AddResource(kDev2, VI_ERROR_RSRC_BUSY);
  ViSession rm = OpenRm();
  ViSession vi = VI_NULL;

  // Explicit interface 0 and decimal ids reach the canonical name; "not found" in the first
  // provider passes on to the second.
  ASSERT_EQ(viOpen(rm, "USB0::11867::14849::SN1::0::INSTR", VI_NULL, 1234, &vi), VI_SUCCESS);
  char name[VI_FIND_BUFLEN];
  ASSERT_EQ(viGetAttribute(vi, VI_ATTR_RSRC_NAME, name), VI_SUCCESS);
  EXPECT_STREQ(name, kDev1.c_str());
  std::vector<ScriptedEvent> events = second_->Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().kind, ScriptedEvent::kOpen);
  EXPECT_EQ(events.back().resource, kDev1);
  EXPECT_EQ(events.back().timeoutMs, 1234u);
  EXPECT_EQ(viClose(vi), VI_SUCCESS);

  // A serial written in another case still finds the listed device.
  ASSERT_EQ(viOpen(rm, "usb0::0x2e5b::0x3a01::sn1::instr", VI_NULL, 1000, &vi), VI_SUCCESS);
  ASSERT_EQ(viGetAttribute(vi, VI_ATTR_RSRC_NAME, name), VI_SUCCESS);
  EXPECT_STREQ(name, kDev1.c_str());
  EXPECT_EQ(viClose(vi), VI_SUCCESS);

  // The owner's refusal decides; absent and malformed names; bad access modes.
  vi = 0x55;
  EXPECT_EQ(viOpen(rm, kDev2.c_str(), VI_NULL, 1000, &vi), VI_ERROR_RSRC_BUSY);
  EXPECT_EQ(vi, VI_NULL);
  EXPECT_EQ(viOpen(rm, kOther.c_str(), VI_NULL, 1000, &vi), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(viOpen(rm, "TCPIP0::10.0.0.1::INSTR", VI_NULL, 1000, &vi), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(viOpen(rm, "USB0::0x2E5B::::INSTR", VI_NULL, 1000, &vi), VI_ERROR_INV_RSRC_NAME);
  EXPECT_EQ(viOpen(rm, kDev1.c_str(), 8, 1000, &vi), VI_ERROR_INV_ACC_MODE);
  EXPECT_EQ(viOpen(rm, kDev1.c_str(), VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK, 1000, &vi),
            VI_ERROR_INV_ACC_MODE);
  EXPECT_EQ(viOpen(rm, kDev1.c_str(), VI_NULL, 1000, nullptr), VI_ERROR_INV_PARAMETER);
  EXPECT_EQ(second_->OpenSessionCount(), 0u);
  EXPECT_EQ(viClose(rm), VI_SUCCESS);
}

TEST_F(VisaFunctions, AttributesOfASession) {
  first_->AddResource("USB0::0x2E5B::0x3A10::BOX7::2::INSTR");
  ViSession rm = OpenRm();
  ViSession vi = VI_NULL;
  ASSERT_EQ(viOpen(rm, "USB0::0x2E5B::0x3A10::BOX7::2::INSTR", VI_NULL, 1000, &vi), VI_SUCCESS);

  ViUInt32 timeout = 0;
  ASSERT_EQ(viGetAttribute(vi, VI_ATTR_TMO_VALUE, &timeout), VI_SUCCESS);
  EXPECT_EQ(timeout, 2000u);  // VISA's default
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 10000), VI_SUCCESS);
  ASSERT_EQ(viGetAttribute(vi, VI_ATTR_TMO_VALUE, &timeout), VI_SUCCESS);
  EXPECT_EQ(timeout, 10000u);
  EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, ViAttrState{0x1FFFFFFFFull}),
            VI_ERROR_NSUP_ATTR_STATE);

  ViUInt16 u16 = 0;
  ASSERT_EQ(viGetAttribute(vi, VI_ATTR_MANF_ID, &u16), VI_SUCCESS);
  EXPECT_EQ(u16, 0x2E5B);
  ASSERT_EQ(viGetAttribute(vi, VI_ATTR_MODEL_CODE, &u16), VI_SUCCESS);
  EXPECT_EQ(u16, 0x3A10);
  ASSERT_EQ(viGetAttribute(vi, VI_ATTR_INTF_TYPE, &u16), VI_SUCCESS);
  EXPECT_EQ(u16, VI_INTF_USB);
  ViInt16 intfc = 0;
  ASSERT_EQ(viGetAttribute(vi, VI_ATTR_USB_INTFC_NUM, &intfc), VI_SUCCESS);
  EXPECT_EQ(intfc, 2);
  char text[VI_FIND_BUFLEN];
  ASSERT_EQ(viGetAttribute(vi, VI_ATTR_USB_SERIAL_NUM, text), VI_SUCCESS);
  EXPECT_STREQ(text, "BOX7");
  ASSERT_EQ(viGetAttribute(vi, VI_ATTR_RSRC_CLASS, text), VI_SUCCESS);
  EXPECT_STREQ(text, "INSTR");

  EXPECT_EQ(viSetAttribute(vi, VI_ATTR_RSRC_NAME, 0), VI_ERROR_ATTR_READONLY);
  EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, 2), VI_ERROR_NSUP_ATTR_STATE);
  EXPECT_EQ(viSetAttribute(vi, VI_ATTR_SEND_END_EN, VI_FALSE), VI_ERROR_NSUP_ATTR_STATE);
  EXPECT_EQ(viSetAttribute(vi, VI_ATTR_MANF_NAME, 0), VI_ERROR_ATTR_READONLY);
  EXPECT_EQ(viSetAttribute(vi, 0x3FFF0FFFu, 1), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(viGetAttribute(vi, 0x3FFF0FFFu, &timeout), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TMO_VALUE, nullptr), VI_ERROR_USER_BUF);

  // Buffers: the known masks only.
  EXPECT_EQ(viSetBuf(vi, VI_READ_BUF, 4096), VI_SUCCESS);
  ViUInt32 size = 0;
  ASSERT_EQ(viGetAttribute(vi, VI_ATTR_RD_BUF_SIZE, &size), VI_SUCCESS);
  EXPECT_EQ(size, 4096u);
  EXPECT_EQ(viSetBuf(vi, 0x100, 4096), VI_ERROR_INV_MASK);
  EXPECT_EQ(viSetBuf(rm, VI_READ_BUF, 4096), VI_ERROR_INV_OBJECT);

  // The resource manager's own attributes.
  ASSERT_EQ(viGetAttribute(rm, VI_ATTR_RSRC_MANF_NAME, text), VI_SUCCESS);
  EXPECT_STREQ(text, "Flintgate");
  ViVersion specVersion = 0;
  ASSERT_EQ(viGetAttribute(rm, VI_ATTR_RSRC_SPEC_VERSION, &specVersion), VI_SUCCESS);
  EXPECT_EQ(specVersion, VI_SPEC_VERSION);
  EXPECT_EQ(viSetAttribute(rm, VI_ATTR_RSRC_SPEC_VERSION, 1), VI_ERROR_ATTR_READONLY);
  EXPECT_EQ(viGetAttribute(rm, VI_ATTR_TMO_VALUE, &timeout), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(viClose(rm), VI_SUCCESS);
}

TEST_F(VisaFunctions, ReadsDeliverMessagesAndReportTheirEnd) {
  first_->AddResource(kDev1);
  ViSession rm = OpenRm();
  ViSession vi = VI_NULL;
  ASSERT_EQ(viOpen(rm, kDev1.c_str(), VI_NULL, 1000, &vi), VI_SUCCESS);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 777), VI_SUCCESS);
  first_->QueueReply(kDev1, "0123456789");

  uint8_t buffer[16] = {};
  ViUInt32 got = 99;
  // The count fills first: VI_SUCCESS_MAX_CNT, and the rest stays for the next read.
  ASSERT_EQ(viRead(vi, buffer, 4, &got), VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "0123");
  ASSERT_EQ(viRead(vi, buffer, sizeof buffer, &got), VI_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "456789");
  EXPECT_EQ(first_->Events().back().timeoutMs, 777u);  // the session's timeout reaches the read

  // Nothing to read: timeout, with the count 0.
  got = 5;
  EXPECT_EQ(viRead(vi, buffer, sizeof buffer, &got), VI_ERROR_TMO);
  EXPECT_EQ(got, 0u);
  // No count wanted; a zero count does no I/O; no buffer.
  first_->QueueReply(kDev1, "x");
  EXPECT_EQ(viRead(vi, buffer, sizeof buffer, nullptr), VI_SUCCESS);
  size_t before = first_->Events().size();
  EXPECT_EQ(viRead(vi, buffer, 0, &got), VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(viRead(vi, nullptr, 4, &got), VI_ERROR_USER_BUF);
  EXPECT_EQ(first_->Events().size(), before);

  // A backend reporting more than the count asked for is cut at the count.
  first_->ScriptRead(kDev1, {VI_SUCCESS, {'a', 'b'}, 100});
  ASSERT_EQ(viRead(vi, buffer, 2, &got), VI_SUCCESS);
  EXPECT_EQ(got, 2u);

  // The device leaves: the session's next read and write fail as lost.
  first_->Unplug(kDev1);
  EXPECT_EQ(viRead(vi, buffer, sizeof buffer, &got), VI_ERROR_CONN_LOST);
  EXPECT_EQ(viWrite(vi, Bytes("x"), 1, &got), VI_ERROR_CONN_LOST);
  EXPECT_EQ(viClose(rm), VI_SUCCESS);
}

TEST_F(VisaFunctions, WritesAreOneMessageAndClearDropsPendingReplies) {
  first_->AddResource(kDev1);
  first_->SetResponder(kDev1, [](const std::string& m) { return m == "*IDN?\n" ? "ID\n" : ""; });
  ViSession rm = OpenRm();
  ViSession vi = VI_NULL;
  ASSERT_EQ(viOpen(rm, kDev1.c_str(), VI_NULL, 1000, &vi), VI_SUCCESS);

  ViUInt32 written = 0;
  ASSERT_EQ(viWrite(vi, Bytes("*IDN?\n"), 6, &written), VI_SUCCESS);
  EXPECT_EQ(written, 6u);
  std::vector<ScriptedEvent> events = first_->Events();
  ASSERT_EQ(events.back().kind, ScriptedEvent::kWrite);
  EXPECT_EQ(std::string(events.back().data.begin(), events.back().data.end()), "*IDN?\n");

  // A short write is reported as such, with the provider's status.
  first_->ScriptWrite(kDev1, {VI_ERROR_TMO, {}, 3});
  EXPECT_EQ(viWrite(vi, Bytes("ABCDEF"), 6, &written), VI_ERROR_TMO);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(viWrite(vi, nullptr, 6, &written), VI_ERROR_USER_BUF);

  ASSERT_EQ(viClear(vi), VI_SUCCESS);
  uint8_t buffer[8];
  EXPECT_EQ(viRead(vi, buffer, sizeof buffer, &written), VI_ERROR_TMO);  // "ID\n" was dropped
  EXPECT_EQ(viClear(rm), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viClose(rm), VI_SUCCESS);
}

TEST_F(VisaFunctions, ParseStatusTextsAndEvents) {
  ViSession rm = OpenRm();
  ViUInt16 type = 0, board = 0;
  char cls[VI_FIND_BUFLEN], expanded[VI_FIND_BUFLEN], alias[VI_FIND_BUFLEN] = "junk";
  ASSERT_EQ(viParseRsrcEx(rm, "usb1::11867::0x3A01::SN::0", &type, &board, cls, expanded, alias),
            VI_SUCCESS);
  EXPECT_EQ(type, VI_INTF_USB);
  EXPECT_EQ(board, 1);
  EXPECT_STREQ(cls, "INSTR");
  EXPECT_STREQ(expanded, "USB1::0x2E5B::0x3A01::SN::INSTR");
  EXPECT_STREQ(alias, "");
  ASSERT_EQ(viParseRsrc(rm, "TCPIP2::h::INSTR", &type, &board), VI_SUCCESS);
  EXPECT_EQ(type, VI_INTF_TCPIP);
  EXPECT_EQ(board, 2);
  EXPECT_EQ(viParseRsrc(rm, "NOPE::1", &type, &board), VI_ERROR_INV_RSRC_NAME);
  EXPECT_EQ(viParseRsrc(0x999, "USB0::1::2::3", &type, &board), VI_ERROR_INV_OBJECT);

  char desc[VI_FIND_BUFLEN];
  EXPECT_EQ(viStatusDesc(rm, VI_ERROR_TMO, desc), VI_SUCCESS);
  EXPECT_NE(std::strstr(desc, "VI_ERROR_TMO"), nullptr);
  EXPECT_EQ(viStatusDesc(rm, VI_SUCCESS_MAX_CNT, desc), VI_SUCCESS);
  EXPECT_NE(std::strstr(desc, "VI_SUCCESS_MAX_CNT"), nullptr);
  EXPECT_EQ(viStatusDesc(rm, 0x12345, desc), VI_WARN_UNKNOWN_STATUS);
  EXPECT_NE(std::strstr(desc, "0x00012345"), nullptr);

  EXPECT_EQ(viDisableEvent(rm, VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_SUCCESS_EVENT_DIS);
  EXPECT_EQ(viDiscardEvents(rm, VI_EVENT_SERVICE_REQ, VI_QUEUE), VI_SUCCESS_QUEUE_EMPTY);
  EXPECT_EQ(viDisableEvent(rm, 0x1234, VI_QUEUE), VI_ERROR_INV_EVENT);
  EXPECT_EQ(viDiscardEvents(rm, VI_ALL_ENABLED_EVENTS, 0x40), VI_ERROR_INV_MECH);
  EXPECT_EQ(viDisableEvent(0x999, VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viClose(rm), VI_SUCCESS);
}

TEST_F(VisaFunctions, TermCharReadsFlushAndClearShareTheSessionBuffer) {
  first_->AddResource(kDev1);
  ViSession rm = OpenRm();
  ViSession vi = VI_NULL;
  ASSERT_EQ(viOpen(rm, kDev1.c_str(), VI_NULL, 1000, &vi), VI_SUCCESS);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 50), VI_SUCCESS);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR, ','), VI_SUCCESS);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
  ViBoolean enabled = VI_FALSE;
  ASSERT_EQ(viGetAttribute(vi, VI_ATTR_TERMCHAR_EN, &enabled), VI_SUCCESS);
  EXPECT_EQ(enabled, VI_TRUE);

  auto read = [&](ViStatus* status) {
    char buffer[32];
    ViUInt32 n = 0;
    *status = viRead(vi, reinterpret_cast<ViPBuf>(buffer), sizeof buffer, &n);
    return std::string(buffer, n);
  };
  ViStatus status = 0;
  first_->QueueReply(kDev1, "a,b,c");
  EXPECT_EQ(read(&status), "a,");
  EXPECT_EQ(status, VI_SUCCESS_TERM_CHAR);
  EXPECT_EQ(read(&status), "b,");
  // Discarding drops what the buffer held; the device is not asked.
  const size_t reads = first_->Events().size();
  EXPECT_EQ(viFlush(vi, VI_READ_BUF_DISCARD), VI_SUCCESS);
  EXPECT_EQ(first_->Events().size(), reads);
  EXPECT_EQ(read(&status), "");
  EXPECT_EQ(status, VI_ERROR_TMO);

  // A clear drops held bytes too.
  first_->QueueReply(kDev1, "x,y");
  EXPECT_EQ(read(&status), "x,");
  EXPECT_EQ(viClear(vi), VI_SUCCESS);
  EXPECT_EQ(first_->Events().back().kind, ScriptedEvent::kClear);
  EXPECT_EQ(read(&status), "");

  EXPECT_EQ(viFlush(vi, 0), VI_ERROR_INV_MASK);
  EXPECT_EQ(viFlush(vi, VI_READ_BUF | VI_READ_BUF_DISCARD), VI_ERROR_INV_MASK);
  EXPECT_EQ(viFlush(vi, VI_WRITE_BUF), VI_SUCCESS);
  EXPECT_EQ(viFlush(rm, VI_WRITE_BUF), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viClose(rm), VI_SUCCESS);
}

// Locks are taken by sessions of different resource managers on one resource: the holder's I/O
// passes, the other's is refused, and closing the holder gives the lock back.
TEST_F(VisaFunctions, LocksKeepOtherSessionsOutUntilReleasedOrClosed) {
  first_->AddResource(kDev1);
  first_->SetResponder(kDev1, [](const std::string& m) { return "re:" + m; });
  ViSession rmA = OpenRm(), rmB = OpenRm();
  ViSession a = VI_NULL, b = VI_NULL;
  ASSERT_EQ(viOpen(rmA, kDev1.c_str(), VI_NULL, 1000, &a), VI_SUCCESS);
  ASSERT_EQ(viOpen(rmB, kDev1.c_str(), VI_NULL, 1000, &b), VI_SUCCESS);
  ViUInt32 n = 0;
  char reply[16];
  ASSERT_EQ(viLock(a, VI_EXCLUSIVE_LOCK, 0, nullptr, nullptr), VI_SUCCESS);
  ViAccessMode state = VI_NO_LOCK;
  ASSERT_EQ(viGetAttribute(b, VI_ATTR_RSRC_LOCK_STATE, &state), VI_SUCCESS);
  EXPECT_EQ(state, VI_EXCLUSIVE_LOCK);
  const size_t before = first_->Events().size();
  EXPECT_EQ(viWrite(b, Bytes("m"), 1, &n), VI_ERROR_RSRC_LOCKED);
  EXPECT_EQ(viRead(b, reinterpret_cast<ViPBuf>(reply), sizeof reply, &n), VI_ERROR_RSRC_LOCKED);
  EXPECT_EQ(viClear(b), VI_ERROR_RSRC_LOCKED);
  ViUInt16 stb = 0;
  EXPECT_EQ(viReadSTB(b, &stb), VI_ERROR_RSRC_LOCKED);
  EXPECT_EQ(first_->Events().size(), before);  // nothing reached the device
  EXPECT_EQ(viWrite(a, Bytes("m"), 1, &n), VI_SUCCESS);
  EXPECT_EQ(viRead(a, reinterpret_cast<ViPBuf>(reply), sizeof reply, &n), VI_SUCCESS);
  EXPECT_EQ(viUnlock(b), VI_ERROR_SESN_NLOCKED);

  // Closing the holder's resource manager releases its lock.
  EXPECT_EQ(viClose(rmA), VI_SUCCESS);
  EXPECT_EQ(viWrite(b, Bytes("m"), 1, &n), VI_SUCCESS);
  char key[VI_FIND_BUFLEN] = {};
  EXPECT_EQ(viLock(b, VI_SHARED_LOCK, 0, "k1", key), VI_SUCCESS);
  EXPECT_STREQ(key, "k1");
  EXPECT_EQ(viLock(b, VI_SHARED_LOCK, 0, "k1", nullptr), VI_ERROR_INV_ACCESS_KEY);

  // A lock asked for at open is held by the new session, and fails the open when taken.
  ViSession c = VI_NULL;
  EXPECT_EQ(viOpen(rmB, kDev1.c_str(), VI_EXCLUSIVE_LOCK, 100, &c), VI_ERROR_TMO);
  EXPECT_EQ(c, VI_NULL);
  EXPECT_EQ(viUnlock(b), VI_SUCCESS);
  ASSERT_EQ(viOpen(rmB, kDev1.c_str(), VI_EXCLUSIVE_LOCK, 100, &c), VI_SUCCESS);
  EXPECT_EQ(viWrite(b, Bytes("m"), 1, &n), VI_ERROR_RSRC_LOCKED);
  EXPECT_EQ(viClose(rmB), VI_SUCCESS);
  EXPECT_EQ(first_->OpenSessionCount(), 0u);
}

// Sessions without status byte, trigger or interrupt pipe say so with the standard statuses.
TEST_F(VisaFunctions, StatusByteTriggerAndEventsOfAPlainSession) {
  first_->AddResource(kDev1);
  ViSession rm = OpenRm();
  ViSession vi = VI_NULL;
  ASSERT_EQ(viOpen(rm, kDev1.c_str(), VI_NULL, 1000, &vi), VI_SUCCESS);
  ViUInt16 stb = 7;
  EXPECT_EQ(viReadSTB(vi, &stb), VI_ERROR_NSUP_OPER);
  EXPECT_EQ(stb, 0);
  EXPECT_EQ(viReadSTB(vi, nullptr), VI_ERROR_USER_BUF);
  EXPECT_EQ(viAssertTrigger(vi, VI_TRIG_PROT_DEFAULT), VI_ERROR_NSUP_OPER);
  EXPECT_EQ(viAssertTrigger(vi, 5), VI_ERROR_INV_PROT);
  EXPECT_EQ(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_ERROR_INV_EVENT);
  EXPECT_EQ(viEnableEvent(vi, 0x1234, VI_QUEUE, VI_NULL), VI_ERROR_INV_EVENT);
  ViEventType type = 1;
  ViEvent event = 1;
  EXPECT_EQ(viWaitOnEvent(vi, VI_EVENT_SERVICE_REQ, 10, &type, &event), VI_ERROR_NENABLED);
  EXPECT_EQ(event, VI_NULL);
  EXPECT_EQ(viDisableEvent(vi, VI_EVENT_SERVICE_REQ, VI_QUEUE), VI_SUCCESS_EVENT_DIS);
  char text[VI_FIND_BUFLEN];
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_MANF_NAME, text), VI_SUCCESS);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(viClose(rm), VI_SUCCESS);
}

// Several threads with their own sessions, and one opening and closing resource managers, all at
// once: every reply reaches the thread that asked for it, and nothing is left open.
TEST_F(VisaFunctions, ConcurrentSessionsStayApart) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  for (int t = 0; t < kThreads; ++t) {
    std::string name = "USB0::0x2E5B::0x3A01::T" + std::to_string(t) + "::INSTR";
    first_->AddResource(name);
    first_->SetResponder(name, [t](const std::string& m) { return std::to_string(t) + ":" + m; });
  }
  std::atomic<int> failures{0};
  std::atomic<bool> done{false};
  std::thread churn([&] {
    while (!done) {
      ViSession rm = VI_NULL;
      if (viOpenDefaultRM(&rm) != VI_SUCCESS || viClose(rm) != VI_SUCCESS) ++failures;
    }
  });
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      ViSession rm = VI_NULL, vi = VI_NULL;
      std::string name = "USB0::0x2E5B::0x3A01::T" + std::to_string(t) + "::INSTR";
      if (viOpenDefaultRM(&rm) != VI_SUCCESS ||
          viOpen(rm, name.c_str(), VI_NULL, 1000, &vi) != VI_SUCCESS) {
        ++failures;
        return;
      }
      for (int i = 0; i < kRounds; ++i) {
        std::string message = "m" + std::to_string(i);
        ViUInt32 n = 0;
        char reply[32];
        if (viWrite(vi, Bytes(message), static_cast<ViUInt32>(message.size()), &n) != VI_SUCCESS ||
            viRead(vi, reinterpret_cast<ViPBuf>(reply), sizeof reply, &n) != VI_SUCCESS ||
            std::string(reply, n) != std::to_string(t) + ":" + message) {
          ++failures;
        }
      }
      viClose(rm);
    });
  }
  for (std::thread& w : workers) w.join();
  done = true;
  churn.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(first_->OpenSessionCount(), 0u);
}

}  // namespace
}  // namespace fg::visa
