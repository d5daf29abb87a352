// Programming and erasing a partition: the checks before anything is sent, the conversation, the
// progress course and the final replies, for both families.
#include "programmer/partition_ops.h"

#include <gtest/gtest.h>

#include <functional>

#include "programmer/command_frame.h"
#include "programmer/programmer_errors.h"
#include "programmer/programmer_ops.h"
#include "tests/programmer/expected_checksum.h"
#include "tests/programmer/fake_deadline_clock.h"
#include "tests/programmer/fake_link.h"
#include "util/endian.h"

namespace fg::test {
namespace {

const ProgrammerFamily& Wx2040 = kWx2040ProgrammerFamily;
const ProgrammerFamily& Wx2050 = kWx2050ProgrammerFamily;

// A well-formed record of `length` bytes: storedLength puts the trailer at length - 6, whose
// fifth byte is the block id.
Bytes MakeRecord(uint32_t length, uint8_t blockId) {
  Bytes r(length);
  for (uint32_t i = 0; i < length; ++i) r[i] = static_cast<uint8_t>(i * 31 + 7);
  if (length >= 12) StoreBe32(&r[8], length - 6);
  if (length >= 2) r[length - 2] = blockId;
  return r;
}

// The checksum reply of an instrument that received the record.
std::string InstrumentChecksum(const Bytes& r) { return std::to_string(ExpectedChecksum(r)); }

// The acknowledgements and checksum reply before the programming loop.
void QueueSetup(FakeLink& fake, const std::string& checksum) {
  fake.QueueOk(5);
  fake.replies.emplace_back(checksum);
  fake.QueueOk(1);
}

// The frames without payload of their own, byte by byte: lead, big-endian length (7 plus the
// payload), command code, parameters ("RESET!" or 01 to 06).
const Bytes kResetFrame = Hex("AB 00 00 00 07 0A 52 45 53 45 54 21");
const Bytes kDataEndFrame = Hex("AB 00 00 00 07 0D 01 02 03 04 05 06");
const Bytes kBlockIdFrame = Hex("AB 00 00 00 08 14 01 02 03 04 05 06");
const Bytes kSizeFrame = Hex("AB 00 00 00 13 07 01 02 03 04 05 06");
const Bytes kChecksumFrame = Hex("AB 00 00 00 07 08 01 02 03 04 05 06");
const Bytes kSetupEndFrame = Hex("AB 00 00 00 07 15 01 02 03 04 05 06");
const Bytes kProgramFrame = Hex("AB 00 00 00 07 03 01 02 03 04 05 06");
const Bytes kEraseFrame = Hex("AB 00 00 00 07 1B 01 02 03 04 05 06");

TEST(PartitionTables, CapacitiesAndNamedRows) {
  EXPECT_EQ(PartitionCapacity(kWx2040Partitions[0]), 0x10000u);
  EXPECT_EQ(PartitionCapacity(kWx2040Partitions[6]), 0x100000u);  // MAIN, 16 blocks
  EXPECT_EQ(PartitionCapacity(kWx2040Partitions[16]), 16384u);    // OEM
  EXPECT_EQ(PartitionCapacity(kWx2050Partitions[27]), 67108864u); // COMM
  EXPECT_EQ(PartitionCapacity(kWx2050Partitions[28]), 40u * 4096); // XP2
  EXPECT_STREQ(kWx2040Partitions[kWx2040OemPartition].name, "OEM");
  EXPECT_STREQ(kWx2050Partitions[kWx2050OemPartition].name, "OEM");
  for (const auto& table : {kWx2040PartitionTable, kWx2050PartitionTable})
    for (const PartitionInfo& row : table) {
      EXPECT_LE(row.firstBlock, row.lastBlock) << row.name;
      EXPECT_EQ(row.name[kPartitionNameSize - 1], '\0') << row.name;
    }
}

TEST(PartitionOps, ChecksumSumsTheWordsBetweenHeaderStartAndTrailer) {
  // Words 1, 2, FFFFFFFF and 10 from offset 8; the trailer's word 7000 is never summed.
  const Bytes r = Hex("00 00 00 00 00 00 00 00  00 00 00 01  00 00 00 02  FF FF FF FF  00 00 00 10"
                      "  00 00 70 00 00 00");
  EXPECT_EQ(ImageChecksum(r.data(), 26), 2u);  // three words, wrapping
  EXPECT_EQ(ImageChecksum(r.data(), 29), 2u);  // (29 - 6) / 4 = 5 words, still three summed
  EXPECT_EQ(ImageChecksum(r.data(), 30), 0x12u);
}

TEST(PartitionOps, DivisorsOfBothFamilies) {
  const struct {
    uint32_t (*divisor)(uint32_t, uint32_t);
    uint32_t n, b, expected;
  } cases[] = {
      {Wx2040ProgramDivisor, 7794, 8192, 4},   {Wx2040ProgramDivisor, 8192, 8192, 4},
      {Wx2040ProgramDivisor, 8193, 8192, 5},   {Wx2040ProgramDivisor, 0x100000, 0x10000, 34},
      {Wx2050ProgramDivisor, 7794, 4096, 5},   {Wx2050ProgramDivisor, 4096, 4096, 3},
      {Wx2050ProgramDivisor, 4097, 4096, 5},   {Wx2050ProgramDivisor, 0x28000, 0x1000, 81},
  };
  for (const auto& c : cases) EXPECT_EQ(c.divisor(c.n, c.b), c.expected) << c.n << "/" << c.b;
}

TEST(PartitionOps, OemRecordConversationAndProgressCourse) {
  const Bytes record = MakeRecord(7794, 67);
  FakeLink fake;
  QueueSetup(fake, InstrumentChecksum(record));
  fake.Queue({"prog:1", "prog:2", "prog:3", "prog:4", "OK"});
  ASSERT_EQ(programmer::ProgramPartition(Wx2040, &fake.link, 16, record.data(), 7794), 0);

  ASSERT_EQ(fake.writes.size(), 12u);
  EXPECT_EQ(fake.writes[0], kResetFrame);
  EXPECT_EQ(fake.writes[1], Hex("AB 00 00 1E 79 0C 01 02 03 04 05 06"));
  EXPECT_EQ(fake.writes[2], Bytes(record.begin(), record.begin() + 4096));
  EXPECT_EQ(fake.writes[3], Bytes(record.begin() + 4096, record.end()));
  EXPECT_EQ(fake.writes[4], kDataEndFrame);
  EXPECT_EQ(fake.writes[5], kBlockIdFrame);
  EXPECT_EQ(fake.writes[6], Bytes{67});
  EXPECT_EQ(fake.writes[7], kSizeFrame);
  EXPECT_STREQ(reinterpret_cast<const char*>(fake.writes[8].data()), "7788");
  EXPECT_EQ(fake.writes[9], kChecksumFrame);
  EXPECT_EQ(fake.writes[10], kSetupEndFrame);
  EXPECT_EQ(fake.writes[11], kProgramFrame);

  // 0; reset 1; the transfer 14 and 26; then one point per exchange up to 32; D = 4 spreads 67.
  EXPECT_EQ(fake.progress, (std::vector<int32_t>{0, 1, 14, 26, 27, 28, 29, 30, 31, 32, 48, 65, 82,
                                                 99, 99, 100}));
  EXPECT_TRUE(fake.replies.empty());
}

TEST(PartitionOps, Wx2050SpreadsTheLoopOverItsOwnDivisor) {
  const Bytes record = MakeRecord(7794, 29);  // ARB1: 4 blocks of 4096
  FakeLink fake;
  QueueSetup(fake, InstrumentChecksum(record));
  fake.Queue({"prog:", "RtnOk", "eras:", "prog:", "prog:", "OK"});
  ASSERT_EQ(programmer::ProgramPartition(Wx2050, &fake.link, 4, record.data(), 7794), 0);
  const std::vector<int32_t> tail(fake.progress.end() - 7, fake.progress.end());
  EXPECT_EQ(tail, (std::vector<int32_t>{45, 58, 72, 85, 99, 99, 100}));  // 32 + 67k/5
}

TEST(PartitionOps, BootRecordLeavesOutItsFirstEightBytes) {
  const Bytes record = MakeRecord(300, 0);
  FakeLink fake;
  QueueSetup(fake, InstrumentChecksum(record));
  fake.Queue({"OK"});
  ASSERT_EQ(programmer::ProgramPartition(Wx2040, &fake.link, 0, record.data(), 300), 0);
  EXPECT_EQ(fake.writes[1], Hex("AB 00 00 01 2B 0C 01 02 03 04 05 06"));  // 292 + 7
  EXPECT_EQ(fake.writes[2], Bytes(record.begin() + 8, record.end()));
  EXPECT_EQ(fake.writes[5], Bytes{0});
  EXPECT_STREQ(reinterpret_cast<const char*>(fake.writes[7].data()), "286");
  EXPECT_EQ(fake.progress.back(), 100);
}

// Each check is made twice: by ProgramPartition before it sends anything, and by the family
// table's CheckRecord, which drivers run over a whole package before its first image.
TEST(PartitionOps, ChecksFailBeforeAnythingIsSent) {
  const struct {
    const char* name;
    const ProgrammerFamily* family;
    int32_t partition;
    Bytes record;
    int32_t expected;
    bool reportsZero;  // the checks after the index check report progress 0 first
  } cases[] = {
      {"block 6 for MAIN", &Wx2040, 6, MakeRecord(100, 6), 6, true},
      {"25 bytes", &Wx2040, 2, MakeRecord(25, 3), 3, true},
      {"24 bytes for HTTP", &Wx2040, 5, MakeRecord(24, 8), 3, true},
      {"one byte", &Wx2040, 2, Bytes{3}, 3, true},
      {"empty", &Wx2040, 2, Bytes{}, 3, true},
      {"65537 bytes for BOOT", &Wx2040, 0, MakeRecord(65537, 0), 4, true},
      {"one byte beyond OEM", &Wx2040, 16, MakeRecord(16385, 67), 4, true},
      {"COMM cannot be addressed by one byte", &Wx2050, 27, MakeRecord(100, 140), 6, true},
      {"index 17", &Wx2040, 17, MakeRecord(100, 0), 5, false},
      {"index 29", &Wx2050, 29, MakeRecord(100, 0), 5, false},
      {"index -1", &Wx2050, -1, MakeRecord(100, 0), 5, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeLink fake;
    EXPECT_EQ(programmer::ProgramPartition(*c.family, &fake.link, c.partition, c.record.data(),
                                           static_cast<uint32_t>(c.record.size())),
              c.expected);
    EXPECT_TRUE(fake.writes.empty());
    EXPECT_EQ(fake.progress, c.reportsZero ? std::vector<int32_t>{0} : std::vector<int32_t>{});
    const ProgrammerOps& ops = c.family == &Wx2040 ? kWx2040ProgrammerOps : kWx2050ProgrammerOps;
    const uint32_t length = static_cast<uint32_t>(c.record.size());
    EXPECT_EQ(ops.CheckRecord(c.partition, length >= 2 ? c.record[length - 2] : 0, length),
              c.expected);
  }
  EXPECT_EQ(kWx2040ProgrammerOps.CheckRecord(16, 67, 16384), 0);  // exactly the OEM partition
  EXPECT_EQ(kWx2050ProgrammerOps.CheckRecord(28, 254, 26), 0);     // the shortest XP2 record
  const Bytes record = MakeRecord(100, 3);
  EXPECT_EQ(programmer::ProgramPartition(Wx2040, nullptr, 2, record.data(), 100), 7);
  EXPECT_EQ(programmer::ErasePartition(Wx2040, nullptr, 2), 7);
}

TEST(PartitionOps, ChecksumMismatchStopsBeforeTheProgramCommand) {
  const Bytes record = MakeRecord(100, 3);
  for (const char* reply : {"12345", "abc"}) {
    FakeLink fake;
    QueueSetup(fake, reply);
    EXPECT_EQ(programmer::ProgramPartition(Wx2040, &fake.link, 2, record.data(), 100), 0x107);
    EXPECT_EQ(fake.writes.size(), 9u) << "nothing after the checksum frame";
    EXPECT_EQ(fake.progress.back(), 30) << "a failure keeps the last value";
  }
}

TEST(PartitionOps, FinalRepliesOfTheProgrammingLoop) {
  const struct {
    std::vector<std::optional<std::string>> loop;
    int32_t offset;  // from the family base; 0 success; negative: the absolute number
  } cases[] = {
      {{"Erase NG"}, 9},
      {{"prog:", "Program NG"}, 10},
      {{"RtnNg 3"}, 11},
      {{"Data is the latest update"}, 8},
      {{"ok", "Ok", "hello", "OK"}, 0},  // anything unrecognised is skipped
      {{"prog:", std::nullopt}, -2},     // the reply never comes
  };
  for (const ProgrammerFamily* family : {&Wx2040, &Wx2050}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << family->name << " " << c.loop.back().value_or("<none>"));
      const Bytes record = MakeRecord(100, family == &Wx2040 ? 3 : 29);
      FakeLink fake;
      QueueSetup(fake, InstrumentChecksum(record));
      for (const auto& r : c.loop) fake.replies.push_back(r);
      const int32_t expected =
          c.offset < 0 ? -c.offset : (c.offset == 0 ? 0 : family->errorBase + c.offset);
      EXPECT_EQ(programmer::ProgramPartition(*family, &fake.link, family == &Wx2040 ? 2 : 4,
                                             record.data(), 100),
                expected);
    }
  }
}

TEST(PartitionOps, ExtraProgressRepliesClimbPastTheShareUntilOk) {
  FakeLink fake;
  fake.link.progressCounter = 32;
  fake.Queue({"prog:", "prog:", "prog:", "prog:", "prog:", "prog:", "OK"});
  ASSERT_EQ(programmer::RunProgramLoop(Wx2040, &fake.link, 7794, 8192, 67), 0);
  EXPECT_EQ(fake.progress, (std::vector<int32_t>{48, 65, 82, 99, 115, 132, 99}));
}

TEST(PartitionOps, SetupExchangeFailuresAreReturnedUnchanged) {
  const Bytes record = MakeRecord(100, 3);
  // The acknowledgement that fails, counted from reset (0) to setup end (6, after the checksum).
  const int32_t expected[] = {0x101, 0x102, 0x103, 0x104, 0x106};
  for (int failing = 0; failing < 5; ++failing) {
    FakeLink fake;
    fake.QueueOk(failing);
    fake.Queue({"NG"});
    EXPECT_EQ(programmer::ProgramPartition(Wx2040, &fake.link, 2, record.data(), 100),
              expected[failing]);
  }
  FakeLink fake;
  QueueSetup(fake, InstrumentChecksum(record));
  fake.replies.back() = "NG";
  EXPECT_EQ(programmer::ProgramPartition(Wx2040, &fake.link, 2, record.data(), 100), 0x105);
}

// Where a programming stopped stays in the link for the driver to tell: the exchange, the
// replies read in it (the latest kept as sent, letter case included), the slot that failed.
TEST(PartitionOps, TheLinkKeepsTheExchangeAndAnswerWhereItStopped) {
  const Bytes record = MakeRecord(100, 3);
  const struct {
    const char* name;
    std::function<void(FakeLink&)> script;
    int32_t exchange;
    uint32_t replies;
    const char* reply;  // the latest reply kept, null: none was read in the exchange
    int32_t failedSlot;
  } cases[] = {
      {"size refused", [](FakeLink& f) { f.QueueOk(4); f.Queue({"Ng, size"}); }, CmdSize, 1,
       "Ng, size", kNoSlotFailed},
      {"checksum differs", [](FakeLink& f) { QueueSetup(f, "12345"); }, CmdChecksum, 1, "12345",
       kNoSlotFailed},
      {"program NG", [&](FakeLink& f) {
         QueueSetup(f, InstrumentChecksum(record));
         f.Queue({"prog:14", "Program NG"});
       }, CmdProgram, 2, "Program NG", kNoSlotFailed},
      {"no reply in the loop", [&](FakeLink& f) {
         QueueSetup(f, InstrumentChecksum(record));
         f.Queue({"prog:14", nullptr});
       }, CmdProgram, 1, "prog:14", kReadFailed},
      {"data frame not taken", [](FakeLink& f) { f.QueueOk(1); f.failWriteAt = 1; }, CmdData, 0,
       nullptr, kWriteFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeLink fake;
    c.script(fake);
    EXPECT_NE(programmer::ProgramPartition(Wx2040, &fake.link, 2, record.data(), 100), 0);
    EXPECT_EQ(fake.link.exchange, c.exchange);
    EXPECT_EQ(fake.link.exchangeReplies, c.replies);
    EXPECT_EQ(fake.link.failedSlot, c.failedSlot);
    if (c.reply != nullptr) {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(fake.link.replyStorage),
                            fake.link.replyLength),
                c.reply);
    }
  }
}

TEST(PartitionOps, EraseConversationOfComm) {
  FakeLink fake;
  fake.QueueOk(4);
  fake.Queue({"RtnOk", "eras:1", "RtnOk", "eras:2", "OK"});
  ASSERT_EQ(programmer::ErasePartition(Wx2050, &fake.link, 27), 0);
  ASSERT_EQ(fake.writes.size(), 7u);
  EXPECT_EQ(fake.writes[0], kResetFrame);
  EXPECT_EQ(fake.writes[1], kBlockIdFrame);
  EXPECT_EQ(fake.writes[2], Bytes{140});  // 396 & 0xFF
  EXPECT_EQ(fake.writes[3], kSizeFrame);
  EXPECT_STREQ(reinterpret_cast<const char*>(fake.writes[4].data()), "67108864");
  EXPECT_EQ(fake.writes[5], kSetupEndFrame);
  EXPECT_EQ(fake.writes[6], kEraseFrame);
  // 128 blocks share 95 points: each "eras:" adds 95/128 of a point; "RtnOk" adds nothing.
  EXPECT_EQ(fake.progress, (std::vector<int32_t>{0, 1, 2, 3, 4, 4, 5, 100}));
}

TEST(PartitionOps, EraseLoopEndsOnAnyOtherReply) {
  const struct {
    std::vector<std::optional<std::string>> loop;
    int32_t expected;
    std::vector<int32_t> loopProgress;
  } cases[] = {
      {{"eras:", "OK"}, 0, {51}},              // two blocks share 95 points
      {{"ok"}, 9, {}},                          // lower case ends erasing, unlike programming
      {{"prog:"}, 9, {}},
      {{"RtnOk", std::nullopt}, 2, {}},
  };
  for (const auto& c : cases) {
    FakeLink fake;
    fake.link.progressCounter = 4;
    for (const auto& r : c.loop) fake.replies.push_back(r);
    EXPECT_EQ(programmer::RunEraseLoop(&fake.link, 0x4000, 0x2000, 95), c.expected);
    EXPECT_EQ(fake.progress, c.loopProgress);
  }
}

// An instrument that never finishes, however each single call is answered in time, is given up
// on: each operation has a deadline from its size and a cap on replies that move nothing.
TEST(PartitionOps, OperationsEndAtTheirDeadlineOrAfterTooManyIdleReplies) {
  const Bytes oem = MakeRecord(7794, 67);  // one block of 8192: 60 s + 5 s + 8 x 100 ms
  const struct {
    const char* name;
    int64_t stepMs;           // the clock's move at every look
    const char* loopReply;    // what the instrument repeats once the setup is done
    bool erase;
    bool onePieces;           // the link takes the data a byte at a time
    int32_t expected;
  } cases[] = {
      {"progress replies every 9 s, for ever", 9000, "prog:", false, false, kProgDeadlinePassed},
      {"chatter at once, for ever", 0, "junk", false, false, kProgTooManyReplies},
      {"progress beyond the count, at once", 0, "prog:", false, false, kProgTooManyReplies},
      {"data a byte at a time", 1000, "OK", false, true, kProgDeadlinePassed},
      {"erase: RtnOk at once, for ever", 0, "RtnOk", true, false, kProgTooManyReplies},
      {"erase: a block every 9 s, for ever", 9000, "eras:", true, false, kProgDeadlinePassed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDeadlineClock clock(c.stepMs);
    FakeLink fake;
    clock.Attach(&fake.link);
    if (c.erase) {
      fake.QueueOk(4);
    } else {
      QueueSetup(fake, InstrumentChecksum(oem));
    }
    // Far more than any cap or deadline allows; an empty queue would end the run with 2.
    for (int i = 0; i < 20000; ++i) fake.replies.emplace_back(c.loopReply);
    if (c.onePieces) fake.writtenCount = [](size_t, uint32_t) { return 1u; };
    const int32_t rc = c.erase ? programmer::ErasePartition(Wx2040, &fake.link, 16)
                               : programmer::ProgramPartition(Wx2040, &fake.link, 16, oem.data(), 7794);
    EXPECT_EQ(rc, c.expected);
    EXPECT_GT(fake.replies.size(), 19000u) << "given up long before the instrument stopped";
  }
}

// The allowance covers a real full partition, and the simulator's default timing (300 ms erase
// and 500 ms program per block) many times over.
TEST(PartitionOps, DeadlinesFollowTheSize) {
  FakeDeadlineClock clock;
  EXPECT_EQ(StartOperationBudget(clock.env(), 7794, 1).deadlineMs, 65800);  // the OEM record
  EXPECT_EQ(StartOperationBudget(clock.env(), 0x100000, 16).deadlineMs, 60000 + 16 * 5000 + 1024 * 100);
  EXPECT_EQ(StartOperationBudget(clock.env(), 0, 128).deadlineMs, 60000 + 128 * 5000);  // erasing COMM
  EXPECT_GT(StartOperationBudget(clock.env(), 0x28000, 40).deadlineMs, 40 * 800 * 4);    // XP2 in the simulator
  OperationBudget budget = StartOperationBudget(clock.env(), 1, 1);
  EXPECT_FALSE(BudgetExpired(&budget));
  clock.nowMs = budget.deadlineMs + 1;
  EXPECT_TRUE(BudgetExpired(&budget));
  EXPECT_FALSE(BudgetExpired(nullptr));
  for (uint32_t i = 0; i < kMaxIdleReplies; ++i) ASSERT_FALSE(CountIdleReply(&budget, 4));
  EXPECT_TRUE(CountIdleReply(&budget, 4));
  OperationBudget bytes = StartOperationBudget(clock.env(), 1, 1);
  EXPECT_FALSE(CountIdleReply(&bytes, kMaxIdleReplyBytes));
  EXPECT_TRUE(CountIdleReply(&bytes, 1));
}

}  // namespace
}  // namespace fg::test
