// The USBTMC session code on the bus transport, in scripted conversations: the test plays the
// device, checks every transfer the host sends byte for byte and answers with canned bytes,
// broken bytes or silence.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "tests/visa/support/private_bus.h"
#include "tests/usbtmc/scripted_device.h"
#include "visa/builtin_providers.h"

namespace fg {
namespace {

using namespace fg::testing;
using namespace fg::visa;

constexpr char kName[] = "USB0::0x2E5B::0x3A02::SCRIPT1::INSTR";
constexpr uint32_t kTimeout = 10000;
constexpr uint8_t kBulkIn = 0x81;

const Bytes kInitiateClear = Setup(0xA1, 5, 0, 0, 1);
const Bytes kCheckClear = Setup(0xA1, 6, 0, 0, 2);
Bytes InitiateAbortIn(uint8_t tag) { return Setup(0xA2, 3, tag, kBulkIn, 2); }
const Bytes kCheckAbortIn = Setup(0xA2, 4, 0, kBulkIn, 8);

struct ReadOutcome {
  ViStatus status = 0;
  std::string text;
};

class SessionScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(device_.Listening());
    auto opening = std::async(std::launch::async, [this] {
      std::unique_ptr<InstrSession> s;
      ViStatus status = provider_->Open(kName, kTimeout, &s);
      return std::make_pair(status, std::move(s));
    });
    ASSERT_TRUE(device_.AcceptSession());
    device_.AnswerControl(kInitiateClear, {0x01});
    device_.AnswerControl(kCheckClear, {0x01, 0x00});
    auto opened = opening.get();
    ASSERT_EQ(opened.first, VI_SUCCESS);
    session_ = std::move(opened.second);
  }

  std::future<ReadOutcome> ReadAsync(uint32_t count, uint32_t timeoutMs = kTimeout) {
    return std::async(std::launch::async, [this, count, timeoutMs] {
      ReadOutcome outcome;
      std::string buffer(count, '\0');
      uint32_t received = 0;
      outcome.status =
          session_->Read(reinterpret_cast<uint8_t*>(buffer.data()), count, &received, timeoutMs);
      outcome.text = buffer.substr(0, received);
      return outcome;
    });
  }

  std::future<ViStatus> WriteAsync(const std::string& text) {
    return std::async(std::launch::async, [this, text] {
      uint32_t written = 0;
      ViStatus status = session_->Write(reinterpret_cast<const uint8_t*>(text.data()),
                                        static_cast<uint32_t>(text.size()), &written, kTimeout);
      if (status == VI_SUCCESS && written != text.size()) return VI_ERROR_SYSTEM_ERROR;
      return status;
    });
  }

  // One complete question and answer with the given tags; proves the session is in step.
  void ExpectWorkingExchange(uint8_t writeTag, const std::string& answer) {
    auto write = WriteAsync("*IDN?\n");
    EXPECT_EQ(device_.ExpectBulkOut(), DevDepMsgOut(writeTag, "*IDN?\n", true));
    EXPECT_EQ(write.get(), VI_SUCCESS);
    auto read = ReadAsync(256);
    const uint8_t readTag = writeTag == 255 ? 1 : writeTag + 1;
    EXPECT_EQ(device_.ExpectBulkOut(), RequestDevDepMsgIn(readTag, 256));
    device_.SendBulkIn(DevDepMsgIn(readTag, answer, true));
    ReadOutcome outcome = read.get();
    EXPECT_EQ(outcome.status, VI_SUCCESS);
    EXPECT_EQ(outcome.text, answer);
  }

  PrivateBus bus_;
  ScriptedDevice device_{bus_.path(), {0x2E5B, 0x3A02, "SCRIPT1", 0}};
  std::unique_ptr<Provider> provider_ = CreateSimBusProvider();
  std::unique_ptr<InstrSession> session_;
};

TEST_F(SessionScriptTest, WritesArePaddedAndTaggedInOrder) {
  auto first = WriteAsync("hello");
  // Written out in full once: header, five bytes, three zero bytes of alignment.
  EXPECT_EQ(device_.ExpectBulkOut(),
            (Bytes{0x01, 0x01, 0xFE, 0x00, 0x05, 0x00, 0x00, 0x00, 0x01, 0x00,
                   0x00, 0x00, 'h',  'e',  'l',  'l',  'o',  0x00, 0x00, 0x00}));
  EXPECT_EQ(first.get(), VI_SUCCESS);
  auto second = WriteAsync("ABCD");  // already a multiple of 4: no alignment
  EXPECT_EQ(device_.ExpectBulkOut(), DevDepMsgOut(2, "ABCD", true));
  EXPECT_EQ(second.get(), VI_SUCCESS);
}

TEST_F(SessionScriptTest, ReplySplitAcrossPacketsIsJoined) {
  auto read = ReadAsync(64);
  EXPECT_EQ(device_.ExpectBulkOut(), RequestDevDepMsgIn(1, 64));
  Bytes transfer = DevDepMsgIn(1, "WX2040,SN1,2.10", true);
  device_.SendBulkIn(Bytes(transfer.begin(), transfer.begin() + 5));       // part of the header
  device_.SendBulkIn(Bytes(transfer.begin() + 5, transfer.begin() + 14));  // rest and 2 bytes
  device_.SendBulkIn(Bytes(transfer.begin() + 14, transfer.end()));        // rest and alignment
  ReadOutcome outcome = read.get();
  EXPECT_EQ(outcome.status, VI_SUCCESS);
  EXPECT_EQ(outcome.text, "WX2040,SN1,2.10");
}

TEST_F(SessionScriptTest, EomClearAsksAgainUntilTheMessageEnds) {
  auto read = ReadAsync(100);
  EXPECT_EQ(device_.ExpectBulkOut(), RequestDevDepMsgIn(1, 100));
  device_.SendBulkIn(DevDepMsgIn(1, "first part,", false));
  // The rest of the caller's count is asked for with the next tag.
  EXPECT_EQ(device_.ExpectBulkOut(), RequestDevDepMsgIn(2, 89));
  device_.SendBulkIn(DevDepMsgIn(2, "second", true));
  ReadOutcome outcome = read.get();
  EXPECT_EQ(outcome.status, VI_SUCCESS);
  EXPECT_EQ(outcome.text, "first part,second");
}

TEST_F(SessionScriptTest, ReplyLongerThanOneTransfer) {
  const uint32_t count = 70000;  // more than one request may ask for
  auto read = ReadAsync(count);
  EXPECT_EQ(device_.ExpectBulkOut(), RequestDevDepMsgIn(1, 65536));
  std::string big(65536, 'x');
  Bytes transfer = DevDepMsgIn(1, big, false);
  // Sent in 512-byte packets, as a high-speed device would.
  for (size_t at = 0; at < transfer.size(); at += 512) {
    size_t end = std::min(transfer.size(), at + 512);
    device_.SendBulkIn(Bytes(transfer.begin() + static_cast<std::ptrdiff_t>(at),
                             transfer.begin() + static_cast<std::ptrdiff_t>(end)));
  }
  EXPECT_EQ(device_.ExpectBulkOut(), RequestDevDepMsgIn(2, count - 65536));
  device_.SendBulkIn(DevDepMsgIn(2, "tail", true));
  ReadOutcome outcome = read.get();
  EXPECT_EQ(outcome.status, VI_SUCCESS);
  EXPECT_EQ(outcome.text, big + "tail");
}

TEST_F(SessionScriptTest, CountFilledBeforeTheEndLeavesTheRestForTheNextRead) {
  auto read = ReadAsync(8);
  EXPECT_EQ(device_.ExpectBulkOut(), RequestDevDepMsgIn(1, 8));
  device_.SendBulkIn(DevDepMsgIn(1, "01234567", false));
  ReadOutcome outcome = read.get();
  EXPECT_EQ(outcome.status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(outcome.text, "01234567");
  read = ReadAsync(8);
  EXPECT_EQ(device_.ExpectBulkOut(), RequestDevDepMsgIn(2, 8));
  device_.SendBulkIn(DevDepMsgIn(2, "89", true));
  outcome = read.get();
  EXPECT_EQ(outcome.status, VI_SUCCESS);
  EXPECT_EQ(outcome.text, "89");
  // A message that ends exactly at the count is a complete message.
  read = ReadAsync(4);
  EXPECT_EQ(device_.ExpectBulkOut(), RequestDevDepMsgIn(3, 4));
  device_.SendBulkIn(DevDepMsgIn(3, "full", true));
  outcome = read.get();
  EXPECT_EQ(outcome.status, VI_SUCCESS);
  EXPECT_EQ(outcome.text, "full");
}

TEST_F(SessionScriptTest, MalformedRepliesAreRefusedAndTheSessionRecovers) {
  struct Case {
    const char* what;
    Bytes reply;  // answer to the request with bTag `tag`, or a corrupted one
  };
  uint8_t tag = 1;
  auto replyFor = [](uint8_t t) {
    return std::vector<Case>{
        {"wrong bTag", DevDepMsgIn(static_cast<uint8_t>(t + 1), "abc", true)},
        {"wrong MsgID",
         [&] {
           Bytes b = DevDepMsgIn(t, "abc", true);
           b[0] = 1;
           return b;
         }()},
        {"bad bTag inverse",
         [&] {
           Bytes b = DevDepMsgIn(t, "abc", true);
           b[2] = t;
           return b;
         }()},
        {"more than asked", DevDepMsgIn(t, std::string(40, 'z'), true)},
    };
  };
  for (size_t i = 0; i < replyFor(0).size(); ++i) {
    const Case c = replyFor(tag)[i];
    SCOPED_TRACE(c.what);
    auto read = ReadAsync(32);
    EXPECT_EQ(device_.ExpectBulkOut(), RequestDevDepMsgIn(tag, 32));
    device_.SendBulkIn(c.reply);
    // The host aborts its request; nothing is in progress any more.
    device_.AnswerControl(InitiateAbortIn(tag), {0x80, 0x00});
    ReadOutcome outcome = read.get();
    EXPECT_EQ(outcome.status, VI_ERROR_IO);
    EXPECT_EQ(outcome.text, "");
    ++tag;
  }
  ExpectWorkingExchange(tag, "recovered");
}

TEST_F(SessionScriptTest, TagWrapsFrom255To1AndNeverUsesZero) {
  auto writes = std::async(std::launch::async, [this] {
    for (int i = 0; i < 256; ++i) {
      uint32_t written = 0;
      const uint8_t byte = static_cast<uint8_t>(i);
      if (session_->Write(&byte, 1, &written, kTimeout) != VI_SUCCESS) return false;
    }
    return true;
  });
  for (int i = 0; i < 256; ++i) {
    const uint8_t expectedTag = static_cast<uint8_t>(i < 255 ? i + 1 : 1);
    Bytes transfer = device_.ExpectBulkOut();
    ASSERT_EQ(transfer.size(), 16u);
    ASSERT_EQ(transfer[1], expectedTag) << "transfer " << i;
    ASSERT_EQ(transfer[2], static_cast<uint8_t>(~expectedTag));
  }
  EXPECT_TRUE(writes.get());
  ExpectWorkingExchange(2, "wrapped");
}

TEST_F(SessionScriptTest, TimeoutAbortsTheRequestAndTheSessionRecovers) {
  auto read = ReadAsync(64, 300);
  EXPECT_EQ(device_.ExpectBulkOut(), RequestDevDepMsgIn(1, 64));
  // Silence; then the abort sequence: initiate, and the status check until it is done,
  // reading the pipe again when the device asks for it.
  device_.AnswerControl(InitiateAbortIn(1), {0x01, 0x01});
  device_.AnswerControl(kCheckAbortIn, {0x02, 0x01, 0, 0, 0, 0, 0, 0});
  device_.AnswerControl(kCheckAbortIn, {0x01, 0x00, 0, 0, 0, 0, 0, 0});
  ReadOutcome outcome = read.get();
  EXPECT_EQ(outcome.status, VI_ERROR_TMO);
  EXPECT_EQ(outcome.text, "");
  ExpectWorkingExchange(2, "back");
}

// A device that dribbles: it answers every request with one byte, without the end of the
// message, each just inside the timeout. The read as a whole still ends at its timeout, with the
// pending request aborted, and the session goes on.
TEST_F(SessionScriptTest, DribblingDeviceCannotStretchAReadPastItsTimeout) {
  auto read = ReadAsync(64, 600);
  int pieces = 0;
  uint8_t lastTag = 0;
  for (;;) {
    simbus::Frame frame;
    ASSERT_TRUE(device_.Receive(&frame));
    if (frame.kind == simbus::kFrameBulkOut) {
      ASSERT_GE(frame.payload.size(), 2u);
      lastTag = frame.payload[1];
      ASSERT_LT(pieces, 16) << "the read goes on past its timeout";
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      device_.SendBulkIn(DevDepMsgIn(lastTag, "x", false));
      ++pieces;
      continue;
    }
    // The host gave up on its last request: the abort of that request.
    ASSERT_EQ(frame.kind, simbus::kFrameControl);
    ASSERT_EQ(frame.payload.size(), 12u);
    EXPECT_EQ(Bytes(frame.payload.begin() + 4, frame.payload.end()), InitiateAbortIn(lastTag));
    uint32_t id = 0;
    for (int i = 3; i >= 0; --i) id = (id << 8) | frame.payload[static_cast<size_t>(i)];
    device_.SendControlReply(id, {0x01, lastTag});
    break;
  }
  device_.AnswerControl(kCheckAbortIn, {0x01, 0x00, 0, 0, 0, 0, 0, 0});
  ReadOutcome outcome = read.get();
  EXPECT_EQ(outcome.status, VI_ERROR_TMO);
  // What came in time is kept; the piece answering the aborted request may come too late.
  EXPECT_EQ(outcome.text, std::string(outcome.text.size(), 'x'));
  EXPECT_LE(outcome.text.size(), static_cast<size_t>(pieces));
  ExpectWorkingExchange(static_cast<uint8_t>(lastTag + 1), "back");
}

TEST_F(SessionScriptTest, LateReplyOfATimedOutRequestIsDiscarded) {
  auto read = ReadAsync(64, 300);
  EXPECT_EQ(device_.ExpectBulkOut(), RequestDevDepMsgIn(1, 64));
  // The reply comes after the host gave up but before its abort reached the device.
  uint32_t id = 0;
  Bytes setup;
  ASSERT_TRUE(device_.ExpectControl(&id, &setup));
  EXPECT_EQ(setup, InitiateAbortIn(1));
  device_.SendBulkIn(DevDepMsgIn(1, "stale", true));
  device_.SendControlReply(id, {0x80, 0x00});
  EXPECT_EQ(read.get().status, VI_ERROR_TMO);
  ExpectWorkingExchange(2, "fresh");
}

TEST_F(SessionScriptTest, DeviceLeavingMidReadLosesTheConnection) {
  auto read = ReadAsync(64);
  EXPECT_EQ(device_.ExpectBulkOut(), RequestDevDepMsgIn(1, 64));
  Bytes transfer = DevDepMsgIn(1, "half of a reply", true);
  device_.SendBulkIn(Bytes(transfer.begin(), transfer.begin() + 16));
  device_.Leave();
  ReadOutcome outcome = read.get();
  EXPECT_EQ(outcome.status, VI_ERROR_CONN_LOST);
  EXPECT_EQ(outcome.text, "");
  EXPECT_EQ(WriteAsync("anyone?").get(), VI_ERROR_CONN_LOST);
  EXPECT_EQ(session_->Clear(kTimeout), VI_ERROR_CONN_LOST);
}

// Cancel, as a close from another thread calls it: a read waiting for an answer that never comes
// ends at once, the device hears nothing more (no abort of the request, only the end of the
// connection), and every later call fails at once the same way.
TEST_F(SessionScriptTest, CancelEndsAWaitingReadWithoutRecovery) {
  auto read = ReadAsync(64, 30000);
  EXPECT_EQ(device_.ExpectBulkOut(), RequestDevDepMsgIn(1, 64));
  session_->Cancel();
  ASSERT_EQ(read.wait_for(std::chrono::seconds(3)), std::future_status::ready)
      << "the read still waits";
  ReadOutcome outcome = read.get();
  EXPECT_EQ(outcome.status, VI_ERROR_ABORT);
  EXPECT_EQ(outcome.text, "");
  simbus::Frame frame;
  EXPECT_FALSE(device_.Receive(&frame)) << "the host sent a frame of kind " << int{frame.kind};
  EXPECT_EQ(WriteAsync("*IDN?\n").get(), VI_ERROR_ABORT);
  EXPECT_EQ(session_->Clear(kTimeout), VI_ERROR_ABORT);
}

// A write that the device does not take (it reads nothing, the socket fills) ends at once too.
TEST_F(SessionScriptTest, CancelEndsAWriteTheDeviceDoesNotTake) {
  auto write = WriteAsync(std::string(8 << 20, 'w'));
  ASSERT_EQ(write.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
      << "the write did not wait for the device";
  session_->Cancel();
  ASSERT_EQ(write.wait_for(std::chrono::seconds(3)), std::future_status::ready)
      << "the write still waits";
  EXPECT_EQ(write.get(), VI_ERROR_ABORT);
}

TEST_F(SessionScriptTest, ClearWaitsWhilePendingAndReadsThePipeWhenAsked) {
  auto clear = std::async(std::launch::async, [this] { return session_->Clear(kTimeout); });
  device_.AnswerControl(kInitiateClear, {0x01});
  device_.AnswerControl(kCheckClear, {0x02, 0x01});  // pending, read the pipe
  device_.AnswerControl(kCheckClear, {0x02, 0x00});  // pending
  device_.AnswerControl(kCheckClear, {0x01, 0x00});
  EXPECT_EQ(clear.get(), VI_SUCCESS);
  ExpectWorkingExchange(1, "cleared");
}

// Opening is a device clear; a device that will not clear does not give a session.
TEST(SessionOpenTest, OpenFailsWhenTheDeviceRefusesTheClear) {
  struct Case {
    const char* what;
    bool stall;
    Bytes reply;
    ViStatus expected;
  };
  const Case cases[] = {
      {"status failed", false, {0x80}, VI_ERROR_IO},
      {"stalled request", true, {}, VI_ERROR_IO},
      {"short reply", false, {}, VI_ERROR_IO},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PrivateBus bus;
    ScriptedDevice device(bus.path(), {0x2E5B, 0x3A02, "SCRIPT2", 0});
    auto provider = CreateSimBusProvider();
    auto opening = std::async(std::launch::async, [&] {
      std::unique_ptr<InstrSession> s;
      return provider->Open("USB0::0x2E5B::0x3A02::SCRIPT2::INSTR", kTimeout, &s);
    });
    ASSERT_TRUE(device.AcceptSession());
    uint32_t id = 0;
    Bytes setup;
    ASSERT_TRUE(device.ExpectControl(&id, &setup));
    EXPECT_EQ(setup, kInitiateClear);
    device.SendControlReply(id, c.reply, c.stall);
    EXPECT_EQ(opening.get(), c.expected);
  }
}

TEST(SessionOpenTest, RefusedHandshakeIsBusy) {
  PrivateBus bus;
  ScriptedDevice device(bus.path(), {0x2E5B, 0x3A02, "SCRIPT3", 0});
  auto provider = CreateSimBusProvider();
  auto opening = std::async(std::launch::async, [&] {
    std::unique_ptr<InstrSession> s;
    return provider->Open("USB0::0x2E5B::0x3A02::SCRIPT3::INSTR", kTimeout, &s);
  });
  ASSERT_TRUE(device.AcceptSession(false));
  EXPECT_EQ(opening.get(), VI_ERROR_RSRC_BUSY);
}

}  // namespace
}  // namespace fg

namespace fg {
namespace {

// The USB488 requests on the wire: READ_STATUS_BYTE with its own bTag sequence (2..127) on the
// control pipe, and TRIGGER as a bare header in the bulk-OUT sequence.

Bytes StatusRequest(uint8_t tag) { return fg::testing::Setup(0xA1, 128, tag, 0, 3); }

TEST_F(SessionScriptTest, StatusByteAndTriggerRequests) {
  auto readStatus = [this] {
    return std::async(std::launch::async, [this] {
      uint8_t stb = 0xEE;
      ViStatus status = session_->ReadStatusByte(&stb, kTimeout);
      return std::make_pair(status, stb);
    });
  };
  auto first = readStatus();
  device_.AnswerControl(StatusRequest(2), {0x01, 2, 0x50});
  EXPECT_EQ(first.get(), std::make_pair(VI_SUCCESS, uint8_t{0x50}));
  // A reply carrying another bTag is not this request's answer.
  auto wrong = readStatus();
  device_.AnswerControl(StatusRequest(3), {0x01, 2, 0x50});
  EXPECT_EQ(wrong.get().first, VI_ERROR_IO);
  auto failed = readStatus();
  device_.AnswerControl(StatusRequest(4), {0x80, 4, 0});
  EXPECT_EQ(failed.get().first, VI_ERROR_IO);
  // The status bTag wraps from 127 to 2.
  for (uint8_t tag = 5; tag <= 127; ++tag) {
    auto next = readStatus();
    device_.AnswerControl(StatusRequest(tag), {0x01, tag, tag});
    ASSERT_EQ(next.get(), std::make_pair(VI_SUCCESS, tag));
  }
  auto wrapped = readStatus();
  device_.AnswerControl(StatusRequest(2), {0x01, 2, 0});
  EXPECT_EQ(wrapped.get().first, VI_SUCCESS);

  auto trigger = std::async(std::launch::async, [this] { return session_->AssertTrigger(kTimeout); });
  EXPECT_EQ(device_.ExpectBulkOut(),
            (Bytes{128, 0x01, 0xFE, 0x00, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(trigger.get(), VI_SUCCESS);
  // The bulk bTags go on after the trigger's.
  ExpectWorkingExchange(2, "ok");
  EXPECT_FALSE(session_->CanSignalServiceRequest());  // no interrupt pipe on the bus
}

}  // namespace
}  // namespace fg
