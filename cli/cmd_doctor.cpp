// flintgate-cli doctor: which VISA providers Flintgate found, what each one sees, and every problem
// found with what to do about it. A report: it succeeds whatever it finds.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "visa/provider_registry.h"

namespace fg::cli {

namespace {

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
  if (resources.empty()) {
    std::printf("Instruments: none found\n");
  } else {
    std::printf("Instruments:\n");
    for (const visa::OwnedResource& r : resources) {
      std::printf("  %-8s %s\n", r.provider.c_str(), r.name.c_str());
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
