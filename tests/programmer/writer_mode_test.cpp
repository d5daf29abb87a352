// Writer-mode entry, reconnection, serial numbers, queries and the writer-mode wait.
#include "programmer/writer_mode.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <ctime>
#include <memory>

#include "programmer/programmer_ops.h"
#include "tests/programmer/fake_clock.h"
#include "tests/programmer/fake_link.h"

namespace fg::test {
namespace {

const ProgrammerFamily& Wx2040 = kWx2040ProgrammerFamily;
const ProgrammerFamily& Wx2050 = kWx2050ProgrammerFamily;
using Events = std::vector<std::string>;

constexpr const char* kName2040 = "USB0::0x2E5B::0x3A01::AB123::INSTR";
constexpr const char* kName2050 = "USB0::0x2E5B::0x3A02::AB123::INSTR";
constexpr const char* kWriterName = "USB0::0x2E5B::0x3A01::AB123::INSTR";

TEST(WriterMode, AlreadyInWriterModeOnlyAsksAndReopens) {
  FakeClock clock;
  FakeLink fake;
  fake.Queue({"WRITER,WX2040,AB123,1.00"});
  EXPECT_EQ(programmer::Connect(Wx2040, &fake.link, kName2040), 0);
  EXPECT_EQ(fake.events, (Events{std::string("open ") + kName2040, "write 6", "read", "close",
                                 std::string("open ") + kName2040}));
  EXPECT_EQ(fake.WriteText(0), "*IDN?\n");
  EXPECT_EQ(FakeClock::looks, 0) << "no wait";
}

TEST(WriterMode, Wx2040SwitchesWaitsAndComesBackUnderItsOldName) {
  FakeClock clock(700);
  FakeLink fake;
  fake.Queue({"VANDRELL,WX2040,AB123,1.10-0-01-02-03-0105"});
  EXPECT_EQ(programmer::Connect(Wx2040, &fake.link, kName2040), 0);
  EXPECT_EQ(fake.events, (Events{std::string("open ") + kName2040, "write 6", "read", "write 19",
                                 "close", std::string("open ") + kName2040}));
  EXPECT_EQ(fake.WriteText(1), "SYST:UPDATE WX2040\n");
  EXPECT_EQ(FakeClock::nowMs / 1000, 4) << "the whole-second clock moved on by 4";
}

TEST(WriterMode, Wx2050ComesBackUnderTheRebuiltName) {
  FakeClock clock;
  FakeLink fake;
  fake.Queue({"VANDRELL,WX2050,AB123,2.00-0-01"});
  fake.openResults = {true, false, true};
  EXPECT_EQ(programmer::Connect(Wx2050, &fake.link, kName2050), 0);
  EXPECT_EQ(fake.WriteText(1), "SYST:UPDATE WX2050\n");
  EXPECT_EQ(fake.events, (Events{std::string("open ") + kName2050, "write 6", "read", "write 19",
                                 "close", std::string("open ") + kName2050,
                                 std::string("open ") + kWriterName}));
}

TEST(WriterMode, LowerCaseWriterIsNotRecognised) {
  FakeClock clock;
  FakeLink fake;
  fake.Queue({"writer,WX2040,AB123"});
  EXPECT_EQ(programmer::Connect(Wx2040, &fake.link, kName2040), 0);
  EXPECT_TRUE(fake.Wrote("SYST:UPDATE WX2040\n"));
  EXPECT_GT(FakeClock::looks, 0);
}

TEST(WriterMode, ConnectFailures) {
  const struct {
    const char* name;
    const char* resource;
    std::deque<bool> opens;
    int failWriteAt;
    std::vector<std::optional<std::string>> replies;
    int32_t expected;
    Events events;
  } cases[] = {
      {"first open fails", kName2040, {false}, -1, {}, 1, {std::string("open ") + kName2040}},
      {"identity write fails: stays open", kName2040, {}, 0, {}, 2,
       {std::string("open ") + kName2040, "write 6"}},
      {"identity reply missing", kName2040, {}, -1, {std::nullopt}, 2,
       {std::string("open ") + kName2040, "write 6", "read"}},
      {"update command fails", kName2040, {}, 1, {"X"}, 2,
       {std::string("open ") + kName2040, "write 6", "read", "write 19"}},
      {"writer not found", kName2050, {true, false, false}, -1, {"X"}, 1,
       {std::string("open ") + kName2050, "write 6", "read", "write 19", "close",
        std::string("open ") + kName2050, std::string("open ") + kWriterName}},
      {"no serial number to rebuild with", "GPIB0::12::INSTR", {true, false}, -1, {"X"}, 1,
       {"open GPIB0::12::INSTR", "write 6", "read", "write 19", "close", "open GPIB0::12::INSTR"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeClock clock;
    FakeLink fake;
    fake.openResults = c.opens;
    fake.failWriteAt = c.failWriteAt;
    for (const auto& r : c.replies) fake.replies.push_back(r);
    EXPECT_EQ(programmer::Connect(Wx2050, &fake.link, c.resource), c.expected);
    EXPECT_EQ(fake.events, c.events);
  }
  EXPECT_EQ(programmer::Connect(Wx2040, nullptr, kName2040), 7);
}

// The name is copied into a buffer of its exact size, so that reading past its end is caught
// by the address sanitizer.
const char* Extract(const ProgrammerFamily& family, const std::string& name) {
  auto exact = std::make_unique<char[]>(name.size() + 1);
  std::memcpy(exact.get(), name.c_str(), name.size() + 1);
  return programmer::ExtractSerialNumber(family, exact.get());
}

TEST(WriterMode, SerialNumberOfAResourceName) {
  const struct {
    const char* name;
    const char* serial;  // null: none
  } cases[] = {
      {"USB0::0x2E5B::0x3A02::AB123::INSTR", "AB123"},
      {"USB0::0x2E5B::0x3A02::AB123", "AB123"},
      {"USB0::0x2E5B::0x3A02::ABCDEFGHIJKLMNOPQRST::INSTR", "ABCDEFGHIJKLMNO"},
      {"USB0::0x2E5B::0x3A02::::INSTR", ""},
      {"USB0::0x2E5B::0x3A02::", ""},
      {"USB0::0x2E5B::0x3A02:", nullptr},  // a ':' as the last character
      {"USB0:", nullptr},
      {"USB0::0x2E5B:", nullptr},
      {"USB0::0x2E5B::0x3A02", nullptr},  // two separators only
      {"usb0::0x2E5B::0x3A02::AB123::INSTR", nullptr},
      {"GPIB0::12::3::INSTR", nullptr},
      {"US", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const char* serial = Extract(Wx2050, c.name);
    if (c.serial == nullptr) {
      EXPECT_EQ(serial, nullptr);
    } else {
      ASSERT_NE(serial, nullptr);
      EXPECT_STREQ(serial, c.serial);
    }
  }
  // Each family keeps its own buffer.
  const char* a = Extract(Wx2040, "USB0::1::2::FIRST");
  const char* b = Extract(Wx2050, "USB0::1::2::SECOND");
  EXPECT_STREQ(a, "FIRST");
  EXPECT_STREQ(b, "SECOND");
}

TEST(WriterMode, QuerySelectors) {
  for (const ProgrammerFamily* family : {&Wx2040, &Wx2050}) {
    SCOPED_TRACE(family->name);
    const bool is2040 = family == &Wx2040;
    FakeLink fake;
    uint32_t value = 12345;
    EXPECT_EQ(programmer::Query(*family, &fake.link, QueryPartitionCount, &value), 0);
    EXPECT_EQ(value, is2040 ? 17u : 29u);
    EXPECT_EQ(programmer::Query(*family, &fake.link, QueryOemPartition, &value), 0);
    EXPECT_EQ(value, is2040 ? 16u : 19u);
    const PartitionInfo* rows = nullptr;
    EXPECT_EQ(programmer::Query(*family, &fake.link, QueryPartitionTable, &rows), 0);
    EXPECT_EQ(rows, is2040 ? kWx2040Partitions : kWx2050Partitions);
    for (int32_t selector : {5, -1, 1000}) {
      value = 777;
      EXPECT_EQ(programmer::Query(*family, &fake.link, selector, &value), 10);
      EXPECT_EQ(value, 777u);
    }
    EXPECT_TRUE(fake.events.empty());
    EXPECT_EQ(programmer::Query(*family, nullptr, QueryPartitionCount, &value), 7);
  }
}

TEST(WriterMode, QueryIdentityReadsIntoTheCallersBuffer) {
  FakeLink fake;
  fake.Queue({"WRITER,WX2040,AB123,1.00", nullptr});
  char buffer[257];
  ReplyText reply{buffer, 256};
  ASSERT_EQ(programmer::Query(Wx2040, &fake.link, QueryIdentity, &reply), 0);
  EXPECT_EQ(fake.WriteText(0), "*IDN?\n");
  EXPECT_EQ(reply.length, 24u);
  EXPECT_STREQ(buffer, "WRITER,WX2040,AB123,1.00");
  EXPECT_EQ(programmer::Query(Wx2040, &fake.link, QueryIdentity, &reply), 2);
  fake.failWriteAt = 2;
  EXPECT_EQ(programmer::Query(Wx2040, &fake.link, QueryIdentity, &reply), 2);
}

TEST(WriterMode, QueryEnterWriterModeAndClose) {
  FakeClock clock;
  FakeLink fake;
  fake.Queue({"VANDRELL,WX2050"});
  EXPECT_EQ(programmer::Query(Wx2050, &fake.link, QueryEnterWriterMode, nullptr), 0);
  EXPECT_EQ(fake.WriteText(1), "SYST:UPDATE WX2050\n");
  EXPECT_EQ(programmer::Close(&fake.link), 0);
  EXPECT_EQ(fake.events.back(), "close");
  EXPECT_EQ(programmer::Close(nullptr), 7);
  EXPECT_EQ(kWx2040ProgrammerOps.Close(nullptr), 7);
}

TEST(WriterMode, WaitEndsWhenTheSecondsCountMovedOnAndSleepsMeanwhile) {
  for (int64_t startMs : {0, 999, 500}) {
    SCOPED_TRACE(startMs);
    FakeClock clock(startMs);
    WaitMilliseconds(4000);
    EXPECT_EQ(FakeClock::nowMs / 1000 - startMs / 1000, 4);
    EXPECT_GT(FakeClock::nowMs - startMs, 3000);
    EXPECT_LE(FakeClock::nowMs - startMs, 4000 + 50);
    EXPECT_LE(FakeClock::longestSleep, 50u);
    EXPECT_EQ(FakeClock::looks, FakeClock::sleeps + 2) << "one look per sleep";
  }
  FakeClock clock;
  WaitMilliseconds(0);
  EXPECT_EQ(FakeClock::sleeps, 0);
  WaitMilliseconds(1);  // rounds up to the next whole second
  EXPECT_EQ(FakeClock::nowMs / 1000, 1);
}

TEST(WriterMode, WaitSurvivesTheClockBeingSetBack) {
  FakeClock clock(0);
  FakeClock::jumpAtLook = 10;
  WaitMilliseconds(2000);
  // Counted again from the jump: about 2 s of sleeps, not the hour the clock went back.
  EXPECT_LT(FakeClock::sleeps * 20, 3000 + 200);
}

// Processor seconds of this process. Windows' clock() counts wall time, so ask the system there.
double ProcessorSeconds() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) * 1e-7;
  };
  return seconds(kernel) + seconds(user);
#else
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

TEST(WriterMode, RealWaitCostsLittleProcessorTime) {
  const double cpu0 = ProcessorSeconds();
  const auto wall0 = std::chrono::steady_clock::now();
  WaitMilliseconds(1000);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  const double cpu = ProcessorSeconds() - cpu0;
  EXPECT_GT(wall, 0.0);
  EXPECT_LT(cpu, 0.25 * wall + 0.02) << "the wait must sleep, not spin";
}

}  // namespace
}  // namespace fg::test
