// Who may plant an instrument on the simulated bus on Windows: the folder rule (a real folder of
// this user's whose access list admits nobody else), its diagnostics, where the folder lives by
// default, and leftover entries of devices that are gone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/simbus/recording_handler.h"
#include "tests/simbus/windows_folders.h"
#include "tests/visa/support/env_guard.h"
#include "tests/visa/support/private_bus.h"
#include "visa/builtin_providers.h"
#include "visa/simbus/simbus_device.h"
#include "visa/simbus/simbus_device_name.h"
#include "visa/simbus/simbus_folder.h"
#include "visa/simbus/simbus_pipe_entry_win32.h"

namespace fg {
namespace {

using testing::EnvGuard;
using testing::Exists;
using testing::MakeFolder;
using testing::PrivateBus;
using testing::RecordingHandler;
using testing::WriteWholeFile;

constexpr char kEverybodyReads[] = "(A;OICI;FR;;;WD)";

TEST(BusFolderRuleTest, OnlyAFolderOfOursThatAdmitsNobodyElseIsSafe) {
  PrivateBus bus;
  ASSERT_FALSE(bus.path().empty());
  const std::string ours = bus.path() + "\\ours";
  const std::string trusted = bus.path() + "\\trusted";
  const std::string open = bus.path() + "\\open";
  const std::string file = bus.path() + "\\plain-file";
  ASSERT_TRUE(MakeFolder(ours));
  // The system and the administrators may open anything anyway.
  ASSERT_TRUE(MakeFolder(trusted, "(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"));
  ASSERT_TRUE(MakeFolder(open, kEverybodyReads));
  ASSERT_TRUE(WriteWholeFile(file, "not a folder"));

  struct Row {
    std::string path;
    bool safe;
    const char* mentions;
  };
  const Row rows[] = {
      {ours, true, ""},
      {trusted, true, ""},
      {ours + "\\", true, ""},
      {open, false, "lets others in: its access list admits "},
      {file, false, "not a directory"},
      {bus.path() + "\\missing", false, "cannot be read"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    std::string problem;
    EXPECT_EQ(simbus::CheckBusFolder(row.path, &problem), row.safe) << problem;
    if (!row.safe) {
      EXPECT_NE(problem.find(row.mentions), std::string::npos) << problem;
      EXPECT_NE(problem.find(row.path), std::string::npos) << problem;
    }
  }
  std::string problem;
  simbus::CheckBusFolder(open, &problem);
  EXPECT_NE(problem.find("S-1-1-0"), std::string::npos) << problem;  // Everyone
}

// An entry planted in a folder others may write to, naming a live device's pipe, reaches nothing.
TEST(BusFolderRuleTest, UnsafeFolderHidesItsDevicesAndIsDiagnosed) {
  PrivateBus bus;
  RecordingHandler handler;
  std::string error;
  const simbus::SimDeviceIdentity identity{0x2E5B, 0x3A01, "PLANTED", 0};
  auto device = simbus::SimBusDevice::Attach(bus.path(), identity, &handler, &error);
  ASSERT_NE(device, nullptr) << error;
  std::string problem;
  auto folder = simbus::BusFolder::Open(bus.path(), &problem);
  ASSERT_NE(folder, nullptr) << problem;
  const std::string name = simbus::DeviceEntryName(identity);
  std::string pipeName;
  ASSERT_TRUE(simbus::ReadPipeEntry(*folder, name, &pipeName));
  const std::string open = bus.path() + "\\open";
  ASSERT_TRUE(MakeFolder(open, kEverybodyReads));
  ASSERT_TRUE(WriteWholeFile(open + "\\" + name, pipeName + "\n"));

  auto provider = visa::CreateSimBusProvider();
  {
    EnvGuard env{{"FLINTGATE_SIMBUS", open.c_str()}};
    std::vector<std::string> names;
    provider->ListResources(&names);
    EXPECT_TRUE(names.empty());
    std::unique_ptr<visa::InstrSession> session;
    EXPECT_EQ(provider->Open(device->ResourceName(), 1000, &session), visa::VI_ERROR_RSRC_NFOUND);
    std::vector<visa::Diagnostic> diagnostics;
    provider->Diagnose(&diagnostics);
    ASSERT_EQ(diagnostics.size(), 1u);
    EXPECT_EQ(diagnostics[0].provider, "simbus");
    EXPECT_NE(diagnostics[0].problem.find(open), std::string::npos);
    EXPECT_NE(diagnostics[0].advice.find("access list admits only you"), std::string::npos);
    EXPECT_NE(provider->Describe().find("ignored"), std::string::npos);
    EXPECT_EQ(handler.Events(), std::vector<std::string>{});  // nobody reached the device
  }
  std::vector<std::string> names;
  provider->ListResources(&names);
  EXPECT_EQ(names, std::vector<std::string>{device->ResourceName()});
  std::vector<visa::Diagnostic> diagnostics;
  provider->Diagnose(&diagnostics);
  EXPECT_TRUE(diagnostics.empty());
  EXPECT_NE(provider->Describe().find("1 simulated instrument"), std::string::npos);
}

TEST(BusFolderRuleTest, DeviceRefusesToAttachToAnUnsafeFolder) {
  PrivateBus bus;
  const std::string open = bus.path() + "\\open";
  ASSERT_TRUE(MakeFolder(open, kEverybodyReads));
  RecordingHandler handler;
  std::string error;
  EXPECT_EQ(simbus::SimBusDevice::Attach(open, {0x2E5B, 0x3A01, "SN", 0}, &handler, &error),
            nullptr);
  EXPECT_NE(error.find("lets others in"), std::string::npos) << error;
}

TEST(DefaultBusFolderTest, EnvironmentThenTheUsersTemporaryFolder) {
  PrivateBus scratch;  // sets FLINTGATE_SIMBUS itself; used here as a scratch folder
  const std::string root = scratch.path();
  const std::string temp = root + "\\";
  EnvGuard env{{"FLINTGATE_SIMBUS", (root + "\\chosen\\").c_str()},
               {"TMP", temp.c_str()},
               {"TEMP", temp.c_str()}};
  std::string problem;
  EXPECT_EQ(simbus::DefaultBusFolder(), root + "\\chosen");
  EXPECT_TRUE(simbus::CheckBusFolder(root + "\\chosen", &problem)) << problem;  // made private

  testing::SetEnvironment("FLINTGATE_SIMBUS", nullptr);
  EXPECT_EQ(simbus::DefaultBusFolder(), root + "\\flintgate-simbus");
  EXPECT_TRUE(simbus::CheckBusFolder(root + "\\flintgate-simbus", &problem)) << problem;
}

TEST(BusDeviceListTest, LeftoverEntryOfAGoneDeviceIsSkippedAndReplaced) {
  PrivateBus bus;
  const simbus::SimDeviceIdentity identity{0x2E5B, 0x3A02, "CRASHED", 0};
  const std::string entry = bus.path() + "\\" + simbus::DeviceEntryName(identity);
  // A device that ended without removing its entry: the pipe it names is gone.
  ASSERT_TRUE(WriteWholeFile(entry, simbus::NewDevicePipeName() + "\n"));
  // Files that are not entries of devices are ignored too.
  ASSERT_TRUE(WriteWholeFile(bus.path() + "\\usbtmc-notes.txt", "notes"));
  ASSERT_TRUE(WriteWholeFile(
      bus.path() + "\\" + simbus::DeviceEntryName({0x2E5B, 0x3A01, "GARBLED", 0}),
      "\\\\.\\pipe\\somebody-elses\n"));
  std::string problem;
  const auto folder = simbus::BusFolder::Open(bus.path(), &problem);
  ASSERT_NE(folder, nullptr) << problem;
  EXPECT_TRUE(simbus::ListBusDevices(*folder).empty());

  RecordingHandler handler;
  std::string error;
  auto device = simbus::SimBusDevice::Attach(bus.path(), identity, &handler, &error);
  ASSERT_NE(device, nullptr) << error;
  const auto entries = simbus::ListBusDevices(*folder);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].identity.serial, "CRASHED");
  EXPECT_EQ(bus.path() + "\\" + entries[0].entryName, entry);
  // The probe of the listing is not a session.
  EXPECT_EQ(handler.Events(), std::vector<std::string>{});

  RecordingHandler twin;
  EXPECT_EQ(simbus::SimBusDevice::Attach(bus.path(), identity, &twin, &error), nullptr);
  EXPECT_NE(error.find("already on the bus"), std::string::npos) << error;
  EXPECT_TRUE(Exists(entry)) << "the twin must leave the live device's entry alone";

  device.reset();
  EXPECT_FALSE(Exists(entry)) << "the entry goes with its device";
}

}  // namespace
}  // namespace fg
