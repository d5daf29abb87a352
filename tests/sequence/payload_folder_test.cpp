// The private payload folder: where it is, who may enter it, and that nothing is left behind.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "sequence/payload_folder.h"
#include "scratch_folder.h"

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

TEST_F(PayloadFolderTest, EachSlotHasAPrivateFolderOfItsOwnGoneWithEitherRemoval) {
  for (const bool fromSignal : {false, true}) {
    SCOPED_TRACE(fromSignal ? "signal-safe removal" : "removal");
    const std::string main = PayloadTempPath();
    const std::string a = PayloadSlotPath(0);
    const std::string b = PayloadSlotPath(12);
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(PayloadSlotPath(0), a);
    EXPECT_EQ(fs::path(a).filename(), "Flintgate_fw_temp204");
    EXPECT_NE(fs::path(a).parent_path(), fs::path(b).parent_path());
    for (const std::string& slot : {a, b}) {
      EXPECT_EQ(fs::path(slot).parent_path().parent_path(), fs::path(main).parent_path());
      struct stat st{};
      ASSERT_EQ(stat(fs::path(slot).parent_path().c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0700u);
      std::ofstream(slot, std::ios::binary) << "payload";
    }
    EXPECT_TRUE(PayloadSlotPath(kMaxPayloadSlots).empty());
    if (fromSignal) {
      RemovePayloadFolderFromSignal();
      RemovePayloadFolder();  // forgets the path; the folder is gone already
    } else {
      RemovePayloadFolder();
    }
    EXPECT_FALSE(fs::exists(fs::path(main).parent_path()));
  }
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

}  // namespace
}  // namespace fg::test
