// The record file: several processes, each with several threads, append long records to one
// file at the same time, and every line arrives whole and once; a file that cannot be written is
// refused when it is opened.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "scratch_folder.h"
#include "sequence/update_record.h"

namespace fg::test {
namespace {

constexpr int kProcesses = 6;
constexpr int kThreads = 3;
constexpr int kLinesEach = 40;

// A record far longer than a pipe's atomic write, so that a writer without the lock would be
// seen interleaving with another.
UpdateRecord LongRecord(int process, int thread, int n) {
  UpdateRecord r;
  r.time = "2026-01-02T03:04:05Z";
  r.host = "bench";
  r.program = "flintgate-cli station";
  r.serial = "P" + std::to_string(process) + "T" + std::to_string(thread);
  r.resource = "USB0::0x2E5B::0x3A01::" + r.serial + "::INSTR";
  r.model = "WX2040";
  r.result = "failed";
  r.errorNumber = n;
  r.reason = std::string(6000 + 37 * n, static_cast<char>('a' + process));
  RecordImage image;
  image.partition = "1C3";
  image.installedKnown = true;
  image.installed = "0105";
  r.images.push_back(image);
  return r;
}

void WriteLines(const std::string& path, int process) {
  RecordWriter writer;
  std::string problem;
  if (!writer.Open(path, &problem)) _exit(2);
  std::vector<std::thread> threads;
  bool failed = false;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; n < kLinesEach; ++n) {
        std::string why;
        if (!writer.Append(LongRecord(process, t, n), &why)) failed = true;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  _exit(failed ? 1 : 0);
}

TEST(RecordFile, ConcurrentWritersNeverInterleaveOrLoseALine) {
  ScratchFolder scratch;
  const std::string path = scratch.path() + "/records.jsonl";
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) WriteLines(path, p);
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }

  std::ifstream in(path);
  std::map<std::string, std::vector<int>> seen;  // serial: the error numbers in file order
  std::string line;
  size_t lines = 0;
  while (std::getline(in, line)) {
    ++lines;
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << "line " << lines << " is broken: " << line.substr(0, 80);
    const std::string serial = j["serial"];
    const int n = j["errorNumber"];
    const int process = serial[1] - '0';
    EXPECT_EQ(j["reason"], std::string(6000 + 37 * n, static_cast<char>('a' + process)));
    seen[serial].push_back(n);
  }
  EXPECT_EQ(lines, static_cast<size_t>(kProcesses * kThreads * kLinesEach));
  ASSERT_EQ(seen.size(), static_cast<size_t>(kProcesses * kThreads));
  // Each thread's lines arrive in the order it appended them.
  for (const auto& [serial, numbers] : seen) {
    ASSERT_EQ(numbers.size(), static_cast<size_t>(kLinesEach)) << serial;
    for (int n = 0; n < kLinesEach; ++n) EXPECT_EQ(numbers[n], n) << serial;
  }
}

TEST(RecordFile, AFileThatCannotBeWrittenIsRefusedWhenOpened) {
  ScratchFolder scratch;
  RecordWriter writer;
  std::string problem;
  // Neither a folder nor a device is a record file.
  EXPECT_FALSE(writer.Open(scratch.path(), &problem));
  EXPECT_NE(problem.find("cannot be opened for writing"), std::string::npos) << problem;
  EXPECT_FALSE(writer.isOpen());
  problem.clear();
  EXPECT_FALSE(writer.Open("/dev/null", &problem));
  EXPECT_NE(problem.find("not a plain file"), std::string::npos) << problem;
  EXPECT_FALSE(writer.isOpen());
  problem.clear();
  EXPECT_FALSE(writer.Open(scratch.path() + "/missing/records.jsonl", &problem));
  EXPECT_NE(problem.find("cannot be opened for writing"), std::string::npos) << problem;
  // A writer that is not open writes nothing and says so.
  EXPECT_FALSE(writer.Append(LongRecord(0, 0, 0), &problem));

  // An existing file is appended to, never truncated.
  const std::string path = scratch.path() + "/kept.jsonl";
  std::ofstream(path) << "{\"earlier\":1}\n";
  ASSERT_TRUE(writer.Open(path, &problem)) << problem;
  ASSERT_TRUE(writer.Append(LongRecord(1, 0, 2), &problem)) << problem;
  std::ifstream in(path);
  std::string first;
  std::string second;
  std::getline(in, first);
  std::getline(in, second);
  EXPECT_EQ(first, "{\"earlier\":1}");
  EXPECT_EQ(nlohmann::json::parse(second)["errorNumber"], 2);
}

}  // namespace
}  // namespace fg::test
