// Writer-mode entry, reconnection, serial numbers, queries and the writer-mode wait.
#include "programmer/writer_mode.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <chrono>
#include <ctime>
#include <future>
#include <memory>
#include <thread>

#include "link/model_facts.h"
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
  using Seen = std::vector<WriterModeEvent>;
  Seen events;
  const WriterModeObserver observer{&events, [](void* owner, WriterModeEvent e) {
                                      static_cast<Seen*>(owner)->push_back(e);
                                    }};
  RunEnv env = *clock.env();
  env.writerModeObserver = &observer;
  fake.link.env = &env;
  fake.Queue({"WRITER,WX2040,AB123,1.00"});
  EXPECT_EQ(programmer::Connect(Wx2040, &fake.link, kName2040), 0);
  EXPECT_EQ(fake.events, (Events{std::string("open ") + kName2040, "write 6", "read", "close",
                                 std::string("open ") + kName2040}));
  EXPECT_EQ(fake.WriteText(0), "*IDN?\n");
  EXPECT_EQ(FakeClock::sleeps, 0) << "no wait";
  EXPECT_EQ(events, std::vector<WriterModeEvent>{WriterModeEvent::kFoundInWriterMode});
}

TEST(WriterMode, Wx2040SwitchesWaitsAndComesBackUnderItsOldName) {
  FakeClock clock(700);
  FakeLink fake;
  clock.Attach(&fake.link);
  fake.Queue({"VANDRELL,WX2040,AB123,1.10-0-01-02-03-0105", "WRITER,WX2040,AB123,1.10"});
  EXPECT_EQ(programmer::Connect(Wx2040, &fake.link, kName2040), 0);
  EXPECT_EQ(fake.events, (Events{std::string("open ") + kName2040, "write 6", "read", "write 19",
                                 "close", std::string("open ") + kName2040, "write 6", "read"}));
  EXPECT_EQ(fake.WriteText(1), "SYST:UPDATE WX2040\n");
  EXPECT_EQ(FakeClock::nowMs - 700, 4000) << "the full first wait, not a whole-second count";
}

TEST(WriterMode, Wx2050ComesBackUnderTheRebuiltName) {
  FakeClock clock;
  FakeLink fake;
  clock.Attach(&fake.link);
  fake.Queue({"VANDRELL,WX2050,AB123,2.00-0-01", "WRITER,WX2050,AB123,2.00-0-01"});
  fake.openResults = {true, false, true};
  EXPECT_EQ(programmer::Connect(Wx2050, &fake.link, kName2050), 0);
  EXPECT_EQ(fake.WriteText(1), "SYST:UPDATE WX2050\n");
  EXPECT_EQ(fake.events, (Events{std::string("open ") + kName2050, "write 6", "read", "write 19",
                                 "close", std::string("open ") + kName2050,
                                 std::string("open ") + kWriterName, "write 6", "read"}));
}

TEST(WriterMode, LowerCaseWriterIsNotRecognised) {
  FakeClock clock;
  FakeLink fake;
  clock.Attach(&fake.link);
  fake.Queue({"writer,WX2040,AB123", "WRITER,WX2040,AB123"});
  EXPECT_EQ(programmer::Connect(Wx2040, &fake.link, kName2040), 0);
  EXPECT_TRUE(fake.Wrote("SYST:UPDATE WX2040\n"));
  EXPECT_GT(FakeClock::sleeps, 0);
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
      {"already the writer, not found again", kName2050, {true, false, false}, -1,
       {"WRITER,WX2050,AB123"}, 1,
       {std::string("open ") + kName2050, "write 6", "read", "close",
        std::string("open ") + kName2050, std::string("open ") + kWriterName}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeClock clock;
    FakeLink fake;
    clock.Attach(&fake.link);
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
      {"USB0::0x2E5B::0x3A02::ABCDEFGHIJKLMNOPQRST::INSTR", "ABCDEFGHIJKLMNOPQRST"},
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

  // Instruments of one family switched at the same moment on threads of their own: a serial
  // taken on one thread stays that thread's while another thread takes its own.
  const char* mine = Extract(Wx2050, "USB0::1::2::MINE");
  std::thread([] { EXPECT_STREQ(Extract(Wx2050, "USB0::1::2::OTHER"), "OTHER"); }).join();
  EXPECT_STREQ(mine, "MINE");
}

// The whole serial, however long, rebuilds the name a WX2050 writer comes back under; a name
// that would not fit a resource name is not tried, since a cut one names another instrument.
TEST(WriterMode, WholeSerialRebuildsTheWriterName) {
  for (size_t length : {20u, 200u, 226u, 227u}) {
    SCOPED_TRACE(length);
    const std::string serial(length, 'S');
    const std::string normal = "USB0::0x2E5B::0x3A02::" + serial + "::INSTR";
    const std::string writer = "USB0::0x2E5B::0x3A01::" + serial + "::INSTR";
    const char* extracted = Extract(Wx2050, normal);
    ASSERT_NE(extracted, nullptr);
    EXPECT_EQ(extracted, serial);

    FakeClock clock;
    FakeLink fake;
    clock.Attach(&fake.link);
    fake.Queue({("VANDRELL,WX2050," + serial).c_str(), ("WRITER,WX2050," + serial).c_str()});
    bool first = true;
    fake.canOpen = [&](const std::string& name) {
      const bool open = first || name == writer;
      first = false;
      return open;
    };
    const bool fits = writer.size() < 256;
    EXPECT_EQ(programmer::Connect(Wx2050, &fake.link, normal.c_str()), fits ? 0 : 1);
    EXPECT_EQ(std::count(fake.events.begin(), fake.events.end(), "open " + writer) > 0, fits);
  }
}

// The model rule on the first reply, for a WX2040 file: another model's instrument gets nothing
// but "*IDN?", and so does a writer that names no model unless the run's facts vouch for it.
TEST(WriterMode, ModelRuleBeforeTheSwitch) {
  const std::string open = std::string("open ") + kName2040;
  const struct {
    const char* name;
    const char* reply;
    const char* confirmedSerial;  // the user's confirmation, with confirmedModel
    const char* confirmedModel;
    int32_t expected;
  } cases[] = {
      {"normal firmware of the other model", "VANDRELL,WX2050,AB123,2.00-0-01", "", "", 13},
      {"normal firmware, lower-case model", "VANDRELL,wx2050,AB123", "", "", 13},
      {"another catalogue model", "VANDRELL,SB7300,AB123", "", "", 13},
      {"writer of the other model", "WRITER,WX2050,AB123,1.00-0-01", "", "", 13},
      {"writer of the other model, confirmed otherwise", "WRITER,WX2050,AB123", "AB123", "WX2040",
       13},
      {"writer naming no model", "WRITER,,AB123,1.00-0-01", "", "", 14},
      {"writer naming an unknown model", "WRITER,XY9000,AB123", "", "", 14},
      {"writer naming no model, confirmed", "WRITER,,AB123,1.00", "AB123", "WX2040", 0},
      {"writer naming no model, confirmed in lower case", "WRITER,,AB123", "AB123", "wx2040", 0},
      {"confirmed as the other model", "WRITER,,AB123,1.00", "AB123", "WX2050", 14},
      {"confirmed for another serial", "WRITER,,AB123,1.00", "ZZ999", "WX2040", 14},
      {"writer saying nothing, its name's serial confirmed", "WRITER", "AB123", "WX2040", 0},
      {"writer of the file's model", "WRITER,WX2040,AB123", "", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeClock clock;
    ModelFacts facts{};
    ConfirmWriterModel(&facts, c.confirmedSerial, c.confirmedModel);
    RunEnv env = *clock.env();
    env.modelFacts = &facts;
    FakeLink fake;
    fake.link.env = &env;
    fake.Queue({c.reply});
    EXPECT_EQ(programmer::Connect(Wx2040, &fake.link, kName2040), c.expected);
    if (c.expected != 0) {
      EXPECT_EQ(fake.events, (Events{open, "write 6", "read", "close"}));
    } else {
      EXPECT_EQ(fake.events, (Events{open, "write 6", "read", "close", open}));
    }
    EXPECT_EQ(FakeClock::sleeps, 0);
    EXPECT_TRUE(facts.identified);
  }
  // Without a run context nothing vouches for a writer that names no model.
  FakeLink fake;
  fake.Queue({"WRITER,,AB123"});
  EXPECT_EQ(programmer::Connect(Wx2040, &fake.link, kName2040), 14);
  fake.Queue({"VANDRELL,WX2050,AB123"});
  EXPECT_EQ(programmer::Query(Wx2040, &fake.link, QueryEnterWriterMode, nullptr), 13);
  EXPECT_FALSE(fake.Wrote("SYST:UPDATE WX2040\n"));
}

// After the switch the instrument must answer as a writer that may receive the file: one that
// ignored the update command answers as its normal firmware and never sees a frame.
TEST(WriterMode, ModelRuleAfterTheSwitch) {
  const struct {
    const char* name;
    const char* normal;
    const char* writer;  // null: the reply fails
    int32_t expected;
    bool didNotReturn;
  } cases[] = {
      {"came back", "VANDRELL,WX2050,AB123", "WRITER,WX2050,AB123,1.00-0-01", 0, false},
      {"ignored the update command", "VANDRELL,WX2050,AB123", "VANDRELL,WX2050,AB123", 15, true},
      {"the writer names no model: its normal firmware named the file's",
       "VANDRELL,WX2050,AB123", "WRITER,,AB123,1.00-0-01", 0, false},
      {"the writer says nothing: its name carries the serial", "VANDRELL,WX2050,AB123", "WRITER",
       0, false},
      {"the normal firmware named no model either", "VANDRELL,,AB123", "WRITER,,AB123", 14, false},
      {"the normal firmware named another serial", "VANDRELL,WX2050,ZZ999", "WRITER,,AB123", 14,
       false},
      {"a writer of the other model", "VANDRELL,XY9000,AB123", "WRITER,WX2040,AB123", 13, false},
      {"no answer", "VANDRELL,WX2050,AB123", nullptr, 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeClock clock;
    ModelFacts facts{};
    std::vector<WriterModeEvent> events;
    const WriterModeObserver observer{&events, [](void* owner, WriterModeEvent e) {
                                        static_cast<std::vector<WriterModeEvent>*>(owner)
                                            ->push_back(e);
                                      }};
    RunEnv env = *clock.env();
    env.modelFacts = &facts;
    env.writerModeObserver = &observer;
    FakeLink fake;
    fake.link.env = &env;
    fake.Queue({c.normal, c.writer});
    // The normal firmware of an instrument that ignored the command is still under its name.
    fake.openResults = {true, c.expected != 15 ? false : true, true};
    EXPECT_EQ(programmer::Connect(Wx2050, &fake.link, kName2050), c.expected);
    EXPECT_TRUE(fake.Wrote("SYST:UPDATE WX2050\n"));
    EXPECT_EQ(fake.writes.size(), 3u) << "*IDN?, the update command, *IDN? and never a frame";
    if (c.expected != 0) {
      EXPECT_EQ(fake.events.back(), "close");
    }
    EXPECT_EQ(std::count(events.begin(), events.end(), WriterModeEvent::kDidNotReturn) > 0,
              c.didNotReturn);
  }
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
  clock.Attach(&fake.link);
  fake.Queue({"VANDRELL,WX2050"});
  EXPECT_EQ(programmer::Query(Wx2050, &fake.link, QueryEnterWriterMode, nullptr), 0);
  EXPECT_EQ(fake.WriteText(1), "SYST:UPDATE WX2050\n");
  EXPECT_EQ(programmer::Close(&fake.link), 0);
  EXPECT_EQ(fake.events.back(), "close");
  EXPECT_EQ(programmer::Close(nullptr), 7);
  EXPECT_EQ(kWx2040ProgrammerOps.Close(nullptr), 7);
}

// The switched instrument is looked for after the first wait, then every half second until 20 s
// after the update command; the times below count from that command.
TEST(WriterMode, ReopensUntilTheWriterIsBackOrTheDeadlinePassed) {
  struct Observed {
    std::vector<WriterModeEvent> events;
  };
  const struct {
    const char* name;
    int64_t backAtMs;  // when the writer can be opened; -1 never
    int32_t expected;
    int64_t endsAtMs;
  } cases[] = {
      {"back before the first wait ends", 1500, 0, 4000},
      {"back at 3.5 s", 3500, 0, 4000},
      {"back at 6 s", 6000, 0, 6000},
      {"back at 6.2 s", 6200, 0, 6500},
      {"back at the deadline", 20000, 0, 20000},
      {"back at 25 s", 25000, 1, 20000},
      {"never back", -1, 1, 20000},
  };
  for (const ProgrammerFamily* family : {&Wx2040, &Wx2050}) {
    const bool is2050 = family == &Wx2050;
    const std::string name = is2050 ? kName2050 : kName2040;
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(family->name) + ": " + c.name);
      FakeClock clock(100000);
      const int64_t sentAt = 100000;
      Observed observed;
      const WriterModeObserver observer{&observed, [](void* owner, WriterModeEvent e) {
                                          static_cast<Observed*>(owner)->events.push_back(e);
                                        }};
      RunEnv env = *clock.env();
      env.writerModeObserver = &observer;
      FakeLink fake;
      fake.link.env = &env;
      fake.Queue({"VANDRELL,X,AB123,1.00"});
      fake.replies.emplace_back(std::string("WRITER,") + family->name + ",AB123,1.00");
      std::vector<int64_t> attempts;  // times of the opens on the name the writer comes back by
      bool first = true;
      fake.canOpen = [&](const std::string& opened) {
        if (first) {  // the instrument in its normal firmware
          first = false;
          return true;
        }
        if (opened != kWriterName) return false;  // a WX2050 writer is not under its old name
        attempts.push_back(FakeClock::nowMs - sentAt);
        return c.backAtMs >= 0 && FakeClock::nowMs - sentAt >= c.backAtMs;
      };
      EXPECT_EQ(programmer::Connect(*family, &fake.link, name.c_str()), c.expected);

      EXPECT_EQ(FakeClock::nowMs - sentAt, c.endsAtMs);
      ASSERT_FALSE(attempts.empty());
      EXPECT_EQ(attempts.front(), 4000) << "nothing is opened before the full first wait";
      for (size_t i = 1; i < attempts.size(); ++i) EXPECT_EQ(attempts[i] - attempts[i - 1], 500);
      EXPECT_EQ(attempts.back(), c.endsAtMs);
      std::vector<WriterModeEvent> expectedEvents = {WriterModeEvent::kWaitingForRestart};
      if (c.expected != 0) expectedEvents.push_back(WriterModeEvent::kDidNotReturn);
      EXPECT_EQ(observed.events, expectedEvents);
      if (is2050) {  // both names every round: the old one first
        EXPECT_EQ(fake.events[5], std::string("open ") + kName2050);
        EXPECT_EQ(fake.events[6], std::string("open ") + kWriterName);
      }
    }
  }
}

TEST(WriterMode, NameWithoutSerialNumberIsRetriedAsItIs) {
  FakeClock clock;
  FakeLink fake;
  clock.Attach(&fake.link);
  fake.Queue({"X"});
  int opens = 0;
  fake.canOpen = [&](const std::string&) { return ++opens == 1; };
  EXPECT_EQ(programmer::Connect(Wx2050, &fake.link, "GPIB0::12::INSTR"), 1);
  EXPECT_EQ(opens, 1 + 33) << "the first open, then one a half second from 4 s to 20 s";
  EXPECT_EQ(FakeClock::nowMs, 20000);
}

TEST(WriterMode, WaitSleepsTheWholeTimeOnTheMonotonicClock) {
  for (int64_t startMs : {0, 999, 123456789}) {
    SCOPED_TRACE(startMs);
    FakeClock clock(startMs);
    WaitMilliseconds(clock.env(), 4000);
    EXPECT_EQ(FakeClock::nowMs - startMs, 4000);
    EXPECT_EQ(FakeClock::sleeps, 1);
  }
  FakeClock clock;
  WaitMilliseconds(clock.env(), 0);
  EXPECT_EQ(FakeClock::sleeps, 0);
  WaitMilliseconds(clock.env(), 1);
  EXPECT_EQ(FakeClock::nowMs, 1);
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
  WaitMilliseconds(nullptr, 1000);  // the steady clock, sleeping
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  const double cpu = ProcessorSeconds() - cpu0;
  EXPECT_GE(wall, 1.0);
  EXPECT_LT(cpu, 0.25 * wall + 0.02) << "the wait must sleep, not spin";
}

}  // namespace
}  // namespace fg::test
