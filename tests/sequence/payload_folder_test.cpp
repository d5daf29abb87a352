// The private payload folder: where it is, who may enter it, and that nothing is left behind,
// not even by a run that was killed.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/process_stamp.h"
#include "sequence/payload_folder.h"
#include "scratch_folder.h"
#include "tests/support/child_process.h"

namespace fg::test {
namespace {

namespace fs = std::filesystem;

class PayloadFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemovePayloadFolder();  // start from no folder, so the next one is made under our TMPDIR
    const char* old = getenv("TMPDIR");
    oldTmp_ = old ? old : "";
    hadTmp_ = old != nullptr;
    setenv("TMPDIR", tmp.path().c_str(), 1);
  }
  void TearDown() override {
    RemovePayloadFolder();
    if (hadTmp_) {
      setenv("TMPDIR", oldTmp_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  ScratchFolder tmp;

 private:
  std::string oldTmp_;
  bool hadTmp_ = false;
};

TEST_F(PayloadFolderTest, PrivateFolderInTheTempDirectoryHoldsTheFixedName) {
  const std::string path = PayloadTempPath();
  ASSERT_FALSE(path.empty());
  const fs::path folder = fs::path(path).parent_path();
  EXPECT_EQ(fs::path(path).filename(), "Flintgate_fw_temp204");
  EXPECT_EQ(folder.parent_path(), fs::path(tmp.path()));
  struct stat st{};
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(st.st_uid, geteuid());
  EXPECT_EQ(PayloadTempPath(), path);  // one folder per run of the program
}

TEST_F(PayloadFolderTest, RemovalTakesFileAndFolderAndANewRunGetsAFreshFolder) {
  const std::string first = PayloadTempPath();
  std::ofstream(first, std::ios::binary) << "payload";
  RemovePayloadFolder();
  EXPECT_FALSE(fs::exists(first));
  EXPECT_FALSE(fs::exists(fs::path(first).parent_path()));
  RemovePayloadFolder();  // twice is harmless

  const std::string second = PayloadTempPath();
  ASSERT_FALSE(second.empty());
  EXPECT_TRUE(fs::is_directory(fs::path(second).parent_path()));
}

TEST_F(PayloadFolderTest, SignalSafeRemovalTakesFileAndFolder) {
  const std::string path = PayloadTempPath();
  std::ofstream(path, std::ios::binary) << "payload";
  RemovePayloadFolderFromSignal();
  EXPECT_FALSE(fs::exists(fs::path(path).parent_path()));
}

// A child process makes its payload, tells its path, and ends: by exit, or by SIGTERM once the
// front ends' signal handling is installed. Returns the path and the child's wait status.
std::string PayloadOfEndedChild(bool bySignal, int* status) {
  int fds[2];
  if (pipe(fds) != 0) return std::string();
  const pid_t child = fork();
  if (child < 0) return std::string();
  if (child == 0) {
    close(fds[0]);
    if (bySignal) RemovePayloadFolderOnTerminatingSignals();
    const std::string path = PayloadTempPath();
    std::ofstream(path, std::ios::binary) << "payload";
    const ssize_t written = write(fds[1], path.data(), path.size());
    close(fds[1]);
    if (bySignal) raise(SIGTERM);
    std::exit(written == static_cast<ssize_t>(path.size()) ? 0 : 1);
  }
  close(fds[1]);
  std::string path;
  char buf[256];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) path.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  if (waitpid(child, status, 0) != child) return std::string();
  return path;
}

TEST_F(PayloadFolderTest, FolderIsRemovedWhenTheProgramEnds) {
  int status = 0;
  const std::string path = PayloadOfEndedChild(false, &status);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(path.rfind(tmp.path(), 0) == 0);
  EXPECT_FALSE(fs::exists(fs::path(path).parent_path()));
}

TEST_F(PayloadFolderTest, TerminatingSignalRemovesTheFolderAndStillEndsTheProgram) {
  int status = 0;
  const std::string path = PayloadOfEndedChild(true, &status);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(path.rfind(tmp.path(), 0) == 0);
  EXPECT_FALSE(fs::exists(fs::path(path).parent_path()));
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A run that holds its payload folder until it is killed: a child that makes the folder, writes
// its payload, tells the path, and waits.
class HoldingRun {
 public:
  HoldingRun() {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      const std::string path = PayloadTempPath() + "\n";
      std::ofstream(PayloadTempPath(), std::ios::binary) << std::string(900 * 1024, 'p');
      if (write(fds[1], path.data(), path.size()) != static_cast<ssize_t>(path.size())) _exit(1);
      for (;;) pause();
    }
    close(fds[1]);
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') path_.push_back(c);
    close(fds[0]);
  }
  ~HoldingRun() {
    if (pid_ > 0) Kill();
  }
  HoldingRun(const HoldingRun&) = delete;
  HoldingRun& operator=(const HoldingRun&) = delete;

  // SIGKILL, which leaves the folder behind; the child is reaped unless `leaveUnreaped`.
  void Kill(bool leaveUnreaped = false) {
    kill(pid_, SIGKILL);
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | (leaveUnreaped ? WNOWAIT : 0));
    if (!leaveUnreaped) pid_ = -1;
  }
  std::string folder() const { return fs::path(path_).parent_path().string(); }
  const std::string& path() const { return path_; }

 private:
  pid_t pid_ = -1;
  std::string path_;
};

TEST_F(PayloadFolderTest, AKilledRunsFolderIsRemovedAndALiveRunsIsKept) {
  HoldingRun killed;
  HoldingRun live;
  ASSERT_FALSE(killed.path().empty());
  ASSERT_FALSE(live.path().empty());
  killed.Kill();
  EXPECT_TRUE(fs::exists(killed.path())) << "a killed run cannot remove its folder";
  EXPECT_EQ(RemoveAbandonedPayloadFolders(), 1);
  EXPECT_FALSE(fs::exists(killed.folder()));
  EXPECT_TRUE(fs::exists(live.path()));

  // Ended but not yet reaped by its parent: it will never come back to its folder.
  live.Kill(true);
  EXPECT_EQ(RemoveAbandonedPayloadFolders(), 1);
  EXPECT_FALSE(fs::exists(live.folder()));
}

// Only a folder whose name tells a process that has ended, that is this user's and a folder
// itself, holding nothing but the payload file, is removed; no link is followed.
TEST_F(PayloadFolderTest, OnlyThisUsersPlainFoldersOfEndedProcessesGo) {
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_GT(ended, 0);
  ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
  const std::string gone = "flintgate-" + std::to_string(ended) + "-12345-";
  const platform::ProcessStamp self = platform::CurrentProcessStamp();
  ASSERT_NE(self.start, 0u);
  // This process's id with another start: a process that had the id before.
  const std::string reused =
      "flintgate-" + std::to_string(self.id) + "-" + std::to_string(self.start + 1) + "-";
  const fs::path base(tmp.path());
  auto folderWithPayload = [&](const std::string& name) {
    fs::create_directory(base / name);
    std::ofstream(base / name / kPayloadFileName) << "payload";
  };

  folderWithPayload(gone + "a1B2c3");
  folderWithPayload(reused + "d4E5f6");
  folderWithPayload("flintgate-Ab12Cd");  // no owner in the name
  folderWithPayload(gone + "short");
  folderWithPayload("fg-" + std::to_string(ended) + "-12345-g7H8i9");
  folderWithPayload(gone + "others");
  std::ofstream(base / (gone + "others") / "notes.txt") << "not ours";
  folderWithPayload("target");
  fs::create_directory_symlink(base / "target", base / (gone + "linked"));
  std::ofstream(base / "outside") << "outside";
  fs::create_directory(base / (gone + "payLnk"));
  fs::create_symlink(base / "outside", base / (gone + "payLnk") / kPayloadFileName);
  const bool root = geteuid() == 0;
  if (root) {
    folderWithPayload(gone + "nobody");
    ASSERT_EQ(chown((base / (gone + "nobody")).c_str(), 65534, 65534), 0);
  }

  EXPECT_EQ(RemoveAbandonedPayloadFolders(), 3);
  EXPECT_FALSE(fs::exists(base / (gone + "a1B2c3")));
  EXPECT_FALSE(fs::exists(base / (reused + "d4E5f6")));
  EXPECT_FALSE(fs::exists(base / (gone + "payLnk")));
  EXPECT_EQ(ReadFile(base / "outside"), "outside");
  EXPECT_TRUE(fs::exists(base / "flintgate-Ab12Cd" / kPayloadFileName));
  EXPECT_TRUE(fs::exists(base / (gone + "short") / kPayloadFileName));
  EXPECT_TRUE(fs::exists(base / ("fg-" + std::to_string(ended) + "-12345-g7H8i9")));
  EXPECT_TRUE(fs::exists(base / (gone + "others") / "notes.txt"));
  EXPECT_TRUE(fs::is_symlink(base / (gone + "linked")));
  EXPECT_TRUE(fs::exists(base / "target" / kPayloadFileName));
  if (root) {
    EXPECT_TRUE(fs::exists(base / (gone + "nobody") / kPayloadFileName));
  }
}

// The next update, a program of its own, removes what a killed one left, and keeps what a run
// still going holds.
TEST_F(PayloadFolderTest, TheNextUpdateRemovesTheFolderOfAKilledOne) {
  HoldingRun killed;
  HoldingRun live;
  killed.Kill();
  ASSERT_TRUE(fs::exists(killed.path()));
  const std::string firmware =
      tmp.Write("fw.fq", FirmwareText("WX2040", "1.05", "2.04", " sample", "payload"));
  fg::testing::ChildOptions options;
  options.args = {FG_CLI_PATH, "update", firmware, "--yes", "--device",
                  "USB0::0x2E5B::0x3A01::NOTHERE::INSTR"};
  options.env = {"TMPDIR=" + tmp.path(), "FLINTGATE_SIMBUS=" + PrivateBusFolder(),
                 "FLINTGATE_VISA_PROVIDERS=simbus"};
  const fg::testing::ChildRun run = fg::testing::RunChild(options, 60000);
  EXPECT_EQ(run.status.Code(), 1) << run.out;  // no such instrument: 0x0031
  EXPECT_NE(run.out.find("Error number: 0x0031"), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(killed.folder()));
  // Its own folder is gone as well.
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(tmp.path())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("flintgate-", 0) == 0) left.push_back(name);
  }
  const std::vector<std::string> expected = {fs::path(live.folder()).filename().string()};
  EXPECT_EQ(left, expected);
}

}  // namespace
}  // namespace fg::test
