// Placeholder until the command is built; replaced by its implementation.
#include <cstdio>

#include "cli/commands.h"

namespace fg::cli {

CommandAction RegisterUpdateCommand(CLI::App& app) {
  app.add_subcommand("update", "(not built yet)");
  return [] {
    std::fprintf(stderr, "flintgate-cli: 'update' is not built yet\n");
    return kExitUsage;
  };
}

}  // namespace fg::cli
