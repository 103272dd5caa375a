// `vem inspect DB [--password-file F] [--json]`: the model that the generic
// model (GADM) derives from the database: field definitions (id, name,
// type, length, crypt flag), record definitions (id, table or query, fields
// with their id and auto-value flags), the driver and database versions and
// the structure hash in hex.
//
// Before the model is built the database is read through the engine alone,
// to warn about what the derivation leaves out or cannot take: tables and
// queries whose "Description" does not begin with "DM", encrypted columns
// too small for their type (the model refuses the whole database for one),
// "CRYPT ..." and "BLOB" marks on columns of the wrong type (ignored), BLOB
// columns without the blob tables. After it, field definitions that no
// record definition uses (a name that an earlier table defined already)
// are warned about too. Warnings go to stderr (in --json, into the
// document); a model that cannot be built is a failure after them.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <set>

#include "Command.h"
#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/Definitions.h"
#include "Model.h"
#include "Platform/Text.h"

namespace vemtool {

namespace {

using nlohmann::json;
using K = GADM::Keyword;

const char* TypeName(LONG lType) {
  static const char* const names[] = {"STRING", "BOOL",  "CHAR",  "UCHAR",  "SHORT",    "USHORT",
                                      "LONG",   "ULONG", "FLOAT", "DOUBLE", "DATETIME", "BLOB"};
  return lType >= kFirstFieldType && lType <= kLastFieldType ? names[lType - 1] : "unknown";
}

std::string Utf8(const std::string& ansi) {
  return platform::WideToUtf8(platform::AnsiToWide(ansi));
}

std::string Hex(ULONG ulValue) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(ulValue));
  return text;
}

// The text of property name of an object, or nothing when it is missing or
// not text.
std::optional<std::string> TextProperty(dao::Properties& properties, const char* name) {
  dao::PropertyPtr pProperty;
  if (FAILED(properties.get_Item(_variant_t(name), &pProperty)) || !pProperty) return std::nullopt;
  const _variant_t vValue = pProperty->GetValue();
  if (vValue.vt != VT_BSTR) return std::nullopt;
  return platform::WideToAnsi(
      {vValue.bstrVal ? vValue.bstrVal : u"", SysStringLen(vValue.bstrVal)});
}

bool IsBlobTable(const std::string& name) {
  return name == "tblBLOB_FILES" || name == "tblBLOB_BLOCKS";
}

// What the engine shows of the database before the model is built.
struct Survey {
  std::vector<std::string> warnings;
  std::set<std::string> queries;  // names of stored queries (Windows-1252)
  bool blobTables = false;
};

void SurveyColumns(dao::TableDef& table, const std::string& tableName, Survey& survey,
                   bool& bHasBlobField) {
  dao::FieldsPtr pFields = table.GetFields();
  for (short j = 0; j < pFields->GetCount(); ++j) {
    dao::FieldPtr pField = pFields->GetItem(_variant_t(static_cast<LONG>(j)));
    const short fieldType = pField->GetType();
    if (fieldType == dao::dbCurrency || fieldType == dao::dbSingle || fieldType == dao::dbBinary ||
        fieldType == dao::dbLongBinary || fieldType == dao::dbGUID)
      survey.warnings.push_back("field " + tableName + "." + dao::Utf8(pField->GetName()) +
                                ": its engine type has no type in the model, which takes it as a "
                                "STRING of no length");
    const std::optional<std::string> description =
        TextProperty(*pField->GetProperties(), "Description");
    if (!description) continue;
    const std::string where = "field " + tableName + "." + dao::Utf8(pField->GetName()) + ": ";
    const short type = pField->GetType();
    const bool bText = type == dao::dbText || type == dao::dbMemo;
    if (GADM::MatchDescription(*description, K::BLOB, K::BLOB) == K::BLOB) {
      if (type != dao::dbLong)
        survey.warnings.push_back(where + "\"BLOB\" is ignored: it marks Long columns only");
      else
        bHasBlobField = true;
      continue;
    }
    const K crypt = GADM::MatchDescription(*description, K::CRYPT_STRING, K::CRYPT_DATETIME);
    if (crypt == K::None) continue;
    const LONG lType = static_cast<LONG>(FieldType::STRING) + static_cast<LONG>(crypt) -
                       static_cast<LONG>(K::CRYPT_STRING);
    const std::string keyword = "\"" + std::string(CryptDescription(lType)) + "\"";
    if (!bText) {
      survey.warnings.push_back(where + keyword +
                                " is ignored: only Text and Memo columns hold encrypted values; "
                                "this one is read as plain");
      continue;
    }
    const LONG lSize = pField->GetSize();
    if (lType == static_cast<LONG>(FieldType::STRING)) {
      if (type == dao::dbText && EncryptedStringLength(lSize) <= 0)
        survey.warnings.push_back(where + "an encrypted STRING column of size " +
                                  std::to_string(lSize) + " holds no text (length " +
                                  std::to_string(EncryptedStringLength(lSize)) +
                                  "); use a size that is a multiple of 4, at least 40");
    } else if (lSize < MinEncryptedColumnSize(lType)) {
      survey.warnings.push_back(where + "too small for " + keyword + ": size " +
                                std::to_string(lSize) + ", needs at least " +
                                std::to_string(MinEncryptedColumnSize(lType)) +
                                " (the model refuses the database)");
    }
  }
}

Survey SurveyDatabase(dao::Database& db) {
  Survey survey;
  bool bHasBlobField = false;
  dao::TableDefsPtr pTables = db.GetTableDefs();
  for (short i = 0; i < pTables->GetCount(); ++i) {
    dao::TableDefPtr pTable = pTables->GetItem(_variant_t(static_cast<LONG>(i)));
    const std::string name = dao::Utf8(pTable->GetName());
    if (IsBlobTable(name)) {
      survey.blobTables = true;
      continue;
    }
    const auto description = TextProperty(*pTable->GetProperties(), "Description");
    if (!description || GADM::MatchDescription(*description, K::DM, K::DM) != K::DM) {
      survey.warnings.push_back(
          "table " + name +
          " is not part of the model: its Description does not begin with \"DM\"");
      continue;
    }
    SurveyColumns(*pTable, name, survey, bHasBlobField);
  }
  dao::QueryDefsPtr pQueries = db.GetQueryDefs();
  for (short i = 0; i < pQueries->GetCount(); ++i) {
    dao::QueryDefPtr pQuery = pQueries->GetItem(_variant_t(static_cast<LONG>(i)));
    const std::string name = dao::Utf8(pQuery->GetName());
    survey.queries.insert(platform::WideToAnsi(platform::Utf8ToWide(name)));
    const auto description = TextProperty(*pQuery->GetProperties(), "Description");
    if (!description || GADM::MatchDescription(*description, K::DM, K::DM) != K::DM)
      survey.warnings.push_back(
          "query " + name +
          " is not part of the model: its Description does not begin with \"DM\"");
  }
  if (bHasBlobField && !survey.blobTables)
    survey.warnings.push_back(
        "the database has BLOB columns but no blob tables (tblBLOB_FILES, tblBLOB_BLOCKS): its "
        "blobs "
        "cannot be stored");
  return survey;
}

json FieldJson(const SFieldDef& field) {
  return {
      {"id", field.m_lID},         {"name", Utf8(field.m_name)}, {"type", TypeName(field.m_lType)},
      {"typeCode", field.m_lType}, {"length", field.m_lLength},  {"crypt", field.m_bCrypt}};
}

json Describe(GADM& model, const std::string& path, const Survey& survey,
              std::vector<std::string>& warnings) {
  json doc;
  doc["database"] = path;
  auto& db = static_cast<DaoDatabase&>(model.GetDatabase(0));
  doc["driverVersion"] = Hex(db.GetDriverVersion());
  doc["databaseVersion"] = Hex(db.GetDatabaseVersion());
  std::string hash;
  for (BYTE b : model.StructureHash()) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", b);
    hash += hex;
  }
  doc["structureHash"] = hash;
  doc["blobTables"] = survey.blobTables;

  std::set<LONG> used;
  json records = json::array();
  model.ForEachRecordDef([&](const SRecordDef& record) {
    json fields = json::array();
    for (const auto& pField : record.m_fields) {
      used.insert(pField->m_lID);
      json field = FieldJson(*pField);
      field["idField"] = std::find(record.m_idFields.begin(), record.m_idFields.end(), pField) !=
                         record.m_idFields.end();
      field["autoValue"] = record.m_pAutoValueField == pField;
      fields.push_back(std::move(field));
    }
    records.push_back({{"id", record.m_lID},
                       {"name", Utf8(record.m_name)},
                       {"kind", survey.queries.count(record.m_name) ? "query" : "table"},
                       {"database", record.m_lDatabaseID},
                       {"fields", std::move(fields)}});
  });
  json fields = json::array();
  LONG lPlaceholders = 0;
  model.ForEachFieldDef([&](const SFieldDef& field) {
    if (field.m_name.empty()) {
      ++lPlaceholders;  // fills a gap between "Enum" ids
      return;
    }
    fields.push_back(FieldJson(field));
    if (!used.count(field.m_lID))
      warnings.push_back("field definition " + std::to_string(field.m_lID) + " (" +
                         Utf8(field.m_name) +
                         ") is used by no record definition: an earlier table or query defines "
                         "that name, and its definition is the one shared");
  });
  doc["fields"] = std::move(fields);
  doc["placeholderFields"] = lPlaceholders;
  doc["records"] = std::move(records);
  doc["warnings"] = warnings;
  return doc;
}

void PrintText(const json& doc) {
  std::cout << "database          " << doc["database"].get<std::string>() << "\n"
            << "driver version    " << doc["driverVersion"].get<std::string>() << "\n"
            << "database version  " << doc["databaseVersion"].get<std::string>() << "\n"
            << "structure hash    " << doc["structureHash"].get<std::string>() << "\n"
            << "blob tables       " << (doc["blobTables"].get<bool>() ? "yes" : "no") << "\n";
  auto line = [](const json& field) {
    char text[160];
    std::snprintf(text, sizeof text, "%6d  %-24s %-8s %6d", field["id"].get<int>(),
                  field["name"].get<std::string>().c_str(),
                  field["type"].get<std::string>().c_str(), field["length"].get<int>());
    std::string out = text;
    if (field["crypt"].get<bool>()) out += "  crypt";
    if (field.contains("idField") && field["idField"].get<bool>()) out += "  id";
    if (field.contains("autoValue") && field["autoValue"].get<bool>()) out += "  auto";
    return out;
  };
  std::cout << "\nrecord definitions (" << doc["records"].size() << ")\n";
  for (const json& record : doc["records"]) {
    std::cout << "  " << record["id"].get<int>() << "  " << record["name"].get<std::string>()
              << " (" << record["kind"].get<std::string>() << ", database "
              << record["database"].get<int>() << ")\n";
    for (const json& field : record["fields"]) std::cout << "    " << line(field) << "\n";
  }
  std::cout << "\nfield definitions (" << doc["fields"].size() << ", and "
            << doc["placeholderFields"].get<int>() << " placeholders between \"Enum\" ids)\n";
  for (const json& field : doc["fields"]) std::cout << "  " << line(field) << "\n";
}

struct InspectOptions {
  std::string database;
  std::string passwordFile;
  bool bJson = false;
};

void RunInspect(const InspectOptions& options) {
  SecretBuffer password;
  if (!options.passwordFile.empty()) password = ReadSecret(options.passwordFile, "password file");
  Survey survey;
  {
    dao::DatabasePtr pDb = OpenRaw(options.database, password);
    try {
      survey = SurveyDatabase(*pDb);
      pDb->Close();
    } catch (const _com_error& e) {
      throw CommandFailure("cannot read the tables of " + options.database + ": " +
                           EngineMessage(e));
    }
  }
  std::unique_ptr<GADM> pModel;
  try {
    pModel = OpenModel(options.database, password);
  } catch (const CommandFailure&) {
    for (const std::string& warning : survey.warnings) std::cerr << "warning: " << warning << "\n";
    throw;
  }
  std::vector<std::string> warnings = survey.warnings;
  const json doc = Describe(*pModel, options.database, survey, warnings);
  if (options.bJson) {
    std::cout << doc.dump(2) << "\n";
  } else {
    PrintText(doc);
    for (const std::string& warning : warnings) std::cerr << "warning: " << warning << "\n";
  }
}

}  // namespace

void AddInspectCommand(CLI::App& app) {
  auto options = std::make_shared<InspectOptions>();
  CLI::App* pCommand = app.add_subcommand(
      "inspect",
      "Show the model the server derives from a database: record and field definitions, versions, "
      "structure hash; warn about what the derivation leaves out.");
  pCommand->add_option("DB", options->database, "The database file")->required();
  pCommand->add_option("--password-file", options->passwordFile,
                       "File holding the database password (\"-\": standard input)");
  pCommand->add_flag("--json", options->bJson, "Write the model as one JSON document");
  pCommand->callback([options] { RunInspect(*options); });
}

}  // namespace vemtool
