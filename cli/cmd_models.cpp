// flintgate-cli models [--json]: the compiled-in catalogue rows.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "catalog/model_catalog.h"
#include "cli/commands.h"
#include "updater/package_driver.h"

namespace fg::cli {

namespace {

nlohmann::ordered_json RowJson(const ModelInfo& row) {
  const DriverFamily* family = DriverFamilyOf(row.updater);
  nlohmann::ordered_json j;
  j["name"] = row.name;
  j["description"] = row.description;
  j["maker"] = row.maker;
  j["usbVendorId"] = row.usbVendorId;
  j["usbProductId"] = row.usbProductId;
  j["fileExtension"] = row.fileExtension;
  j["fileTypeName"] = row.fileTypeName;
  j["updater"] = family != nullptr ? nlohmann::ordered_json(family->name) : nullptr;
  return j;
}

int RunModels(bool json) {
  const ModelCatalog& catalog = kModelCatalog;
  if (json) {
    nlohmann::ordered_json j;
    j["makerShortName"] = catalog.makerShortName;
    j["models"] = nlohmann::ordered_json::array();
    for (int32_t i = 0; i < catalog.modelCount; ++i) j["models"].push_back(RowJson(catalog.models[i]));
    std::printf("%s\n", j.dump(2).c_str());
    return kExitOk;
  }
  std::printf("%-8s %-11s %-5s %-8s %s\n", "MODEL", "USB ID", "FILES", "UPDATER", "DESCRIPTION");
  for (int32_t i = 0; i < catalog.modelCount; ++i) {
    const ModelInfo& row = catalog.models[i];
    const DriverFamily* family = DriverFamilyOf(row.updater);
    char files[16];
    std::snprintf(files, sizeof files, "*.%s", row.fileExtension);
    std::printf("%-8s %04X:%04X   %-5s %-8s %s\n", row.name, row.usbVendorId, row.usbProductId,
                files, family != nullptr ? family->name : "(none)", row.description);
  }
  return kExitOk;
}

}  // namespace

CommandAction RegisterModelsCommand(CLI::App& app) {
  CLI::App* sub = app.add_subcommand("models", "List the models Flintgate can update");
  auto json = std::make_shared<bool>(false);
  sub->add_flag("--json", *json, "Print one JSON object");
  return [json] { return RunModels(*json); };
}

}  // namespace fg::cli
