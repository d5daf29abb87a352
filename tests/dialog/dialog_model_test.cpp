// The dialog model without a toolkit: what it draws at start and in each control state, the More
// Info layout, the log, the device list, the file selection with a search that finds none, one
// or two instruments, and the close rules. Each toolkit only draws these (tests/gui for Qt,
// tests/window_win32 for Win32).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/dialog/dialog_model.h"
#include "app/dialog/dialog_template.h"
#include "app/dialog/open_file_filter.h"
#include "link/instrument_identity.h"
#include "recording_view.h"
#include "sequence/run_texts.h"
#include "sim/firmware_maker.h"
#include "sim/sim_family.h"
#include "util/bounded_text.h"

namespace fg::test {
namespace {

using app::DialogModel;

// A search that lists `names` for the WX2040's product id and says each is a WX2040 in its
// normal firmware.
struct FakeSearch {
  std::vector<std::string> names;
  int finds = 0;

  static int32_t Find(void* owner, const char* expression, std::vector<std::string>* out) {
    auto* self = static_cast<FakeSearch*>(owner);
    ++self->finds;
    if (std::string(expression).find("0x3A01") == std::string::npos) return 0;
    *out = self->names;
    return static_cast<int32_t>(out->size());
  }
  static int32_t Identify(void*, const char* resource, InstrumentIdentity* out) {
    *out = InstrumentIdentity{};
    CopyBounded(out->maker, "VANDRELL");
    CopyBounded(out->model, "WX2040");
    CopyBounded(out->serial, resource);
    out->fields = 4;
    return 0;
  }
};

class DialogModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("fg-dialog-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_ / "bus");
    // An empty simulated bus of the test's own: no instrument answers there.
    std::filesystem::permissions(folder_ / "bus", std::filesystem::perms::owner_all);
    setenv("FLINTGATE_SIMBUS", (folder_ / "bus").string().c_str(), 1);
    lockFolder_ = (folder_ / "locks").string();
    search_ = {&fake_, FakeSearch::Find, FakeSearch::Identify};
    env_.search = &search_;
    env_.lockFolder = lockFolder_.c_str();
    view_.heights[app::IDC_LOG] = 140;
    view_.heights[app::IDC_COPYRIGHT] = 24;
    model_.InitDialog();
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

  std::string Firmware(const char* model) {
    const std::string path = (folder_ / (std::string(model) + ".fq")).string();
    std::string error;
    EXPECT_TRUE(sim::WriteFirmwareFile(sim::DefaultFirmwarePlan(*sim::FindSimFamily(model)), path,
                                       &error))
        << error;
    return path;
  }
  void Open(const std::string& path) {
    prompts_.files.push_back(path);
    model_.OnChooseFile();
  }

  std::filesystem::path folder_;
  std::string lockFolder_;
  FakeSearch fake_;
  ResourceSearch search_{};
  RunEnv env_{};
  RecordingView view_;
  RecordingPrompts prompts_;
  DialogModel model_{view_.ops(), prompts_.ops(), nullptr, &env_};
};

constexpr const char* kSimA = "USB0::0x2E5B::0x3A01::SIMA::INSTR";
constexpr const char* kSimB = "USB0::0x2E5B::0x3A01::SIMB::INSTR";

TEST_F(DialogModelTest, StartsWithTheTitleTextsNoFileAndTheLogOutOfSight) {
  EXPECT_EQ(view_.title, "Flintgate 2.04 ");
  EXPECT_EQ(view_.texts[app::IDC_METHOD], "USB Only");
  EXPECT_FALSE(view_.texts[app::IDC_COPYRIGHT].empty());
  EXPECT_EQ(view_.texts[app::IDC_MORE_INFO], "More Info >>");
  EXPECT_EQ(model_.controlState(), NoFile);
  EXPECT_EQ(view_.layout.windowHeight, 470);
  EXPECT_EQ(view_.layout.logX, 12);
  EXPECT_EQ(view_.layout.logY, 470);
  EXPECT_EQ(view_.layout.copyrightY, 420);
  EXPECT_TRUE(view_.shown[app::IDC_DEVICE]);
  EXPECT_FALSE(view_.shown[app::IDC_DEVICE_LIST]);
  EXPECT_EQ(model_.selectedModel(), nullptr);
  const std::string temp = model_.tempPath();
  ASSERT_GT(temp.size(), 20u);
  EXPECT_EQ(temp.substr(temp.size() - 20), "Flintgate_fw_temp204");
}

struct StateRow {
  int32_t state;
  bool fileButton, update, deviceList, close;
};

TEST_F(DialogModelTest, EachControlStateEnablesItsControls) {
  const StateRow rows[] = {{Busy, false, false, false, false},
                           {NoFile, true, false, false, true},
                           {FileReady, true, true, true, true},
                           {7, false, false, false, false}};  // any other value: as Busy
  for (const StateRow& row : rows) {
    for (ControlState from : {Busy, NoFile, FileReady}) {
      model_.SetControlState(from);
      model_.SetControlState(static_cast<ControlState>(row.state));
      SCOPED_TRACE(row.state);
      EXPECT_EQ(view_.enabled[app::IDC_CHOOSE_FILE], row.fileButton);
      EXPECT_EQ(view_.enabled[app::IDC_UPDATE], row.update);
      EXPECT_EQ(view_.enabled[app::IDC_DEVICE_LIST], row.deviceList);
      EXPECT_EQ(view_.closeEnabled, row.close);
      // Help and More Info are never switched off.
      EXPECT_EQ(view_.enabled.count(app::IDC_HELP_BUTTON), 0u);
      EXPECT_EQ(view_.enabled.count(app::IDC_MORE_INFO), 0u);
    }
  }
}

TEST_F(DialogModelTest, MoreInfoOpensTheLogAboveTheCopyrightLineAndBackExactly) {
  const app::MoreInfoLayout collapsed = view_.layout;
  model_.OnMoreInfo();
  EXPECT_TRUE(model_.moreInfo());
  EXPECT_EQ(view_.texts[app::IDC_MORE_INFO], "More Info <<");
  EXPECT_EQ(view_.layout.windowHeight, 610);
  EXPECT_EQ(view_.layout.logX, 9);
  EXPECT_EQ(view_.layout.logY, 571 - 140 - 24);
  EXPECT_EQ(view_.layout.copyrightX, 9);
  EXPECT_EQ(view_.layout.copyrightY, 560);
  model_.OnMoreInfo();
  EXPECT_EQ(view_.texts[app::IDC_MORE_INFO], "More Info >>");
  EXPECT_EQ(view_.layout.windowHeight, collapsed.windowHeight);
  EXPECT_EQ(view_.layout.logY, collapsed.logY);
  EXPECT_EQ(view_.layout.copyrightX, collapsed.copyrightX);
  EXPECT_EQ(view_.layout.copyrightY, collapsed.copyrightY);
}

TEST_F(DialogModelTest, TheLogJoinsPartsFormatsAndShowsErrorNumbers) {
  model_.AppendLog("Connecting ... ");
  model_.AppendLogLine("OK");
  EXPECT_EQ(view_.log, "Connecting ... OK\r\n");
  model_.AppendLogLine("Open File: %s (%d)", "/tmp/a b.fq", 7);
  model_.AppendLogLine("%s", "100% done");
  EXPECT_EQ(view_.log, "Connecting ... OK\r\nOpen File: /tmp/a b.fq (7)\r\n100% done\r\n");
  model_.ClearLog();
  EXPECT_EQ(view_.log, "");

  const std::pair<int32_t, const char*> numbers[] = {
      {0x21, "Error number: 0x0021"},   {1, "Error number: 0x0001"},
      {0, "Error number: 0x0000"},      {0xFFFF, "Error number: 0xFFFF"},
      {0x10008, "Error number: 0x10008"}, {0x10101, "Error number: 0x10101"},
      {0x10ABC, "Error number: 0x10ABC"}, {-1, "Error number: 0xFFFFFFFF"}};
  for (const auto& [number, line] : numbers) {
    model_.ClearLog();
    model_.LogErrorNumber(number);
    EXPECT_EQ(view_.log, std::string(line) + "\r\n");
  }
}

TEST_F(DialogModelTest, TheDeviceListKeepsItsOrderAndItsSelection) {
  app::DeviceListModel list;
  const DeviceListOps* ops = list.ops();
  for (const char* name : {"USB0::0x2E5B::0x3A01::SIMC::INSTR", kSimA, kSimB}) {
    ops->AddString(ops->owner, name);
  }
  ASSERT_EQ(ops->GetCount(ops->owner), 3);
  EXPECT_EQ(list.name(0), kSimA);
  EXPECT_EQ(list.name(2), "USB0::0x2E5B::0x3A01::SIMC::INSTR");
  char text[kResourceNameCapacity] = "x";
  ops->GetText(ops->owner, text, sizeof text);
  EXPECT_STREQ(text, "") << "adding selects nothing";

  ops->SetCurSel(ops->owner, 1);
  ops->AddString(ops->owner, "USB0::0x2E5B::0x3A01::AAAA::INSTR");
  ops->GetText(ops->owner, text, sizeof text);
  EXPECT_STREQ(text, kSimB) << "an entry added before the selected one keeps the selection";
  char small[8];
  ops->GetText(ops->owner, small, sizeof small);
  EXPECT_STREQ(small, "USB0::0");

  // Letter case is ignored first, as a sorted list box does.
  ops->ResetContent(ops->owner);
  for (const char* name : {kSimB, "USB0::0x2E5B::0x3A01::sima::INSTR", kSimA}) {
    ops->AddString(ops->owner, name);
  }
  EXPECT_EQ(list.name(0), kSimA);
  EXPECT_EQ(list.name(1), "USB0::0x2E5B::0x3A01::sima::INSTR");
  EXPECT_EQ(list.name(2), kSimB);
  ops->ResetContent(ops->owner);
  EXPECT_EQ(ops->GetCount(ops->owner), 0);
  ops->GetText(ops->owner, text, sizeof text);
  EXPECT_STREQ(text, "");
}

// The guide says that one instrument found when the file is opened is taken: the Device field
// shows it at once, before Update.
TEST_F(DialogModelTest, OneInstrumentFoundAtTheFileIsShownInTheDeviceField) {
  fake_.names = {kSimA};
  Open(Firmware("WX2040"));
  EXPECT_EQ(model_.controlState(), FileReady);
  EXPECT_EQ(view_.texts[app::IDC_DEVICE], kSimA);
  EXPECT_EQ(view_.names, std::vector<std::string>{kSimA});
  EXPECT_EQ(view_.current, 0);
  EXPECT_TRUE(view_.shown[app::IDC_DEVICE]);
  EXPECT_FALSE(view_.shown[app::IDC_DEVICE_LIST]);
  EXPECT_TRUE(view_.enabled[app::IDC_UPDATE]);
  EXPECT_GT(view_.calls, 0) << "the selection's calls came from the worker";

  // A file whose model has no instrument attached empties the field again.
  Open(Firmware("WX2050"));
  EXPECT_EQ(view_.texts[app::IDC_DEVICE], "");
  EXPECT_TRUE(view_.names.empty());
}

TEST_F(DialogModelTest, TwoInstrumentsShowTheListAndWaitForAPick) {
  fake_.names = {kSimB, kSimA};
  const std::string file = Firmware("WX2040");
  Open(file);
  EXPECT_EQ(view_.names, (std::vector<std::string>{kSimA, kSimB}));
  EXPECT_EQ(view_.current, -1);
  EXPECT_EQ(view_.placeholder, "Pick the instrument to update");
  EXPECT_TRUE(view_.shown[app::IDC_DEVICE_LIST]);
  EXPECT_FALSE(view_.shown[app::IDC_DEVICE]);
  EXPECT_EQ(view_.texts[app::IDC_DEVICE], "");
  EXPECT_FALSE(view_.enabled[app::IDC_UPDATE]);
  EXPECT_EQ(view_.log, "Open File: " + file + "\r\n" + kLogPickInstrument + "\r\n");

  model_.OnDevicePicked(1);
  EXPECT_TRUE(view_.enabled[app::IDC_UPDATE]);
  EXPECT_EQ(model_.deviceField(), kSimB);
  const int finds = fake_.finds;
  model_.OnDeviceListDropDown();  // searches again: both, none picked
  EXPECT_GT(fake_.finds, finds);
  EXPECT_EQ(view_.current, -1);
  EXPECT_FALSE(view_.enabled[app::IDC_UPDATE]);
}

// The Open File dialog gets the catalogue's filter; cancelling it empties the log and nothing
// else changes.
TEST_F(DialogModelTest, ACancelledOpenFileEmptiesTheLogOnly) {
  model_.AppendLogLine("old line");
  model_.OnChooseFile();
  ASSERT_EQ(prompts_.asked.size(), 1u);
  EXPECT_EQ(prompts_.asked[0].kind, "open");
  EXPECT_EQ(prompts_.asked[0].text,
            "Firmware files of every model|*.fq|WX2040 (*.fq)|*.fq|WX2050 (*.fq)|*.fq|"
            "SB7300 (*.fq)|*.fq|");
  EXPECT_EQ(view_.log, "");
  EXPECT_EQ(model_.controlState(), NoFile);
  EXPECT_EQ(fake_.finds, 0);
}

TEST_F(DialogModelTest, CloseIsRefusedWhileBusyAndRemovesThePayloadOtherwise) {
  model_.SetControlState(Busy);
  EXPECT_FALSE(model_.OnCloseRequest(app::CloseSource::kWindow));
  EXPECT_FALSE(model_.OnCloseRequest(app::CloseSource::kSignal));
  model_.SetControlState(FileReady);
  std::FILE* f = std::fopen(model_.tempPath().c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(model_.OnCloseRequest(app::CloseSource::kWindow));
  EXPECT_FALSE(std::filesystem::exists(model_.tempPath()));
  EXPECT_TRUE(prompts_.asked.empty());
}

// Update with one instrument that cannot be reached: the run's calls arrive from the worker in
// order, the box before the closing lines, and the window ends in FileReady.
TEST_F(DialogModelTest, AnUpdateRunsOnTheWorkerAndEndsInFileReady) {
  fake_.names = {kSimA};
  const std::string file = Firmware("WX2040");
  Open(file);
  model_.OnUpdate();
  EXPECT_FALSE(model_.updateRunning());
  ASSERT_EQ(prompts_.asked.size(), 2u);  // the Open File dialog, then the run's box
  EXPECT_EQ(prompts_.asked[1].kind, "message");
  EXPECT_EQ(prompts_.asked[1].text, kMsgCannotConnect);
  EXPECT_EQ(view_.log, "Open File: " + file + "\r\nConnecting ... FAILED\r\n" + kLogCancelled +
                           "\r\nError number: 0x0031\r\n\r\n");
  EXPECT_EQ(model_.controlState(), FileReady);
  EXPECT_EQ(view_.progress, 0);
  EXPECT_EQ(view_.texts[app::IDC_DEVICE], kSimA);
  EXPECT_TRUE(view_.closeEnabled);
}

}  // namespace
}  // namespace fg::test
