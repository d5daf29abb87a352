// The package update driver over a scripted programmer table: link lifetime, Connect and Finish,
// the package checks, the transfer, the WX2040 supplement and the weighted progress.
#include <gtest/gtest.h>

#include <algorithm>

#include "firmware/image_record.h"
#include "link/model_facts.h"
#include "tests/updater/driver_fixture.h"
#include "updater/driver_errors.h"
#include "updater/update_plan.h"
#include "updater/updater_families.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace fg::test {
namespace {

const DriverFamily& Wx2040 = kWx2040DriverFamily;
const DriverFamily& Wx2050 = kWx2050DriverFamily;
constexpr const char* kName = "USB0::0x2E5B::0x3A01::SN1::INSTR";
constexpr const char* kIdn2040 = "WRITER,WX2040,SN1,2.10-0-01-02-03-0105";
constexpr const char* kIdn2050 = "WRITER,WX2050,SN2,1.05-0-02";

// All six WX2040 images, in package order (not rule order), versions equal to kIdn2040's.
std::vector<Bytes> Wx2040Package() {
  return {Record(67, 60, "0C"), Record(8, 120, "0105"), Record(14, 300, "2.10"),
          Record(3, 100, "01"), Record(6, 80, "03"), Record(4, 90, "02")};
}
std::vector<Bytes> Wx2050Package() {
  return {Record(254, 200, "02"), Record(4, 100, "1.05")};
}

using Calls = std::vector<std::string>;

TEST_F(DriverTest, InitStartsFromAClearedContextAndReleasesThePreviousLink) {
  Start(Wx2040, false);
  ASSERT_NE(context.link, nullptr);
  EXPECT_EQ(context.link->owner, &context);
  EXPECT_EQ(context.link->env, &env) << "the programmer reaches the run through the link";
  EXPECT_EQ(context.link->progress, updater::ReportProgress);
  EXPECT_EQ(context.programmer, &kWx2040ProgrammerOps);
  EXPECT_EQ(context.index.capacity, 6);
  CopyBounded(context.resourceName, "earlier");
  context.index.imageCount = 2;
  context.doneWeight = 7;

  fake.events.clear();
  Start(Wx2050, false);
  EXPECT_EQ(fake.events, (std::vector<std::string>{"close"})) << "the old link is released";
  EXPECT_EQ(context.programmer, &kWx2050ProgrammerOps);
  EXPECT_EQ(context.index.capacity, 3);
  EXPECT_EQ(context.index.imageCount, 0);
  EXPECT_STREQ(context.resourceName, "");
  EXPECT_EQ(context.doneWeight, 0u);
  EXPECT_EQ(context.progressOwner, this);
  EXPECT_EQ(context.env, &env) << "the clear keeps the run context";
  EXPECT_EQ(context.link->env, &env);
}

TEST_F(DriverTest, ManyRunsHoldOneLinkAtATime) {
  for (int run = 0; run < 50; ++run) Start(run % 2 ? Wx2050 : Wx2040, false);
  size_t released = std::count(fake.events.begin(), fake.events.end(), "close");
  EXPECT_EQ(released, 49u);
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "no link of an earlier run may leak";
#endif
}

// Connect asks who the instrument is before anything else: another model's instrument is refused
// there, before the user is asked, and its display is left alone.
TEST_F(DriverTest, ConnectIdentifiesThenAnnouncesTheNameOnTheDisplay) {
  const std::string longest = "USB0::0x2E5B::0x3A01::" + std::string(255 - 29, 'S') + "::INSTR";
  ASSERT_EQ(longest.size(), 255u);
  const std::string open = std::string("open ") + kName;
  const struct {
    const char* name;
    std::string resource;
    std::deque<bool> opens;
    const char* reply;  // null: no answer
    int failWriteAt;
    int32_t expected;
    std::vector<std::string> events;
  } cases[] = {
      {"connected", kName, {}, "VANDRELL,WX2040,SN1,2.00", -1, 0,
       {open, "write 6", "read", "write 45"}},
      {"a writer that names no model is left to the run", kName, {}, "WRITER,,SN1", -1, 0,
       {open, "write 6", "read", "write 45"}},
      {"another model", kName, {}, "VANDRELL,WX2050,SN1,1.00", -1, 0x10,
       {open, "write 6", "read", "close"}},
      {"another model's writer", kName, {}, "WRITER,WX2050,SN1", -1, 0x10,
       {open, "write 6", "read", "close"}},
      {"cannot open", kName, {false}, nullptr, -1, 2, {open}},
      {"no answer", kName, {}, nullptr, -1, 2, {open, "write 6", "read", "close"}},
      {"cannot announce", kName, {}, "VANDRELL,WX2040,SN1", 1, 3,
       {open, "write 6", "read", "write 45", "close"}},
      {"255 characters", longest, {}, "VANDRELL,WX2040,SN1", -1, 0,
       {"open " + longest, "write 6", "read", "write 268"}},
      {"256 characters: refused before opening", longest + "X", {}, nullptr, -1, 2, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(Wx2040, false);
    fake.events.clear();
    fake.writes.clear();
    fake.replies.clear();
    fake.openResults = c.opens;
    fake.failWriteAt = c.failWriteAt;
    fake.Queue({c.reply});
    ModelFacts facts{};
    env.modelFacts = &facts;
    EXPECT_EQ(updater::Connect(&context, c.resource.c_str()), c.expected);
    env.modelFacts = nullptr;
    EXPECT_EQ(fake.events, c.events);
    if (c.reply != nullptr && c.opens.empty()) {
      EXPECT_EQ(fake.WriteText(0), "*IDN?\n");
      EXPECT_TRUE(facts.identified) << "the run finds the reply in its facts";
    }
    if (c.expected == 0) {
      EXPECT_EQ(fake.WriteText(1), "DISP:TEXT \"" + c.resource + "\"\n");
      EXPECT_EQ(std::string(context.resourceName), c.resource);
    }
  }
  EXPECT_EQ(updater::Connect(&context, nullptr), 2);
}

TEST_F(DriverTest, FinishClearsTheDisplayAndClosesWhateverTheWriteDoes) {
  Start(Wx2040, false);
  for (int failWriteAt : {-1, 0}) {
    fake.events.clear();
    fake.writes.clear();
    fake.failWriteAt = failWriteAt;
    EXPECT_EQ(updater::Finish(&context), 0);
    EXPECT_EQ(fake.WriteText(0), "DISP:TEXT:CLEAR\n");
    EXPECT_EQ(fake.events, (std::vector<std::string>{"write 16", "close"}));
  }
}

TEST_F(DriverTest, ProgramsEveryImageInRuleOrderWithWeightedProgress) {
  FakeProgrammer programmer;
  programmer.identity = kIdn2040;
  const auto package = Wx2040Package();
  const std::string payload = WritePayload(package);
  const uintmax_t size = FileSize(payload);
  Start(Wx2040);
  CopyBounded(context.resourceName, kName);

  EXPECT_EQ(updater::Update(&context, payload.c_str(), kUpdateCheckVersions), 0);
  EXPECT_EQ(programmer.Partitions(), (std::vector<int32_t>{2, 3, 4, 6, 5, 16}));
  // Rule order 1C3, 1C6DDS, 1C6POUT, MAIN, HTTP, OEM = package records 3, 5, 4, 2, 1, 0.
  const size_t fromPackage[] = {3, 5, 4, 2, 1, 0};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(programmer.programmed[i].second, package[fromPackage[i]]);
  EXPECT_EQ(programmer.calls.front(), std::string("connect ") + kName);
  EXPECT_EQ(programmer.Count("connect"), 2u) << "the probe, then the check";
  EXPECT_EQ(programmer.calls.back(), "close");
  EXPECT_EQ(FileSize(payload), size) << "main version 2.10 needs no supplement";
  EXPECT_EQ(context.totalWeight, 2725u);
  EXPECT_EQ(context.doneWeight, 2725u);
  EXPECT_EQ(context.currentRule, nullptr);

  ASSERT_FALSE(overall.empty());
  EXPECT_TRUE(std::is_sorted(overall.begin(), overall.end()));
  EXPECT_EQ(overall.back(), 100);
  EXPECT_EQ(std::count(overall.begin(), overall.end(), 100), 1);
  // 1C3 at 50 % of its weight 100 reports 1 of 2725; MAIN starts at 500.
  EXPECT_EQ(overall[1], 1);
  EXPECT_EQ(overall[2], 3);
}

// While each image is programmed, a stop that ends the program at once would name the
// instrument, the partition it leaves incomplete and its own number; between images and after
// them the run's own line stands again.
TEST_F(DriverTest, EachImageInProgressNamesItsPartitionForAStopAtOnce) {
  FakeProgrammer programmer;
  programmer.identity = kIdn2040;
  const std::string payload = WritePayload(Wx2040Package());
  StopNotice notice;
  notice.Set(StopNotice::kRunLine, "the run's line\n");
  env.stopNotice = &notice;
  Start(Wx2040);
  CopyBounded(context.resourceName, kName);

  ASSERT_EQ(updater::Update(&context, payload.c_str(), kUpdateCheckVersions), 0);
  const char* partitions[] = {"1C3", "1C6DDS", "1C6POUT", "MAIN", "HTTP", "OEM"};
  ASSERT_EQ(programmer.noticesWhileProgramming.size(), std::size(partitions));
  for (size_t i = 0; i < std::size(partitions); ++i) {
    const std::string& line = programmer.noticesWhileProgramming[i];
    const std::string p = partitions[i];
    EXPECT_EQ(line.rfind(std::string("\n") + kName + ": stopped at once while programming " + p +
                             " (error number 0x10021): partition " + p + " is left incomplete.",
                         0),
              0u)
        << line;
    EXPECT_NE(line.find("run the same update again to program " + p + "."), std::string::npos);
  }
  EXPECT_EQ(StopNoticesNow(), "the run's line\n");

  // A failing image clears its line all the same.
  programmer.calls.clear();
  programmer.programFailures[0] = 2;
  programmer.noticesWhileProgramming.clear();
  Start(Wx2040);
  CopyBounded(context.resourceName, kName);
  EXPECT_EQ(updater::Update(&context, payload.c_str(), kUpdateCheckVersions), 8);
  EXPECT_EQ(programmer.noticesWhileProgramming.size(), 1u);
  EXPECT_EQ(StopNoticesNow(), "the run's line\n");
}

TEST_F(DriverTest, PackageChecksRunBeforeAnythingIsProgrammed) {
  auto replace = [](std::vector<Bytes> package, size_t index, Bytes record) {
    package[index] = std::move(record);
    return package;
  };
  auto without = [](std::vector<Bytes> package, size_t index) {
    package.erase(package.begin() + static_cast<std::ptrdiff_t>(index));
    return package;
  };
  const auto full = Wx2040Package();
  const struct {
    const char* name;
    const DriverFamily* family;
    std::vector<Bytes> package;
    const char* identity;
    int32_t flags;
    int32_t expected;
    size_t programmed;
  } cases[] = {
      {"MAIN missing", &Wx2040, without(full, 2), kIdn2040, 1, 0x101, 0},
      {"OEM missing is fine", &Wx2040, without(full, 0), kIdn2040, 1, 0, 5},
      {"1C3 exactly its region", &Wx2040, replace(full, 3, RecordOfLength(3, 0x10000, "01")), kIdn2040, 1, 0, 6},
      {"1C3 one byte more", &Wx2040, replace(full, 3, RecordOfLength(3, 0x10001, "01")), kIdn2040, 1, 0x102, 0},
      {"1C3 older", &Wx2040, replace(full, 3, Record(3, 100, "00")), kIdn2040, 1, 9, 0},
      {"1C3 older, versions not checked", &Wx2040, replace(full, 3, Record(3, 100, "00")), kIdn2040, 0, 0, 6},
      {"0105 is newer than 01", &Wx2040, replace(full, 3, Record(3, 100, "0105")), kIdn2040, 1, 0, 6},
      {"MAIN older than installed", &Wx2040, replace(full, 2, Record(14, 100, "2.09")), kIdn2040, 1, 9, 0},
      {"a block no rule knows is ignored", &Wx2040, replace(full, 0, Record(99, 10, "01")), kIdn2040, 1, 0, 5},
      {"oversize OEM", &Wx2040, replace(full, 0, RecordOfLength(67, 0x4001, "0C")), kIdn2040, 1, 0x102, 0},
      {"XP2 missing", &Wx2050, without(Wx2050Package(), 0), kIdn2050, 1, 0x201, 0},
      {"WX2050 MAIN oversize", &Wx2050, {Record(254, 200, "02"), RecordOfLength(4, 0x80001, "1.05")}, kIdn2050, 1, 0x202, 0},
      {"WX2050 without OEM", &Wx2050, Wx2050Package(), kIdn2050, 1, 0, 2},
      {"dry run", &Wx2040, full, kIdn2040, 1 | kUpdateDryRun, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeProgrammer programmer;
    programmer.identity = c.identity;
    Start(*c.family);
    CopyBounded(context.resourceName, kName);
    const std::string payload = WritePayload(c.package);
    EXPECT_EQ(updater::Update(&context, payload.c_str(), c.flags), c.expected);
    EXPECT_EQ(programmer.programmed.size(), c.programmed);
    EXPECT_EQ(programmer.calls.back(), "close") << "the session ends closed";
  }
}

TEST_F(DriverTest, WeightsOfThePresentImagesOnly) {
  FakeProgrammer programmer;
  programmer.identity = kIdn2050;
  Start(Wx2050);
  const std::string payload = WritePayload(Wx2050Package());
  ASSERT_EQ(updater::Update(&context, payload.c_str(), 1), 0);
  EXPECT_EQ(context.totalWeight, 650u);
  EXPECT_EQ(programmer.Count("connect"), 1u) << "no probe for the WX2050";
}

TEST_F(DriverTest, FailuresOfTheProgrammer) {
  const std::string payload = WritePayload(Wx2040Package());
  // A refused model keeps a number of its own; any other failed switch is "no writer". Either
  // way nothing more is asked of the programmer, nor closed (Connect closed what it refused).
  const struct {
    int32_t connect;
    int32_t expected;
  } connectFailures[] = {{1, 4}, {2, 4}, {15, 4}, {13, 0x10}, {14, 0x11}};
  for (const DriverFamily* family : {&Wx2040, &Wx2050}) {
    for (const auto& f : connectFailures) {
      SCOPED_TRACE(std::string(family->name) + " programmer Connect " + std::to_string(f.connect));
      FakeProgrammer programmer;
      programmer.connectResult = f.connect;
      Start(*family);
      EXPECT_EQ(updater::Update(&context, payload.c_str(), 1), f.expected);
      EXPECT_EQ(programmer.calls, (Calls{"connect "}));
    }
  }
  for (const DriverFamily* family : {&Wx2040, &Wx2050}) {
    SCOPED_TRACE("identity query fails");
    FakeProgrammer programmer;
    programmer.queryResult = 2;
    Start(*family);
    EXPECT_EQ(updater::Update(&context, payload.c_str(), 1), 8);
    EXPECT_EQ(programmer.calls, (Calls{"connect ", "query", "close"}));
  }
  {
    SCOPED_TRACE("MAIN fails: the images before it stay programmed, none after is tried");
    FakeProgrammer programmer;
    programmer.identity = kIdn2040;
    programmer.programFailures[3] = 0x10A;
    Start(Wx2040);
    EXPECT_EQ(updater::Update(&context, payload.c_str(), 1), 8);
    EXPECT_EQ(programmer.Partitions(), (std::vector<int32_t>{2, 3, 4}));
    EXPECT_EQ(programmer.Count("program"), 4u);
    EXPECT_EQ(context.programmerError, 0x10A);
    EXPECT_EQ(context.currentRule, nullptr);
    EXPECT_EQ(programmer.calls.back(), "close");
  }
}

TEST_F(DriverTest, UnreadablePayload) {
  const std::string missing = folder_ + "/no-such-payload";
  const struct {
    const DriverFamily* family;
    const char* identity;
    int32_t expected;
  } cases[] = {
      {&Wx2050, kIdn2050, 0x201},  // an empty index: the first required image is missing
      {&Wx2040, kIdn2040, 0x101},
      {&Wx2040, "WRITER,WX2040,SN1,2.00-0-01-02-03-0105", 5},  // the supplement cannot be appended
  };
  for (const auto& c : cases) {
    FakeProgrammer programmer;
    programmer.identity = c.identity;
    Start(*c.family);
    EXPECT_EQ(updater::Update(&context, missing.c_str(), 1), c.expected) << c.identity;
  }

  // A payload cut short after it was indexed (its last records, the second and third images in
  // rule order, lost their ends) is refused before the first image is written.
  FakeProgrammer programmer;
  programmer.identity = kIdn2040;
  Start(Wx2040);
  const std::string payload = WritePayload(Wx2040Package());
  ASSERT_EQ(updater::CheckAndProgram(&context, payload.c_str(), kUpdateDryRun), 0);
  std::filesystem::resize_file(payload, FileSize(payload) - 200);
  EXPECT_EQ(updater::TransferImages(&context, payload.c_str()), 5);
  EXPECT_EQ(programmer.Count("program"), 0u);
}

TEST_F(DriverTest, OemSupplementForOldMainVersions) {
  auto withoutOem = Wx2040Package();
  withoutOem.erase(withoutOem.begin());
  const Bytes oem(kOemRecord, kOemRecord + kOemRecordSize);
  const struct {
    const char* main;
    bool appended;
  } cases[] = {{"2.00", true}, {"10.0", true}, {"1.99", true}, {"2.01", false}, {"2.10", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.main);
    FakeProgrammer programmer;
    // Package versions of the MAIN record must not be older than the installed one.
    programmer.identity = std::string("VANDRELL,WX2040,SN1,") + c.main + "-0-01-02-03-0105";
    auto package = withoutOem;
    package[1] = Record(14, 300, "9.99");
    const std::string payload = WritePayload(package);
    const uintmax_t size = FileSize(payload);
    Start(Wx2040);
    ASSERT_EQ(updater::Update(&context, payload.c_str(), 1), 0);
    EXPECT_EQ(FileSize(payload), size + (c.appended ? kOemRecordSize : 0));
    ASSERT_EQ(programmer.programmed.size(), c.appended ? 6u : 5u);
    if (c.appended) {
      EXPECT_EQ(programmer.programmed.back(), std::make_pair(int32_t{16}, oem));
      EXPECT_EQ(context.totalWeight, 2725u);
    }
  }
}

TEST_F(DriverTest, SupplementNeverDisplacesWhatThePackageHolds) {
  const Bytes oem(kOemRecord, kOemRecord + kOemRecordSize);
  const char* oldMain = "VANDRELL,WX2040,SN1,1.00-0-01-02-03-0105";
  {
    SCOPED_TRACE("the package's own OEM record comes first and is the one programmed");
    FakeProgrammer programmer;
    programmer.identity = oldMain;
    const auto package = Wx2040Package();
    const std::string payload = WritePayload(package);
    Start(Wx2040);
    ASSERT_EQ(updater::Update(&context, payload.c_str(), 1), 0);
    EXPECT_EQ(programmer.programmed.back(), std::make_pair(int32_t{16}, package[0]));
  }
  {
    SCOPED_TRACE("six records fill the index: the appended one is beyond it");
    FakeProgrammer programmer;
    programmer.identity = oldMain;
    auto package = Wx2040Package();
    package[0] = Record(99, 10, "01");
    const std::string payload = WritePayload(package);
    Start(Wx2040);
    ASSERT_EQ(updater::Update(&context, payload.c_str(), 1), 0);
    EXPECT_EQ(programmer.Partitions(), (std::vector<int32_t>{2, 3, 4, 6, 5}));
    EXPECT_EQ(context.totalWeight, 2700u);
  }
}

// An identification reply without its commas and hyphens carries no installed versions: where
// versions are checked that refuses the package, and it never counts as an old main version.
TEST_F(DriverTest, UnreadableInstalledVersionsAreNeverOlderThanEverything) {
  const struct {
    const char* identity;
    int32_t flags;
    int32_t expected;
    size_t programmed;
  } cases[] = {
      {"WRITER,WX2040,SN1", 1, 9, 0},
      {"WRITER WX2040 SN1 2.00 0 01 02 03 0105", 1, 9, 0},
      {"WRITER,WX2040,SN1,2.10-0-01-02-03", 1, 9, 0},  // HTTP's sub-field alone is missing
      {"WRITER,WX2040,SN1", 0, 0, 5},                  // no version check: installed as asked
  };
  auto package = Wx2040Package();
  package.erase(package.begin());  // no OEM image of its own
  for (const auto& c : cases) {
    SCOPED_TRACE(c.identity);
    FakeProgrammer programmer;
    programmer.identity = c.identity;
    const std::string payload = WritePayload(package);
    const uintmax_t size = FileSize(payload);
    Start(Wx2040);
    EXPECT_EQ(updater::Update(&context, payload.c_str(), c.flags), c.expected);
    EXPECT_EQ(programmer.programmed.size(), c.programmed);
    EXPECT_EQ(FileSize(payload), size) << "an unread main version is no old one";
  }
  FakeProgrammer programmer;
  programmer.identity = "WRITER,WX2040,SN1,2.10-0-01-02-03";
  Start(Wx2040);
  const std::string payload = WritePayload(package);
  ASSERT_EQ(updater::Update(&context, payload.c_str(), 1), 9);
  EXPECT_TRUE(context.rules[3].installedRead);
  EXPECT_EQ(context.rules[3].check, 0);
  EXPECT_FALSE(context.rules[4].installedRead);
  EXPECT_EQ(context.rules[4].check, 9);
}

TEST_F(DriverTest, AFailedOemAppendIsReported) {
  FakeProgrammer programmer;
  programmer.identity = "WRITER,WX2040,SN1,2.00-0-01-02-03-0105";
  Start(Wx2040);
  // /dev/full opens for update and seeks, but every write fails for want of space.
  EXPECT_EQ(updater::Update(&context, "/dev/full", 1), 7);
  EXPECT_EQ(programmer.Count("program"), 0u);
}

// The transfer reads every image before it programs the first: a payload cut short after the
// checks must not leave the instrument with some images new and some old.
TEST_F(DriverTest, EveryImageIsReadBeforeTheFirstIsProgrammed) {
  FakeProgrammer programmer;
  programmer.identity = kIdn2040;
  const auto full = Wx2040Package();
  const std::string payload = WritePayload({full[3], full[5], full[4], full[2], full[1]});  // rule order
  Start(Wx2040);
  ParseImageIndex(&context.index, payload.c_str());
  ASSERT_EQ(CheckPackage(Wx2040, context.programmer, &context.index, kIdn2040, 1, context.rules), 0);
  // Cut the file inside HTTP, the last record: the four images before it could still be read.
  std::filesystem::resize_file(payload, static_cast<uintmax_t>(context.rules[4].entry->offset + 10));
  EXPECT_EQ(updater::TransferImages(&context, payload.c_str()), 5);
  EXPECT_EQ(programmer.Count("program"), 0u);
}

TEST_F(DriverTest, OverallProgressIsWeightedByTheImages) {
  Start(Wx2040, false);
  const ImageRule* rules = kWx2040DriverFamily.rules.data();
  context.totalWeight = 2725;
  const struct {
    size_t rule;
    uint32_t doneBefore;
    uint32_t percent;
    int32_t expected;
    uint32_t doneAfter;
  } cases[] = {
      {0, 0, 50, 1, 0}, {0, 0, 100, 3, 100}, {3, 500, 37, 40, 500}, {5, 2700, 100, 100, 2725},
      {3, 500, 0, 18, 500},
  };
  for (const auto& c : cases) {
    context.currentRule = &rules[c.rule];
    context.doneWeight = c.doneBefore;
    overall.clear();
    EXPECT_EQ(updater::ReportProgress(&context, c.percent), c.expected);
    EXPECT_EQ(overall, (std::vector<int32_t>{c.expected}));
    EXPECT_EQ(context.doneWeight, c.doneAfter);
  }

  Start(Wx2050, false);
  context.totalWeight = 650;
  context.doneWeight = 150;
  context.currentRule = &kWx2050DriverFamily.rules[1];
  EXPECT_EQ(updater::ReportProgress(&context, 33), 48);  // (150 + 165) * 100 / 650

  // An instrument's extra progress replies can push an image past 100 %; the bar cannot.
  context.doneWeight = 150;
  EXPECT_EQ(updater::ReportProgress(&context, 160), 100);
  // Outside the transfer there is nothing to weigh.
  context.currentRule = nullptr;
  overall.clear();
  EXPECT_EQ(updater::ReportProgress(&context, 50), 0);
  EXPECT_TRUE(overall.empty());
}

TEST_F(DriverTest, PlanOfTheLatestUpdateThroughTheFamilyTable) {
  const UpdaterOps& ops = kWx2040UpdaterOps;
  auto* shared = static_cast<UpdaterContext*>(ops.context);
  FakeProgrammer programmer;
  programmer.identity = kIdn2040;
  programmer.programFailures[3] = 0x107;
  ASSERT_EQ(BindUpdaterEnv(&ops, &env), 0);
  ASSERT_EQ(ops.Init(ops.context, nullptr, nullptr), 0);
  shared->programmer = &FakeProgrammer::kOps;
  fake.Queue({"VANDRELL,WX2040,SN1"});
  ASSERT_EQ(ops.Connect(ops.context, kName), 0);
  const std::string payload = WritePayload(Wx2040Package());
  EXPECT_EQ(ops.Update(ops.context, payload.c_str(), 1), 8);

  UpdatePlan plan{};
  ASSERT_EQ(ReadUpdatePlan(&ops, &plan), 0);
  EXPECT_EQ(plan.ruleCount, 6);
  EXPECT_EQ(plan.currentRule, -1);
  EXPECT_EQ(plan.totalWeight, 2725u);
  EXPECT_EQ(plan.doneWeight, 500u);
  EXPECT_EQ(plan.programmerError, 0x107);
  const char* names[] = {"1C3", "1C6DDS", "1C6POUT", "MAIN", "HTTP", "OEM"};
  const char* installed[] = {"01", "02", "03", "2.10", "0105", ""};
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_STREQ(plan.rows[i].partitionName, names[i]);
    EXPECT_STREQ(plan.rows[i].installed, installed[i]);
    EXPECT_TRUE(plan.rows[i].present);
    EXPECT_EQ(plan.rows[i].programmed, i < 3);
  }
  EXPECT_STREQ(plan.rows[3].version, "2.10");
  EXPECT_EQ(plan.rows[3].maxSize, 0x100000u);
  EXPECT_EQ(plan.rows[3].length, 326u);
  EXPECT_TRUE(plan.rows[5].optional);

  const UpdaterOps stranger = {&context, nullptr, nullptr, nullptr, nullptr, nullptr};
  EXPECT_EQ(ReadUpdatePlan(&stranger, &plan), 1);
  EXPECT_EQ(ReadUpdatePlan(nullptr, &plan), 1);

  // The shared context's link uses this test's slots: release it while they are there.
  ops.Destroy(shared->link);
  shared->link = nullptr;
  EXPECT_EQ(BindUpdaterEnv(&ops, nullptr), 0);
  EXPECT_EQ(BindUpdaterEnv(&stranger, &env), 1) << "a foreign driver brings its own";
}

TEST_F(DriverTest, InstancesOfAFamilyEachUpdateTheirOwnContext) {
  // Instances may be made of the family's table or of another instance; of nothing else.
  UpdaterOps* first = CreateUpdaterInstance(&kWx2050UpdaterOps);
  ASSERT_NE(first, nullptr);
  UpdaterOps* second = CreateUpdaterInstance(first);
  ASSERT_NE(second, nullptr);
  const UpdaterOps stranger = {&context, nullptr, nullptr, nullptr, nullptr, nullptr};
  EXPECT_EQ(CreateUpdaterInstance(&stranger), nullptr);
  EXPECT_NE(first->context, second->context);
  EXPECT_NE(first->context, kWx2050UpdaterOps.context);

  FakeProgrammer programmer;
  programmer.identity = kIdn2050;
  programmer.family = &kWx2050DriverFamily;  // its record checks are the WX2050's
  const std::string full = WritePayload(Wx2050Package(), "full");
  const std::string noXp2 = WritePayload({Record(4, 100, "1.05")}, "no-xp2");
  struct Run {
    UpdaterOps* ops;
    const char* name;
    const std::string* payload;
    int32_t expected;
  } runs[] = {{first, "USB0::0x2E5B::0x3A02::A::INSTR", &full, 0},
              {second, "USB0::0x2E5B::0x3A02::B::INSTR", &noXp2, 0x201}};
  for (const Run& r : runs) {
    ASSERT_EQ(BindUpdaterEnv(r.ops, &env), 0);
    ASSERT_EQ(r.ops->Init(r.ops->context, nullptr, nullptr), 0);
    static_cast<UpdaterContext*>(r.ops->context)->programmer = &FakeProgrammer::kOps;
    fake.Queue({"VANDRELL,WX2050,SN2"});
    ASSERT_EQ(r.ops->Connect(r.ops->context, r.name), 0);
  }
  for (const Run& r : runs) EXPECT_EQ(r.ops->Update(r.ops->context, r.payload->c_str(), 1), r.expected);
  EXPECT_EQ(programmer.calls, (Calls{"connect USB0::0x2E5B::0x3A02::A::INSTR", "query", "program 1",
                                     "program 28", "close", "connect USB0::0x2E5B::0x3A02::B::INSTR",
                                     "query", "close"}));

  // Each plan is its own instance's: the second's failed check did not touch the first's.
  UpdatePlan a{};
  UpdatePlan b{};
  ASSERT_EQ(ReadUpdatePlan(first, &a), 0);
  ASSERT_EQ(ReadUpdatePlan(second, &b), 0);
  EXPECT_TRUE(a.rows[0].programmed && a.rows[1].programmed && a.rows[1].present);
  EXPECT_FALSE(b.rows[0].programmed || b.rows[1].present);
  EXPECT_EQ(a.totalWeight, 650u);

  // Their links use this test's slots: release them while those are there.
  ReleaseUpdaterInstance(first);
  ReleaseUpdaterInstance(second);
  ReleaseUpdaterInstance(nullptr);
}

// A catalogue row maps to its driver family through its table; an instance maps like its table.
TEST(DriverFamilies, CatalogueRowsMapToTheirFamilyAndImageCapacity) {
  EXPECT_EQ(DriverFamilyOf(kModelCatalog.models[0].updater), &kWx2040DriverFamily);
  EXPECT_EQ(DriverFamilyOf(kModelCatalog.models[1].updater), &kWx2050DriverFamily);
  EXPECT_STREQ(kWx2040DriverFamily.name, "WX2040");
  EXPECT_STREQ(kWx2050DriverFamily.name, "WX2050");
  EXPECT_EQ(DriverFamilyOf(nullptr), nullptr);
  const UpdaterOps foreign{};
  EXPECT_EQ(DriverFamilyOf(&foreign), nullptr);
  UpdaterOps* instance = CreateUpdaterInstance(&kWx2050UpdaterOps);
  EXPECT_EQ(DriverFamilyOf(instance), &kWx2050DriverFamily);
  ReleaseUpdaterInstance(instance);

  EXPECT_EQ(ImageCapacityForModel(&kModelCatalog.models[0]), 6);
  EXPECT_EQ(ImageCapacityForModel(&kModelCatalog.models[1]), 3);
  EXPECT_EQ(ImageCapacityForModel(&kModelCatalog.models[2]), 6);  // no family bound
  EXPECT_EQ(ImageCapacityForModel(nullptr), 6);
}

}  // namespace
}  // namespace fg::test
