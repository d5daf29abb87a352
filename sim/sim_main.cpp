// flintgate-sim: simulated WX2040 and WX2050 instruments on the simulated bus, and the maker of
// firmware files for them.
//
//   flintgate-sim [options] WX2040[:SERIAL] WX2050[:SERIAL] ...   runs until Ctrl-C (INT, TERM,
//                                                                  HUP; on Windows the console's
//                                                                  stop events)
//   flintgate-sim make-firmware MODEL OUT.fq [options]
#include <CLI/CLI.hpp>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/fault_plan.h"
#include "sim/firmware_maker.h"
#include "sim/flash_store.h"
#include "platform/termination.h"
#include "sim/sim_instrument.h"
#include "visa/simbus/simbus_folder.h"

namespace {

using namespace fg::sim;

struct RunOptions {
  std::vector<std::string> instruments;
  bool quiet = false;
  std::string bus;
  std::string state;
  bool fast = false;
  std::optional<uint32_t> eraseMs;
  std::optional<uint32_t> programMs;
  std::optional<uint32_t> restartDelayMs;
  std::optional<int64_t> autoRestartMs;
  std::vector<std::string> versions;
  std::vector<std::string> faults;
};

struct MakeOptions {
  std::string model;
  std::string output;
  std::optional<std::string> revision;
  std::optional<std::string> description;
  std::optional<std::string> utilityRev;
  std::optional<std::string> modelName;
  std::optional<std::string> allVersions;
  std::vector<std::string> versions;
  std::vector<std::string> sizes;
  std::vector<std::string> omit;
  std::vector<std::string> oversize;
  std::vector<std::string> blockIds;
  bool full = false;
  uint32_t seed = 1;
};

bool SplitPair(const std::string& text, std::string* key, std::string* value) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  *key = text.substr(0, eq);
  *value = text.substr(eq + 1);
  return true;
}

// Decimal, or hexadecimal after "0x".
bool ParseNumber(const std::string& text, uint32_t* value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* first = text.data() + (hex ? 2 : 0);
  const char* last = text.data() + text.size();
  const auto [end, ec] = std::from_chars(first, last, *value, hex ? 16 : 10);
  return ec == std::errc() && end == last && first != last;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "flintgate-sim: %s\n", message.c_str());
  return 2;
}

int MakeFirmware(const MakeOptions& options) {
  const SimFamily* family = FindSimFamily(options.model);
  if (family == nullptr) return Fail("no simulated model " + options.model + " (WX2040, WX2050)");
  FirmwarePlan plan = DefaultFirmwarePlan(*family);
  if (options.revision) plan.header.imageRev = *options.revision;
  if (options.description) plan.header.description = *options.description;
  if (options.utilityRev) plan.header.utilityRev = *options.utilityRev;
  if (options.modelName) plan.header.modelName = *options.modelName;
  plan.seed = options.seed;
  if (options.full) MakeFullSize(&plan);
  if (options.allVersions) {
    for (ImagePlan& image : plan.images) image.version = *options.allVersions;
  }

  auto image = [&](const std::string& key) -> ImagePlan* {
    ImagePlan* found = FindImagePlan(&plan, key);
    if (found == nullptr) Fail("no image '" + key + "' in a " + family->model + " package");
    return found;
  };
  std::string key;
  std::string value;
  for (const std::string& pair : options.versions) {
    if (!SplitPair(pair, &key, &value) || value.size() > 4) {
      return Fail("--version takes IMAGE=VERSION with at most 4 characters");
    }
    ImagePlan* target = image(key);
    if (target == nullptr) return 2;
    target->version = value;
  }
  for (const std::string& pair : options.sizes) {
    uint32_t bytes = 0;
    if (!SplitPair(pair, &key, &value) || !ParseNumber(value, &bytes)) {
      return Fail("--size takes IMAGE=BYTES");
    }
    ImagePlan* target = image(key);
    if (target == nullptr) return 2;
    target->recordLength = bytes;
  }
  for (const std::string& name : options.oversize) {
    ImagePlan* target = image(name);
    if (target == nullptr) return 2;
    target->recordLength =
        static_cast<uint32_t>(fg::PartitionCapacity(family->partitions[target->partition]) + 1);
  }
  for (const std::string& pair : options.blockIds) {
    uint32_t id = 0;
    if (!SplitPair(pair, &key, &value) || !ParseNumber(value, &id) || id > 255) {
      return Fail("--block-id takes IMAGE=ID with an ID up to 255");
    }
    ImagePlan* target = image(key);
    if (target == nullptr) return 2;
    target->blockId = id;
  }
  for (const std::string& name : options.omit) {
    ImagePlan* target = image(name);
    if (target == nullptr) return 2;
    target->omitted = true;
  }

  std::string error;
  if (!WriteFirmwareFile(plan, options.output, &error)) return Fail(error);
  uint64_t total = 0;
  for (const ImagePlan& planned : plan.images) {
    const fg::PartitionInfo& row = family->partitions[planned.partition];
    if (planned.omitted) {
      std::printf("  %-8s left out\n", row.name);
      continue;
    }
    total += planned.recordLength;
    std::printf("  %-8s block %3u  %8u bytes (max %llu)  version %s\n", row.name, planned.blockId,
                planned.recordLength, static_cast<unsigned long long>(fg::PartitionCapacity(row)),
                planned.version.c_str());
  }
  std::printf("wrote %s: %s firmware, revision %s, %llu bytes of images\n", options.output.c_str(),
              plan.header.modelName.c_str(), plan.header.imageRev.c_str(),
              static_cast<unsigned long long>(total));
  return 0;
}

std::mutex gTraceMutex;
const auto gStart = std::chrono::steady_clock::now();

void PrintTrace(std::string_view line) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - gStart).count();
  std::lock_guard<std::mutex> lock(gTraceMutex);
  std::printf("[%8.3f] %.*s\n", seconds, static_cast<int>(line.size()), line.data());
  std::fflush(stdout);
}

int RunInstruments(const RunOptions& options) {
  if (options.instruments.empty()) return Fail("name at least one instrument, e.g. WX2040");
  FaultPlan faults;
  for (const std::string& spec : options.faults) {
    std::string error;
    if (!ParseFaultSpec(spec, &faults, &error)) return Fail("--fault " + spec + ": " + error);
  }
  SimTiming timing = options.fast ? FastTiming() : SimTiming{};
  if (options.eraseMs) timing.eraseMsPerBlock = *options.eraseMs;
  if (options.programMs) timing.programMsPerBlock = *options.programMs;
  if (options.restartDelayMs) timing.restartDelayMs = *options.restartDelayMs;
  if (options.autoRestartMs) timing.autoRestartMs = *options.autoRestartMs;

  const std::string bus = options.bus.empty() ? fg::simbus::DefaultBusFolder() : options.bus;
  // Hosts ignore an unsafe bus folder: an instrument attached there would be on no bus at all.
  std::string busProblem;
  if (!fg::simbus::CheckBusFolder(bus, &busProblem)) {
    return Fail(busProblem + " " + fg::simbus::BusFolderAdvice(bus));
  }

  // Held for the wait below from here on, before the instruments' threads start: each leaves
  // the bus and removes its entry before the program ends.
  fg::platform::StopEventWaiter stopEvents;
  fg::platform::IgnoreClosedOutput();

  std::vector<std::unique_ptr<SimInstrument>> running;
  for (const std::string& text : options.instruments) {
    const size_t colon = text.find(':');
    const std::string model = text.substr(0, colon);
    const SimFamily* family = FindSimFamily(model);
    if (family == nullptr) return Fail("no simulated model " + model + " (WX2040, WX2050)");
    InstrumentSetup setup;
    setup.family = family;
    setup.serial = colon == std::string::npos ? family->defaultSerial : text.substr(colon + 1);
    setup.timing = timing;
    setup.faults = faults;
    if (!options.quiet) setup.trace = PrintTrace;

    // The serial names the instrument's state folder: checked before anything is written.
    if (!fg::simbus::IsValidSimSerial(setup.serial)) {
      return Fail("invalid serial \"" + setup.serial +
                  "\": use 1 to 226 letters, digits, '.', '_' or '-'");
    }
    FlashStore flash(*family);
    std::string error;
    if (!options.state.empty() &&
        !flash.Bind((std::filesystem::path(options.state) / setup.serial).string(), &error)) {
      return Fail(error);
    }
    for (const std::string& pair : options.versions) {
      std::string key;
      std::string run;
      if (!SplitPair(pair, &key, &run)) return Fail("--versions takes MODEL=RUN or SERIAL=RUN");
      if ((key == model || key == setup.serial) && !flash.SetVersionRun(run, &error)) {
        return Fail("--versions " + pair + ": " + error);
      }
    }
    auto instrument = SimInstrument::Start(setup, std::move(flash), bus, &error);
    if (instrument == nullptr) return Fail(setup.serial + ": " + error);
    std::printf("flintgate-sim: %s %s at %s\n", model.c_str(), setup.serial.c_str(),
                instrument->ResourceName().c_str());
    running.push_back(std::move(instrument));
  }
  std::printf("flintgate-sim: %zu instrument(s) on the bus %s; Ctrl-C stops\n", running.size(),
              bus.c_str());
  std::fflush(stdout);

  stopEvents.Wait();
  running.clear();  // each leaves the bus and removes its entry
  std::printf("flintgate-sim: stopped\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Simulated VANDRELL WX2040 and WX2050 instruments on the simulated bus."};
  app.footer(std::string("Faults (--fault, repeatable):\n") + FaultSpecHelp());
  RunOptions run;
  app.add_option("instrument", run.instruments, "MODEL[:SERIAL], e.g. WX2040 or WX2050:LAB7");
  app.add_flag("--quiet,-q", run.quiet, "no trace lines");
  app.add_option("--bus", run.bus, "bus folder (default: $FLINTGATE_SIMBUS or the user's own)");
  app.add_option("--state", run.state, "keep each instrument's flash in DIR/SERIAL/");
  app.add_flag("--fast", run.fast, "no erase, program or restart time");
  app.add_option("--erase-ms", run.eraseMs, "erase time per block (default 300)");
  app.add_option("--program-ms", run.programMs, "program time per block (default 500)");
  app.add_option("--restart-delay", run.restartDelayMs, "restart time in ms (default 1500)");
  app.add_option("--auto-restart", run.autoRestartMs,
                 "leave the writer for the normal firmware MS after the last session closed");
  app.add_option("--versions", run.versions,
                 "installed versions, MODEL=RUN or SERIAL=RUN, e.g. WX2040=2.00-01-01-01-01-0100")
      ->allow_extra_args(false);
  app.add_option("--fault", run.faults, "a fault to commit (see below)")
      ->allow_extra_args(false);

  MakeOptions make;
  CLI::App* maker = app.add_subcommand("make-firmware", "write a firmware file for a simulated model");
  maker->footer("");  // the faults belong to the instruments, not to the file maker
  maker->add_option("model", make.model, "WX2040 or WX2050")->required();
  maker->add_option("output", make.output, "the .fq file to write")->required();
  maker->add_option("--revision", make.revision, "ImageRev (default 2.10)");
  maker->add_option("--description", make.description, "UpdatedDescription");
  maker->add_option("--utility-rev", make.utilityRev, "UtilityRev (default 2.04)");
  maker->add_option("--model-name", make.modelName, "ModelName (default: the model)");
  maker->add_option("--version", make.versions, "IMAGE=VERSION, IMAGE a partition or block id")
      ->allow_extra_args(false);
  maker->add_option("--all-versions", make.allVersions, "one version for every image");
  maker->add_option("--size", make.sizes, "IMAGE=BYTES, the whole record's length")
      ->allow_extra_args(false);
  maker->add_flag("--full", make.full, "every image as long as its partition");
  maker->add_option("--omit", make.omit, "leave IMAGE out")
      ->allow_extra_args(false);
  maker->add_option("--oversize", make.oversize, "make IMAGE one byte longer than its partition")
      ->allow_extra_args(false);
  maker->add_option("--block-id", make.blockIds, "IMAGE=ID, a wrong block id in its trailer")
      ->allow_extra_args(false);
  maker->add_option("--seed", make.seed, "varies the image bytes (default 1)");

  CLI11_PARSE(app, argc, argv);
  if (*maker) return MakeFirmware(make);
  return RunInstruments(run);
}
