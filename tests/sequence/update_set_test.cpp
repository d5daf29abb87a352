// Several update runs at once: each with its own front end, driver and payload file, a failure
// ending only its own run, and --jobs bounding how many run at the same time.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sequence/run_texts.h"
#include "sequence/update_run.h"
#include "sequence/update_set.h"
#include "scratch_folder.h"
#include "sequence_fakes.h"
#include "updater/updater_families.h"
#include "vanishing_instrument.h"

namespace fg::test {
namespace {

class UpdateSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string header = FirmwareText("WX2040", "1.05", "2.04", " sample", "");
    payload = std::string(3000, '\x5A') + std::string(10, '\0') + "end";
    firmwarePath = scratch.Write("sample.fq", header + payload);
    selection.header.payloadOffset = static_cast<int32_t>(header.size());
    CopyBounded(selection.path, firmwarePath.c_str());
    ASSERT_TRUE(selection.file.Open(firmwarePath.c_str()));
    ASSERT_EQ(DigestPayload(selection.file, selection.header.payloadOffset,
                            &selection.payloadDigest),
              0);
    selection.selectedModel = &row;
  }

  ScratchFolder scratch;
  // The model's own table stands for the family's shared context: no member may use it.
  Events sharedEvents;
  ScriptedDriver shared{&sharedEvents};
  ModelInfo row = MakeModelRow("WX2040", 0x3A01, &shared.ops);
  FileSelection selection{};
  std::string payload;
  std::string firmwarePath;
};

// One instrument of a test set: its recording front end (holding its name) and its driver.
struct Member {
  RecordingFrontEnd fe;
  ScriptedDriver driver{&fe.events};
  explicit Member(const std::string& resource) { fe.list.Preselect(resource); }
};

TEST_F(UpdateSetTest, EachMemberRunsOnItsOwnAndAFailureEndsOnlyItsOwnRun) {
  const std::vector<std::string> names = {"USB0::1::2::A::INSTR", "USB0::1::2::B::INSTR",
                                          "USB0::1::2::C::INSTR", "USB0::1::2::D::INSTR"};
  std::vector<std::unique_ptr<Member>> m;
  for (const std::string& n : names) m.push_back(std::make_unique<Member>(n));
  m[1]->driver.updateResult = 8;     // its programming fails
  m[2]->driver.updateResult = 0x101;  // its package lacks an image
  std::vector<SetMember> members(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    members[i].frontEnd = &m[i]->fe.ops;
    members[i].updater = i == 3 ? nullptr : &m[i]->driver.ops;  // D: no driver of its own
    members[i].payloadPath = scratch.File("slot" + std::to_string(i));
  }
  RunUpdateSet(&selection, members, 1, 0);

  std::vector<int32_t> codes;
  for (const SetMember& s : members) codes.push_back(s.code);
  EXPECT_EQ(codes, (std::vector<int32_t>{0, 0x10008, 0x10101, 2}));
  EXPECT_TRUE(sharedEvents.empty()) << "the model's shared driver was used";
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(names[i]);
    const ScriptedDriver& d = m[i]->driver;
    EXPECT_EQ(m[i]->fe.Only("driver"),
              (Events{"driver Init", "driver Connect " + names[i], "driver Update 1"}));
    EXPECT_EQ(d.payloadPathSeen, members[i].payloadPath);
    EXPECT_EQ(d.payloadSeen, payload);
    EXPECT_FALSE(FileExists(members[i].payloadPath));
    // The set was confirmed before: the member's own front end is asked, nothing else.
    EXPECT_EQ(m[i]->fe.Only("confirm").size(), 1u);
  }
  EXPECT_EQ(m[0]->fe.LogLines(), (std::vector<std::string>{
                                     "Connecting ... OK", "Updating ... OK",
                                     "--------------- Completed ---------------", ""}));
  EXPECT_EQ(m[1]->fe.LogLines().back(), "");
  EXPECT_EQ(m[1]->fe.LogLines()[3], "Error number: 0x10008");
  EXPECT_EQ(m[3]->fe.Only("box"), (Events{"box Error|Cannot initiate the update.|error"}));
}

// A member's instrument that never comes back as its writer: the member's run says so in its
// own log, above its pending "Updating ... ".
TEST_F(UpdateSetTest, AMemberWhoseInstrumentNeverComesBackSaysSo) {
  VanishingInstrument instrument;
  UpdaterOps* driver = CreateUpdaterInstance(&kWx2040UpdaterOps);
  ASSERT_NE(driver, nullptr);
  Member member("USB0::0x2E5B::0x3A01::AB123::INSTR");
  member.fe.ops.env = &instrument.env;
  std::vector<SetMember> members(1);
  members[0].frontEnd = &member.fe.ops;
  members[0].updater = driver;
  members[0].payloadPath = scratch.File("slot");
  RunUpdateSet(&selection, members, 1, 0);
  ReleaseUpdaterInstance(driver);

  EXPECT_EQ(members[0].code, 0x10004);
  EXPECT_TRUE(instrument.link.Wrote("SYST:UPDATE WX2040\n"));
  EXPECT_EQ(member.fe.LogLines(),
            (std::vector<std::string>{"Connecting ... OK", kLogWriterDidNotReturn,
                                      "Updating ... FAILED",
                                      "Switch to writer mode: no writer answered before the wait "
                                      "ran out (programmer error 0x0001)",
                                      "Nothing was written: the instrument may still be "
                                      "restarting into its writer firmware. Wait until "
                                      "flintgate-cli list shows it in writer mode, then run the "
                                      "same update again; if it never shows, switch it off and on.",
                                      kLogCancelled, "Error number: 0x10004", ""}));
}

// A driver whose Update counts how many Updates run at once and, while fewer than `meet` run and
// some have not started yet, waits for them (a few seconds at most: a fault cannot hang the test).
struct CountingDriver {
  static inline std::mutex mutex;
  static inline std::condition_variable changed;
  static inline int running = 0;
  static inline int most = 0;
  static inline int meet = 1;
  static inline int started = 0;
  static inline int total = 0;
  UpdaterOps ops{};

  CountingDriver() {
    ops.context = this;
    ops.Init = [](void*, ProgressFn, void*) { return 0; };
    ops.Connect = [](void*, const char*) { return 0; };
    ops.Finish = [](void*) { return 0; };
    ops.Update = [](void*, const char*, int32_t) {
      std::unique_lock<std::mutex> lock(mutex);
      most = std::max(most, ++running);
      ++started;
      changed.notify_all();
      changed.wait_for(lock, std::chrono::seconds(5),
                       [] { return running >= meet || started == total; });
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      lock.lock();
      --running;
      return 0;
    };
  }
};

TEST_F(UpdateSetTest, JobsBoundHowManyRunAtOnceAndAllRunTogetherByDefault) {
  const struct {
    size_t jobs;
    int most;  // how many Updates run at once, at most and at some moment
  } cases[] = {{0, 5}, {1, 1}, {2, 2}, {9, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE("jobs " + std::to_string(c.jobs));
    CountingDriver::running = 0;
    CountingDriver::most = 0;
    CountingDriver::meet = c.most;
    CountingDriver::started = 0;
    CountingDriver::total = 5;
    std::vector<std::unique_ptr<Member>> m;
    std::vector<CountingDriver> drivers(5);
    std::vector<SetMember> members(5);
    for (size_t i = 0; i < 5; ++i) {
      m.push_back(std::make_unique<Member>("USB0::1::2::S" + std::to_string(i) + "::INSTR"));
      members[i].frontEnd = &m[i]->fe.ops;
      members[i].updater = &drivers[i].ops;
      members[i].payloadPath = scratch.File("p" + std::to_string(i));
    }
    const auto start = std::chrono::steady_clock::now();
    RunUpdateSet(&selection, members, 1, c.jobs);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(CountingDriver::most, c.most);
    for (const SetMember& s : members) EXPECT_EQ(s.code, 0);
  }
}

}  // namespace
}  // namespace fg::test
