// flintgate-cli: the headless front end over the same core sequences as the window.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "flintgate_version.h"

int main(int argc, char** argv) {
  CLI::App app{std::string("Flintgate ") + fg::kFlintgateVersion +
                   ": firmware updates for VANDRELL WX2040, WX2050 and SB7300 instruments",
               "flintgate-cli"};
  app.set_version_flag("--version", std::string("flintgate-cli ") + fg::kFlintgateVersion,
                       "Print the version and exit");
  app.require_subcommand(1);
  std::vector<std::pair<CLI::App*, fg::cli::CommandAction>> commands;
  auto add = [&](fg::cli::CommandAction (*reg)(CLI::App&)) {
    size_t before = app.get_subcommands({}).size();
    fg::cli::CommandAction action = reg(app);
    auto subs = app.get_subcommands({});
    if (subs.size() > before) commands.emplace_back(subs.back(), std::move(action));
  };
  add(fg::cli::RegisterModelsCommand);
  add(fg::cli::RegisterInspectCommand);
  add(fg::cli::RegisterListCommand);
  add(fg::cli::RegisterDoctorCommand);
  add(fg::cli::RegisterUpdateCommand);
  add(fg::cli::RegisterStationCommand);
  add(fg::cli::RegisterRecordsCommand);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : fg::cli::kExitUsage;
  }
  for (auto& [sub, action] : commands) {
    if (sub->parsed()) return action();
  }
  return fg::cli::kExitUsage;
}
