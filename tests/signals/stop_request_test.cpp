// The stop request: when a request is deferred, when it stops at once, and that the stop
// signals' handler works from a fresh process without allocating.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "sequence/payload_folder.h"
#include "sequence/stop_signals.h"
#include "platform/termination.h"
#include "util/stop_notice.h"
#include "util/stop_request.h"

// Counts allocations made while a test's signal handler runs: a handler must make none. (The
// replacement pairs malloc with free throughout, which GCC cannot see across the replacement.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<bool> g_inHandler{false};
std::atomic<int> g_handlerAllocations{0};
}  // namespace

void* operator new(std::size_t size) {
  if (g_inHandler.load()) g_handlerAllocations.fetch_add(1);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace fg {
namespace {

namespace fs = std::filesystem;

class StopRequestTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearStopRequest(); }
  void TearDown() override { ClearStopRequest(); }
};

TEST_F(StopRequestTest, DeferredOnlyWhileProgrammingAndRepeatsWithinThreeSecondsStopAtOnce) {
  // Nothing programmed: the caller stops at once, and no run is left a request.
  EXPECT_EQ(RecordStopRequest(10000), StopDecision::kStopNow);
  EXPECT_FALSE(StopRequested());

  {
    const ProgrammingScope programming;
    EXPECT_TRUE(ProgrammingInProgress());
    EXPECT_EQ(RecordStopRequest(10000), StopDecision::kDeferred);
    EXPECT_TRUE(StopRequested());
    EXPECT_EQ(RecordStopRequest(10000 + kStopRepeatWindowMs), StopDecision::kStopNow);
    ClearStopRequest();

    // A repeat after the window is a new first request, timed from then.
    EXPECT_EQ(RecordStopRequest(20000), StopDecision::kDeferred);
    EXPECT_EQ(RecordStopRequest(20000 + kStopRepeatWindowMs + 1), StopDecision::kDeferred);
    EXPECT_EQ(RecordStopRequest(20000 + 2 * kStopRepeatWindowMs), StopDecision::kStopNow);
  }
  EXPECT_FALSE(ProgrammingInProgress());
}

TEST_F(StopRequestTest, RunsOnSeveralThreadsCountTogether) {
  auto outer = std::make_unique<ProgrammingScope>();
  auto inner = std::make_unique<ProgrammingScope>();
  outer.reset();
  EXPECT_TRUE(ProgrammingInProgress());  // the other run still programs
  EXPECT_EQ(RecordStopRequest(5000), StopDecision::kDeferred);
  inner.reset();
  EXPECT_FALSE(ProgrammingInProgress());
  EXPECT_TRUE(StopRequested());  // the request stays for the runs to see
}

// Runs `body` in a child process; its wait status.
template <typename Body>
int InChild(Body body) {
  const pid_t child = ::fork();
  if (child == 0) {
    body();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

void HandlerOfTheTest(int) {
  g_inHandler.store(true);
  RemovePayloadFolderFromSignal();
  g_inHandler.store(false);
}

TEST(PayloadFolderSignalTest, RemovalFromASignalAllocatesNothingEvenOnFirstUse) {
  const int status = InChild([] {
    ::signal(SIGUSR1, HandlerOfTheTest);
    ::raise(SIGUSR1);  // before anything made a folder
    const std::string& path = PayloadTempPath();
    std::ofstream(path) << "payload";
    ::raise(SIGUSR1);
    const bool removed = !fs::exists(fs::path(path).parent_path());
    ::_exit(g_handlerAllocations.load() == 0 && removed ? 0 : 1);
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the handler allocated, or left the folder";
}

TEST(PayloadFolderSignalTest, TerminatingSignalRemovesEveryRunsFolder) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const int status = InChild([&] {
    ::close(fds[0]);
    InstallStopSignals();
    std::vector<PayloadFolder> folders(3);
    std::string paths = PayloadTempPath() + "\n";
    for (PayloadFolder& f : folders) {
      if (!CreatePayloadFolder(&f)) ::_exit(3);
      std::ofstream(f.path) << "payload";
      paths += f.path + "\n";
    }
    if (::write(fds[1], paths.data(), paths.size()) != static_cast<ssize_t>(paths.size()))
      ::_exit(4);
    ::raise(SIGTERM);
    ::_exit(5);
  });
  ::close(fds[1]);
  std::string paths;
  char buffer[1024];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
    paths.append(buffer, static_cast<size_t>(n));
  ::close(fds[0]);
  ASSERT_TRUE(WIFSIGNALED(status)) << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  size_t count = 0;
  for (size_t start = 0, end; (end = paths.find('\n', start)) != std::string::npos;
       start = end + 1) {
    const fs::path folder = fs::path(paths.substr(start, end - start)).parent_path();
    EXPECT_FALSE(fs::exists(folder)) << folder;
    ++count;
  }
  EXPECT_EQ(count, 4u);
}

TEST(PayloadFolderSignalTest, OwnerRemovalAfterASignalRemovalTouchesNoNewFolder) {
  PayloadFolder first;
  ASSERT_TRUE(CreatePayloadFolder(&first));
  RemovePayloadFolderFromSignal();
  PayloadFolder second;  // may take the slot the signal emptied
  ASSERT_TRUE(CreatePayloadFolder(&second));
  RemovePayloadFolder(&first);
  EXPECT_TRUE(fs::is_directory(fs::path(second.path).parent_path()));
  RemovePayloadFolder(&second);
  EXPECT_FALSE(fs::exists(fs::path(second.path).parent_path()));
}

// Runs `body` in a child process whose standard error goes into a pipe; the child's wait status
// and what it wrote there.
template <typename Body>
int InChildCapturingErrors(Body body, std::string* written) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const int status = InChild([&] {
    ::close(fds[0]);
    ::dup2(fds[1], STDERR_FILENO);
    body();
  });
  ::close(fds[1]);
  char buffer[1024];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
    written->append(buffer, static_cast<size_t>(n));
  ::close(fds[0]);
  return status;
}

void NoticeHandlerOfTheTest(int) {
  g_inHandler.store(true);
  WriteStopNotices(platform::WriteErrorNow);
  g_inHandler.store(false);
}

// The stop notices are written from the signal handler itself: nothing may be allocated there.
TEST(StopNoticeSignalTest, WritingTheNoticesFromASignalAllocatesNothing) {
  std::string written;
  const int status = InChildCapturingErrors(
      [] {
        ::signal(SIGUSR1, NoticeHandlerOfTheTest);
        StopNotice run;
        run.Set(StopNotice::kRunLine, "left in writer mode\n");
        run.Set(StopNotice::kImageLine, "MAIN cut short\n");
        ::raise(SIGUSR1);
        run.Set(StopNotice::kImageLine, nullptr);
        ::raise(SIGUSR1);
        ::_exit(g_handlerAllocations.load() == 0 ? 0 : 1);
      },
      &written);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the handler allocated";
  EXPECT_EQ(written, "MAIN cut short\nleft in writer mode\n");
}

// A stop signal that ends the program writes every run's line before it goes, and one that is
// deferred while images are programmed writes none of them.
TEST(StopNoticeSignalTest, TheStopSignalsWriteTheNoticesOnlyWhenTheyEndTheProgram) {
  std::string written;
  const int status = InChildCapturingErrors(
      [] {
        InstallStopSignals();
        StopNotice run;
        run.Set(StopNotice::kRunLine, "\nSIMA: left in writer mode\n");
        {
          const ProgrammingScope programming;
          ::raise(SIGTERM);  // deferred: the image in progress would be finished
        }
        ::raise(SIGTERM);
        ::_exit(5);
      },
      &written);
  ASSERT_TRUE(WIFSIGNALED(status)) << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(written, std::string("\n") + kStopDeferredText + "\n\nSIMA: left in writer mode\n");
}

}  // namespace
}  // namespace fg
