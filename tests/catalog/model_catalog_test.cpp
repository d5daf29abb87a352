// The compiled-in catalogue and the lookups that walk it.
#include <gtest/gtest.h>

#include <string>

#include "catalog/model_catalog.h"

namespace fg {
namespace {

struct RowCase {
  const char* name;
  uint16_t productId;
  const UpdaterOps* updater;
};

TEST(ModelCatalog, HoldsTheThreeRowsInOrder) {
  const RowCase expected[] = {{"WX2040", 0x3A01, &kWx2040UpdaterOps},
                              {"WX2050", 0x3A02, &kWx2050UpdaterOps},
                              {"SB7300", 0x3A10, nullptr}};
  EXPECT_STREQ(kModelCatalog.makerShortName, "VANDRELL");
  ASSERT_EQ(kModelCatalog.modelCount, 3);
  for (int i = 0; i < 3; ++i) {
    const ModelInfo& row = kModelCatalog.models[i];
    SCOPED_TRACE(expected[i].name);
    EXPECT_STREQ(row.name, expected[i].name);
    EXPECT_STREQ(row.fileTypeName, expected[i].name);
    EXPECT_STREQ(row.maker, "VANDRELL CORP.");
    EXPECT_STREQ(row.fileExtension, "fq");
    EXPECT_EQ(row.usbVendorId, 0x2E5B);
    EXPECT_EQ(row.usbProductId, expected[i].productId);
    EXPECT_EQ(row.updater, expected[i].updater);
    EXPECT_GT(std::string(row.description).size(), 0u);
  }
}

struct LookupCase {
  const char* query;
  int row;  // -1: no row
};

class FindModelTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(FindModelTest, MatchesWholeNamesExactly) {
  const ModelInfo* found = FindModel(GetParam().query);
  if (GetParam().row < 0) {
    EXPECT_EQ(found, nullptr);
  } else {
    EXPECT_EQ(found, &kModelCatalog.models[GetParam().row]);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, FindModelTest,
    ::testing::Values(LookupCase{"WX2040", 0}, LookupCase{"WX2050", 1}, LookupCase{"SB7300", 2},
                      LookupCase{"wx2040", -1}, LookupCase{"WX204", -1},
                      LookupCase{"WX20400", -1}, LookupCase{"WX2040 ", -1}, LookupCase{"", -1},
                      LookupCase{"WX2040\xFF", -1},
                      // Longer than any row's name field: no read past it.
                      LookupCase{"WX2040WX2040WX2040WX2040WX2040WX2040WX2040", -1}));

TEST(ModelCatalog, NullNameFindsNothing) { EXPECT_EQ(FindModel(nullptr), nullptr); }


}  // namespace
}  // namespace fg
