// `vem create DB --schema FILE [--password-file F]`: a new database from a
// JSON schema (Schema.h), built through the engine (DatabaseBuilder.h).
//
// Never overwrites: a database (or blob directory) of that name is refused
// up front, and the finished file takes its name with an exclusive rename
// (RENAME_NOREPLACE), so a file that appears meanwhile is not replaced
// either. The database is built in a temporary file beside it
// (".<name>.vem-create-<pid>"), which is removed with its SQLite side files
// on every way out: a failure leaves nothing behind.
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "Command.h"
#include "DatabaseBuilder.h"
#include "Model.h"
#include "Schema.h"
#include "Secret.h"

namespace vemtool {

namespace {

namespace fs = std::filesystem;

// Removes the temporary database and its side files unless released.
class TempDatabase {
 public:
  explicit TempDatabase(std::string path) : m_path(std::move(path)) {}
  ~TempDatabase() {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      std::error_code ignored;
      fs::remove(m_path + suffix, ignored);
    }
  }
  TempDatabase(const TempDatabase&) = delete;
  TempDatabase& operator=(const TempDatabase&) = delete;
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

// Runs step; an engine failure becomes a failure at `where` of the schema.
template <class Step>
void AtPlace(const std::string& schemaPath, const std::string& where, Step&& step) {
  try {
    step();
  } catch (const _com_error& error) {
    throw CommandFailure(schemaPath + ": " + where +
                         ": the engine refused it: " + EngineMessage(error));
  }
}

void Build(dao::Database& db, const DatabaseSchema& schema, const std::string& schemaPath) {
  SetLongProperty(db, "vemDriverVersion", static_cast<LONG>(schema.driverVersion));
  for (const SchemaProperty& property : schema.properties) {
    AtPlace(schemaPath, property.where, [&] {
      std::visit(
          [&](const auto& value) {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, LONG>)
              SetLongProperty(db, property.name, value);
            else if constexpr (std::is_same_v<T, double>)
              SetDoubleProperty(db, property.name, value);
            else if constexpr (std::is_same_v<T, bool>)
              SetBoolProperty(db, property.name, value);
            else
              SetTextProperty(db, property.name, value);
          },
          property.value);
    });
  }
  if (schema.blobTables) AtPlace(schemaPath, "/blobTables", [&] { AddBlobTables(db); });
  for (std::size_t i = 0; i < schema.tables.size(); ++i)
    AtPlace(schemaPath, schema.tableWhere[i], [&] { AddTable(db, schema.tables[i]); });
  for (std::size_t i = 0; i < schema.queries.size(); ++i)
    AtPlace(schemaPath, schema.queryWhere[i], [&] { AddQuery(db, schema.queries[i]); });
}

struct CreateOptions {
  std::string database;
  std::string schema;
  std::string passwordFile;
};

void RunCreate(const CreateOptions& options) {
  const fs::path target = fs::absolute(options.database);
  std::error_code error;
  if (fs::exists(fs::symlink_status(target, error)))
    throw CommandFailure(options.database +
                         " exists already; vem create never overwrites a database");
  const std::string blobDirectory = target.string() + "_blob";
  if (fs::exists(fs::symlink_status(blobDirectory, error)))
    throw CommandFailure(
        blobDirectory + " exists already: it would be taken for the new database's blob directory");
  if (!fs::is_directory(target.parent_path(), error))
    throw CommandFailure("no directory " + target.parent_path().string() + " for " +
                         options.database);

  const DatabaseSchema schema = LoadSchema(options.schema);
  SecretBuffer password;
  if (!options.passwordFile.empty()) {
    password = ReadSecret(options.passwordFile, "password file");
    if (password.empty())
      throw CommandFailure("the password file " + options.passwordFile +
                           " is empty; leave out --password-file for a database without password");
  }

  TempDatabase temp((target.parent_path() /
                     ("." + target.filename().string() + ".vem-create-" + std::to_string(getpid())))
                        .string());
  {
    std::string text = password.Text();
    dao::DatabasePtr pDb;
    try {
      pDb = CreateDatabase(temp.path(), text);
      WipeString(text);
    } catch (const _com_error& e) {
      WipeString(text);
      throw CommandFailure("cannot create " + options.database + ": " + EngineMessage(e));
    }
    Build(*pDb, schema, options.schema);
    try {
      pDb->Close();
    } catch (const _com_error& e) {
      throw CommandFailure("cannot close " + options.database + ": " + EngineMessage(e));
    }
  }
  for (const char* suffix : {"-wal", "-journal"})
    if (fs::exists(temp.path() + suffix, error))
      throw CommandFailure("the engine left " + temp.path() + suffix + " behind; " +
                           options.database + " was not made");
  if (renameat2(AT_FDCWD, temp.path().c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0)
    throw CommandFailure("cannot give the new database the name " + options.database + ": " +
                         std::strerror(errno));
  std::cout << "created " << options.database << ": " << schema.tables.size() << " table"
            << (schema.tables.size() == 1 ? "" : "s") << ", " << schema.queries.size() << " quer"
            << (schema.queries.size() == 1 ? "y" : "ies")
            << (schema.blobTables ? ", blob tables" : "") << ", driver version "
            << (schema.driverVersion == 0x01000000 ? "1.0" : "1.1")
            << (password.empty() ? ", no password" : ", password set") << "\n";
}

}  // namespace

void AddCreateCommand(CLI::App& app) {
  auto options = std::make_shared<CreateOptions>();
  CLI::App* pCommand = app.add_subcommand(
      "create",
      "Create a database from a JSON schema (tables, queries, properties, blob tables). Never "
      "overwrites; nothing is left behind on failure.");
  pCommand->add_option("DB", options->database, "The database file to create")->required();
  pCommand->add_option("--schema", options->schema, "The JSON schema (see tools/vem/README.md)")
      ->required();
  pCommand->add_option("--password-file", options->passwordFile,
                       "File holding the database password (\"-\": standard input); without it the "
                       "database has no password");
  pCommand->callback([options] { RunCreate(*options); });
}

}  // namespace vemtool
