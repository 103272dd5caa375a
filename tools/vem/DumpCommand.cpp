// `vem dump DB TABLE [--secret-file F] [--password-file F] [--csv]`: the
// records of one table or query of the model, field by field in the order
// of its record definition.
//
// Encrypted fields are deciphered only with the secret; without it they
// show as "<encrypted>". With it, a value that does not authenticate (its
// MAC, format 1.1) ends the dump with an error naming the field and record
// instead of printing garbage; a database that keeps a key check value
// (written when its secret was changed) is checked against the secret
// before anything is read, which catches a wrong secret in format 1.0 too.
// BLOB fields show as the blob id and its length ("blob 7, 1024 bytes").
// Plain output lists each record as "name: value" lines; --csv writes one
// header line and one line per record (RFC 4180 quoting, NULL as empty).
#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iostream>

#include "Command.h"
#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/DaoRecordsetStrategy.h"
#include "DataBase/AccessDriver/Definitions.h"
#include "DataBase/AccessDriver/IBlobStrategy.h"
#include "DataBase/AccessDriver/ILoader.h"
#include "Model.h"
#include "Platform/Text.h"

namespace vemtool {

namespace {

// One shown value; null for a column that holds nothing.
using Cell = std::optional<std::string>;

std::string AnsiToUtf8(const std::string& ansi) {
  return platform::WideToUtf8(platform::AnsiToWide(ansi));
}

template <class T>
std::string Number(T value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string Date(double dDate) {
  DateParts parts;
  OleDateToDateParts(dDate, parts);
  if (parts.year == 0) return "<date " + Number(dDate) + ">";  // outside the OLE range
  char text[40];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", parts.year, parts.month,
                parts.day, parts.hour, parts.minute, parts.second);
  std::string out = text;
  if (parts.millisecond != 0) {
    std::snprintf(text, sizeof text, ".%03u", parts.millisecond);
    out += text;
  }
  return out;
}

// A plain column's value as the engine holds it.
Cell PlainCell(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return std::nullopt;
    case VT_BSTR:
      return platform::WideToUtf8({v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal)});
    case VT_BOOL:
      return std::string(v.boolVal ? "true" : "false");
    case VT_UI1:
      return Number(static_cast<unsigned>(v.bVal));
    case VT_I2:
      return Number(v.iVal);
    case VT_I4:
      return Number(v.lVal);
    case VT_R4:
      return Number(v.fltVal);
    case VT_R8:
      return Number(v.dblVal);
    case VT_DATE:
      return Date(v.date);
    default:
      break;
  }
  if (v.vt == (VT_ARRAY | VT_UI1) && v.parray) {
    LONG lLower = 0, lUpper = -1;
    SafeArrayGetLBound(v.parray, 1, &lLower);
    SafeArrayGetUBound(v.parray, 1, &lUpper);
    return "<" + Number(lUpper - lLower + 1) + " bytes>";
  }
  _variant_t vText;
  if (SUCCEEDED(VariantChangeType(&vText, &v, 0, VT_BSTR)) && vText.vt == VT_BSTR)
    return platform::WideToUtf8({vText.bstrVal ? vText.bstrVal : u"", SysStringLen(vText.bstrVal)});
  return "<value of type " + Number(static_cast<int>(v.vt)) + ">";
}

// An encrypted field's value, deciphered and typed by its field type.
std::string DecipheredCell(IDaoLoader& loader, const SFieldDef& field) {
  const LONG id = field.m_lID;
  switch (field.Type()) {
    case FieldType::STRING: {
      std::string text;
      loader.GetString(id, text);
      return AnsiToUtf8(text);
    }
    case FieldType::BOOL: {
      bool b = false;
      loader.GetBool(id, b);
      return b ? "true" : "false";
    }
    case FieldType::CHAR: {
      std::int8_t c = 0;
      loader.GetChar(id, c);
      return Number(static_cast<int>(c));
    }
    case FieldType::UCHAR: {
      BYTE c = 0;
      loader.GetUChar(id, c);
      return Number(static_cast<unsigned>(c));
    }
    case FieldType::SHORT: {
      SHORT s = 0;
      loader.GetShort(id, s);
      return Number(s);
    }
    case FieldType::USHORT: {
      USHORT s = 0;
      loader.GetUShort(id, s);
      return Number(s);
    }
    case FieldType::LONG: {
      LONG l = 0;
      loader.GetLong(id, l);
      return Number(l);
    }
    case FieldType::ULONG: {
      ULONG l = 0;
      loader.GetULong(id, l);
      return Number(l);
    }
    case FieldType::FLOAT: {
      float f = 0;
      loader.GetFloat(id, f);
      return Number(f);
    }
    case FieldType::DOUBLE: {
      double d = 0;
      loader.GetDouble(id, d);
      return Number(d);
    }
    case FieldType::DATETIME: {
      DateParts parts;
      loader.GetDate(id, parts);
      double dDate = 0;
      return DatePartsToOleDate(parts, dDate) ? Date(dDate) : "<no date>";
    }
    default:
      return "<type " + Number(field.m_lType) + ">";
  }
}

std::string BlobCell(IBlobStrategy& blob, LONG lBlobId) {
  try {
    blob.Load(lBlobId);
    return "blob " + Number(lBlobId) + ", " + Number(blob.GetLength()) + " bytes";
  } catch (const vem_error& e) {
    return "blob " + Number(lBlobId) + ", unreadable: " + e.what();
  }
}

std::string Csv(const Cell& cell) {
  if (!cell) return "";
  if (cell->find_first_of(",\"\r\n") == std::string::npos) return *cell;
  std::string out = "\"";
  for (char c : *cell) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

const SRecordDef* FindRecordDef(GADM& model, const std::string& name, std::string& known) {
  const std::string ansi = platform::WideToAnsi(platform::Utf8ToWide(name));
  const SRecordDef* pFound = nullptr;
  model.ForEachRecordDef([&](const SRecordDef& record) {
    known += (known.empty() ? "" : ", ") + AnsiToUtf8(record.m_name);
    if (!pFound && record.m_name == ansi) pFound = &record;
  });
  return pFound;
}

struct DumpOptions {
  std::string database;
  std::string table;
  std::string secretFile;
  std::string passwordFile;
  bool bCsv = false;
};

void RunDump(const DumpOptions& options) {
  if (!options.secretFile.empty() && options.secretFile == "-" && options.passwordFile == "-")
    throw CommandFailure("the secret and the password cannot both come from standard input");
  SecretBuffer password;
  if (!options.passwordFile.empty()) password = ReadSecret(options.passwordFile, "password file");
  const bool bSecret = !options.secretFile.empty();
  SecretBuffer secret;
  if (bSecret) {
    secret = ReadSecret(options.secretFile, "secret file");
    if (secret.empty())
      throw CommandFailure(
          "the secret from " +
          (options.secretFile == "-" ? std::string("standard input") : options.secretFile) +
          " is empty");
  }
  std::unique_ptr<GADM> pModel = OpenModel(options.database, password);
  std::string known;
  const SRecordDef* pRecord = FindRecordDef(*pModel, options.table, known);
  if (!pRecord)
    throw CommandFailure(
        options.table + " is not a table or query of the model of " + options.database +
        " (those whose Description begins with \"DM\": " + (known.empty() ? "none" : known) + ")");
  auto& db = static_cast<DaoDatabase&>(pModel->GetDatabase(0));
  if (!db.IsOpen()) throw CommandFailure("cannot open " + options.database);
  if (bSecret) {
    db.SetSecret(secret.data(), static_cast<ULONG>(secret.size()), nullptr, 0);
    try {
      db.UpdateUnderKeyInForce([] {});
    } catch (const vem_error& e) {
      if (e.code() == kVemErrStaleKey)
        throw CommandFailure("wrong secret for " + options.database +
                             ": it does not match the database's key check value");
      throw;
    }
  }

  // An encrypted value is bound to its table's name: read through a query
  // (another name) it cannot authenticate, with any secret.
  dao::QueryDefPtr pQuery;
  const bool bQuery = SUCCEEDED(db.GetEngineDatabase().GetQueryDefs()->get_Item(
                          _variant_t(dao::Bstr(AnsiToUtf8(pRecord->m_name))), &pQuery)) &&
                      pQuery;
  const bool bDecipher = bSecret && !bQuery;
  if (bSecret && bQuery &&
      std::any_of(pRecord->m_fields.begin(), pRecord->m_fields.end(),
                  [](const auto& pField) { return pField->m_bCrypt; }))
    std::cerr << "vem dump: note: " << options.table
              << " is a query; its encrypted fields are bound to their tables and show as "
                 "<encrypted>: dump the tables to read them\n";

  std::unique_ptr<IRecordsetStrategy> pStrategy = db.CreateRecordsetStrategy(*pRecord);
  auto& strategy = static_cast<DaoRecordsetStrategy&>(*pStrategy);
  std::unique_ptr<IBlobStrategy> pBlob;
  strategy.Open();
  IDaoLoader& loader = strategy.GetLoader();
  const auto& fields = pRecord->m_fields;
  const std::string table = AnsiToUtf8(pRecord->m_name);
  if (options.bCsv) {
    std::string header;
    for (std::size_t i = 0; i < fields.size(); ++i)
      header += (i ? "," : "") + Csv(AnsiToUtf8(fields[i]->m_name));
    std::cout << header << "\r\n";
  }
  LONG lRecord = 0;
  for (; strategy.GetRecordCount() > 0 && !strategy.IsEOF(); strategy.MoveNext()) {
    ++lRecord;
    std::vector<Cell> cells;
    for (const auto& pField : fields) {
      _variant_t vValue;
      if (pField->m_bCrypt) {
        if (strategy.HoldsNoText(pField->m_lID))
          cells.emplace_back(std::nullopt);
        else if (!bDecipher)
          cells.emplace_back("<encrypted>");
        else {
          try {
            cells.emplace_back(DecipheredCell(loader, *pField));
          } catch (const vem_error& e) {
            throw CommandFailure("field " + AnsiToUtf8(pField->m_name) + " of record " +
                                 Number(lRecord) + " of " + table + " does not decipher (" +
                                 e.what() + "): wrong secret, or a damaged value");
          }
        }
        continue;
      }
      loader.GetVariant(pField->m_lID, vValue);
      if (pField->Type() == FieldType::BLOB && vValue.vt == VT_I4) {
        if (!pBlob) pBlob = db.CreateBlobStrategy(*pRecord);
        cells.emplace_back(BlobCell(*pBlob, vValue.lVal));
      } else {
        cells.emplace_back(PlainCell(vValue));
      }
    }
    if (options.bCsv) {
      std::string line;
      for (std::size_t i = 0; i < cells.size(); ++i) line += (i ? "," : "") + Csv(cells[i]);
      std::cout << line << "\r\n";
    } else {
      std::cout << "record " << lRecord << "\n";
      for (std::size_t i = 0; i < cells.size(); ++i)
        std::cout << "  " << AnsiToUtf8(fields[i]->m_name) << ": " << cells[i].value_or("<null>")
                  << "\n";
    }
  }
  if (!options.bCsv)
    std::cout << table << ": " << lRecord << " record" << (lRecord == 1 ? "" : "s") << "\n";
}

}  // namespace

void AddDumpCommand(CLI::App& app) {
  auto options = std::make_shared<DumpOptions>();
  CLI::App* pCommand = app.add_subcommand(
      "dump",
      "Print the records of a table or query of the model; encrypted fields deciphered with the "
      "secret, blob fields as id and length.");
  pCommand->add_option("DB", options->database, "The database file")->required();
  pCommand->add_option("TABLE", options->table, "The table or query (a record definition)")
      ->required();
  pCommand->add_option("--secret-file", options->secretFile,
                       "File holding the secret of the encrypted fields (\"-\": standard input); "
                       "without it they show as <encrypted>");
  pCommand->add_option("--password-file", options->passwordFile,
                       "File holding the database password (\"-\": standard input)");
  pCommand->add_flag("--csv", options->bCsv, "Write CSV: a header line, then one line per record");
  pCommand->callback([options] { RunDump(*options); });
}

}  // namespace vemtool
