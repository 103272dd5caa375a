// What every subcommand of `vem` shares: the exit statuses, the failure that
// a subcommand raises to end with status 1, and the registration of a
// subcommand with the argument parser.
//
// A subcommand adds itself to the application (options, help text) and
// sets its callback; the callback does the work and raises
// CommandFailure("<what failed and where>") on failure. main prints it as
// "vem <cmd>: <message>" on stderr and ends with kExitFailure.
#pragma once

#include <stdexcept>
#include <string>

namespace CLI {
class App;
}

namespace vemtool {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

class CommandFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One function per subcommand file.
void AddCreateCommand(CLI::App& app);
void AddInspectCommand(CLI::App& app);
void AddDumpCommand(CLI::App& app);
void AddCheckCommands(CLI::App& app);  // check, compact
void AddRekeyCommand(CLI::App& app);
void AddUpgradeCommand(CLI::App& app);
void AddRegisterCommands(CLI::App& app);  // register, unregister

// Raises CommandFailure unless path names an existing regular file: the
// engine's own message for a missing file does not say which file.
void RequireDatabaseFile(const std::string& path);

}  // namespace vemtool
