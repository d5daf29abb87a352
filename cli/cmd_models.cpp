// Placeholder until the command is built; replaced by its implementation.
#include <cstdio>

#include "cli/commands.h"

namespace fg::cli {

CommandAction RegisterModelsCommand(CLI::App& app) {
  app.add_subcommand("models", "(not built yet)");
  return [] {
    std::fprintf(stderr, "flintgate-cli: 'models' is not built yet\n");
    return kExitUsage;
  };
}

}  // namespace fg::cli
