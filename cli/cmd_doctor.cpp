// Placeholder until the command is built; replaced by its implementation.
#include <cstdio>

#include "cli/commands.h"

namespace fg::cli {

CommandAction RegisterDoctorCommand(CLI::App& app) {
  app.add_subcommand("doctor", "(not built yet)");
  return [] {
    std::fprintf(stderr, "flintgate-cli: 'doctor' is not built yet\n");
    return kExitUsage;
  };
}

}  // namespace fg::cli
