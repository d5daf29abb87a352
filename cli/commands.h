// flintgate-cli's commands: each file registers one subcommand and returns its exit status.
#pragma once
#include <CLI/CLI.hpp>
#include <functional>

namespace fg::cli {

// A registered command's action, run after parsing when its subcommand was chosen.
using CommandAction = std::function<int()>;

CommandAction RegisterModelsCommand(CLI::App& app);
CommandAction RegisterInspectCommand(CLI::App& app);
CommandAction RegisterListCommand(CLI::App& app);
CommandAction RegisterDoctorCommand(CLI::App& app);
CommandAction RegisterUpdateCommand(CLI::App& app);
CommandAction RegisterStationCommand(CLI::App& app);
CommandAction RegisterRecordsCommand(CLI::App& app);

// Exit status shared by the commands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// The record file (update --record, station) cannot be written.
inline constexpr int kExitRecordFile = 6;

}  // namespace fg::cli
