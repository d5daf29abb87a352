// When a package changes nothing the installed versions tell of: the rule the station's "up to
// date" goes by.
#include <gtest/gtest.h>

#include <cstring>

#include "updater/update_plan.h"

namespace fg {
namespace {

ImagePlanRow Row(const char* version, const char* installed, bool versioned = true) {
  ImagePlanRow row{};
  row.present = version != nullptr;
  if (version != nullptr) std::strcpy(row.version, version);
  row.versioned = versioned;
  row.installedRead = installed != nullptr;
  if (installed != nullptr) std::strcpy(row.installed, installed);
  return row;
}

UpdatePlan Plan(std::initializer_list<ImagePlanRow> rows) {
  UpdatePlan plan{};
  for (const ImagePlanRow& row : rows) plan.rows[plan.ruleCount++] = row;
  return plan;
}

TEST(PackageMatchesInstalled, EveryVersionedImageMustBeInThePackageWithItsVersion) {
  // Equal throughout; an image without an installed version (OEM) says nothing.
  EXPECT_TRUE(PackageMatchesInstalled(
      Plan({Row("0200", "0200"), Row("2.10", "2.10"), Row("0100", "", false)})));
  // A field of two characters holds the first two of the record's four.
  EXPECT_TRUE(PackageMatchesInstalled(Plan({Row("0200", "02"), Row("2.10", "2.10")})));
  EXPECT_FALSE(PackageMatchesInstalled(Plan({Row("0300", "02"), Row("2.10", "2.10")})));
  // One image differs, older or newer: the package would change it.
  EXPECT_FALSE(PackageMatchesInstalled(Plan({Row("0200", "0200"), Row("2.10", "2.00")})));
  EXPECT_FALSE(PackageMatchesInstalled(Plan({Row("0200", "0200"), Row("2.10", "2.20")})));
  // An installed version that could not be read, or was read empty, is no match.
  EXPECT_FALSE(PackageMatchesInstalled(Plan({Row("0200", "0200"), Row("2.10", nullptr)})));
  EXPECT_FALSE(PackageMatchesInstalled(Plan({Row("0200", "0200"), Row("2.10", "")})));
  // The package lacks a versioned image: what is installed there is not the package's.
  EXPECT_FALSE(PackageMatchesInstalled(Plan({Row("0200", "0200"), Row(nullptr, "2.10")})));
  // Nothing to compare: never "up to date".
  EXPECT_FALSE(PackageMatchesInstalled(Plan({Row("0100", "", false)})));
  EXPECT_FALSE(PackageMatchesInstalled(Plan({})));
}

}  // namespace
}  // namespace fg
