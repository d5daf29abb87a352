// Soak: updates of simulated WX2040 and WX2050 instruments (--fast, flash kept in --state),
// each with a fault drawn at random from a seeded generator, with files of both models; some
// instruments start in writer mode, some of those with a writer that names no model, some with a
// writer that takes any block id. No run writes one model's image into the other: a file of the
// other model changes no partition and sends no frame. After every update each partition holds
// exactly its old or its new image, but for at most the one partition whose programming the
// fault interrupted, which the instrument's trace names as the last one begun and the CLI's plan
// as the first present image not programmed; no payload folder is left; no run exceeded its
// deadline.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "firmware/firmware_header.h"
#include "firmware/image_index.h"
#include "firmware/image_record.h"
#include "programmer/partition_tables.h"
#include "sim/flash_store.h"
#include "tests/support/child_process.h"

namespace fg {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Far above what a --fast update takes (about half a second), far below the I/O timeouts that a
// hang would run into.
constexpr double kRunDeadlineSeconds = 15.0;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && text[0] != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

// Starts argv with `env` set over this process's environment, its output and errors into `out`.
std::unique_ptr<testing::ChildProcess> Start(const std::vector<std::string>& argv,
                                             const std::vector<std::string>& env,
                                             const fs::path& out) {
  testing::ChildOptions options;
  options.args = argv;
  options.env = env;
  options.out = testing::ChildOutput::kFile;
  options.outPath = out.string();
  return std::make_unique<testing::ChildProcess>(options);
}

// Waits at most `seconds`; the exit status, 128 + signal, or -1 when it had to be killed.
int Wait(testing::ChildProcess& child, double seconds) {
  return child.Wait(static_cast<int>(seconds * 1000)).Code();
}

struct Model {
  const char* name;
  const char* serial;
  const char* normalProduct;  // the product id of the normal firmware, "0x3A01"
  std::span<const PartitionInfo> partitions;
  const char* other;          // the other model, whose file the instrument must never take
};

// Files 0 and 1 are the instrument's own model's; file 2 is the other model's.
constexpr int kForeignFile = 2;

// One update of the soak: which package, which fault, and whether the instrument starts in its
// normal firmware (the switch into the writer, with its 4 s wait) or already in the writer, whose
// identity may name no model, and which may take any block id; and whether the user confirms the
// instrument's model (truthfully) with --confirm-model.
struct Draw {
  int file;
  std::string fault;
  bool normalStart;
  bool writerNamesNoModel;
  bool anyBlockId;
  bool confirmModel;
  bool allowDowngrade;  // no version check: nothing but the model checks stands in the way
};

// One instrument and what the soak knows of it: its firmware files, the bytes each partition may
// receive from them, and what its flash held after the last update.
class Lane {
 public:
  Lane(const Model& model, const fs::path& root) : model_(model), root_(root / model.serial) {
    for (const char* sub : {"", "/bus", "/state", "/tmp", "/run"}) {
      fs::create_directories(root_.string() + sub);
      fs::permissions(root_.string() + sub, fs::perms::owner_all, fs::perm_options::replace);
    }
  }

  void Prepare() {
    // Two packages with the same versions and different bytes: every update changes the flash.
    // Then one of the other model, whose records must never reach this instrument.
    for (int seed : {1, 2, 3}) {
      const char* model = seed == 3 ? model_.other : model_.name;
      const fs::path file = root_ / ("fw" + std::to_string(seed) + ".fq");
      const auto make = Start({FG_SIM_PATH, "make-firmware", model, file.string(), "--seed",
                               std::to_string(seed)},
                              {}, root_ / "make.out");
      ASSERT_EQ(Wait(*make, 60), 0) << ReadFile(root_ / "make.out");
      files_.push_back(file);
      images_.push_back(Images(file));
    }
    foreignRecords_ = Records(files_[kForeignFile]);
    // The instrument's flash before the first update: whatever the simulator starts with.
    const auto sim = StartSim({}, false);
    ASSERT_TRUE(WaitOnBus(*sim)) << ReadFile(root_ / "sim.out");
    sim->Signal(SIGTERM);
    ASSERT_EQ(Wait(*sim, 30), 0);
    flash_ = ReadFlash();
  }

  // One update as drawn; adds what went wrong to `failures`.
  void Update(const Draw& draw, double* longest, std::vector<std::string>* failures) {
    const int file = draw.file;
    const std::string what =
        std::string(model_.serial) + " fw" + std::to_string(file + 1) +
        (file == kForeignFile ? std::string(" (") + model_.other + ")" : "") +
        (draw.normalStart ? " from normal mode" : "") +
        (draw.writerNamesNoModel ? ", writer names no model" : "") +
        (draw.anyBlockId ? ", any block id" : "") + (draw.confirmModel ? ", confirmed" : "") +
        (draw.allowDowngrade ? ", downgrade allowed" : "") +
        " fault '" + draw.fault + "': ";
    std::vector<std::string> faults = {draw.fault};
    if (draw.writerNamesNoModel) faults.push_back("writer-no-model");
    if (draw.anyBlockId) faults.push_back("any-block-id");
    const auto sim = StartSim(faults, draw.normalStart);
    if (!WaitOnBus(*sim)) {
      failures->push_back(what + "the simulator did not start: " + ReadFile(root_ / "sim.out"));
      return;  // the simulator is killed as `sim` goes
    }
    const auto start = Clock::now();
    // Mostly the instrument is in writer mode already, as a failed update leaves it, which
    // spares the 4 s of the switch; the writer of a WX2050 is found only under its own product
    // id, so the resource is always named.
    const std::string resource = std::string("USB0::0x2E5B::") +
                                 (draw.normalStart ? model_.normalProduct : "0x3A01") +
                                 "::" + model_.serial + "::INSTR";
    std::vector<std::string> argv = {FG_CLI_PATH, "update", files_[static_cast<size_t>(file)].string(),
                                     "--device", resource, "--yes", "--json", "--quiet"};
    if (draw.allowDowngrade) argv.push_back("--allow-downgrade");
    if (draw.confirmModel) {
      argv.push_back("--confirm-model");
      argv.push_back(std::string(model_.serial) + "=" + model_.name);
    }
    const auto cli = Start(
        argv,
        {"FLINTGATE_SIMBUS=" + (root_ / "bus").string(), "TMPDIR=" + (root_ / "tmp").string(),
         "XDG_RUNTIME_DIR=" + (root_ / "run").string()},
        root_ / "cli.out");
    const int status = Wait(*cli, kRunDeadlineSeconds);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    *longest = std::max(*longest, seconds);
    sim->Signal(SIGTERM);
    if (Wait(*sim, 30) != 0) failures->push_back(what + "the simulator did not stop cleanly");
    if (status < 0) {
      failures->push_back(what + "the run exceeded its deadline of " +
                          std::to_string(kRunDeadlineSeconds) + " s");
    } else if (status != 0 && status != 1 && !(status == 5 && Unvouched(draw))) {
      failures->push_back(what + "exit status " + std::to_string(status) + ": " +
                          ReadFile(root_ / "cli.out"));
    }
    if (status == 0 && (file == kForeignFile || Unvouched(draw))) {
      failures->push_back(what + "completed, but it must have been refused");
    }
    if (!fs::is_empty(root_ / "tmp"))
      failures->push_back(what + "a payload folder was left behind");
    if (file == kForeignFile || Unvouched(draw)) {
      CheckUntouched(what, failures);
    } else {
      Check(file, status, what, failures);
    }
  }

 private:
  // A writer that names no model, met in writer mode without the user's word that it is the
  // file's model (the word, when given, is the instrument's true model).
  static bool Unvouched(const Draw& draw) {
    return draw.writerNamesNoModel && !draw.normalStart &&
           (!draw.confirmModel || draw.file == kForeignFile);
  }

  // A run that must not have touched the instrument: no frame in its trace, no partition changed,
  // and no record of the other model anywhere in its flash.
  void CheckUntouched(const std::string& what, std::vector<std::string>* failures) {
    const std::string trace = ReadFile(root_ / "sim.out");
    if (trace.find(std::string(model_.serial) + " <- Cmd") != std::string::npos)
      failures->push_back(what + "a writer frame reached the instrument");
    const std::map<std::string, std::string> now = ReadFlash();
    for (const auto& [name, content] : now) {
      if (content != flash_.at(name)) failures->push_back(what + name + " was changed");
    }
    CheckNoForeignImage(now, what, failures);
    flash_ = now;
  }

  // No partition holds a record of the other model's file, whole or cut to the partition.
  void CheckNoForeignImage(const std::map<std::string, std::string>& flash, const std::string& what,
                           std::vector<std::string>* failures) const {
    for (const auto& [name, content] : flash) {
      for (const std::string& record : foreignRecords_) {
        if (!content.empty() && record.compare(0, content.size(), content) == 0)
          failures->push_back(what + name + " holds a " + model_.other + " image");
      }
    }
  }

  std::unique_ptr<testing::ChildProcess> StartSim(const std::vector<std::string>& faults,
                                                  bool normalStart) {
    fs::remove(root_ / "sim.out");
    std::vector<std::string> argv = {FG_SIM_PATH,
                                     std::string(model_.name) + ":" + model_.serial,
                                     "--fast",
                                     "--bus",
                                     (root_ / "bus").string(),
                                     "--state",
                                     (root_ / "state").string()};
    if (!normalStart) {
      argv.push_back("--fault");
      argv.push_back("start-writer");
    }
    for (const std::string& fault : faults) {
      if (fault.empty()) continue;
      argv.push_back("--fault");
      argv.push_back(fault);
    }
    return Start(argv, {}, root_ / "sim.out");
  }

  static bool WaitOnBus(testing::ChildProcess& sim) {
    return sim.WaitForOutput("on the bus", 20000);
  }

  // The records of a package's payload, whole.
  static std::vector<std::string> Records(const fs::path& firmware) {
    std::FILE* f = std::fopen(firmware.c_str(), "rb");
    FirmwareHeader header{};
    ParseFirmwareHeader(&header, f);
    ImageIndex index{};
    index.capacity = kImageIndexMaxCapacity;
    ParseImageIndexStream(&index, f, header.payloadOffset);
    std::fclose(f);
    const std::string bytes = ReadFile(firmware);
    std::vector<std::string> records;
    for (int32_t i = 0; i < index.imageCount; ++i) {
      const ImageIndexEntry& e = index.images[i];
      records.push_back(bytes.substr(static_cast<size_t>(header.payloadOffset) + e.offset, e.length));
    }
    return records;
  }

  // The bytes each partition holds once a record of the package was programmed into it (the
  // WX2040's driver may add its built-in OEM record).
  std::map<std::string, std::set<std::string>> Images(const fs::path& firmware) const {
    std::FILE* f = std::fopen(firmware.c_str(), "rb");
    FirmwareHeader header{};
    ParseFirmwareHeader(&header, f);
    ImageIndex index{};
    index.capacity = kImageIndexMaxCapacity;
    ParseImageIndexStream(&index, f, header.payloadOffset);
    std::fclose(f);
    const std::string bytes = ReadFile(firmware);
    std::vector<std::pair<uint32_t, std::string>> records;
    for (int32_t i = 0; i < index.imageCount; ++i) {
      const ImageIndexEntry& e = index.images[i];
      records.emplace_back(
          e.blockId, bytes.substr(static_cast<size_t>(header.payloadOffset) + e.offset, e.length));
    }
    records.emplace_back(kOemBlockId,
                         std::string(reinterpret_cast<const char*>(kOemRecord), kOemRecordSize));
    std::map<std::string, std::set<std::string>> images;
    for (const auto& [block, record] : records) {
      for (const PartitionInfo& row : model_.partitions) {
        if (row.firstBlock != block) continue;
        images[sim::PartitionFileName(row)].insert(block == 0 ? record.substr(8) : record);
      }
    }
    return images;
  }

  std::map<std::string, std::string> ReadFlash() const {
    std::map<std::string, std::string> flash;
    for (const PartitionInfo& row : model_.partitions) {
      const std::string name = sim::PartitionFileName(row);
      flash[name] = ReadFile(root_ / "state" / model_.serial / name);
    }
    return flash;
  }

  void Check(int file, int status, const std::string& what, std::vector<std::string>* failures) {
    const std::map<std::string, std::string> now = ReadFlash();
    CheckNoForeignImage(now, what, failures);
    const auto& images = images_[static_cast<size_t>(file)];
    std::vector<std::string> neither;
    for (const auto& [name, content] : now) {
      const auto it = images.find(name);
      const bool isNew = it != images.end() && it->second.count(content) != 0;
      if (content != flash_.at(name) && !isNew) neither.push_back(name);
      if (status == 0 && it != images.end() && !isNew && name != "OEM.bin") {
        failures->push_back(what + "completed, but " + name + " lacks its new image");
      }
    }
    if (neither.size() > 1)
      failures->push_back(what + std::to_string(neither.size()) + " partitions hold neither image");
    if (neither.size() == 1) {
      // The one partition cut short must be the one in progress, as both logs have it.
      const std::string trace = ReadFile(root_ / "sim.out");
      const size_t at = trace.rfind("-- programming ");
      const std::string begun =
          at == std::string::npos ? "" : trace.substr(at + 15, trace.find(':', at) - at - 15);
      std::string planned;
      try {
        const auto result = nlohmann::json::parse(
            ReadFile(root_ / "cli.out").substr(ReadFile(root_ / "cli.out").find('{')));
        for (const auto& image : result.at("images")) {
          if (image.at("present").get<bool>() && !image.at("programmed").get<bool>()) {
            planned = image.at("partition").get<std::string>();
            break;
          }
        }
      } catch (const std::exception&) {
      }
      std::string file = begun;
      std::replace(file.begin(), file.end(), ' ', '_');
      if (neither[0] != file + ".bin" || begun != planned) {
        failures->push_back(what + neither[0] +
                            " holds neither image, but the trace's last programming was '" + begun +
                            "' and the plan's first unprogrammed image '" + planned + "'");
      }
    }
    flash_ = now;
  }

  Model model_;
  fs::path root_;
  std::vector<fs::path> files_;
  std::vector<std::map<std::string, std::set<std::string>>> images_;
  std::vector<std::string> foreignRecords_;  // the other model's file's records
  std::map<std::string, std::string> flash_;
};

// The faults drawn from; N is an image's turn (1 to 6).
const char* const kFaults[] = {
    "",  // none
    "final:program-ng@N",
    "final:erase-ng@N",
    "final:rtn-ng@N",
    "final:latest@N",
    "wrong-checksum@N",
    "reply:CmdData@N=NG",
    "reply:CmdSize@N=NG",
    "reply:CmdSetupEnd@N=NG",
    "long-reply:CmdReset@N",
    "unplug:CmdProgram@N",
    "unplug:CmdData@N",
    "unplug-after:BYTES",
};

std::string DrawFault(std::mt19937_64& random) {
  std::string fault = kFaults[random() % std::size(kFaults)];
  if (const size_t n = fault.find("@N"); n != std::string::npos) {
    fault.replace(n + 1, 1, std::to_string(1 + random() % 6));
  }
  if (const size_t b = fault.find("BYTES"); b != std::string::npos) {
    fault.replace(b, 5, std::to_string(1 + random() % 1200000));
  }
  return fault;
}

TEST(Soak, EveryPartitionHoldsItsOldOrItsNewImage) {
  const uint64_t updates = EnvNumber("SOAK_UPDATES", 200);
  const uint64_t seed = EnvNumber("SOAK_SEED", static_cast<uint64_t>(std::random_device{}()));
  std::printf("soak: %llu updates, seed %llu (SOAK_SEED=%llu repeats it)\n",
              static_cast<unsigned long long>(updates), static_cast<unsigned long long>(seed),
              static_cast<unsigned long long>(seed));
  std::fflush(stdout);

  std::string pattern = (fs::temp_directory_path() / "fg-soak-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path root = pattern;
  // One lane per family, side by side: the updates wait on sockets far more than they compute.
  std::vector<Lane> lanes;
  lanes.emplace_back(Model{"WX2040", "SOAK2040", "0x3A01", kWx2040PartitionTable, "WX2050"}, root);
  lanes.emplace_back(Model{"WX2050", "SOAK2050", "0x3A02", kWx2050PartitionTable, "WX2040"}, root);
  for (Lane& lane : lanes) {
    lane.Prepare();
    if (::testing::Test::HasFatalFailure()) return;
  }

  // Every draw is made up front, so a seed gives the same updates whatever the timing.
  std::mt19937_64 random(seed);
  std::vector<std::vector<Draw>> plans(lanes.size());
  for (uint64_t i = 0; i < updates; ++i) {
    Draw draw;
    // One update in five is offered the other model's file.
    draw.file = random() % 5 == 0 ? kForeignFile : static_cast<int>(random() % 2);
    draw.fault = DrawFault(random);
    draw.normalStart = random() % 20 == 0;
    draw.writerNamesNoModel = random() % 4 == 0;
    draw.anyBlockId = random() % 3 == 0;
    draw.confirmModel = random() % 2 == 0;
    draw.allowDowngrade = random() % 3 == 0;
    plans[i % lanes.size()].push_back(std::move(draw));
  }
  std::vector<std::vector<std::string>> failures(lanes.size());
  std::vector<double> longest(lanes.size(), 0.0);
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (size_t l = 0; l < lanes.size(); ++l) {
    threads.emplace_back([&, l] {
      for (const Draw& draw : plans[l]) lanes[l].Update(draw, &longest[l], &failures[l]);
    });
  }
  for (std::thread& t : threads) t.join();

  size_t failed = 0;
  for (const auto& lane : failures) {
    for (const std::string& f : lane) ADD_FAILURE() << f;
    failed += lane.size();
  }
  std::printf(
      "soak: %llu updates in %.1f s, longest run %.2f s (deadline %.0f s), %zu failures, seed "
      "%llu\n",
      static_cast<unsigned long long>(updates),
      std::chrono::duration<double>(Clock::now() - start).count(),
      *std::max_element(longest.begin(), longest.end()), kRunDeadlineSeconds, failed,
      static_cast<unsigned long long>(seed));
  std::error_code ignored;
  if (failed == 0 && std::getenv("SOAK_KEEP") == nullptr) fs::remove_all(root, ignored);
}

}  // namespace
}  // namespace fg
