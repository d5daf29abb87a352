// flintgate-cli list [--model NAME] [--all] [--json]: the instruments each catalogue model's search
// expression finds (the same search the window runs: an instrument's first USBTMC interface), with
// the provider that owns each one. --all adds every other USB resource, further interfaces too.
#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "catalog/model_catalog.h"
#include "cli/commands.h"
#include "link/device_search.h"
#include "visa/provider_registry.h"

namespace fg::cli {

namespace {

// Every USB instrument resource, whatever its ids.
constexpr const char* kAllUsbInstruments = "USB?*INSTR";

struct ListOptions {
  std::string model;
  bool all = false;
  bool json = false;
};

struct Found {
  const ModelInfo* model;  // null for a resource no catalogue row's expression finds
  std::string resource;
  std::string provider;
};

// The instruments a model's expression finds, as the window's device list holds them.
std::vector<std::string> Search(const std::string& expression) {
  SortedDeviceList list;
  EnumerateDevices(nullptr, list.ops(), expression.c_str());
  return list.entries();
}

// Every resource the expression finds, each interface on its own, sorted as the list sorts.
std::vector<std::string> SearchEveryInterface(const std::string& expression) {
  std::vector<std::string> names;
  FindResourceNames(expression.c_str(), &names);
  SortedDeviceList list;
  for (const std::string& name : names) list.ops()->AddString(list.ops()->owner, name.c_str());
  return list.entries();
}

int RunList(const ListOptions& options) {
  std::vector<const ModelInfo*> rows;
  if (!options.model.empty()) {
    const ModelInfo* row = FindModel(options.model.c_str());
    if (row == nullptr) {
      std::fprintf(stderr, "flintgate-cli: unknown model \"%s\" (see 'flintgate-cli models')\n",
                   options.model.c_str());
      return kExitUsage;
    }
    rows.push_back(row);
  } else {
    for (int32_t i = 0; i < kModelCatalog.modelCount; ++i) rows.push_back(&kModelCatalog.models[i]);
  }

  std::map<std::string, std::string> owners;
  for (const visa::OwnedResource& r : visa::ListOwnedResources()) owners[r.name] = r.provider;
  auto ownerOf = [&](const std::string& name) {
    auto it = owners.find(name);
    return it != owners.end() ? it->second : std::string("unknown");
  };

  std::vector<Found> found;
  for (const ModelInfo* row : rows) {
    for (const std::string& name : Search(BuildEnumerationExpression(row))) {
      found.push_back({row, name, ownerOf(name)});
    }
  }
  if (options.all) {
    for (const std::string& name : SearchEveryInterface(kAllUsbInstruments)) {
      bool listed = false;
      for (const Found& f : found) listed = listed || f.resource == name;
      if (!listed) found.push_back({nullptr, name, ownerOf(name)});
    }
  }

  if (options.json) {
    nlohmann::ordered_json j;
    j["instruments"] = nlohmann::ordered_json::array();
    for (const Found& f : found) {
      nlohmann::ordered_json item;
      item["model"] = f.model != nullptr ? nlohmann::ordered_json(f.model->name) : nullptr;
      item["resource"] = f.resource;
      item["provider"] = f.provider;
      j["instruments"].push_back(std::move(item));
    }
    std::printf("%s\n", j.dump(2).c_str());
    return kExitOk;
  }
  if (found.empty()) {
    std::printf("No instruments found%s.\n",
                options.all ? "" : (options.model.empty() ? " for any catalogue model"
                                                          : (" for " + options.model).c_str()));
    std::printf("Run 'flintgate-cli doctor' to see where Flintgate looked.\n");
    return kExitOk;
  }
  std::printf("%-8s %-8s %s\n", "MODEL", "PROVIDER", "RESOURCE");
  for (const Found& f : found) {
    std::printf("%-8s %-8s %s\n", f.model != nullptr ? f.model->name : "-", f.provider.c_str(),
                f.resource.c_str());
  }
  return kExitOk;
}

}  // namespace

CommandAction RegisterListCommand(CLI::App& app) {
  CLI::App* sub = app.add_subcommand("list", "List the connected instruments of the catalogue models");
  auto options = std::make_shared<ListOptions>();
  CLI::Option* model = sub->add_option("--model", options->model, "Only this model (e.g. WX2040)");
  sub->add_flag("--all", options->all, "Also list every other USB instrument")->excludes(model);
  sub->add_flag("--json", options->json, "Print one JSON object");
  return [options] { return RunList(*options); };
}

}  // namespace fg::cli
