// `vem upgrade DB [--secret-file F] [--password-file F]`: brings the
// database to the newest driver version through the server
// (UpgradeDriverVersion(0)): every encrypted value is rewritten in the
// format that carries a MAC, and the version recorded, in one transaction.
//
// The rewrite reads each value with the secret in force, so a database with
// encrypted fields needs its secret; the older format has no MAC, which is
// why the tool cannot tell a wrong secret from the right one there: give
// the right one. A database that is at the newest version already is left
// alone ("nothing to do").
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>

#include "Command.h"
#include "Model.h"
#include "Server.h"

namespace vemtool {

namespace {

struct UpgradeOptions {
  std::string database;
  std::string secretFile;
  std::string passwordFile;
};

std::string Version(ULONG ulVersion) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u (0x%08X)", ulVersion >> 24, (ulVersion >> 16) & 0xFF,
                ulVersion);
  return text;
}

ULONG DriverVersion(IComDataModel& model) {
  ComPtr<IComDataModelExt> pExt;
  CheckCall(model.QueryInterface(IID_IComDataModelExt, reinterpret_cast<void**>(&pExt)),
            "asking the model for IComDataModelExt");
  ULONG ulVersion = 0;
  CheckCall(pExt->GetDriverVersion(&ulVersion), "reading the driver version");
  return ulVersion;
}

void RunUpgrade(const UpgradeOptions& options) {
  if (options.secretFile == "-" && options.passwordFile == "-")
    throw CommandFailure("the secret and the password cannot both come from standard input");
  SecretBuffer password;
  if (!options.passwordFile.empty()) password = ReadSecret(options.passwordFile, "password file");
  SecretBuffer secret;
  if (!options.secretFile.empty()) {
    secret = ReadSecret(options.secretFile, "secret file");
    if (secret.empty())
      throw CommandFailure(
          "the secret file " +
          (options.secretFile == "-" ? std::string("(standard input)") : options.secretFile) +
          " holds no secret");
  }
  const std::vector<TableCount> tables = EncryptedTables(options.database, password);

  ServerSession session;
  ToolBackChannel channel("vem upgrade");
  ULONG ulBefore = 0, ulAfter = 0;
  {
    ComPtr<IComDataModel> pModel = session.OpenModel(channel, options.database, password);
    ulBefore = DriverVersion(*pModel);
    if (ulBefore >= 0x01010000) {
      std::cout << options.database << ": driver version " << Version(ulBefore)
                << " is the newest, nothing to do\n";
      return;
    }
    const bool bValues = std::any_of(tables.begin(), tables.end(),
                                     [](const TableCount& t) { return t.lRecords > 0; });
    if (bValues && secret.empty())
      throw CommandFailure(options.database + " has encrypted fields (" + CountsText(tables) +
                           "): the upgrade rewrites them and needs their secret (--secret-file)");
    if (!secret.empty()) {
      const SecretArray vSecret(secret.data(), secret.size());
      const SecretArray vNone(nullptr, 0);
      CheckCall(pModel->SetSecret(vSecret.get(), vNone.get()), "setting the secret");
    }
    ComPtr<IComDataModelExt> pExt;
    CheckCall(pModel->QueryInterface(IID_IComDataModelExt, reinterpret_cast<void**>(&pExt)),
              "asking the model for IComDataModelExt");
    CheckCall(pExt->UpgradeDriverVersion(0), "upgrading " + options.database);
    ulAfter = DriverVersion(*pModel);
  }
  if (channel.ErrorCount() != 0)
    throw CommandFailure(options.database + ": " + std::to_string(channel.ErrorCount()) + " error" +
                         (channel.ErrorCount() == 1 ? "" : "s") + " reported during the upgrade");
  if (ulAfter == ulBefore)
    throw CommandFailure(options.database + ": the server left driver version " +
                         Version(ulBefore) + " as it was");
  std::cout << options.database << ": upgraded from driver version " << Version(ulBefore) << " to "
            << Version(ulAfter) << ", rewrote the encrypted values of " << CountsText(tables)
            << "\n";
}

}  // namespace

void AddUpgradeCommand(CLI::App& app) {
  auto options = std::make_shared<UpgradeOptions>();
  CLI::App* pCommand = app.add_subcommand(
      "upgrade",
      "Bring the database to the newest driver version through the server: encrypted values are "
      "rewritten in the format with a MAC");
  pCommand->add_option("DB", options->database, "The database file")->required();
  pCommand->add_option("--secret-file", options->secretFile,
                       "File holding the secret of the encrypted fields (\"-\": standard input); "
                       "needed when the database has any");
  pCommand->add_option("--password-file", options->passwordFile,
                       "File holding the database password (\"-\": standard input)");
  pCommand->callback([options] { RunUpgrade(*options); });
}

}  // namespace vemtool
