// End-to-end harness: the real flintgate-sim and flintgate-cli processes on a private bus.
// Each test gets its own folder with the bus, the simulators' flash state, a temporary directory
// for the CLI (to see that its payload folder goes away) and the firmware files.
#pragma once
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "firmware/firmware_header.h"
#include "firmware/image_index.h"
#include "tests/support/child_process.h"

namespace fg::e2e {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

struct ProcessResult {
  int status = -1;  // exit status, 128 + the signal that ended it, or -1 when it timed out
  std::string out;
  std::string err;
};

// The image records of a firmware file, keyed by block id, as the drivers index them.
inline std::map<int32_t, std::string> RecordsOf(const fs::path& firmware) {
  std::map<int32_t, std::string> records;
  std::FILE* f = std::fopen(firmware.c_str(), "rb");
  if (f == nullptr) return records;
  FirmwareHeader header{};
  ParseFirmwareHeader(&header, f);
  ImageIndex index{};
  index.capacity = kImageIndexMaxCapacity;
  ParseImageIndexStream(&index, f, header.payloadOffset);
  std::fclose(f);
  const std::string bytes = ReadFile(firmware);
  for (int32_t i = 0; i < index.imageCount; ++i) {
    const ImageIndexEntry& e = index.images[i];
    if (records.count(e.blockId) == 0) {
      records[e.blockId] = bytes.substr(static_cast<size_t>(header.payloadOffset) + e.offset, e.length);
    }
  }
  return records;
}

class E2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "fg-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    for (const char* sub : {"bus", "state", "tmp", "files", "run"}) {
      fs::create_directory(root_ / sub);
      fs::permissions(root_ / sub, fs::perms::owner_all, fs::perm_options::replace);
    }
  }

  void TearDown() override {
    StopSim();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  fs::path Files() const { return root_ / "files"; }
  fs::path Bus() const { return root_ / "bus"; }

  // A run of `argv` on the test's bus, with standard input from /dev/null; with `privateTmp` its
  // temporary folder is the test's own (to see its payload folder go), else it has none set. Its
  // runtime folder, where the instrument locks live, is the test's own too: tests that run at
  // the same time use the same serial numbers on buses of their own.
  testing::ChildOptions Options(const std::vector<std::string>& argv, bool privateTmp) const {
    testing::ChildOptions options;
    options.args = argv;
    options.env = {"FLINTGATE_SIMBUS=" + Bus().string(),
                   "XDG_RUNTIME_DIR=" + (root_ / "run").string()};
    if (privateTmp) {
      options.env.push_back("TMPDIR=" + (root_ / "tmp").string());
    } else {
      options.unsetEnv = {"TMPDIR"};
    }
    options.err = testing::ChildOutput::kCapture;
    return options;
  }

  // Runs the simulator's instruments ("WX2040", "WX2050:LAB1") with --fast, a short restart
  // delay and `options`, flash kept under state/SERIAL, and waits until all are on the bus.
  // Called again, it starts another simulator process on the same bus.
  void StartSim(const std::vector<std::string>& instruments,
                const std::vector<std::string>& options = {}) {
    // The instruments come first: a repeatable option would take them as its own values.
    std::vector<std::string> argv = {FG_SIM_PATH};
    argv.insert(argv.end(), instruments.begin(), instruments.end());
    for (const char* o : {"--fast", "--restart-delay", "200", "--state"}) argv.push_back(o);
    argv.push_back((root_ / "state").string());
    argv.insert(argv.end(), options.begin(), options.end());
    const std::string n = sims_.empty() ? "" : std::to_string(sims_.size());
    // The trace goes to files, read whenever a test looks at it, so that a long trace never
    // waits on a full pipe.
    testing::ChildOptions sim = Options(argv, false);
    sim.out = testing::ChildOutput::kFile;
    sim.outPath = (root_ / ("sim" + n + ".out")).string();
    sim.err = testing::ChildOutput::kFile;
    sim.errPath = (root_ / ("sim" + n + ".err")).string();
    sims_.push_back(std::make_unique<testing::ChildProcess>(sim));
    simOuts_.push_back(sim.outPath);
    ASSERT_TRUE(sims_.back()->Started()) << sims_.back()->startError();
    // The line after the last instrument started; each instrument's own trace line says "on the
    // bus" too, before the next one is there.
    if (!sims_.back()->WaitForOutput("; Ctrl-C stops", 30000)) {
      const bool ended = !sims_.back()->Running();
      if (ended) sims_.pop_back();
      FAIL() << (ended ? "flintgate-sim ended: " : "flintgate-sim did not start: ")
             << ReadFile(sim.errPath);
    }
  }

  // Stops the simulator process `index` (in StartSim's order): its instruments leave the bus, as
  // if unplugged, and their flash stays in state/SERIAL for a later StartSim of the same serial.
  void Unplug(size_t index) {
    ASSERT_LT(index, sims_.size());
    ASSERT_NE(sims_[index], nullptr) << "unplugged already";
    EXPECT_EQ(sims_[index]->Stop(SIGTERM, 30000).Code(), 0) << "flintgate-sim did not stop cleanly";
    sims_[index].reset();
  }

  void StopSim() {
    for (const auto& sim : sims_) {
      if (sim == nullptr) continue;
      EXPECT_EQ(sim->Stop(SIGTERM, 30000).Code(), 0) << "flintgate-sim did not stop cleanly";
    }
    sims_.clear();
  }

  // The traces of every simulator process, one after the other.
  std::string SimTrace() const {
    std::string trace;
    for (const std::string& out : simOuts_) trace += ReadFile(out);
    return trace;
  }

  // Waits until the simulator's trace holds `text` at least `count` times (a restart, say).
  void WaitForTrace(const std::string& text, size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (true) {
      const std::string trace = SimTrace();
      size_t seen = 0;
      for (size_t at = trace.find(text); at != std::string::npos; at = trace.find(text, at + 1)) {
        ++seen;
      }
      if (seen >= count) return;
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the trace never showed " << text;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  fs::path MakeFirmware(const std::string& model, const std::string& name,
                        const std::vector<std::string>& args = {}) {
    const fs::path path = Files() / name;
    std::vector<std::string> argv = {FG_SIM_PATH, "make-firmware", model, path.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    const testing::ChildRun run = testing::RunChild(Options(argv, false), 60000);
    EXPECT_EQ(run.status.Code(), 0) << run.err;
    return path;
  }

  // Runs `flintgate-cli update FILE ARGS` without a terminal, then checks what must hold after
  // every outcome: the payload and its folder are gone, the firmware file is unchanged.
  ProcessResult Update(const fs::path& firmware, const std::vector<std::string>& args) {
    const std::string before = ReadFile(firmware);
    std::vector<std::string> argv = {FG_CLI_PATH, "update", firmware.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessResult r = RunCli(argv);
    EXPECT_EQ(ReadFile(firmware), before) << "the firmware file was changed";
    EXPECT_TRUE(fs::is_empty(root_ / "tmp")) << "the payload folder was left behind";
    return r;
  }

  ProcessResult RunCli(const std::vector<std::string>& argv) {
    const testing::ChildRun run = testing::RunChild(Options(argv, true), 180000);
    return {run.status.Code(), run.out, run.err};
  }

  // Every partition of the instrument: those named in `expected` hold exactly those bytes, all
  // others but `skip` are empty.
  void ExpectFlash(const std::string& serial, const std::map<std::string, std::string>& expected,
                   const std::string& skip = "") {
    const fs::path folder = root_ / "state" / serial;
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    size_t seen = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.path().extension() != ".bin") continue;
      const std::string name = entry.path().stem().string();
      if (name == skip) continue;
      const std::string content = ReadFile(entry.path());
      auto it = expected.find(name);
      if (it == expected.end()) {
        EXPECT_TRUE(content.empty()) << name << " holds " << content.size() << " bytes";
      } else {
        ++seen;
        EXPECT_TRUE(content == it->second)
            << name << ": " << content.size() << " bytes, expected " << it->second.size();
      }
    }
    EXPECT_EQ(seen, expected.size());
  }

  std::string Partition(const std::string& serial, const std::string& name) const {
    return ReadFile(root_ / "state" / serial / (name + ".bin"));
  }

  std::string Versions(const std::string& serial) const {
    std::string v = ReadFile(root_ / "state" / serial / "versions");
    while (!v.empty() && (v.back() == '\n' || v.back() == '\r')) v.pop_back();
    return v;
  }

 private:
  fs::path root_;
  std::vector<std::unique_ptr<testing::ChildProcess>> sims_;
  std::vector<std::string> simOuts_;
};

// The partition of each block id.
inline const std::map<int32_t, std::string> kWx2040Blocks = {
    {3, "1C3"}, {4, "1C6DDS"}, {6, "1C6POUT"}, {14, "MAIN"}, {8, "HTTP"}, {67, "OEM"}};
inline const std::map<int32_t, std::string> kWx2050Blocks = {{4, "MAIN"}, {254, "XP2"}, {75, "OEM"}};

// The partitions an update of every record of `firmware` must leave behind.
inline std::map<std::string, std::string> AllImages(const fs::path& firmware,
                                                    const std::map<int32_t, std::string>& blocks) {
  std::map<std::string, std::string> flash;
  for (const auto& [block, record] : RecordsOf(firmware)) flash[blocks.at(block)] = record;
  EXPECT_EQ(flash.size(), blocks.size());
  return flash;
}

inline const std::string kCompleted = "--------------- Completed ---------------";

inline std::vector<std::string> CompletedLog(const fs::path& firmware) {
  return {"Open File: " + firmware.string(), "Connecting ... OK", "Updating ... OK", kCompleted, ""};
}

// After a refusal before the first image: what the instrument holds, and for a package not fit
// for it, what to do.
inline const std::string kNothingProgrammed =
    "Nothing was programmed: the instrument is in writer mode with all its old images.";
inline const std::string kPackageNotFit =
    kNothingProgrammed +
    " The file's package is not fit for this instrument: use another firmware file of its model.";
inline const std::string kDowngradeRefused =
    kNothingProgrammed +
    " To install the older images on purpose, run flintgate-cli update FILE --allow-downgrade; "
    "otherwise use a newer firmware file.";

// `failure`: the lines that say what failed and what to do, between "Updating ... FAILED" and
// "Update was cancelled.".
inline std::vector<std::string> DriverErrorLog(const fs::path& firmware, const std::string& number,
                                               const std::vector<std::string>& failure = {}) {
  std::vector<std::string> log = {"Open File: " + firmware.string(), "Connecting ... OK",
                                  "Updating ... FAILED"};
  for (const std::string& line : failure) log.push_back(line);
  log.push_back("Update was cancelled.");
  log.push_back("Error number: " + number);
  log.push_back("");
  return log;
}

}  // namespace fg::e2e
