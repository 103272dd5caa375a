// `vem check DB`, `vem compact DB` [--password-file F]: the data model's
// Check or Compact through the server, created by its ProgID: the database
// file is compacted into a copy that replaces it, and each blob file is
// checked against the blob tables and rewritten without its deleted blocks.
//
// Progress reports show as a bar on a terminal and as "progress:" lines
// otherwise; each Error report is written to stderr as it arrives (a blob
// file that fails its check is left as it is and reported). The command
// fails when the call failed or when any Error report arrived.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "Command.h"
#include "Server.h"

namespace vemtool {

namespace {

struct CheckOptions {
  std::string database;
  std::string passwordFile;
};

void RunCheck(const CheckOptions& options, bool bCompact) {
  const std::string command = bCompact ? "vem compact" : "vem check";
  SecretBuffer password;
  if (!options.passwordFile.empty()) password = ReadSecret(options.passwordFile, "password file");
  ServerSession session;
  ToolBackChannel channel(command);
  {
    ComPtr<IComDataModel> pModel = session.OpenModel(channel, options.database, password);
    const HRESULT hr = bCompact ? pModel->Compact() : pModel->Check();
    channel.EndProgress();
    CheckCall(hr, std::string(bCompact ? "compacting " : "checking ") + options.database);
  }
  if (channel.ErrorCount() != 0)
    throw CommandFailure(options.database + ": " + std::to_string(channel.ErrorCount()) + " error" +
                         (channel.ErrorCount() == 1 ? "" : "s") + " reported");
  std::cout << options.database << ": " << (bCompact ? "compacted" : "checked") << ", no errors\n";
}

}  // namespace

void AddCheckCommands(CLI::App& app) {
  for (const bool bCompact : {false, true}) {
    auto options = std::make_shared<CheckOptions>();
    CLI::App* pCommand = app.add_subcommand(
        bCompact ? "compact" : "check",
        bCompact ? "Compact the database file and its blob files through the server"
                 : "Check the database and its blob files through the server (which compacts "
                   "them on the way)");
    pCommand->add_option("DB", options->database, "The database file")->required();
    pCommand->add_option("--password-file", options->passwordFile,
                         "File holding the database password (\"-\": standard input)");
    pCommand->callback([options, bCompact] { RunCheck(*options, bCompact); });
  }
}

}  // namespace vemtool
