// The record file on every system: writers with handles of their own to one file (as separate
// programs have), appending long lines at the same time, never interleave or lose a line.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "scratch_folder.h"
#include "sequence/update_record.h"

namespace fg::test {
namespace {

constexpr int kWriters = 4;
constexpr int kLinesEach = 50;

UpdateRecord Numbered(int writer, int n) {
  UpdateRecord r;
  r.serial = "W" + std::to_string(writer);
  r.errorNumber = n;
  r.reason.assign(5000 + 13 * static_cast<size_t>(n), static_cast<char>('k' + writer));
  return r;
}

TEST(RecordFileHandles, WritersOfTheirOwnNeverInterleave) {
  ScratchFolder scratch;
  const std::string path = scratch.File("records.jsonl");
  std::vector<std::unique_ptr<RecordWriter>> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(std::make_unique<RecordWriter>());
    std::string problem;
    ASSERT_TRUE(writers.back()->Open(path, &problem)) << problem;
  }
  std::vector<std::thread> threads;
  std::vector<int> failures(kWriters, 0);
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int n = 0; n < kLinesEach; ++n) {
        std::string problem;
        if (!writers[static_cast<size_t>(w)]->Append(Numbered(w, n), &problem)) {
          ++failures[static_cast<size_t>(w)];
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  writers.clear();
  for (int w = 0; w < kWriters; ++w) EXPECT_EQ(failures[static_cast<size_t>(w)], 0) << w;

  std::ifstream in(path, std::ios::binary);
  std::map<std::string, int> next;  // serial: the number its next line must carry
  std::string line;
  int lines = 0;
  while (std::getline(in, line)) {
    ++lines;
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << "line " << lines << " is broken";
    const std::string serial = j["serial"];
    const int n = j["errorNumber"];
    EXPECT_EQ(n, next[serial]++) << serial;
    const int writer = serial[1] - '0';
    EXPECT_EQ(j["reason"], Numbered(writer, n).reason);
  }
  EXPECT_EQ(lines, kWriters * kLinesEach);
}

}  // namespace
}  // namespace fg::test
