// Copying the payload behind the header into the temporary file.
#include <gtest/gtest.h>

#include <string>

#include "firmware/firmware_header.h"
#include "tests/firmware/firmware_test_files.h"

namespace fg {
namespace {

class ExtractPayloadTest : public ::testing::TestWithParam<size_t> {
 protected:
  test::TempDir dir_;
};

// Payload sizes around the 64-byte copy block: every byte arrives, the last partial block too.
TEST_P(ExtractPayloadTest, CopiesThePayloadExactly) {
  const std::string header = test::Lines({"#ModelName=WX2040", "#FileStart"});
  std::string payload;
  for (size_t i = 0; i < GetParam(); ++i) payload += static_cast<char>((i * 31 + 7) & 0xFF);
  const std::string firmware = dir_.File("fw.fq");
  const std::string temp = dir_.File("payload.tmp");
  test::WriteFile(firmware, header + payload);

  ASSERT_EQ(ExtractPayload(firmware.c_str(), static_cast<int32_t>(header.size()), temp.c_str()),
            kExtractOk);
  EXPECT_EQ(test::ReadFile(temp), payload);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ExtractPayloadTest,
                         ::testing::Values(0, 1, 63, 64, 65, 128, 1000, 7794));

class ExtractFailureTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
};

TEST_F(ExtractFailureTest, OffsetZeroCopiesTheWholeFile) {
  const std::string firmware = dir_.File("fw.fq");
  const std::string temp = dir_.File("payload.tmp");
  test::WriteFile(firmware, "#ModelName=WX2040\nbinary");
  ASSERT_EQ(ExtractPayload(firmware.c_str(), 0, temp.c_str()), kExtractOk);
  EXPECT_EQ(test::ReadFile(temp), "#ModelName=WX2040\nbinary");
}

TEST_F(ExtractFailureTest, ExistingTemporaryFileIsCutToThePayload) {
  const std::string firmware = dir_.File("fw.fq");
  const std::string temp = dir_.File("payload.tmp");
  test::WriteFile(firmware, "#FileStart\nab");
  test::WriteFile(temp, std::string(500, 'x'));
  ASSERT_EQ(ExtractPayload(firmware.c_str(), 11, temp.c_str()), kExtractOk);
  EXPECT_EQ(test::ReadFile(temp), "ab");
}

TEST_F(ExtractFailureTest, MissingFirmwareLeavesTheTemporaryFileAlone) {
  const std::string temp = dir_.File("payload.tmp");
  test::WriteFile(temp, "keep");
  EXPECT_EQ(ExtractPayload(dir_.File("absent.fq").c_str(), 0, temp.c_str()),
            kExtractCantOpenFirmware);
  EXPECT_EQ(test::ReadFile(temp), "keep");
}

TEST_F(ExtractFailureTest, UncreatableTemporaryFileFails) {
  const std::string firmware = dir_.File("fw.fq");
  test::WriteFile(firmware, "#FileStart\nab");
  EXPECT_EQ(ExtractPayload(firmware.c_str(), 11, dir_.File("no/such/dir/tmp").c_str()),
            kExtractCantCreateTemp);
}

TEST_F(ExtractFailureTest, FullDiskIsReportedNotHidden) {
  // /dev/full accepts the open and fails every write with ENOSPC.
  const std::string firmware = dir_.File("fw.fq");
  test::WriteFile(firmware, "#FileStart\n" + std::string(10000, 'p'));
  EXPECT_EQ(ExtractPayload(firmware.c_str(), 11, "/dev/full"), kExtractWriteFailed);
}

TEST_F(ExtractFailureTest, UnreadableFirmwareIsReported) {
  // A directory opens for reading but every read fails.
#ifdef _WIN32
  GTEST_SKIP() << "Windows does not open a directory as a file";
#endif
  const std::string temp = dir_.File("payload.tmp");
  EXPECT_EQ(ExtractPayload(dir_.path().string().c_str(), 0, temp.c_str()), kExtractReadFailed);
}

}  // namespace
}  // namespace fg
