// The single-command exchanges: frame bytes, acknowledgements, checksum replies, data pieces.
#include "programmer/command_frame.h"

#include <gtest/gtest.h>

#include <functional>

#include "programmer/programmer_errors.h"
#include "tests/programmer/fake_link.h"

namespace fg::test {
namespace {

constexpr int32_t E = kWx2040ErrorBase;

struct FrameCase {
  const char* name;
  std::function<int32_t(DeviceLink*)> exchange;
  const char* frame;                  // the 12 bytes of the first write
  std::vector<uint32_t> payloadWrites;  // sizes of the writes that follow the frame
};

TEST(CommandFrame, ExchangesSendTheirFrameThenTheirPayload) {
  const Bytes data(1000, 0x5A);
  const std::vector<FrameCase> cases = {
      {"reset", [](DeviceLink* l) { return programmer::SendReset(l, E); },
       "AB 00 00 00 07 0A 52 45 53 45 54 21", {}},
      {"data 1000", [&](DeviceLink* l) { return programmer::SendData(l, E, data.data(), 1000, 25); },
       "AB 00 00 03 EF 0C 01 02 03 04 05 06", {1000}},
      {"data end", [](DeviceLink* l) { return programmer::SendDataEnd(l, E); },
       "AB 00 00 00 07 0D 01 02 03 04 05 06", {}},
      {"block id", [](DeviceLink* l) { return programmer::SendBlockId(l, E, 0x143); },
       "AB 00 00 00 08 14 01 02 03 04 05 06", {1}},
      {"size", [](DeviceLink* l) { return programmer::SendSize(l, E, 530); },
       "AB 00 00 00 13 07 01 02 03 04 05 06", {12}},
      {"setup end", [](DeviceLink* l) { return programmer::SendSetupEnd(l, E); },
       "AB 00 00 00 07 15 01 02 03 04 05 06", {}},
  };
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeLink fake;
    fake.QueueOk(1);
    EXPECT_EQ(c.exchange(&fake.link), 0);
    ASSERT_EQ(fake.writes.size(), 1 + c.payloadWrites.size());
    EXPECT_EQ(fake.writes[0], Hex(c.frame));
    for (size_t i = 0; i < c.payloadWrites.size(); ++i)
      EXPECT_EQ(fake.writes[1 + i].size(), c.payloadWrites[i]);
    EXPECT_EQ(fake.events.back(), "read");
  }
}

TEST(CommandFrame, PayloadBytesOfBlockIdAndSize) {
  FakeLink fake;
  fake.QueueOk(2);
  ASSERT_EQ(programmer::SendBlockId(&fake.link, E, 396), 0);
  EXPECT_EQ(fake.writes[1], Bytes{140});  // the low byte only

  // The size text is formatted in the reply buffer; the field keeps the old bytes after its NUL.
  std::memset(fake.link.replyBuffer, 'X', 16);
  ASSERT_EQ(programmer::SendSize(&fake.link, E, 530), 0);
  EXPECT_EQ(fake.writes[3], (Bytes{'5', '3', '0', 0, 'X', 'X', 'X', 'X', 'X', 'X', 'X', 'X'}));

  fake.QueueOk(1);
  ASSERT_EQ(programmer::SendSize(&fake.link, E, 4294967295u), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(fake.writes[5].data())), "4294967295");
}

TEST(CommandFrame, LengthFieldWrapsAndFramesDecode) {
  const CommandFrame wrapped = BuildCommandFrame(CmdData, 0xFFFFFFFFu, nullptr);
  EXPECT_EQ(Bytes(wrapped.length, wrapped.length + 4), Hex("00 00 00 06"));

  // An erase frame with 1234 bytes of payload and the reset parameters, as written on the wire.
  const Bytes bytes = Hex("AB 00 00 04 D9 1B 52 45 53 45 54 21");
  uint8_t command = 0, params[6] = {};
  uint32_t length = 0;
  ASSERT_TRUE(DecodeCommandFrame(bytes.data(), 12, &command, &length, params));
  EXPECT_EQ(command, 27);
  EXPECT_EQ(length, 1234u);
  EXPECT_EQ(std::memcmp(params, "RESET!", 6), 0);
  EXPECT_FALSE(DecodeCommandFrame(bytes.data(), 11, &command, &length, params));
  Bytes wrongLead = bytes;
  wrongLead[0] = 0xAC;
  EXPECT_FALSE(DecodeCommandFrame(wrongLead.data(), 12, &command, &length, params));
  EXPECT_FALSE(DecodeCommandFrame(Hex("AB 00 00 00 06 1B 01 02 03 04 05 06").data(), 12, &command,
                                  &length, params))
      << "a length below 7 leaves no room for the command and its parameters";
}

TEST(CommandFrame, AcknowledgementLooksOnlyAtTheFirstTwoLettersInAnyCase) {
  const struct {
    std::optional<std::string> reply;
    int32_t expected;
  } cases[] = {
      {"ok", 0}, {"Ok\r\n", 0}, {"OKAY", 0}, {"oK then", 0},
      {"NG", 0x123}, {"", 0x123}, {"O", 0x123}, {" OK", 0x123}, {std::nullopt, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply.value_or("<read fails>"));
    FakeLink fake;
    fake.replies.push_back(c.reply);
    EXPECT_EQ(programmer::ReadAcknowledge(&fake.link, 0x123), c.expected);
  }
  // The reply stays as sent, so that a failure can quote it.
  FakeLink fake;
  fake.Queue({"ok, done"});
  programmer::ReadAcknowledge(&fake.link, 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(fake.link.replyBuffer), "ok, done");
}

TEST(CommandFrame, ChecksumReplyParsesLikeAtol) {
  const struct {
    const char* reply;
    int32_t expected;
  } cases[] = {
      {"123\n", 123}, {" -7", -7}, {"abc", 0}, {"", 0}, {"\t+42x", 42},
      {"4294967295", -1}, {"-2147483648", INT32_MIN}, {"12 34", 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    FakeLink fake;
    fake.Queue({c.reply});
    int32_t sum = 99;
    EXPECT_EQ(programmer::QueryChecksum(&fake.link, &sum), 0);
    EXPECT_EQ(sum, c.expected);
    EXPECT_EQ(fake.writes[0], Hex("AB 00 00 00 07 08 01 02 03 04 05 06"));
  }
  FakeLink fake;  // no reply
  int32_t sum = 0;
  EXPECT_EQ(programmer::QueryChecksum(&fake.link, &sum), 2);
}

TEST(CommandFrame, DataGoesOutInPiecesWithItsProgressShare) {
  const struct {
    uint32_t length;
    std::vector<size_t> pieces;
    std::vector<int32_t> progress;  // base 1, share 25
  } cases[] = {
      {4096, {4096}, {26}},
      {4097, {4096, 1}, {25, 26}},
      {10000, {4096, 4096, 1808}, {11, 21, 26}},
      {0, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    Bytes data(c.length);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    FakeLink fake;
    fake.link.progressCounter = 1;
    fake.QueueOk(1);
    EXPECT_EQ(programmer::SendData(&fake.link, E, data.data(), c.length, 25), 0);
    ASSERT_EQ(fake.writes.size(), 1 + c.pieces.size());
    Bytes joined;
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      EXPECT_EQ(fake.writes[1 + i].size(), c.pieces[i]);
      joined.insert(joined.end(), fake.writes[1 + i].begin(), fake.writes[1 + i].end());
    }
    EXPECT_EQ(joined, data);
    EXPECT_EQ(fake.progress, c.progress);
  }
}

TEST(CommandFrame, ShortWriteContinuesWhereTheReportedCountEnded) {
  Bytes data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  FakeLink fake;
  fake.link.progressCounter = 0;
  // The first piece is taken only up to 1000 bytes.
  fake.writtenCount = [](size_t index, uint32_t handed) { return index == 1 ? 1000u : handed; };
  fake.QueueOk(1);
  ASSERT_EQ(programmer::SendData(&fake.link, E, data.data(), 5000, 25), 0);
  ASSERT_EQ(fake.writes.size(), 3u);
  EXPECT_EQ(fake.writes[1], Bytes(data.begin(), data.begin() + 4096));
  EXPECT_EQ(fake.writes[2], Bytes(data.begin() + 1000, data.end()));
  EXPECT_EQ(fake.progress, (std::vector<int32_t>{5, 25}));  // 1000 * 25 / 5000, then all
}

TEST(CommandFrame, DataTransferFailures) {
  Bytes data(5000, 1);
  {
    SCOPED_TRACE("a piece fails: nothing more is written or read");
    FakeLink fake;
    fake.failWriteAt = 1;
    fake.QueueOk(1);
    EXPECT_EQ(programmer::SendData(&fake.link, E, data.data(), 5000, 25), 2);
    EXPECT_EQ(fake.writes.size(), 2u);
    EXPECT_EQ(fake.replies.size(), 1u);
  }
  {
    SCOPED_TRACE("a piece that moves nothing is a link failure, not an endless loop");
    FakeLink fake;
    fake.writtenCount = [](size_t index, uint32_t handed) { return index == 2 ? 0u : handed; };
    fake.QueueOk(1);
    EXPECT_EQ(programmer::SendData(&fake.link, E, data.data(), 5000, 25), 2);
    EXPECT_EQ(fake.writes.size(), 3u);
  }
  {
    SCOPED_TRACE("not acknowledged");
    FakeLink fake;
    fake.Queue({"NG"});
    EXPECT_EQ(programmer::SendData(&fake.link, 0x200, data.data(), 5000, 25), 0x202);
  }
}

TEST(CommandFrame, EveryExchangeStopsAtAFailedWrite) {
  struct Exchange {
    const char* name;
    int writes;  // frame, plus its payload write if it has one
    std::function<int32_t(DeviceLink*)> run;
  };
  const std::vector<Exchange> exchanges = {
      {"reset", 1, [](DeviceLink* l) { return programmer::SendReset(l, E); }},
      {"data end", 1, [](DeviceLink* l) { return programmer::SendDataEnd(l, E); }},
      {"setup end", 1, [](DeviceLink* l) { return programmer::SendSetupEnd(l, E); }},
      {"block id", 2, [](DeviceLink* l) { return programmer::SendBlockId(l, E, 3); }},
      {"size", 2, [](DeviceLink* l) { return programmer::SendSize(l, E, 3); }},
      {"checksum", 1, [](DeviceLink* l) { int32_t s; return programmer::QueryChecksum(l, &s); }},
  };
  for (const Exchange& x : exchanges) {
    for (int failAt = 0; failAt < x.writes; ++failAt) {
      SCOPED_TRACE(std::string(x.name) + ", failing write " + std::to_string(failAt));
      FakeLink fake;
      fake.failWriteAt = failAt;
      fake.QueueOk(1);
      EXPECT_EQ(x.run(&fake.link), 2);
      EXPECT_EQ(fake.writes.size(), static_cast<size_t>(failAt + 1));
      EXPECT_EQ(fake.replies.size(), 1u) << "no reply may be read after a failed write";
    }
  }
}

TEST(CommandFrame, StepErrorNumbersFollowTheFamilyBase) {
  const std::vector<std::pair<int32_t, std::function<int32_t(DeviceLink*, int32_t)>>> steps = {
      {1, [](DeviceLink* l, int32_t e) { return programmer::SendReset(l, e); }},
      {3, [](DeviceLink* l, int32_t e) { return programmer::SendDataEnd(l, e); }},
      {4, [](DeviceLink* l, int32_t e) { return programmer::SendBlockId(l, e, 1); }},
      {5, [](DeviceLink* l, int32_t e) { return programmer::SendSetupEnd(l, e); }},
      {6, [](DeviceLink* l, int32_t e) { return programmer::SendSize(l, e, 1); }},
  };
  for (int32_t base : {kWx2040ErrorBase, kWx2050ErrorBase}) {
    for (const auto& [offset, step] : steps) {
      FakeLink fake;
      fake.Queue({"NG"});
      EXPECT_EQ(step(&fake.link, base), base + offset);
    }
  }
}

}  // namespace
}  // namespace fg::test
