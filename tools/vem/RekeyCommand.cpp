// `vem rekey DB --old-secret-file F --new-secret-file F [--password-file F]`:
// the change of secret through the server. The old secret is set, then
// ChangeSecret rewrites every encrypted value under the new one with a fresh
// random salt, all in one transaction: a value that does not authenticate
// under the old secret (a wrong secret) or a key check value that refuses
// it leaves the database as it was.
//
// The summary counts the records of the tables with encrypted fields,
// counted before the change: those are the records the change rewrites.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "Command.h"
#include "Model.h"
#include "Platform/Random.h"
#include "Server.h"

namespace vemtool {

namespace {

// The server's answer when the key check value of the database refuses the
// key in force.
constexpr HRESULT kStaleKey = static_cast<HRESULT>(0xC004A819);

struct RekeyOptions {
  std::string database;
  std::string oldSecretFile;
  std::string newSecretFile;
  std::string passwordFile;
};

SecretBuffer ReadNonEmpty(const std::string& source, const char* what) {
  SecretBuffer secret = ReadSecret(source, what);
  if (secret.empty())
    throw CommandFailure("the " + std::string(what) + " " +
                         (source == "-" ? std::string("(standard input)") : source) +
                         " holds no secret");
  return secret;
}

void RunRekey(const RekeyOptions& options) {
  int stdinUsers = 0;
  for (const std::string* p :
       {&options.oldSecretFile, &options.newSecretFile, &options.passwordFile})
    stdinUsers += *p == "-" ? 1 : 0;
  if (stdinUsers > 1)
    throw CommandFailure("only one of the secrets and the password can come from standard input");
  SecretBuffer password;
  if (!options.passwordFile.empty()) password = ReadSecret(options.passwordFile, "password file");
  const SecretBuffer oldSecret = ReadNonEmpty(options.oldSecretFile, "old secret file");
  const SecretBuffer newSecret = ReadNonEmpty(options.newSecretFile, "new secret file");
  const std::vector<TableCount> tables = EncryptedTables(options.database, password);

  ServerSession session;
  ToolBackChannel channel("vem rekey");
  {
    ComPtr<IComDataModel> pModel = session.OpenModel(channel, options.database, password);
    const SecretArray vOld(oldSecret.data(), oldSecret.size());
    const SecretArray vNew(newSecret.data(), newSecret.size());
    BYTE salt[8];
    platform::RandomBytes(salt, sizeof salt);
    const SecretArray vSalt(salt, sizeof salt);
    const SecretArray vNone(nullptr, 0);
    CheckCall(pModel->SetSecret(vOld.get(), vNone.get()), "setting the old secret");
    const HRESULT hr = pModel->ChangeSecret(vOld.get(), vNew.get(), vSalt.get());
    if (FAILED(hr)) {
      // The change runs in one transaction: a failure leaves every value as it was.
      const std::string text = FailureText(hr);
      if (hr == kStaleKey || text.find("illegal MAC") != std::string::npos)
        throw CommandFailure("the old secret is not the secret of " + options.database +
                             ", nothing was changed (" + text + ")");
      throw CommandFailure("changing the secret of " + options.database +
                           " failed, nothing was changed: " + text);
    }
  }
  if (channel.ErrorCount() != 0)
    throw CommandFailure(options.database + ": the secret was changed, but " +
                         std::to_string(channel.ErrorCount()) + " error" +
                         (channel.ErrorCount() == 1 ? " was" : "s were") + " reported");
  std::cout << options.database << ": changed the secret, rewrote the encrypted values of "
            << CountsText(tables) << "\n";
}

}  // namespace

void AddRekeyCommand(CLI::App& app) {
  auto options = std::make_shared<RekeyOptions>();
  CLI::App* pCommand = app.add_subcommand(
      "rekey",
      "Change the secret of the encrypted fields through the server: every encrypted value is "
      "rewritten under the new secret");
  pCommand->add_option("DB", options->database, "The database file")->required();
  pCommand
      ->add_option("--old-secret-file", options->oldSecretFile,
                   "File holding the secret in force (\"-\": standard input)")
      ->required();
  pCommand
      ->add_option("--new-secret-file", options->newSecretFile,
                   "File holding the new secret (\"-\": standard input)")
      ->required();
  pCommand->add_option("--password-file", options->passwordFile,
                       "File holding the database password (\"-\": standard input)");
  pCommand->callback([options] { RunRekey(*options); });
}

}  // namespace vemtool
