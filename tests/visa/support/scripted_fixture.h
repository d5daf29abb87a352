// Test support: the VISA layer over scripted providers only, with no handle left open afterwards.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/visa/support/scripted_provider.h"
#include "visa/provider_registry.h"
#include "visa/visa.h"

namespace fg::testing {

class ScriptedVisaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    first_ = std::make_shared<visa::ScriptedProvider>("first");
    second_ = std::make_shared<visa::ScriptedProvider>("second");
    visa::InstallProvidersForTesting({first_, second_});
    visa::SetLayerFaultsForTesting({});
  }
  void TearDown() override {
    EXPECT_EQ(visa::OpenHandleCountForTesting(), 0u) << "a handle was left open";
    visa::SetLayerFaultsForTesting({});
    visa::ResetProvidersForTesting();
  }

  visa::ViSession OpenRm() {
    visa::ViSession rm = visa::VI_NULL;
    EXPECT_EQ(visa::viOpenDefaultRM(&rm), visa::VI_SUCCESS);
    return rm;
  }

  std::shared_ptr<visa::ScriptedProvider> first_;
  std::shared_ptr<visa::ScriptedProvider> second_;
};

inline const uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

}  // namespace fg::testing
