// A scratch folder for the state-folder tests of the simulated flash, made private and removed
// afterwards, and recognisable data to program.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/private_folder.h"

namespace fg::sim {

class StateFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::CreatePrivateTempFolder("fg-sim-state-", &folder_));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::vector<uint8_t> ReadFile(const std::string& name) const {
    std::ifstream in(std::filesystem::path(folder_) / name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string folder_;
};

inline std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
  return bytes;
}

}  // namespace fg::sim
