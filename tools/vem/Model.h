// The generic model of a database, as `vem inspect` and `vem dump` read it:
// the driver's GADM over the file, opened with the password of a file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DataBase/AccessDriver/GADM.h"
#include "Secret.h"

namespace vemtool {

// Builds the generic model of the database at path. Raises CommandFailure
// naming the file: no such file, wrong password, a database from which no
// model can be derived (with the driver's reason).
std::unique_ptr<GADM> OpenModel(const std::string& path, const SecretBuffer& password);

// The engine's description of a failure (its error text), for messages.
std::string EngineMessage(const _com_error& error);

// Opens the database through the engine alone, read-only, to look at its
// tables and properties. Raises CommandFailure as OpenModel does.
dao::DatabasePtr OpenRaw(const std::string& path, const SecretBuffer& password);

}  // namespace vemtool

namespace vemtool {

// A table and its number of records.
struct TableCount {
  std::string name;  // UTF-8
  LONG lRecords = 0;
};

// The tables of the model of the database at path that hold encrypted
// fields, each once, with their record counts: what a change of secret or
// an upgrade rewrites. Record definitions over queries are left out (they
// show rows of tables). Raises CommandFailure as OpenModel does.
std::vector<TableCount> EncryptedTables(const std::string& path, const SecretBuffer& password);

// "3 records in 2 tables (tblA 2, tblB 1)".
std::string CountsText(const std::vector<TableCount>& tables);

}  // namespace vemtool
