// Placeholder until the command is built; replaced by its implementation.
#include <cstdio>

#include "cli/commands.h"

namespace fg::cli {

CommandAction RegisterListCommand(CLI::App& app) {
  app.add_subcommand("list", "(not built yet)");
  return [] {
    std::fprintf(stderr, "flintgate-cli: 'list' is not built yet\n");
    return kExitUsage;
  };
}

}  // namespace fg::cli
