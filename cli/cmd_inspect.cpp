// Placeholder until the command is built; replaced by its implementation.
#include <cstdio>

#include "cli/commands.h"

namespace fg::cli {

CommandAction RegisterInspectCommand(CLI::App& app) {
  app.add_subcommand("inspect", "(not built yet)");
  return [] {
    std::fprintf(stderr, "flintgate-cli: 'inspect' is not built yet\n");
    return kExitUsage;
  };
}

}  // namespace fg::cli
