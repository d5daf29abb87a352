// flintgate-cli inspect and models, run as a user would, on hand-made files.
#include <gtest/gtest.h>

#include <ostream>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/firmware/firmware_test_files.h"
#include "tests/support/child_process.h"

namespace fg {
namespace {

using nlohmann::json;
using test::Lines;
using test::RecordBytes;

struct CliRun {
  int exitCode;
  std::string out;
};

// Runs the CLI with `args`, its errors discarded, bounded so that a CLI that blocks fails the
// test instead of hanging it.
CliRun RunCli(const std::vector<std::string>& args) {
  testing::ChildOptions options;
  options.args = {FG_CLI_PATH};
  options.args.insert(options.args.end(), args.begin(), args.end());
  options.err = testing::ChildOutput::kDiscard;
  const testing::ChildRun run = testing::RunChild(options, 30000);
  return {run.status.Code(), run.out};
}

class InspectCliTest : public ::testing::Test {
 protected:
  // Writes `bytes` as a file in the private folder and inspects it with --json.
  json Inspect(const std::string& bytes, int expectedExit, const std::string& name = "fw.fq") {
    const std::string path = dir_.File(name);
    test::WriteFile(path, bytes);
    return InspectPath(path, expectedExit);
  }
  json InspectPath(const std::string& path, int expectedExit) {
    CliRun run = RunCli({"inspect", "--json", path});
    EXPECT_EQ(run.exitCode, expectedExit) << run.out;
    json j = json::parse(run.out, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << run.out;
    EXPECT_TRUE(j.is_object());
    return j;
  }
  test::TempDir dir_;
};

const std::string kWx2040Header =
    Lines({"# ModelName = wx2040", "# ImageRev = 1.05b", "# UtilityRev = 2.04",
           "# UpdatedDescription =  Fixed Bugs  ", "# FileStart"});

TEST_F(InspectCliTest, AcceptedFileShowsHeaderAndImages) {
  const std::string payload =
      RecordBytes({.blockId = 1, .bodySize = 100, .version = "0105", .tag = 0x4D41494E}) +
      RecordBytes({.blockId = 2, .bodySize = 10, .tInImageLength = true});
  const std::string path = dir_.File("fw.fq");
  json j = Inspect(kWx2040Header + payload, 3);  // its images are for no partition of the WX2040
  EXPECT_EQ(j["file"], path);
  EXPECT_EQ(j["accepted"], true);
  EXPECT_EQ(j["error"], 0);
  EXPECT_TRUE(j["message"].is_null());
  EXPECT_EQ(j["model"], "WX2040");
  const json& h = j["header"];
  EXPECT_EQ(h["ModelName"], "WX2040");
  EXPECT_EQ(h["ImageRev"], "1.05B");
  EXPECT_EQ(h["UtilityRev"], "2.04");
  EXPECT_EQ(h["RevsNotSupport"], "");
  EXPECT_EQ(h["UpdatedDescription"], "  Fixed Bugs  ");
  EXPECT_EQ(h["payloadOffset"], kWx2040Header.size());
  EXPECT_EQ(j["payloadSize"], payload.size());

  ASSERT_EQ(j["images"].size(), 2u);
  const json& a = j["images"][0];
  EXPECT_EQ(a["offset"], 0);
  EXPECT_EQ(a["length"], 126);
  EXPECT_EQ(a["storedLength"], 120);
  EXPECT_EQ(a["imageLength"], 0);
  EXPECT_EQ(a["version"], "0105");
  EXPECT_EQ(a["tag"], 0x4D41494E);
  EXPECT_EQ(a["blockId"], 1);
  const json& b = j["images"][1];
  EXPECT_EQ(b["offset"], 126);
  EXPECT_EQ(b["length"], 36);
  EXPECT_EQ(b["imageLength"], 30);
  EXPECT_EQ(b["storedLength"], 0);
  EXPECT_EQ(b["blockId"], 2);
  for (const char* key : {"leadWord", "trailerWord", "trailerByte"}) EXPECT_EQ(b[key], 0) << key;
}

// The package checks that need no instrument: a 24-byte HTTP record is refused with the
// programmer's number, as the update would refuse it before programming anything.
TEST_F(InspectCliTest, PackageChecksNameARecordTheProgrammerRefuses) {
  std::string shortHttp = RecordBytes({.blockId = 8, .bodySize = 0});
  shortHttp.erase(16, 2);  // 24 bytes: the trailer moves two bytes forward
  test::StoreBe32Into(&shortHttp, 8, 18);
  const std::string payload =
      RecordBytes({.blockId = 3}) + RecordBytes({.blockId = 4}) + RecordBytes({.blockId = 6}) +
      RecordBytes({.blockId = 14}) + shortHttp;
  json j = Inspect(kWx2040Header + payload, 3);
  EXPECT_EQ(j["accepted"], true) << "the header is what the window accepts";
  ASSERT_TRUE(j["package"].is_object()) << j.dump();
  EXPECT_EQ(j["package"]["error"], 8);
  EXPECT_EQ(j["package"]["updateError"], 0x10008);
  EXPECT_EQ(j["package"]["programmerError"], 3);
  ASSERT_EQ(j["package"]["rules"].size(), 6u);
  EXPECT_EQ(j["package"]["rules"][3]["verdict"], "ok");
  EXPECT_EQ(j["package"]["rules"][4]["partition"], "HTTP");
  EXPECT_EQ(j["package"]["rules"][4]["verdict"], "image record too short");
  EXPECT_EQ(j["package"]["rules"][5]["verdict"], "absent (optional)");

  CliRun human = RunCli({"inspect", dir_.File("fw.fq")});
  EXPECT_NE(human.out.find("The image for HTTP was refused before programming"), std::string::npos)
      << human.out;
  EXPECT_NE(human.out.find("0x10008"), std::string::npos) << human.out;
}

TEST_F(InspectCliTest, HeaderBytesMapOneToOneOntoCodePoints) {
  // Bytes 0x80..0xFF, and a control character, come back exactly from the JSON strings.
  const std::string description = "caf\xE9 \x01 \xFF\x80 \xC3\xA9";
  json j = Inspect(Lines({"#ModelName=WX2050", "#UpdatedDescription=" + description,
                          "#RevsNotSupport=\xB5" "1", "#FileStart"}),
                   3);
  auto bytesOf = [](const std::string& utf8) {
    // Decode the parsed UTF-8 back into one byte per code point.
    std::string bytes;
    for (size_t i = 0; i < utf8.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(utf8[i]);
      if (c < 0x80) {
        bytes += static_cast<char>(c);
      } else {
        EXPECT_TRUE(c == 0xC2 || c == 0xC3) << "code point above U+00FF";
        bytes += static_cast<char>(((c & 0x03) << 6) | (utf8[++i] & 0x3F));
      }
    }
    return bytes;
  };
  EXPECT_EQ(bytesOf(j["header"]["UpdatedDescription"].get<std::string>()), description);
  EXPECT_EQ(bytesOf(j["header"]["RevsNotSupport"].get<std::string>()), "\xB5" "1");

  // The text itself is ASCII with \u escapes.
  CliRun run = RunCli({"inspect", "--json", dir_.File("fw.fq")});
  EXPECT_TRUE(run.out.find("caf\\u00e9") != std::string::npos ||
              run.out.find("caf\\u00E9") != std::string::npos)
      << run.out;
  for (unsigned char c : run.out) EXPECT_LT(c, 0x80);
}

struct RejectCase {
  const char* name;
  std::string header;
  int error;
  const char* model;  // matched row, or null
  size_t images;      // indexed records of the payload below
};
// Names the case in test listings instead of dumping its bytes.
void PrintTo(const RejectCase& c, std::ostream* os) { *os << c.name; }

class InspectRejectTest : public InspectCliTest,
                          public ::testing::WithParamInterface<RejectCase> {};

TEST_P(InspectRejectTest, ReportsTheErrorNumber) {
  const RejectCase& c = GetParam();
  std::string payload;
  for (int i = 0; i < 4; ++i) payload += RecordBytes({.blockId = static_cast<uint8_t>(i)});
  // Blocks 0 to 3 make no package of any model: an accepted header gives 3, a refused one 1.
  json j = Inspect(c.header + payload, c.error == 0 ? 3 : 1);
  EXPECT_EQ(j["accepted"], c.error == 0);
  EXPECT_EQ(j["error"], c.error);
  if (c.error == 0) {
    EXPECT_TRUE(j["message"].is_null());
  } else {
    EXPECT_EQ(j["message"], "The firmware revision file is corrupted.");
  }
  if (c.model == nullptr) {
    EXPECT_TRUE(j["model"].is_null());
  } else {
    EXPECT_EQ(j["model"], c.model);
  }
  EXPECT_EQ(j["images"].size(), c.images);
}

INSTANTIATE_TEST_SUITE_P(
    Files, InspectRejectTest,
    ::testing::Values(
        // Family capacities: 6 for WX2040 and rows without a family, 3 for WX2050.
        RejectCase{"Wx2050IndexesThree", Lines({"#ModelName=WX2050", "#FileStart"}), 0, "WX2050",
                   3},
        RejectCase{"Sb7300IndexesAsWithoutFamily", Lines({"#ModelName=SB7300", "#FileStart"}), 0,
                   "SB7300", 4},
        // Rejected files whose header was read are still indexed in place.
        RejectCase{"UnknownModel", Lines({"#ModelName=WX3000", "#FileStart"}), 0x15, nullptr, 4},
        RejectCase{"NoHeaderAtAll", "", 0x15, nullptr, 4},
        RejectCase{"ForeignCharacter", Lines({"#ModelName=WX2050", "#ImageRev=V1-05", "#FileStart"}),
                   0x20, "WX2050", 3},
        RejectCase{"NewerTool", Lines({"#ModelName=WX2040", "#UtilityRev=2.10", "#FileStart"}),
                   0x21, "WX2040", 4},
        // A header that could not be read is not indexed.
        RejectCase{"ImageRevTooLong",
                   Lines({"#ModelName=WX2040", "#ImageRev=" + std::string(16, '1'), "#FileStart"}),
                   0x10, nullptr, 0},
        RejectCase{"DescriptionTooLong",
                   Lines({"#UpdatedDescription=" + std::string(512, 'd'), "#FileStart"}), 0x13,
                   nullptr, 0},
        RejectCase{"UtilityRevTooLong", Lines({"#UtilityRev=" + std::string(16, '2')}), 0x14,
                   nullptr, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InspectCliTest, MissingFileStartIndexesTheWholeFile) {
  // Without "FileStart" the payload is the whole file: the header text is read as a record.
  const std::string text = Lines({"#ModelName=WX2040"});
  json j = Inspect(text + RecordBytes({.blockId = 9}), 3);
  EXPECT_EQ(j["header"]["payloadOffset"], 0);
  EXPECT_EQ(j["payloadSize"], text.size() + 34);
}

TEST_F(InspectCliTest, UnreadableFilesAreCantOpen) {
  // Only regular files reached without a link: a FIFO without writer must not block the open.
  const std::string fifo = dir_.File("fifo.fq");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {dir_.File("absent.fq"), dir_.path().string(),
                                  std::string("/dev/zero"), fifo}) {
    json j = InspectPath(path, 1);
    EXPECT_EQ(j["file"], path);
    EXPECT_EQ(j["accepted"], false);
    EXPECT_EQ(j["error"], -1);
    EXPECT_EQ(j["message"], "Can't open file.");
    EXPECT_TRUE(j["model"].is_null());
    EXPECT_EQ(j["images"].size(), 0u);
  }
}

TEST_F(InspectCliTest, WritesNoFile) {
  Inspect(kWx2040Header + test::OemRecordBytes(), 3);
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
    EXPECT_EQ(e.path().filename(), "fw.fq");
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
  EXPECT_EQ(test::ReadFile(dir_.File("fw.fq")), kWx2040Header + test::OemRecordBytes());
}

// Every image of the WX2040, the OEM image last.
const std::string kWx2040Package =
    RecordBytes({.blockId = 3}) + RecordBytes({.blockId = 4}) + RecordBytes({.blockId = 6}) +
    RecordBytes({.blockId = 14}) + RecordBytes({.blockId = 8}) + test::OemRecordBytes();

// The human form's lines, each within 100 columns when the output is no terminal.
std::vector<std::string> HumanLines(const std::string& out) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(out.substr(at, end - at));
    EXPECT_LE(lines.back().size(), 100u) << lines.back();
  }
  return lines;
}

TEST_F(InspectCliTest, HumanFormIsShortAndEndsWithTheVerdict) {
  test::WriteFile(dir_.File("ok.fq"), kWx2040Header + kWx2040Package);
  CliRun ok = RunCli({"inspect", dir_.File("ok.fq")});
  EXPECT_EQ(ok.exitCode, 0);
  EXPECT_NE(ok.out.find("block  67"), std::string::npos) << ok.out;
  std::vector<std::string> lines = HumanLines(ok.out);
  ASSERT_GE(lines.size(), 2u) << ok.out;
  EXPECT_EQ(lines[lines.size() - 2], "Result:       accepted");
  EXPECT_EQ(lines.back(), "Verdict:      installable on WX2040");

  test::WriteFile(dir_.File("bad.fq"), Lines({"#ModelName=NONE"}));
  CliRun bad = RunCli({"inspect", dir_.File("bad.fq")});
  EXPECT_EQ(bad.exitCode, 1);
  lines = HumanLines(bad.out);
  ASSERT_GE(lines.size(), 2u) << bad.out;
  EXPECT_NE(lines[lines.size() - 2].find("rejected, error number 0x0015"), std::string::npos);
  EXPECT_EQ(lines.back(),
            "Verdict:      not installable: its header is refused with error number 0x0015");
}

// The files of an accepted header that no update could install: the header's result stays
// "accepted", the verdict says why not, and the exit status is 3.
struct NotInstallableCase {
  const char* name;
  std::string file;
  const char* reason;
};
void PrintTo(const NotInstallableCase& c, std::ostream* os) { *os << c.name; }

class InspectNotInstallableTest : public InspectCliTest,
                                  public ::testing::WithParamInterface<NotInstallableCase> {};

TEST_P(InspectNotInstallableTest, EndsWithTheReasonAndStatusThree) {
  const NotInstallableCase& c = GetParam();
  json j = Inspect(c.file, 3);
  EXPECT_EQ(j["accepted"], true);
  EXPECT_EQ(j["installable"], false);
  EXPECT_EQ(j["reason"], c.reason);
  const std::string verdict = j["verdict"].get<std::string>();
  EXPECT_EQ(verdict.rfind("not installable on ", 0), 0u) << verdict;

  // The human form ends with the same verdict, broken at words.
  CliRun human = RunCli({"inspect", dir_.File("fw.fq")});
  EXPECT_EQ(human.exitCode, 3);
  const size_t at = human.out.find("Result:       accepted\nVerdict:      ");
  ASSERT_NE(at, std::string::npos) << human.out;
  std::string words;
  for (const std::string& line : HumanLines(human.out.substr(at + 23))) {
    std::istringstream in(line);
    for (std::string word; in >> word;) words += (words.empty() ? "" : " ") + word;
  }
  EXPECT_EQ(words, "Verdict: " + verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Files, InspectNotInstallableTest,
    ::testing::Values(
        NotInstallableCase{"Truncated",
                           kWx2040Header + kWx2040Package.substr(0, kWx2040Package.size() - 100),
                           "truncated"},
        NotInstallableCase{"HeaderOnly", kWx2040Header, "no-payload"},
        NotInstallableCase{"NoFileStart", Lines({"# ModelName = WX2040"}) + kWx2040Package,
                           "no-file-start"},
        NotInstallableCase{"Without1C3", kWx2040Header + kWx2040Package.substr(34),
                           "package-refused"},
        NotInstallableCase{"Sb7300", Lines({"# ModelName = SB7300", "# FileStart"}) +
                                         kWx2040Package,
                           "no-updater"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InspectCliTest, InstallableFileInJson) {
  json j = Inspect(kWx2040Header + kWx2040Package, 0);
  EXPECT_EQ(j["installable"], true);
  EXPECT_TRUE(j["reason"].is_null());
  EXPECT_EQ(j["verdict"], "installable on WX2040");
  EXPECT_EQ(j["records"], 6);
  EXPECT_EQ(j["trailingBytes"], 0);
}

TEST(InspectCliUsage, HelpNamesTheExitStatuses) {
  const std::string help = RunCli({"inspect", "--help"}).out;
  EXPECT_NE(help.find("3  the header is accepted, but the file cannot be installed"),
            std::string::npos)
      << help;
}

TEST(InspectCliUsage, BadUsageExitsWithTwo) {
  EXPECT_EQ(RunCli({"inspect"}).exitCode, 2);
  EXPECT_EQ(RunCli({"inspect", "--bogus", "x.fq"}).exitCode, 2);
  EXPECT_EQ(RunCli({"models", "--bogus"}).exitCode, 2);
}

TEST(ModelsCli, ListsTheCatalogueRows) {
  CliRun run = RunCli({"models", "--json"});
  ASSERT_EQ(run.exitCode, 0);
  json j = json::parse(run.out);
  EXPECT_EQ(j["makerShortName"], "VANDRELL");
  ASSERT_EQ(j["models"].size(), 3u);
  const char* names[] = {"WX2040", "WX2050", "SB7300"};
  const int products[] = {0x3A01, 0x3A02, 0x3A10};
  for (size_t i = 0; i < 3; ++i) {
    const json& row = j["models"][i];
    EXPECT_EQ(row["name"], names[i]);
    EXPECT_EQ(row["usbVendorId"], 0x2E5B);
    EXPECT_EQ(row["usbProductId"], products[i]);
    EXPECT_EQ(row["fileExtension"], "fq");
  }
  EXPECT_EQ(j["models"][0]["updater"], "WX2040");
  EXPECT_EQ(j["models"][1]["updater"], "WX2050");
  EXPECT_TRUE(j["models"][2]["updater"].is_null());

  CliRun human = RunCli({"models"});
  EXPECT_EQ(human.exitCode, 0);
  EXPECT_NE(human.out.find("2E5B:3A10"), std::string::npos) << human.out;
}

}  // namespace
}  // namespace fg
