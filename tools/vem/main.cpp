// vem: the command-line tool of the VEM server. Prepares databases from a
// schema, shows the model the server derives from a database, dumps its
// records, registers the server and, through the server, checks, compacts,
// upgrades databases and changes their secret. One file per subcommand (CreateCommand.cpp, ...),
// each adding itself to the parser with its options and help.
//
// Exit status: 0 success, 1 failure ("vem <cmd>: <what failed and where>"
// on stderr), 2 usage errors. Secrets and passwords are read from files or
// standard input only (Secret.h).
#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>

#include "Command.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "Engine/Dao.h"

namespace vemtool {

void RequireDatabaseFile(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) throw CommandFailure("no database file " + path);
  if (!std::filesystem::is_regular_file(status))
    throw CommandFailure(path + " is not a database file");
}

}  // namespace vemtool

int main(int argc, char** argv) {
  using namespace vemtool;
  CLI::App app(
      "vem: prepare, inspect, dump, check and compact databases of the VEM server; register the "
      "server",
      "vem");
  app.require_subcommand(1);
  AddCreateCommand(app);
  AddInspectCommand(app);
  AddDumpCommand(app);
  AddCheckCommands(app);
  AddRekeyCommand(app);
  AddUpgradeCommand(app);
  AddRegisterCommands(app);

  auto commandName = [&app] {
    const auto commands = app.get_subcommands();
    return commands.empty() ? std::string("vem") : "vem " + commands.front()->get_name();
  };
  try {
    app.parse(argc, argv);
    return kExitSuccess;
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << commandName() << ": " << e.what() << "\n"
              << "Run with --help for more information.\n";
    return kExitUsage;
  } catch (const CommandFailure& e) {
    std::cerr << commandName() << ": " << e.what() << "\n";
  } catch (const vem_error& e) {
    std::cerr << commandName() << ": " << e.what() << "\n";
  } catch (const _com_error& e) {
    const std::string description = dao::Utf8(e.Description());
    std::cerr << commandName() << ": " << (description.empty() ? e.ErrorMessage() : description)
              << "\n";
  } catch (const std::exception& e) {
    std::cerr << commandName() << ": " << e.what() << "\n";
  }
  return kExitFailure;
}
