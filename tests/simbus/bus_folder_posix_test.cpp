// Who may plant an instrument on the simulated bus on POSIX: the folder rule (modes, owners, links
// on the path), its diagnostics, where the folder lives by default, and leftover sockets of
// devices that are gone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tests/simbus/recording_handler.h"
#include "tests/visa/support/private_bus.h"
#include "visa/builtin_providers.h"
#include "visa/simbus/simbus_device.h"
#include "visa/simbus/simbus_device_name.h"
#include "visa/simbus/simbus_folder.h"

namespace fg {
namespace {

using testing::RecordingHandler;
using testing::PrivateBus;

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

// Restores one environment variable when the test ends.
class SavedEnv {
 public:
  explicit SavedEnv(const char* name) : name_(name) {
    const char* value = std::getenv(name);
    had_ = value != nullptr;
    if (had_) value_ = value;
  }
  ~SavedEnv() {
    if (had_) {
      ::setenv(name_, value_.c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string value_;
};

TEST(BusFolderRuleTest, OnlyAPrivateDirectoryOfOurOwnIsSafe) {
  PrivateBus bus;
  const std::string dir = bus.path() + "/candidate";
  const std::string file = bus.path() + "/plain-file";
  const std::string link = bus.path() + "/link";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  ::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0600));
  ASSERT_EQ(::symlink(dir.c_str(), link.c_str()), 0);

  struct Row {
    std::string path;
    mode_t mode;  // applied to `dir` first when not 0
    bool safe;
    const char* mentions;
  };
  const Row rows[] = {
      {dir, 0700, true, ""},
      {dir, 0750, false, "0750"},
      {dir, 0701, false, "0701"},
      {dir, 0777, false, "0777"},
      {dir, 0600, false, "0600"},
      {link, 0700, false, "not a directory"},
      {file, 0, false, "not a directory"},
      {bus.path() + "/missing", 0, false, "cannot be read"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path + " " + std::to_string(row.mode));
    if (row.mode != 0) {
      ASSERT_EQ(::chmod(dir.c_str(), row.mode), 0);
    }
    std::string problem;
    EXPECT_EQ(simbus::CheckBusFolder(row.path, &problem), row.safe);
    if (!row.safe) {
      EXPECT_NE(problem.find(row.mentions), std::string::npos) << problem;
      EXPECT_NE(problem.find(row.path), std::string::npos) << problem;
    }
  }
}

// The whole path counts, not its last component: what the path goes through must be closed to
// others too, a link is judged by its owner, and "x/." is x.
TEST(BusFolderRuleTest, EveryDirectoryOnThePathIsJudged) {
  PrivateBus bus;
  const std::string open = bus.path() + "/open";      // writable by everybody, not sticky
  const std::string sticky = bus.path() + "/sticky";  // as /tmp is
  for (const std::string& dir : {open, sticky}) {
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((dir + "/bus").c_str(), 0700), 0);
  }
  ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(sticky.c_str(), 01777), 0);
  const std::string real = bus.path() + "/real";
  ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((real + "/bus").c_str(), 0700), 0);
  ASSERT_EQ(::symlink(real.c_str(), (bus.path() + "/ours").c_str()), 0);

  struct Row {
    std::string path;
    bool safe;
    const char* mentions;
  };
  const Row rows[] = {
      {open + "/bus", false, "others may write to"},
      {sticky + "/bus", true, ""},
      {bus.path() + "/ours/bus", true, ""},  // a link of our own on the way
      {bus.path() + "/ours/.", false, "link"},
      {bus.path() + "/ours/", false, "link"},
      {real + "/bus/.", true, ""},
      {real + "/bus/../bus", true, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    std::string problem;
    EXPECT_EQ(simbus::CheckBusFolder(row.path, &problem), row.safe) << problem;
    if (!row.safe) {
      EXPECT_NE(problem.find(row.mentions), std::string::npos) << problem;
    }
  }

  if (::geteuid() != 0) return;  // the rest needs root to give a link away
  const std::string theirs = bus.path() + "/theirs";
  ASSERT_EQ(::symlink(real.c_str(), theirs.c_str()), 0);
  ASSERT_EQ(::lchown(theirs.c_str(), 65534, 65534), 0);
  std::string problem;
  EXPECT_FALSE(simbus::CheckBusFolder(theirs + "/bus", &problem));
  EXPECT_NE(problem.find("belongs to another user"), std::string::npos) << problem;
}

// Once open, the folder is the one that was checked: renaming it away and planting another
// under its name changes nothing for the open folder.
TEST(BusFolderRuleTest, OpenFolderStaysTheCheckedOne) {
  PrivateBus bus;
  const std::string path = bus.path() + "/bus";
  ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
  std::string problem;
  auto folder = simbus::BusFolder::Open(path, &problem);
  ASSERT_NE(folder, nullptr) << problem;
  RecordingHandler handler;
  std::string error;
  auto device =
      simbus::SimBusDevice::Attach(path, {0x2E5B, 0x3A01, "CHECKED", 0}, &handler, &error);
  ASSERT_NE(device, nullptr) << error;

  ASSERT_EQ(::rename(path.c_str(), (bus.path() + "/moved").c_str()), 0);
  ASSERT_EQ(::mkdir(path.c_str(), 0777), 0);
  const auto entries = simbus::ListBusDevices(*folder);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].identity.serial, "CHECKED");
  EXPECT_FALSE(simbus::CheckBusFolder(path, &problem));  // the planted one is judged anew
}

TEST(BusFolderRuleTest, FolderOfAnotherUserIsNotSafe) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder away";
  PrivateBus bus;
  const std::string dir = bus.path() + "/theirs";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
  std::string problem;
  EXPECT_FALSE(simbus::CheckBusFolder(dir, &problem));
  EXPECT_NE(problem.find("another user"), std::string::npos) << problem;
}

TEST(BusFolderRuleTest, UnsafeFolderHidesItsDevicesAndIsDiagnosed) {
  PrivateBus bus;
  RecordingHandler handler;
  std::string error;
  auto device =
      simbus::SimBusDevice::Attach(bus.path(), {0x2E5B, 0x3A01, "PLANTED", 0}, &handler, &error);
  ASSERT_NE(device, nullptr) << error;
  auto provider = visa::CreateSimBusProvider();

  ASSERT_EQ(::chmod(bus.path().c_str(), 0755), 0);
  std::vector<std::string> names;
  provider->ListResources(&names);
  EXPECT_TRUE(names.empty());
  std::unique_ptr<visa::InstrSession> session;
  EXPECT_EQ(provider->Open(device->ResourceName(), 1000, &session), visa::VI_ERROR_RSRC_NFOUND);
  std::vector<visa::Diagnostic> diagnostics;
  provider->Diagnose(&diagnostics);
  ASSERT_EQ(diagnostics.size(), 1u);
  EXPECT_EQ(diagnostics[0].provider, "simbus");
  EXPECT_NE(diagnostics[0].problem.find(bus.path()), std::string::npos);
  EXPECT_NE(diagnostics[0].advice.find("chmod 700"), std::string::npos);
  EXPECT_NE(provider->Describe().find("ignored"), std::string::npos);
  EXPECT_EQ(handler.Events(), std::vector<std::string>{});  // nobody reached the device

  ASSERT_EQ(::chmod(bus.path().c_str(), 0700), 0);
  provider->ListResources(&names);
  EXPECT_EQ(names, std::vector<std::string>{device->ResourceName()});
  diagnostics.clear();
  provider->Diagnose(&diagnostics);
  EXPECT_TRUE(diagnostics.empty());
  EXPECT_NE(provider->Describe().find("1 simulated instrument"), std::string::npos);
}

// The advice follows what is there: chmod helps only a folder of one's own, and a missing folder
// is reported, wherever FLINTGATE_SIMBUS points (absolute or relative).
TEST(BusFolderRuleTest, TheAdviceFitsWhatIsThere) {
  PrivateBus bus;
  const std::string missing = bus.path() + "/gone/bus";
  const std::string file = bus.path() + "/plain-file";
  const std::string link = bus.path() + "/link";
  const std::string open = bus.path() + "/open";
  ASSERT_EQ(::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0600)), 0);
  ASSERT_EQ(::symlink(bus.path().c_str(), link.c_str()), 0);
  ASSERT_EQ(::mkdir(open.c_str(), 0755), 0);
  const struct {
    std::string folder;
    const char* advice;
  } cases[] = {
      {missing, "Create it (mkdir -p -m 700 "},
      {file, " is no folder of its own: remove it"},
      {link, " is no folder of its own: remove it"},
      {open, "Make it a folder of your own that only you can enter (chmod 700 "},
  };
  for (const auto& c : cases) {
    std::string problem;
    EXPECT_FALSE(simbus::CheckBusFolder(c.folder, &problem)) << c.folder;
    EXPECT_NE(problem.find(c.folder), std::string::npos) << problem;
    const std::string advice = simbus::BusFolderAdvice(c.folder);
    EXPECT_NE(advice.find(c.advice), std::string::npos) << advice;
    EXPECT_EQ(advice.find("chmod") != std::string::npos, c.folder == open) << advice;
  }

  // A relative folder is judged like an absolute one.
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir(bus.path().c_str()), 0);
  std::string relative;
  const bool relativeSafe = simbus::CheckBusFolder("gone/bus", &relative);
  ASSERT_EQ(::chdir(cwd), 0);
  EXPECT_FALSE(relativeSafe);
  EXPECT_NE(relative.find("gone/bus"), std::string::npos) << relative;
}

TEST(BusFolderRuleTest, DeviceRefusesToAttachToAnUnsafeFolder) {
  PrivateBus bus;
  ASSERT_EQ(::chmod(bus.path().c_str(), 0770), 0);
  RecordingHandler handler;
  std::string error;
  EXPECT_EQ(simbus::SimBusDevice::Attach(bus.path(), {0x2E5B, 0x3A01, "SN", 0}, &handler, &error),
            nullptr);
  EXPECT_NE(error.find("0770"), std::string::npos) << error;
}

TEST(DefaultBusFolderTest, EnvironmentThenRuntimeThenTemporaryFolder) {
  SavedEnv simbusVar("FLINTGATE_SIMBUS"), runtimeVar("XDG_RUNTIME_DIR"), tempVar("TMPDIR");
  PrivateBus scratch;  // sets FLINTGATE_SIMBUS itself; used here as a scratch folder
  const std::string root = scratch.path();

  ::setenv("FLINTGATE_SIMBUS", (root + "/chosen").c_str(), 1);
  EXPECT_EQ(simbus::DefaultBusFolder(), root + "/chosen");
  EXPECT_EQ(ModeOf(root + "/chosen"), 0700u);  // created private when missing

  ::unsetenv("FLINTGATE_SIMBUS");
  ::setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
  EXPECT_EQ(simbus::DefaultBusFolder(), root + "/flintgate-simbus");
  EXPECT_EQ(ModeOf(root + "/flintgate-simbus"), 0700u);

  ::setenv("XDG_RUNTIME_DIR", (root + "/no-such-dir").c_str(), 1);
  ::setenv("TMPDIR", root.c_str(), 1);
  const std::string perUser = root + "/flintgate-simbus-" + std::to_string(::geteuid());
  EXPECT_EQ(simbus::DefaultBusFolder(), perUser);
  EXPECT_EQ(ModeOf(perUser), 0700u);

  // An existing folder keeps its mode; the rule, not the lookup, judges it.
  ASSERT_EQ(::chmod(perUser.c_str(), 0755), 0);
  EXPECT_EQ(simbus::DefaultBusFolder(), perUser);
  EXPECT_EQ(ModeOf(perUser), 0755u);
}

TEST(BusDeviceListTest, LeftoverSocketOfAGoneDeviceIsSkippedAndReplaced) {
  PrivateBus bus;
  const simbus::SimDeviceIdentity identity{0x2E5B, 0x3A02, "CRASHED", 0};
  // A device that died without cleaning up: its socket file stays, nobody listens.
  const std::string path = bus.path() + "/" + simbus::DeviceEntryName(identity);
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
  // Files that are not devices are ignored too.
  ::close(::open((bus.path() + "/usbtmc-notes.txt").c_str(), O_CREAT | O_WRONLY, 0600));
  std::string problem;
  const auto folder = simbus::BusFolder::Open(bus.path(), &problem);
  ASSERT_NE(folder, nullptr) << problem;
  EXPECT_TRUE(simbus::ListBusDevices(*folder).empty());

  RecordingHandler handler;
  std::string error;
  auto device = simbus::SimBusDevice::Attach(bus.path(), identity, &handler, &error);
  ASSERT_NE(device, nullptr) << error;
  auto entries = simbus::ListBusDevices(*folder);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].identity.serial, "CRASHED");
  EXPECT_EQ(bus.path() + "/" + entries[0].entryName, path);
  // The probe of the listing is not a session.
  EXPECT_EQ(handler.Events(), std::vector<std::string>{});

  RecordingHandler twin;
  EXPECT_EQ(simbus::SimBusDevice::Attach(bus.path(), identity, &twin, &error), nullptr);
  EXPECT_NE(error.find("already on the bus"), std::string::npos) << error;
}

// A serial too long for a socket address: the socket gets a short name, a marker carries the
// identity, and the listing shows the device by its whole serial; both go when it detaches.
TEST(BusDeviceListTest, ALongSerialIsListedWhole) {
  PrivateBus bus;
  std::string problem;
  const auto folder = simbus::BusFolder::Open(bus.path(), &problem);
  ASSERT_NE(folder, nullptr) << problem;
  for (size_t length : {20u, 200u, 226u}) {
    SCOPED_TRACE(length);
    const simbus::SimDeviceIdentity identity{0x2E5B, 0x3A02, std::string(length, 'L'), 0};
    EXPECT_EQ(simbus::DeviceMarkerName(identity).empty(), length == 20);
    RecordingHandler handler;
    std::string error;
    auto device = simbus::SimBusDevice::Attach(bus.path(), identity, &handler, &error);
    ASSERT_NE(device, nullptr) << error;
    const auto entries = simbus::ListBusDevices(*folder);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].identity.serial, identity.serial);
    EXPECT_EQ(entries[0].entryName, simbus::DeviceEntryName(identity));
    EXPECT_LE(entries[0].entryName.size(), simbus::kMaxInlineEntryName);
    device.reset();
    EXPECT_TRUE(simbus::ListBusDevices(*folder).empty());
    EXPECT_TRUE(std::filesystem::is_empty(bus.path())) << "socket and marker are gone";
  }
  // A marker whose socket is gone lists nothing.
  const simbus::SimDeviceIdentity gone{0x2E5B, 0x3A02, std::string(100, 'G'), 0};
  ::close(::open((bus.path() + "/" + simbus::DeviceMarkerName(gone)).c_str(), O_CREAT | O_WRONLY,
                 0600));
  EXPECT_TRUE(simbus::ListBusDevices(*folder).empty());
}

}  // namespace
}  // namespace fg
