// flintgate-cli doctor: which VISA providers Flintgate found, what each one sees, and every problem
// found with what to do about it; when no instrument is found, what to check next. A report: it
// succeeds whatever it finds.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/doctor_checks.h"
#include "cli/word_wrap.h"
#include "link/instrument_search.h"
#include "platform/usb_access.h"
#include "visa/provider_registry.h"

// The udev rules folder the installation puts the rule in, and the rule in the sources (both
// given by the build on Linux).
#ifndef FG_UDEV_RULES_FOLDER
#define FG_UDEV_RULES_FOLDER ""
#endif
#ifndef FG_SOURCE_UDEV_RULES
#define FG_SOURCE_UDEV_RULES ""
#endif

namespace fg::cli {

namespace {

constexpr char kRuleName[] = "60-flintgate.rules";

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

visa::Diagnostic SilentProblem(const FoundInstrument& f, const std::string& provider) {
  return {provider, std::string(f.resource) + " does not answer when asked who it is.",
          "Wait until it has started, then run doctor again; if it still does not answer, switch "
          "it off and on."};
}

DoctorFacts GatherFacts(const std::vector<std::shared_ptr<visa::Provider>>& providers,
                        const std::vector<visa::OwnedResource>& resources) {
  DoctorFacts facts;
#ifdef _WIN32
  facts.windows = true;
#endif
  for (const std::shared_ptr<visa::Provider>& provider : providers) {
    ProviderState state{provider->Name(), provider->Unavailable(), 0};
    for (const visa::OwnedResource& r : resources) state.resources += r.provider == state.name;
    facts.providers.push_back(state);
    facts.vendorFound = facts.vendorFound || state.name == "vendor";
  }
  if (const char* chosen = std::getenv("FLINTGATE_VISA_PROVIDERS")) {
    facts.providersChosen = true;
    facts.providersVariable = chosen;
  }
  facts.vendorSummary = visa::VendorSearchSummary();
  if (const char* bus = std::getenv("FLINTGATE_SIMBUS")) facts.simbusVariable = bus;
  facts.ruleName = kRuleName;
  facts.usb = platform::ReadUsbAccessFacts(
      kRuleName, platform::UdevRuleFolders(FG_UDEV_RULES_FOLDER), platform::kSeat0File);
  std::error_code error;
  if (FG_SOURCE_UDEV_RULES[0] != '\0' &&
      std::filesystem::is_regular_file(FG_SOURCE_UDEV_RULES, error)) {
    facts.sourceRule = FG_SOURCE_UDEV_RULES;
  }
  return facts;
}

void PrintProblems(const std::vector<visa::Diagnostic>& problems, size_t width) {
  std::printf("Problems: %zu found\n", problems.size());
  for (const visa::Diagnostic& d : problems) {
    std::fputs(WrapWords("  [" + d.provider + "] ", d.problem, 6, width).c_str(), stdout);
    if (!d.advice.empty()) {
      std::fputs(WrapWords("      What to do: ", d.advice, 6, width).c_str(), stdout);
    }
  }
}

int RunDoctor() {
  const size_t width = ReportColumns(stdout);
  std::vector<std::shared_ptr<visa::Provider>> providers = visa::ActiveProviders();
  std::printf("VISA providers, in the order resources are routed:\n");
  if (providers.empty()) std::printf("  none are active\n");
  std::vector<visa::Diagnostic> problems = visa::RegistryNotes();
  for (const std::shared_ptr<visa::Provider>& provider : providers) {
    std::printf("  %-8s %s\n", provider->Name(), provider->Describe().c_str());
    provider->Diagnose(&problems);
  }
  std::fputs(WrapWords("Vendor VISA library: ", visa::VendorSearchSummary(), 2, width).c_str(),
             stdout);

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
      if (it == searched.end()) continue;
      if (it->second.mode == InstrumentMode::kWriter) {
        problems.push_back(WriterProblem(it->second, r.provider));
      } else if (it->second.mode == InstrumentMode::kNoAnswer) {
        problems.push_back(SilentProblem(it->second, r.provider));
      }
    }
  }

  // Only instruments of our catalogue count: a VISA library may list anything on its buses.
  if (searched.empty()) {
    problems.push_back({"search", "No instrument of a catalogue model was found.",
                        "Check what follows under \"What to check next\"."});
  }
  if (problems.empty()) {
    std::printf("Problems: none found\n");
    return kExitOk;
  }
  PrintProblems(problems, width);
  if (searched.empty()) {
    std::printf("What to check next:\n");
    for (const NextCheck& check : NextChecks(GatherFacts(providers, resources))) {
      std::fputs(WrapWords("  " + check.label + ": ", check.text, 4, width).c_str(), stdout);
    }
  }
  return kExitOk;
}

}  // namespace

CommandAction RegisterDoctorCommand(CLI::App& app) {
  app.add_subcommand("doctor",
                     "Show the VISA providers found, the instruments they see, the problems, and "
                     "what to check next when no instrument is found");
  return [] { return RunDoctor(); };
}

}  // namespace fg::cli
