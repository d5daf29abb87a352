// The production station against simulated instruments plugged in one after another (one
// simulator process each, so that each can be unplugged alone): what it takes, refuses and
// leaves alone, what its records say against what each instrument's flash holds, Ctrl-C while
// instruments are programming, and a record file that cannot be written.
#include <nlohmann/json.hpp>

#include "e2e_harness.h"
#include "util/sha256.h"

namespace fg::e2e {
namespace {

using Json = nlohmann::json;

std::string FileSha256(const fs::path& path) {
  const std::string bytes = ReadFile(path);
  Sha256 hash;
  Sha256Start(&hash);
  Sha256Feed(&hash, bytes.data(), bytes.size());
  return Sha256Hex(Sha256Finish(&hash));
}

std::vector<Json> RecordsIn(const fs::path& path) {
  std::vector<Json> records;
  for (const std::string& line : Lines(ReadFile(path))) {
    records.push_back(Json::parse(line, nullptr, false));
    EXPECT_FALSE(records.back().is_discarded()) << line;
  }
  return records;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class StationTest : public E2eTest {
 protected:
  // `flintgate-cli station FILE --yes --record RECORDS ARGS`, off a terminal, running until the
  // test stops it; returns once it waits for instruments.
  void StartStation(const fs::path& firmware, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {FG_CLI_PATH, "station", firmware.string(), "--yes",
                                     "--record", Records().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    station = std::make_unique<testing::ChildProcess>(Options(argv, true));
    ASSERT_TRUE(station->Started()) << station->startError();
    ASSERT_TRUE(station->WaitForOutput("Ctrl-C ends the session", 30000)) << station->err();
  }

  void WaitForEvent(const std::string& line, size_t times = 1) {
    ASSERT_TRUE(station->WaitUntil(
        [&](const std::string& out) { return Count(out, line + "\n") >= times; }, 60000))
        << "never saw \"" << line << "\"\n"
        << station->out() << station->err();
  }

  // Every image of a record against the flash: a programmed image holds its record's bytes, one
  // that was not is as empty as the simulator starts it.
  void ExpectFlashAsRecorded(const Json& record, const fs::path& firmware,
                             const std::map<int32_t, std::string>& blocks) {
    std::map<std::string, std::string> expected;
    for (const auto& [block, bytes] : RecordsOf(firmware)) {
      if (blocks.count(block) != 0) expected[blocks.at(block)] = bytes;
    }
    const std::string serial = record["serial"];
    ASSERT_EQ(record["images"].size(), blocks.size()) << serial;
    for (const Json& image : record["images"]) {
      const std::string partition = image["partition"];
      SCOPED_TRACE(serial + " " + partition);
      if (image["programmed"].get<bool>()) {
        EXPECT_TRUE(Partition(serial, partition) == expected.at(partition));
      } else {
        EXPECT_TRUE(Partition(serial, partition).empty());
      }
    }
  }

  fs::path Records() const { return Files() / "records.jsonl"; }
  std::unique_ptr<testing::ChildProcess> station;
};

TEST_F(StationTest, TakesEachInstrumentAsItAppearsRefusesOthersAndRecordsEveryRun) {
  const fs::path fw = MakeFirmware("WX2040", "wx2040.fq");
  StartStation(fw, {"--jobs", "2"});

  StartSim({"WX2040:A"});  // sim 0
  WaitForEvent("A WX2040: done");
  StartSim({"WX2050:OTHER"});  // sim 1
  StartSim({"WX2040:FAULT"}, {"--fault", "final:program-ng@2"});  // sim 2
  WaitForEvent("OTHER WX2050: refused: not a WX2040");
  ASSERT_TRUE(station->WaitForOutput("FAULT WX2040: failed: ", 60000)) << station->out();

  // Still plugged in: A is not taken again. Unplugged and plugged in again it is, and is found
  // up to date without being switched into its writer.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(Count(station->out(), "A WX2040: waiting\n"), 1u);
  Unplug(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  StartSim({"WX2040:A"});
  WaitForEvent("A WX2040: up to date");
  EXPECT_EQ(Count(station->out(), "A WX2040: waiting\n"), 2u);
  EXPECT_EQ(Count(station->out(), "A WX2040: switching\n"), 1u);

  const testing::ChildStatus ended = station->Stop(SIGINT, 60000);
  EXPECT_EQ(ended.Code(), 1) << station->err();  // FAULT failed
  EXPECT_NE(station->out().find("1 done, 1 up to date, 1 refused, 1 failed"), std::string::npos)
      << station->out();

  const std::vector<Json> lines = RecordsIn(Records());
  ASSERT_EQ(lines.size(), 4u) << ReadFile(Records());
  std::map<std::string, std::vector<Json>> bySerial;
  for (const Json& r : lines) {
    EXPECT_EQ(r["file"]["name"], fw.string());
    EXPECT_EQ(r["file"]["size"], fs::file_size(fw));
    EXPECT_EQ(r["file"]["sha256"], FileSha256(fw));
    EXPECT_FALSE(r["host"].get<std::string>().empty());
    EXPECT_EQ(r["time"].get<std::string>().size(), 20u) << r["time"];
    EXPECT_EQ(r["program"], "flintgate-cli station");
    bySerial[r["serial"]].push_back(r);
  }

  ASSERT_EQ(bySerial["A"].size(), 2u);
  const Json& first = bySerial["A"][0];
  EXPECT_EQ(first["result"], "completed");
  EXPECT_EQ(first["errorNumber"], 0);
  EXPECT_EQ(first["reason"], "");
  EXPECT_GT(first["seconds"].get<double>(), 0.0);
  for (const Json& image : first["images"]) EXPECT_TRUE(image["programmed"].get<bool>());
  ExpectFlashAsRecorded(first, fw, kWx2040Blocks);
  // What it held before is not what it holds now.
  EXPECT_NE(first["images"][3]["installed"], first["images"][3]["package"]);

  const Json& second = bySerial["A"][1];
  EXPECT_EQ(second["result"], "up to date");
  EXPECT_EQ(second["errorNumber"], 0);
  const std::string versions = Versions("A");
  for (const Json& image : second["images"]) {
    EXPECT_FALSE(image["programmed"].get<bool>());
    if (image["installed"].is_null()) continue;
    const std::string installed = image["installed"];
    EXPECT_EQ(image["package"].get<std::string>().rfind(installed, 0), 0u) << image;
    EXPECT_NE(versions.find(installed), std::string::npos) << versions;
  }

  ASSERT_EQ(bySerial["FAULT"].size(), 1u);
  const Json& fault = bySerial["FAULT"][0];
  EXPECT_EQ(fault["result"], "failed");
  EXPECT_EQ(fault["errorNumber"], 0x10008);
  EXPECT_FALSE(fault["reason"].get<std::string>().empty());
  EXPECT_TRUE(fault["images"][0]["programmed"].get<bool>());
  EXPECT_FALSE(fault["images"][1]["programmed"].get<bool>());
  // The partition that failed is left as the failure left it; every other one as recorded.
  Json kept = fault;
  kept["images"].erase(1);
  std::map<int32_t, std::string> others = kWx2040Blocks;
  others.erase(4);  // 1C6DDS
  ExpectFlashAsRecorded(kept, fw, others);
  EXPECT_NE(Partition("FAULT", "1C6DDS"), RecordsOf(fw).at(4));

  ASSERT_EQ(bySerial["OTHER"].size(), 1u);
  const Json& other = bySerial["OTHER"][0];
  EXPECT_EQ(other["result"], "refused");
  EXPECT_EQ(other["model"], "WX2050");
  EXPECT_TRUE(other["images"].empty());
  ExpectFlash("OTHER", {});
  EXPECT_EQ(SimTrace().find("OTHER <- SYST"), std::string::npos);

  // The records command reads the file back: a table, and the lines as one array.
  const ProcessResult table = RunCli({FG_CLI_PATH, "records", Records().string()});
  EXPECT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(Lines(table.out).size(), 5u) << table.out;
  EXPECT_NE(table.out.find("1C3,1C6DDS,1C6POUT,MAIN,HTTP,OEM"), std::string::npos) << table.out;
  const ProcessResult array = RunCli({FG_CLI_PATH, "records", Records().string(), "--json"});
  EXPECT_EQ(array.status, 0) << array.err;
  EXPECT_EQ(Json::parse(array.out), Json(lines));
}

TEST_F(StationTest, CtrlCWhileTwoInstrumentsProgramFinishesTheirImagesAndTakesNoMore) {
  const fs::path fw = MakeFirmware("WX2040", "wx2040.fq");
  StartStation(fw, {});
  StartSim({"WX2040:P1"}, {"--program-ms", "150"});
  StartSim({"WX2040:P2"}, {"--program-ms", "150"});
  WaitForEvent("P1 WX2040: programming 10 %");
  WaitForEvent("P2 WX2040: programming 10 %");
  ASSERT_TRUE(station->Signal(SIGINT));
  // An instrument plugged in now is not taken.
  StartSim({"WX2040:LATE"});
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));

  const testing::ChildStatus ended = station->Wait(120000);
  EXPECT_EQ(ended.Code(), 1) << station->err();  // both runs were stopped between two images
  EXPECT_EQ(station->out().find("LATE"), std::string::npos) << station->out();
  ExpectFlash("LATE", {});

  const std::vector<Json> lines = RecordsIn(Records());
  ASSERT_EQ(lines.size(), 2u) << ReadFile(Records());
  for (const Json& r : lines) {
    SCOPED_TRACE(r.dump());
    EXPECT_EQ(r["result"], "failed");
    // The image in progress when Ctrl-C came was finished: at least one holds its record.
    size_t programmed = 0;
    for (const Json& image : r["images"]) programmed += image["programmed"].get<bool>() ? 1 : 0;
    EXPECT_GE(programmed, 1u);
    EXPECT_LT(programmed, r["images"].size());
    ExpectFlashAsRecorded(r, fw, kWx2040Blocks);
  }
  EXPECT_TRUE(fs::is_empty(Files().parent_path() / "tmp")) << "a payload folder was left behind";
}

TEST_F(StationTest, ARecordFileThatCannotBeWrittenStopsItBeforeAnyInstrumentIsTouched) {
  const fs::path fw = MakeFirmware("WX2040", "wx2040.fq");
  StartSim({"WX2040:U1"});
  const fs::path unwritable = Files() / "missing" / "records.jsonl";

  const ProcessResult station =
      RunCli({FG_CLI_PATH, "station", fw.string(), "--yes", "--record", unwritable.string()});
  EXPECT_EQ(station.status, 6) << station.err;
  EXPECT_NE(station.err.find("cannot be written"), std::string::npos) << station.err;

  const ProcessResult update =
      Update(fw, {"--yes", "--record", unwritable.string()});
  EXPECT_EQ(update.status, 6) << update.err;
  const ProcessResult set = Update(fw, {"--all", "--yes", "--record", Files().string()});
  EXPECT_EQ(set.status, 6) << set.err;

  EXPECT_EQ(SimTrace().find("SYST:UPDATE"), std::string::npos);
  ExpectFlash("U1", {});

  // The same update with a record file that can be written records its run.
  const ProcessResult recorded = Update(fw, {"--yes", "--record", Records().string()});
  EXPECT_EQ(recorded.status, 0) << recorded.err;
  const std::vector<Json> lines = RecordsIn(Records());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["program"], "flintgate-cli update");
  EXPECT_EQ(lines[0]["result"], "completed");
  ExpectFlashAsRecorded(lines[0], fw, kWx2040Blocks);

  // Several at once: a line for each, as each run ends, saying what its run said.
  StartSim({"WX2040:U2"});
  const ProcessResult set2 = Update(fw, {"--all", "--yes", "--json", "--record", Records().string()});
  const Json results = Json::parse(set2.out)["results"];
  ASSERT_EQ(results.size(), 2u) << set2.out;
  const std::vector<Json> all = RecordsIn(Records());
  ASSERT_EQ(all.size(), 3u);
  for (const Json& run : results) {
    const std::string resource = run["resource"];
    size_t found = 0;
    for (size_t i = 1; i < all.size(); ++i) {
      if (all[i]["resource"] != resource) continue;
      ++found;
      EXPECT_EQ(all[i]["errorNumber"], run["result"]) << resource;
      for (size_t k = 0; k < run["images"].size(); ++k) {
        EXPECT_EQ(all[i]["images"][k]["programmed"], run["images"][k]["programmed"]) << resource;
      }
    }
    EXPECT_EQ(found, 1u) << resource;
  }
  // U2's flash was empty before its run: every image it holds now is one its record names.
  for (const Json& r : all) {
    if (r["serial"] == "U2") ExpectFlashAsRecorded(r, fw, kWx2040Blocks);
  }
}

}  // namespace
}  // namespace fg::e2e
