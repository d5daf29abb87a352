// Shared pieces of the driver tests: a payload folder of the test's own, package builders, a
// scripted programmer table and the link slots pointed at a FakeLink.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "firmware/image_record_writer.h"
#include "platform/private_folder.h"
#include "tests/programmer/fake_clock.h"
#include "tests/programmer/fake_link.h"
#include "updater/package_driver.h"
#include "util/bounded_text.h"
#include "util/stop_notice.h"

namespace fg::test {

// One image record with a body of bodySize bytes (a pattern keyed by the block id).
inline Bytes Record(uint8_t blockId, size_t bodySize, const char* version) {
  ImageRecordFields fields = PlainRecordFields(blockId, bodySize);
  SetRecordVersion(&fields, version);
  Bytes body(bodySize);
  for (size_t i = 0; i < bodySize; ++i) body[i] = static_cast<uint8_t>(i * 13 + blockId);
  Bytes out;
  EXPECT_EQ(EncodeImageRecord(fields, body.data(), body.size(), &out), kRecordWriteOk);
  return out;
}

// The record whose whole length (header, body, trailer) is `length`.
inline Bytes RecordOfLength(uint8_t blockId, size_t length, const char* version) {
  return Record(blockId, length - 26, version);
}

// What a stop that ends the program at once would write now (util/stop_notice.h).
inline std::string StopNoticesNow() {
  static std::string written;
  written.clear();
  WriteStopNotices([](const char* text, size_t size) { written.append(text, size); });
  return written;
}

// A programmer table whose operations log their calls and answer as configured. ProgramPartition
// reports 0, 50 and 100 through the link's progress slot, like the real one does at its ends.
class FakeProgrammer {
 public:
  std::vector<std::string> calls;  // "connect NAME", "query", "close", "program P"
  std::vector<std::pair<int32_t, Bytes>> programmed;  // partition and record bytes
  int32_t connectResult = 0;
  int32_t queryResult = 0;
  std::string identity;
  std::map<size_t, int32_t> programFailures;  // index of the ProgramPartition call -> its result
  // What a stop that ends the program would write while each ProgramPartition call runs.
  std::vector<std::string> noticesWhileProgramming;

  FakeProgrammer() { current = this; }
  ~FakeProgrammer() { current = nullptr; }

  static const ProgrammerOps kOps;
  static inline FakeProgrammer* current = nullptr;

  size_t Count(const std::string& call) const {
    size_t n = 0;
    for (const auto& c : calls) n += (c.rfind(call, 0) == 0);
    return n;
  }
  std::vector<int32_t> Partitions() const {
    std::vector<int32_t> p;
    for (const auto& [partition, bytes] : programmed) p.push_back(partition);
    return p;
  }

  static int32_t Connect(DeviceLink*, const char* name) {
    current->calls.push_back(std::string("connect ") + name);
    return current->connectResult;
  }
  static int32_t Program(DeviceLink* link, int32_t partition, const uint8_t* image, uint32_t length) {
    const size_t index = current->Count("program");
    current->calls.push_back("program " + std::to_string(partition));
    current->noticesWhileProgramming.push_back(StopNoticesNow());
    link->progress(link->owner, 0);
    auto failure = current->programFailures.find(index);
    if (failure != current->programFailures.end()) return failure->second;
    link->progress(link->owner, 50);
    current->programmed.emplace_back(partition, Bytes(image, image + length));
    link->progress(link->owner, 100);
    return 0;
  }
  static int32_t Erase(DeviceLink*, int32_t) { return 0; }
  static int32_t Query(DeviceLink*, int32_t selector, void* out) {
    current->calls.push_back("query");
    if (current->queryResult != 0 || selector != QueryIdentity) return current->queryResult;
    auto* reply = static_cast<ReplyText*>(out);
    const size_t n = std::min<size_t>(current->identity.size(), reply->length);
    std::memcpy(reply->buffer, current->identity.data(), n);
    reply->buffer[n] = '\0';
    reply->length = static_cast<uint32_t>(n);
    return 0;
  }
  static int32_t Close(DeviceLink*) {
    current->calls.push_back("close");
    return 0;
  }
  // The record checks of the family's real programmer (set by DriverTest::Start).
  static int32_t CheckRecord(int32_t partition, uint32_t blockId, uint32_t length) {
    return current->family->programmer->CheckRecord(partition, blockId, length);
  }
  const DriverFamily* family = &kWx2040DriverFamily;
};

inline const ProgrammerOps FakeProgrammer::kOps = {Connect, Program, Erase, Query, Close, CheckRecord};

// A context of the test's own (not the family's static one) whose run context has the link slots
// on a FakeLink and a fake clock, and a private folder for payload files.
class DriverTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fg::platform::CreatePrivateTempFolder("fg-driver-test-", &folder_));
    FakeLink::current = &fake;
    env = *clock.env();
    env.linkSlots = &kFakeSlots;
    context.env = &env;
  }
  void TearDown() override {
    updater::Destroy(context.link);
    context.link = nullptr;
    FakeLink::current = nullptr;
    std::filesystem::remove_all(folder_);
  }

  // Init for the family, with the fake programmer in place of the real one.
  void Start(const DriverFamily& family, bool fakeProgrammer = true) {
    ASSERT_EQ(updater::Init(family, &context, RecordProgress, this), 0);
    if (fakeProgrammer) context.programmer = &FakeProgrammer::kOps;
    if (FakeProgrammer::current != nullptr) FakeProgrammer::current->family = &family;
  }

  std::string WritePayload(const std::vector<Bytes>& records, const char* name = "payload") {
    const std::string path = folder_ + "/" + name;
    std::ofstream out(path, std::ios::binary);
    for (const Bytes& r : records) out.write(reinterpret_cast<const char*>(r.data()), static_cast<std::streamsize>(r.size()));
    return path;
  }
  static uintmax_t FileSize(const std::string& path) { return std::filesystem::file_size(path); }

  static void RecordProgress(void* owner, int32_t percent) {
    static_cast<DriverTest*>(owner)->overall.push_back(percent);
  }

  static constexpr LinkSlots kFakeSlots = {FakeLink::Open, FakeLink::Write, FakeLink::Read,
                                           FakeLink::Close, nullptr};
  FakeLink fake;
  FakeClock clock;
  RunEnv env{};  // the run context of every driver the test starts
  UpdaterContext context{};
  std::vector<int32_t> overall;
  std::string folder_;
};

}  // namespace fg::test
