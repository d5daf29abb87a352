// flintgate-cli doctor: which VISA providers Flintgate found, what each one sees, and every problem
// found with what to do about it. A report: it succeeds whatever it finds.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "link/instrument_search.h"
#include "visa/provider_registry.h"

namespace fg::cli {

namespace {

// What the search says of an instrument, after its name.
std::string Description(const FoundInstrument& f) {
  switch (f.mode) {
    case InstrumentMode::kNormal:
      return ModelWord(f);
    case InstrumentMode::kWriter:
      return std::string(ModelWord(f)) + ", in writer mode";
    case InstrumentMode::kBusy:
      return "being updated by " + HolderDescription(f.holder);
    case InstrumentMode::kNoAnswer:
      return "does not answer";
  }
  return std::string();
}

// An instrument left in its writer firmware by an update that did not end, or by a dry run: no
// search for another model offers it, and it waits for its own model's firmware.
visa::Diagnostic WriterProblem(const FoundInstrument& f, const std::string& provider) {
  const bool known = f.model[0] != '\0';
  visa::Diagnostic d;
  d.provider = provider;
  d.problem = std::string(f.resource) + " is in writer mode (" +
              (known ? std::string(f.model) : std::string("its reply names no model")) +
              "): an update that did not end, or a dry run, left it there.";
  d.advice = std::string("flintgate-cli update FILE --device ") + f.resource + ", FILE being " +
             (known ? "a " + std::string(f.model) + " firmware file" :
                      std::string("a firmware file of the instrument's model")) +
             ", updates it from there.";
  return d;
}

int RunDoctor() {
  std::vector<std::shared_ptr<visa::Provider>> providers = visa::ActiveProviders();
  std::printf("VISA providers, in the order resources are routed:\n");
  if (providers.empty()) std::printf("  none are active\n");
  std::vector<visa::Diagnostic> problems = visa::RegistryNotes();
  for (const std::shared_ptr<visa::Provider>& provider : providers) {
    std::printf("  %-8s %s\n", provider->Name(), provider->Describe().c_str());
    provider->Diagnose(&problems);
  }
  std::printf("Vendor VISA library: %s\n", visa::VendorSearchSummary().c_str());

  std::vector<visa::OwnedResource> resources = visa::ListOwnedResources();
  std::map<std::string, FoundInstrument> searched;
  for (const FoundInstrument& f : SearchInstruments(nullptr, nullptr)) searched[f.resource] = f;
  if (resources.empty()) {
    std::printf("Instruments: none found\n");
  } else {
    std::printf("Instruments:\n");
    for (const visa::OwnedResource& r : resources) {
      auto it = searched.find(r.name);
      const std::string what = it != searched.end() ? "  " + Description(it->second) : "";
      std::printf("  %-8s %s%s\n", r.provider.c_str(), r.name.c_str(), what.c_str());
      if (it != searched.end() && it->second.mode == InstrumentMode::kWriter) {
        problems.push_back(WriterProblem(it->second, r.provider));
      }
    }
  }

  if (problems.empty()) {
    std::printf("Problems: none found\n");
    return kExitOk;
  }
  std::printf("Problems:\n");
  for (const visa::Diagnostic& d : problems) {
    std::printf("  [%s] %s\n", d.provider.c_str(), d.problem.c_str());
    if (!d.advice.empty()) std::printf("      What to do: %s\n", d.advice.c_str());
  }
  return kExitOk;
}

}  // namespace

CommandAction RegisterDoctorCommand(CLI::App& app) {
  app.add_subcommand("doctor", "Show the VISA providers found, the instruments they see, and problems");
  return [] { return RunDoctor(); };
}

}  // namespace fg::cli
