// The update run over a scripted driver and a recording front end: codes, log lines, boxes and
// their order, driver calls, the payload file, progress, and how the device list is used.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include <ostream>

#include <memory>
#include <string>
#include <vector>

#include "catalog/updater_ops.h"
#include "sequence/file_selection.h"
#include "sequence/run_texts.h"
#include "sequence/update_run.h"
#include "sequence_fakes.h"
#include "scratch_folder.h"
#include "sim/firmware_maker.h"
#include "tests/firmware/firmware_test_files.h"
#include "updater/updater_families.h"
#include "util/stop_notice.h"
#include "vanishing_instrument.h"
#include "platform/instrument_lock.h"
#include "sequence/instrument_claim.h"
#include "tests/support/lock_holder.h"
#include "visa/simbus/simbus_device.h"

namespace fg::test {
namespace {

constexpr const char* kResource = "USB0::0x2E5B::0x3A01::SIM2040A::INSTR";

std::string SamplePayload() {
  std::string p;
  for (int i = 0; i < 1000; ++i) p.push_back(static_cast<char>((i * 37) & 0xFF));  // NULs included
  return p;
}

class UpdateRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PrivateBusFolder();
    const std::string header = FirmwareText("WX2040", "1.05", "2.04", " sample", "");
    firmwareText = header + SamplePayload();
    firmwarePath = scratch.Write("sample.fq", firmwareText);
    selection.header.payloadOffset = static_cast<int32_t>(header.size());
    CopyBounded(selection.path, firmwarePath.c_str());
    ASSERT_TRUE(selection.file.Open(firmwarePath.c_str()));
    ASSERT_EQ(DigestPayload(selection.file, selection.header.payloadOffset,
                            &selection.payloadDigest),
              0);
    selection.selectedModel = &row;
    tempPath = scratch.File("Flintgate_fw_temp204");
  }

  int32_t Run(UpdateRunOptions options = {}) {
    return RunUpdate(&fe.ops, &selection, tempPath.c_str(), options);
  }

  ScratchFolder scratch;
  RecordingFrontEnd fe;
  ScriptedDriver driver{&fe.events};
  ModelInfo row = MakeModelRow("WX2040", 0x3A01, &driver.ops);
  FileSelection selection{};
  std::string firmwareText;
  std::string firmwarePath;
  std::string tempPath;
};

struct OutcomeCase {
  const char* name;
  int32_t initResult;
  int32_t connectResult;
  int32_t updateResult;
  bool confirm;
  int32_t code;
  std::vector<std::string> log;
  std::vector<std::string> boxes;
  std::vector<std::string> driverCalls;
};

const std::string kConnect = std::string("driver Connect ") + kResource;

std::vector<OutcomeCase> OutcomeCases() {
  const std::string cancelled = "Update was cancelled.";
  const std::string connectBox = "box Error|Cannot connect to the device.|error";
  return {
      {"Completed", 0, 0, 0, true, 0,
       {"Connecting ... OK", "Updating ... OK", "--------------- Completed ---------------", ""},
       {},
       {"driver Init", kConnect, "driver Update 1"}},
      {"Declined", 0, 0, 0, false, 5,
       {"Connecting ... OK", cancelled, "Error number: 0x0005", ""},
       {},
       {"driver Init", kConnect, "driver Finish"}},
      {"InitFailed", 1, 0, 0, true, 0x30,
       {"Connecting ... FAILED", cancelled, "Error number: 0x0030", ""},
       {connectBox},
       {"driver Init"}},
      {"ConnectCannotOpen", 0, 2, 0, true, 0x31,
       {"Connecting ... FAILED", cancelled, "Error number: 0x0031", ""},
       {connectBox},
       {"driver Init", kConnect}},
      {"ConnectCannotAnnounce", 0, 3, 0, true, 0x31,
       {"Connecting ... FAILED", cancelled, "Error number: 0x0031", ""},
       {connectBox},
       {"driver Init", kConnect}},
      {"NoWriter", 0, 0, 4, true, 0x10004,
       {"Connecting ... OK", "Updating ... FAILED", cancelled, "Error number: 0x10004", ""},
       {},
       {"driver Init", kConnect, "driver Update 1"}},
      {"ProgrammingFailed", 0, 0, 8, true, 0x10008,
       {"Connecting ... OK", "Updating ... FAILED", cancelled, "Error number: 0x10008", ""},
       {},
       {"driver Init", kConnect, "driver Update 1"}},
      {"OlderImage", 0, 0, 9, true, 0x10009,
       {"Connecting ... OK", "Updating ... FAILED", cancelled, "Error number: 0x10009", ""},
       {},
       {"driver Init", kConnect, "driver Update 1"}},
      {"MissingImage", 0, 0, 0x101, true, 0x10101,
       {"Connecting ... OK", "Updating ... FAILED", cancelled, "Error number: 0x10101", ""},
       {},
       {"driver Init", kConnect, "driver Update 1"}},
      {"OversizeImage", 0, 0, 0x202, true, 0x10202,
       {"Connecting ... OK", "Updating ... FAILED", cancelled, "Error number: 0x10202", ""},
       {},
       {"driver Init", kConnect, "driver Update 1"}},
  };
}

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

class UpdateRunOutcome : public UpdateRunTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(UpdateRunOutcome, CodeLogBoxesAndDriverCalls) {
  const OutcomeCase& c = GetParam();
  driver.initResult = c.initResult;
  driver.connectResult = c.connectResult;
  driver.updateResult = c.updateResult;
  fe.confirmAnswer = c.confirm;
  fe.list.Preselect(kResource);

  EXPECT_EQ(Run(), c.code);
  EXPECT_EQ(fe.LogLines(), c.log);
  EXPECT_EQ(fe.Only("box "), c.boxes);
  EXPECT_EQ(fe.Only("driver "), c.driverCalls);

  // Busy and a fresh bar first, FileReady last, whatever the outcome.
  ASSERT_GE(fe.events.size(), 3u);
  EXPECT_EQ(fe.events[0], "state Busy");
  EXPECT_EQ(fe.events[1], "bar init");
  EXPECT_EQ(fe.events.back(), "state FileReady");
  EXPECT_EQ(fe.Only("state "), (Events{"state Busy", "state FileReady"}));

  // The Device field shows the name before the connection is tried.
  EXPECT_LT(fe.IndexOf(std::string("device ") + kResource), fe.IndexOf("log Connecting ... "));

  // The confirmation is asked exactly when the connection stands, and names the instrument.
  const Events confirms = fe.Only("confirm ");
  if (c.connectResult == 0 && c.initResult == 0) {
    EXPECT_EQ(confirms, (Events{std::string("confirm Confirm Firmware Update|Are you sure you want "
                                            "to update ") + kResource + "?"}));
  } else {
    EXPECT_TRUE(confirms.empty());
  }

  // A box is closed before the closing lines are written.
  if (!c.boxes.empty()) {
    EXPECT_LT(fe.IndexOf(c.boxes[0]), fe.IndexOf("line Update was cancelled."));
    EXPECT_GT(fe.IndexOf(c.boxes[0]), fe.IndexOf("line FAILED"));
  }

  // The payload never outlives the run, and the user's file is untouched.
  EXPECT_FALSE(FileExists(tempPath));
  EXPECT_EQ(ReadWholeFile(firmwarePath), firmwareText);
  // The list was not searched: it already held the instrument.
  EXPECT_TRUE(fe.Only("list ").empty());
}

INSTANTIATE_TEST_SUITE_P(Codes, UpdateRunOutcome, ::testing::ValuesIn(OutcomeCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Failures before any connection: no "Connecting" line, the closing lines only.
TEST_F(UpdateRunTest, NoModelSelectedEndsAtOnceWithoutBusy) {
  selection.selectedModel = nullptr;
  EXPECT_EQ(Run(), kRunNoModel);
  EXPECT_EQ(fe.events, (Events{"line Update was cancelled.", "line Error number: 0x0001", "line ",
                               "state NoFile"}));
}

TEST_F(UpdateRunTest, ModelWithoutUpdaterIsRefusedBeforeAnySearch) {
  UpdaterOps halfBuilt = driver.ops;
  halfBuilt.Update = nullptr;  // a table with an empty slot cannot run an update
  for (const UpdaterOps* updater : {static_cast<const UpdaterOps*>(nullptr),
                                    static_cast<const UpdaterOps*>(&halfBuilt)}) {
    RecordingFrontEnd local;
    row.updater = updater;
    EXPECT_EQ(RunUpdate(&local.ops, &selection, tempPath.c_str()), kRunNoUpdater);
    EXPECT_EQ(local.Only("box "), (Events{"box Error|Cannot initiate the update.|error"}));
    EXPECT_EQ(local.LogLines(), (std::vector<std::string>{"Update was cancelled.",
                                                          "Error number: 0x0002", ""}));
    EXPECT_TRUE(local.Only("list ").empty());
    EXPECT_EQ(local.events.back(), "state FileReady");
    EXPECT_FALSE(FileExists(tempPath));
  }
  EXPECT_TRUE(fe.Only("driver ").empty());
}

TEST_F(UpdateRunTest, UnreadableFirmwareOrTempFolderCannotInitiate) {
  const std::string missingTemp = scratch.File("gone/Flintgate_fw_temp204");
  struct Case {
    const char* name;
    bool fileOpen;
    std::string temp;
  } cases[] = {{"no open file", false, tempPath},
               {"no temporary folder", true, missingTemp},
               {"no temporary path", true, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingFrontEnd local;
    if (!c.fileOpen) selection.file.Close();
    EXPECT_EQ(RunUpdate(&local.ops, &selection, c.temp.c_str()), kRunNoPayload);
    EXPECT_EQ(local.Only("box "), (Events{"box Error|Cannot initiate the update.|error"}));
    EXPECT_EQ(local.LogLines(), (std::vector<std::string>{"Update was cancelled.",
                                                          "Error number: 0x0003", ""}));
    EXPECT_TRUE(local.Only("list ").empty());
    EXPECT_TRUE(local.Only("log Connecting").empty());
    if (!c.fileOpen) {
      ASSERT_TRUE(selection.file.Open(firmwarePath.c_str()));
    ASSERT_EQ(DigestPayload(selection.file, selection.header.payloadOffset,
                            &selection.payloadDigest),
              0);
    }
  }
  EXPECT_TRUE(fe.Only("driver ").empty());
}

// The payload comes from the file as it was accepted: the descriptor kept since the selection,
// at the size checked then, whatever the path names by the time Update is pressed.
TEST_F(UpdateRunTest, PayloadComesFromTheAcceptedFileNotFromThePathAgain) {
  const std::string grown = firmwareText + "appended after acceptance";
  struct Case {
    const char* name;
    std::function<void()> change;
  } cases[] = {
      {"renamed away and replaced by a link to a device",
       [&] {
         std::filesystem::rename(firmwarePath, firmwarePath + ".old");
         std::filesystem::create_symlink("/dev/zero", firmwarePath);
       }},
      {"grown since", [&] { scratch.Write("sample.fq", grown); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(firmwarePath);
    std::filesystem::remove(firmwarePath + ".old");
    scratch.Write("sample.fq", firmwareText);
    ASSERT_TRUE(selection.file.Open(firmwarePath.c_str()));
    ASSERT_EQ(DigestPayload(selection.file, selection.header.payloadOffset,
                            &selection.payloadDigest),
              0);
    c.change();
    fe.list.Preselect(kResource);
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(driver.payloadSeen, SamplePayload());
  }
}

// A package accepted through the file selection, then 16 bytes inside its MAIN image overwritten
// in place (same size, same file): the run refuses it before the search and the driver, with a
// line that says why, and leaves no payload copy. Until then the same file updates.
TEST_F(UpdateRunTest, BytesOverwrittenInPlaceSinceAcceptanceAreNeverInstalled) {
  const sim::SimFamily& family = sim::kWx2040SimFamily;
  const std::string package = scratch.File("wx2040.fq");
  std::string error;
  ASSERT_TRUE(sim::WriteFirmwareFile(sim::DefaultFirmwarePlan(family), package, &error)) << error;
  const uint32_t mainRow = sim::FindPartitionByName(family, "MAIN");
  ASSERT_NE(mainRow, sim::kNoPartition);
  const auto mainBlock = static_cast<int32_t>(family.partitions[mainRow].firstBlock);
  const int64_t mainRecord = ImageRecordOffset(package, mainBlock);
  ASSERT_GT(mainRecord, 0);

  FileSelection accepted{};
  RecordingFrontEnd opener;
  ASSERT_EQ(SelectFirmwareFile(&opener.ops, &accepted, package.c_str()), 0);
  UpdateRunOptions options;
  options.updater = &driver.ops;
  fe.list.Preselect(kResource);
  ASSERT_EQ(RunUpdate(&fe.ops, &accepted, tempPath.c_str(), options), 0);
  const std::string installed = driver.payloadSeen;

  OverwriteInPlace(package, mainRecord + 100, 16);
  RecordingFrontEnd changed;
  changed.list.Preselect(kResource);
  const size_t driverCalls = fe.Only("driver ").size();
  EXPECT_EQ(RunUpdate(&changed.ops, &accepted, tempPath.c_str(), options), kRunNoPayload);
  EXPECT_EQ(changed.LogLines(), (std::vector<std::string>{kLogFileChanged, kLogCancelled,
                                                          "Error number: 0x0003", ""}));
  EXPECT_EQ(changed.Only("box "), (Events{"box Error|Cannot initiate the update.|error"}));
  EXPECT_EQ(fe.Only("driver ").size(), driverCalls) << "the driver was called";
  EXPECT_TRUE(changed.Only("device ").empty());
  EXPECT_FALSE(FileExists(tempPath));
  EXPECT_EQ(driver.payloadSeen, installed);
}

TEST_F(UpdateRunTest, EmptyListAndNoInstrumentGivesInformationBox) {
  EXPECT_EQ(Run(), kRunNoInstrument);
  EXPECT_EQ(fe.Only("list "), (Events{"list reset"}));
  EXPECT_EQ(fe.Only("box "), (Events{"box Search Instrument|No instrument found.|information"}));
  EXPECT_EQ(fe.LogLines(),
            (std::vector<std::string>{"Update was cancelled.", "Error number: 0x0004", ""}));
  EXPECT_TRUE(fe.Only("driver ").empty());
  EXPECT_TRUE(fe.Only("device ").empty());
  EXPECT_FALSE(FileExists(tempPath));  // extracted before the search, deleted at the end
  EXPECT_EQ(fe.events.back(), "state FileReady");
}

TEST_F(UpdateRunTest, DriverSeesExactlyThePayloadWhichIsDeletedAfterwards) {
  // A stale, longer file at the payload path must not leak its tail into the run.
  scratch.Write("Flintgate_fw_temp204", std::string(5000, 'x'));
  fe.list.Preselect(kResource);
  driver.appendOnUpdate = std::string(7794, '\x5A');  // the WX2040 driver appends its OEM record
  driver.updateResult = 8;
  EXPECT_EQ(Run(), kRunDriverErrorBase + 8);
  EXPECT_EQ(driver.payloadPathSeen, tempPath);
  EXPECT_EQ(driver.payloadSeen, SamplePayload());
  EXPECT_FALSE(FileExists(tempPath));
  EXPECT_EQ(ReadWholeFile(firmwarePath), firmwareText);
}

TEST_F(UpdateRunTest, EveryProgressReportPumpsEventsBeforeMovingTheBar) {
  fe.list.Preselect(kResource);
  driver.progress = {0, 1, 3, 40, 100};
  ASSERT_EQ(Run(), 0);
  const int start = fe.IndexOf("driver Update 1");
  ASSERT_GE(start, 0);
  ASSERT_GE(fe.events.size(), static_cast<size_t>(start) + 12);
  const Events during(fe.events.begin() + start + 1, fe.events.begin() + start + 12);
  EXPECT_EQ(during, (Events{"pump", "bar 0", "pump", "bar 1", "pump", "bar 3", "pump", "bar 40",
                            "pump", "bar 100", "line OK"}));
}

TEST_F(UpdateRunTest, RepeatedRunsReuseTheListAndRestartTheBar) {
  fe.list.Preselect(kResource);
  ASSERT_EQ(Run(), 0);
  ASSERT_EQ(Run(), 0);
  EXPECT_TRUE(fe.Only("list ").empty());
  EXPECT_EQ(fe.Only("driver Connect"), (Events{kConnect, kConnect}));
  EXPECT_EQ(fe.Only("driver Init").size(), 2u);
  // Each run starts its bar at 0 before the driver reports anything.
  EXPECT_EQ(fe.Only("bar "), (Events{"bar init", "bar 0", "bar 50", "bar 100", "bar init", "bar 0",
                                     "bar 50", "bar 100"}));
}

TEST_F(UpdateRunTest, ListWithSeveralAndNoChoiceConnectsToTheEmptyText) {
  // What a refresh that found two instruments leaves: entries, no selection, empty text.
  fe.list.entries = {"USB0::0x2E5B::0x3A01::A::INSTR", "USB0::0x2E5B::0x3A01::B::INSTR"};
  driver.connectResult = 2;
  EXPECT_EQ(Run(), kRunConnectFailed);
  EXPECT_EQ(fe.Only("driver Connect"), (Events{"driver Connect "}));
  EXPECT_EQ(fe.Only("device"), (Events{"device "}));
  EXPECT_TRUE(fe.Only("list ").empty());
}

TEST_F(UpdateRunTest, FlagsReachTheDriverAndADryRunSaysNothingWasProgrammed) {
  fe.list.Preselect(kResource);
  ASSERT_EQ(Run(UpdateRunOptions{0}), 0);
  ASSERT_EQ(Run(UpdateRunOptions{kUpdateCheckVersions | kUpdateDryRun}), 0);
  EXPECT_EQ(fe.Only("driver Update"), (Events{"driver Update 0", "driver Update 257"}));
  const std::vector<std::string> lines = fe.LogLines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[2], kLogCompleted);
  EXPECT_EQ(lines[6], kLogDryRunPassed);
  EXPECT_EQ(lines[7], "");
}

// A handler for simulated instruments that only need to be found.
class SilentDevice : public simbus::SimDeviceHandler {
 public:
  bool OnSessionOpened() override { return true; }
  void OnSessionClosed() override {}
  void OnMessageOut(const uint8_t*, size_t, bool) override {}
};

TEST_F(UpdateRunTest, EmptyListIsSearchedAndTheAlphabeticallyFirstInstrumentTaken) {
  SilentDevice handler;
  std::vector<std::unique_ptr<simbus::SimBusDevice>> devices;
  for (const char* serial : {"SIMQ", "SIMB", "SIMK"}) {
    std::string error;
    devices.push_back(simbus::SimBusDevice::Attach(
        PrivateBusFolder(), simbus::SimDeviceIdentity{0x2E5B, 0x3A01, serial, 0}, &handler, &error));
    ASSERT_NE(devices.back(), nullptr) << error;
  }
  // An instrument of another model is not a candidate.
  std::string error;
  devices.push_back(simbus::SimBusDevice::Attach(
      PrivateBusFolder(), simbus::SimDeviceIdentity{0x2E5B, 0x3A02, "SIMA", 0}, &handler, &error));
  ASSERT_NE(devices.back(), nullptr) << error;

  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(fe.list.entries, (std::vector<std::string>{"USB0::0x2E5B::0x3A01::SIMB::INSTR",
                                                       "USB0::0x2E5B::0x3A01::SIMK::INSTR",
                                                       "USB0::0x2E5B::0x3A01::SIMQ::INSTR"}));
  EXPECT_EQ(fe.Only("list select"), (Events{"list select 0"}));
  EXPECT_EQ(fe.Only("driver Connect"),
            (Events{"driver Connect USB0::0x2E5B::0x3A01::SIMB::INSTR"}));
  EXPECT_EQ(fe.Only("device "), (Events{"device USB0::0x2E5B::0x3A01::SIMB::INSTR"}));
}

// A front end whose user can pick (the window) is told to have one picked instead of a guess or
// a connection to the empty name: from a list the file selection filled, and from the search at
// Update. The run ends before the driver, with its one line instead of the failure lines.
TEST_F(UpdateRunTest, SeveralInstrumentsAndNoPickEndBeforeConnecting) {
  UpdateRunOptions picker;
  picker.pickAmongSeveral = true;
  fe.list.entries = {"USB0::0x2E5B::0x3A01::A::INSTR", "USB0::0x2E5B::0x3A01::B::INSTR"};
  EXPECT_EQ(Run(picker), kRunPickInstrument);
  EXPECT_TRUE(fe.Only("driver").empty());
  EXPECT_EQ(fe.LogLines(), std::vector<std::string>{kLogPickInstrument});

  SilentDevice handler;
  std::vector<std::unique_ptr<simbus::SimBusDevice>> devices;
  for (const char* serial : {"SIMQ", "SIMB"}) {
    std::string error;
    devices.push_back(simbus::SimBusDevice::Attach(
        PrivateBusFolder(), simbus::SimDeviceIdentity{0x2E5B, 0x3A01, serial, 0}, &handler, &error));
    ASSERT_NE(devices.back(), nullptr) << error;
  }
  fe.list.entries.clear();
  EXPECT_EQ(Run(picker), kRunPickInstrument);
  EXPECT_EQ(fe.list.entries.size(), 2u);
  EXPECT_TRUE(fe.Only("list select").empty());
  EXPECT_TRUE(fe.Only("driver").empty());
  EXPECT_FALSE(std::ifstream(tempPath).good()) << "the payload is removed as on every end";
  // Once one is picked the run goes on with it.
  fe.list.Preselect("USB0::0x2E5B::0x3A01::SIMQ::INSTR");
  EXPECT_EQ(Run(picker), 0);
  EXPECT_EQ(fe.Only("driver Connect"), (Events{"driver Connect USB0::0x2E5B::0x3A01::SIMQ::INSTR"}));
}

// What a stop that ends the program at once would write now.
std::string StopNoticesNow() {
  static std::string written;
  written.clear();
  WriteStopNotices([](const char* text, size_t size) { written.append(text, size); });
  return written;
}

std::string g_noticesAtConfirm;
std::string g_noticesDuringWait;

// The wait clock of a vanishing instrument that notes, at the first sleep after the update
// command, what a stop that ends the program would write then.
void SleepNotingStopNotices(void* owner, uint32_t ms) {
  if (g_noticesDuringWait.empty()) g_noticesDuringWait = StopNoticesNow();
  FakeClock::Sleep(owner, ms);
}

// Once the update command went out, a stop that ends the program leaves the instrument in writer
// mode: the run's notice says so, naming it, and says to run the same update again. Before the
// switch and after the run there is nothing to say.
TEST_F(UpdateRunTest, AStopAfterTheSwitchSaysTheInstrumentStaysInWriterMode) {
  VanishingInstrument instrument;
  const WaitClock noting = {nullptr, FakeClock::Now, SleepNotingStopNotices};
  instrument.env.waitClock = &noting;
  g_noticesDuringWait.clear();
  g_noticesAtConfirm = "(not asked)";
  RecordingFrontEnd front;
  front.list.Preselect(kResource);
  front.ops.env = &instrument.env;
  front.ops.Confirm = [](void*, const char*, const char*) {
    g_noticesAtConfirm = StopNoticesNow();
    return true;
  };
  UpdaterOps* driver = CreateUpdaterInstance(&kWx2040UpdaterOps);
  ASSERT_NE(driver, nullptr);
  UpdateRunOptions options;
  options.updater = driver;
  EXPECT_EQ(RunUpdate(&front.ops, &selection, tempPath.c_str(), options), 0x10004);
  ReleaseUpdaterInstance(driver);

  EXPECT_EQ(g_noticesAtConfirm, "");
  EXPECT_EQ(g_noticesDuringWait, LeftInWriterModeNotice(kResource));
  EXPECT_EQ(g_noticesDuringWait.rfind(std::string("\n") + kResource +
                                          ": stopped with the instrument in writer mode",
                                      0),
            0u);
  EXPECT_NE(g_noticesDuringWait.find("Run the same update again"), std::string::npos);
  EXPECT_EQ(StopNoticesNow(), "") << "a line outlived its run";
}

// The run's own writer-mode observer puts its notes above the pending "Updating ... ": an
// instrument that never came back always, the wait for its restart when the front end asks.
TEST_F(UpdateRunTest, WriterModeNotesGoAboveTheUpdatingLine) {
  for (bool noteWait : {false, true}) {
    SCOPED_TRACE(noteWait ? "the wait noted" : "the wait not noted");
    VanishingInstrument instrument;
    RecordingFrontEnd front;
    front.list.Preselect(kResource);
    front.ops.env = &instrument.env;
    UpdaterOps* driver = CreateUpdaterInstance(&kWx2040UpdaterOps);
    ASSERT_NE(driver, nullptr);
    UpdateRunOptions options;
    options.updater = driver;
    options.noteRestartWait = noteWait;
    EXPECT_EQ(RunUpdate(&front.ops, &selection, tempPath.c_str(), options), 0x10004);
    ReleaseUpdaterInstance(driver);

    // The failure's own lines come between the failed step and the closing lines.
    std::vector<std::string> expected = {
        "Connecting ... OK", kLogWriterDidNotReturn, "Updating ... FAILED",
        "Switch to writer mode: no writer answered before the wait ran out (programmer error "
        "0x0001)",
        "Nothing was written: the instrument may still be restarting into its writer firmware. "
        "Wait until flintgate-cli list shows it in writer mode, then run the same update again; "
        "if it never shows, switch it off and on.",
        kLogCancelled, "Error number: 0x10004", ""};
    if (noteWait) expected.insert(expected.begin() + 1, kLogWaitingForRestart);
    EXPECT_EQ(front.LogLines(), expected);
    EXPECT_EQ(FakeClock::nowMs, 20000) << "reopened until the deadline, on the run's clock";
  }
}

// An instrument for the real driver and programmer that answers every "*IDN?" with `identity`,
// in the run context `env`; every write is kept.
struct IdentifiedInstrument {
  explicit IdentifiedInstrument(std::string identity) : identity(std::move(identity)) {
    FakeLink::current = &link;
    link.onWrite = [this](const Bytes& bytes) {
      if (std::string(bytes.begin(), bytes.end()) == "*IDN?\n") link.replies.emplace_back(this->identity);
    };
    env = *clock.env();
    env.linkSlots = &VanishingInstrument::kSlots;
  }
  ~IdentifiedInstrument() { FakeLink::current = nullptr; }
  std::vector<std::string> Writes() const {
    std::vector<std::string> out;
    for (size_t i = 0; i < link.writes.size(); ++i) out.push_back(link.WriteText(i));
    return out;
  }

  std::string identity;
  FakeClock clock;
  FakeLink link;
  RunEnv env{};
};

// A WX2040 file and a WX2050: refused when Connect learns the model, before the question, with a
// box and a line that name both models; nothing but "*IDN?" reached the instrument.
TEST_F(UpdateRunTest, AnotherModelIsRefusedBeforeTheConfirmation) {
  IdentifiedInstrument instrument("VANDRELL,WX2050,SN2,1.00-0-01");
  fe.list.Preselect(kResource);
  fe.ops.env = &instrument.env;
  UpdaterOps* real = CreateUpdaterInstance(&kWx2040UpdaterOps);
  UpdateRunOptions options;
  options.updater = real;
  EXPECT_EQ(Run(options), kRunOtherModel);
  ReleaseUpdaterInstance(real);

  EXPECT_TRUE(fe.Only("confirm").empty());
  EXPECT_TRUE(fe.Only("model?").empty());
  EXPECT_EQ(fe.Only("box "), (Events{"box Error|This instrument is a WX2050, but the firmware "
                                     "file is for the WX2040.|error"}));
  EXPECT_EQ(fe.LogLines(),
            (std::vector<std::string>{
                "Connecting ... FAILED",
                std::string("The instrument ") + kResource +
                    " is a WX2050; this file is for the WX2040. Nothing was written to it: use a "
                    "WX2050 firmware file for it.",
                kLogCancelled, "Error number: 0x0032", ""}));
  EXPECT_EQ(instrument.Writes(), (std::vector<std::string>{"*IDN?\n"}));
}

// A writer that names no model: asked about before the update confirmation. No ends the run with
// its own number and nothing written; Yes lets the run go on, and the programmer lets the
// confirmed writer be written to.
TEST_F(UpdateRunTest, AWriterThatNamesNoModelIsAskedAboutFirst) {
  for (bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "confirmed" : "not confirmed");
    IdentifiedInstrument instrument("WRITER,,SN7,2.10-0-01-02-03-0105");
    RecordingFrontEnd front;
    front.list.Preselect(kResource);
    front.ops.env = &instrument.env;
    front.modelAnswer = yes;
    UpdaterOps* real = CreateUpdaterInstance(&kWx2040UpdaterOps);
    UpdateRunOptions options;
    options.updater = real;
    const int32_t code = RunUpdate(&front.ops, &selection, tempPath.c_str(), options);
    ReleaseUpdaterInstance(real);

    const Events asked = front.Only("model? ");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], "model? Confirm Instrument Model|" +
                            ConfirmWriterModelText(kResource, "SN7", "WX2040") + "|SN7|WX2040");
    if (!yes) {
      EXPECT_EQ(code, kRunWriterModelUnconfirmed);
      EXPECT_TRUE(front.Only("confirm").empty());
      EXPECT_TRUE(front.Only("box").empty());
      EXPECT_EQ(front.LogLines(),
                (std::vector<std::string>{"Connecting ... OK", WriterNamesNoModelLine(kResource),
                                          kLogCancelled, "Error number: 0x0033", ""}));
      EXPECT_EQ(instrument.Writes(),
                (std::vector<std::string>{"*IDN?\n", std::string("DISP:TEXT \"") + kResource + "\"\n",
                                          "DISP:TEXT:CLEAR\n"}));
    } else {
      // The sample payload holds no image: the package checks are reached, and refuse it.
      EXPECT_EQ(code, kRunDriverErrorBase + 0x101);
      EXPECT_LT(front.IndexOf(asked[0]), front.IndexOf(front.Only("confirm ").at(0)));
    }
  }
}

// Another process updates the instrument (another flintgate-cli, or the window): the run is
// refused before its driver is even started, names the holder, and goes on once it is gone.
TEST_F(UpdateRunTest, AnInstrumentAnotherProcessUpdatesIsRefusedBeforeAnythingIsSent) {
  fe.list.Preselect(kResource);
  testing::LockHoldingChild other(nullptr, InstrumentKeyOfResource(kResource), "WX2040");
  ASSERT_TRUE(other.holding());
  EXPECT_EQ(Run(), kRunInstrumentBusy);

  const std::string refusal = "The instrument SIM2040A is being updated by " +
                              platform::CurrentProgramName() + " (process " +
                              std::to_string(other.pid()) + "); nothing was sent to it.";
  EXPECT_EQ(fe.Only("box"), (Events{"box Instrument in Use|" + refusal + "|error"}));
  EXPECT_TRUE(fe.Only("driver").empty());
  EXPECT_EQ(fe.LogLines(), (std::vector<std::string>{refusal, kLogCancelled,
                                                     "Error number: 0x0040", ""}));
  EXPECT_EQ(fe.events.back(), "state FileReady");
  EXPECT_FALSE(FileExists(tempPath));

  other.Kill();
  fe.events.clear();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(fe.Only("driver"), (Events{"driver Init", kConnect, "driver Update 1"}));
}

// An instrument left in writer mode: the real WX2050 driver and programmer find the writer at
// the first question, and the run says so, with the model the device list's search learnt.
TEST_F(UpdateRunTest, AnInstrumentFoundInWriterModeIsNotedWithTheModelItNames) {
  const std::string writer = "USB0::0x2E5B::0x3A01::AB123::INSTR";
  for (bool searched : {false, true}) {
    SCOPED_TRACE(searched ? "found by the search" : "named by the user");
    FakeClock clock;
    FakeLink link;
    FakeLink::current = &link;
    // Asked by the driver's Connect and by the switch; then the identity query fails: 8.
    link.Queue({"WRITER,WX2050,AB123,1.10-01-02", "WRITER,WX2050,AB123,1.10-01-02"});
    RunEnv env = *clock.env();
    env.linkSlots = &VanishingInstrument::kSlots;
    RecordingFrontEnd front;
    SortedDeviceList list;
    list.ops()->AddString(list.ops()->owner, writer.c_str());
    if (searched) {
      FoundInstrument found{};
      CopyBounded(found.resource, writer.c_str());
      found.mode = InstrumentMode::kWriter;
      CopyBounded(found.model, "WX2050");
      list.ops()->SetEntryInfo(list.ops()->owner, &found);
    }
    list.ops()->SetCurSel(list.ops()->owner, 0);
    front.ops.deviceList = list.ops();
    front.ops.env = &env;
    UpdaterOps* driver = CreateUpdaterInstance(&kWx2050UpdaterOps);
    ASSERT_NE(driver, nullptr);
    UpdateRunOptions options;
    options.updater = driver;
    EXPECT_EQ(RunUpdate(&front.ops, &selection, tempPath.c_str(), options), 0x10008);
    ReleaseUpdaterInstance(driver);
    FakeLink::current = nullptr;

    EXPECT_EQ(front.LogLines(),
              (std::vector<std::string>{"Connecting ... OK",
                                        FoundInWriterModeText(searched ? "WX2050" : nullptr),
                                        "Updating ... FAILED",
                                        "Identification: the link failed to read (programmer "
                                        "error 0x0002)",
                                        "Nothing was programmed: the instrument is in writer "
                                        "mode with all its old images. Run the same update "
                                        "again; it finds the instrument in writer mode.",
                                        kLogCancelled, "Error number: 0x10008", ""}));
    EXPECT_EQ(FakeClock::sleeps, 0) << "no switch, no wait";
  }
  EXPECT_EQ(FoundInWriterModeText("WX2050"),
            "The instrument was found in writer mode (it names WX2050); the update goes on from "
            "there.");
  EXPECT_EQ(FoundInWriterModeText(""),
            "The instrument was found in writer mode (it names no model); the update goes on "
            "from there.");
}

}  // namespace
}  // namespace fg::test
