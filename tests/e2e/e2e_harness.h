// End-to-end harness: the real flintgate-sim and flintgate-cli processes on a private bus.
// Each test gets its own folder with the bus, the simulators' flash state, a temporary directory
// for the CLI (to see that its payload folder goes away) and the firmware files.
#pragma once
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "firmware/firmware_header.h"
#include "firmware/image_index.h"

extern char** environ;

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
  int status = -1;  // exit status, or -1 when killed or timed out
  std::string out;
  std::string err;
};

// Starts argv[0] with the environment `env` and its streams on the given files.
inline pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& in, const std::string& out, const std::string& err) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    std::FILE* i = std::freopen(in.c_str(), "rb", stdin);
    std::FILE* o = std::freopen(out.c_str(), "wb", stdout);
    std::FILE* e = std::freopen(err.c_str(), "wb", stderr);
    if (i && o && e) execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  return pid;
}

// Waits for `pid` at most `timeoutSeconds`; kills it when it takes longer. Exit status or -1.
inline int WaitFor(pid_t pid, int timeoutSeconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  while (true) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0) return -1;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

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
    for (const char* sub : {"bus", "state", "tmp", "files"}) {
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

  std::vector<std::string> Environment(bool privateTmp) const {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      if (entry.rfind("FLINTGATE_SIMBUS=", 0) == 0 || entry.rfind("TMPDIR=", 0) == 0) continue;
      env.push_back(entry);
    }
    env.push_back("FLINTGATE_SIMBUS=" + Bus().string());
    if (privateTmp) env.push_back("TMPDIR=" + (root_ / "tmp").string());
    return env;
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
    const std::string n = simPids_.empty() ? "" : std::to_string(simPids_.size());
    const std::string out = (root_ / ("sim" + n + ".out")).string();
    const std::string err = (root_ / ("sim" + n + ".err")).string();
    const pid_t pid = Spawn(argv, Environment(false), "/dev/null", out, err);
    ASSERT_GT(pid, 0);
    simPids_.push_back(pid);
    simOuts_.push_back(out);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    // The line after the last instrument started; each instrument's own trace line says "on the
    // bus" too, before the next one is there.
    while (ReadFile(out).find("; Ctrl-C stops") == std::string::npos) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) != 0) {
        simPids_.pop_back();
        FAIL() << "flintgate-sim ended: " << ReadFile(err);
      }
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "flintgate-sim did not start";
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  void StopSim() {
    for (const pid_t pid : simPids_) {
      kill(pid, SIGTERM);
      EXPECT_EQ(WaitFor(pid, 30), 0) << "flintgate-sim did not stop cleanly";
    }
    simPids_.clear();
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
    const pid_t pid = Spawn(argv, Environment(false), "/dev/null", (root_ / "make.out").string(),
                            (root_ / "make.err").string());
    EXPECT_EQ(WaitFor(pid, 60), 0) << ReadFile(root_ / "make.err");
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
    const std::string out = (root_ / "cli.out").string();
    const std::string err = (root_ / "cli.err").string();
    const pid_t pid = Spawn(argv, Environment(true), "/dev/null", out, err);
    ProcessResult r;
    r.status = WaitFor(pid, 180);
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
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
  std::vector<pid_t> simPids_;
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

inline std::vector<std::string> DriverErrorLog(const fs::path& firmware, const std::string& number) {
  return {"Open File: " + firmware.string(), "Connecting ... OK", "Updating ... FAILED",
          "Update was cancelled.", "Error number: " + number, ""};
}

}  // namespace fg::e2e
