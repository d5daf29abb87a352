// flintgate-cli list [--model NAME] [--all] [--json]: the instruments each catalogue model's search
// finds (the same search the window runs: an instrument's first USBTMC interface), each with its
// mode and the provider that owns it. An instrument in writer mode shows the model its reply
// names, never the model of its product id; one that an update holds is shown busy, unasked.
// --all adds every other USB resource, further interfaces too.
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "catalog/model_catalog.h"
#include "cli/commands.h"
#include "link/device_search.h"
#include "link/instrument_search.h"
#include "util/bounded_text.h"
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
  bool catalogued;  // false for a resource no catalogue row's search finds
  FoundInstrument instrument;
  std::string provider;
};

// Catalogue order of the model an instrument is, unknown models last.
int32_t ModelRank(const FoundInstrument& f) {
  for (int32_t i = 0; i < kModelCatalog.modelCount; ++i) {
    if (std::string(f.model) == kModelCatalog.models[i].name) return i;
  }
  return kModelCatalog.modelCount;
}

// By model, then by name as the device list sorts.
bool ListedBefore(const Found& a, const Found& b) {
  const int32_t ra = ModelRank(a.instrument), rb = ModelRank(b.instrument);
  if (ra != rb) return ra < rb;
  return DeviceListOrder(a.instrument.resource, b.instrument.resource);
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
  // One model's instruments: those a run for a file of that model would be offered.
  const ModelInfo* only = nullptr;
  if (!options.model.empty()) {
    only = FindModel(options.model.c_str());
    if (only == nullptr) {
      std::fprintf(stderr, "flintgate-cli: unknown model \"%s\" (see 'flintgate-cli models')\n",
                   options.model.c_str());
      return kExitUsage;
    }
  }

  std::map<std::string, std::string> owners;
  for (const visa::OwnedResource& r : visa::ListOwnedResources()) owners[r.name] = r.provider;
  auto ownerOf = [&](const std::string& name) {
    auto it = owners.find(name);
    return it != owners.end() ? it->second : std::string("unknown");
  };

  std::vector<Found> found;
  for (const FoundInstrument& f : SearchInstruments(nullptr, only)) {
    if (only == nullptr || OfferedFor(f, only)) found.push_back({true, f, ownerOf(f.resource)});
  }
  std::stable_sort(found.begin(), found.end(), ListedBefore);
  if (options.all) {
    for (const std::string& name : SearchEveryInterface(kAllUsbInstruments)) {
      bool listed = false;
      for (const Found& f : found) listed = listed || f.instrument.resource == name;
      if (listed) continue;
      Found extra{false, FoundInstrument{}, ownerOf(name)};
      CopyBounded(extra.instrument.resource, name.c_str());
      found.push_back(extra);
    }
  }

  if (options.json) {
    nlohmann::ordered_json j;
    j["instruments"] = nlohmann::ordered_json::array();
    for (const Found& f : found) {
      const FoundInstrument& i = f.instrument;
      nlohmann::ordered_json item;
      item["model"] = f.catalogued ? nlohmann::ordered_json(ModelWord(i)) : nullptr;
      item["mode"] = f.catalogued ? nlohmann::ordered_json(ModeWord(i.mode)) : nullptr;
      item["resource"] = i.resource;
      item["provider"] = f.provider;
      if (i.mode == InstrumentMode::kBusy) item["heldBy"] = HolderDescription(i.holder);
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
  std::printf("%-8s %-9s %-8s %s\n", "MODEL", "MODE", "PROVIDER", "RESOURCE");
  for (const Found& f : found) {
    const FoundInstrument& i = f.instrument;
    const std::string held =
        i.mode == InstrumentMode::kBusy ? "  being updated by " + HolderDescription(i.holder) : "";
    std::printf("%-8s %-9s %-8s %s%s\n", f.catalogued ? ModelWord(i) : "-",
                f.catalogued ? ModeWord(i.mode) : "-", f.provider.c_str(), i.resource,
                held.c_str());
  }
  return kExitOk;
}

}  // namespace

CommandAction RegisterListCommand(CLI::App& app) {
  CLI::App* sub = app.add_subcommand(
      "list", "List the connected instruments of the catalogue models, each with its mode: normal, "
              "writer (with the model its reply names) or busy (being updated)");
  auto options = std::make_shared<ListOptions>();
  CLI::Option* model = sub->add_option("--model", options->model, "Only this model (e.g. WX2040)");
  sub->add_flag("--all", options->all, "Also list every other USB instrument")->excludes(model);
  sub->add_flag("--json", options->json, "Print one JSON object");
  return [options] { return RunList(*options); };
}

}  // namespace fg::cli
