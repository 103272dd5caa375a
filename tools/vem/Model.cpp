// Opening a database for `vem inspect` and `vem dump`, and what a change
// of secret rewrites (see Model.h).
#include "Model.h"

#include <algorithm>

#include "Command.h"
#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/DaoRecordsetStrategy.h"
#include "Platform/Text.h"

namespace vemtool {

namespace {

// DAO error 3031, "Not a valid password."
constexpr HRESULT kWrongPassword = static_cast<HRESULT>(0x800A0BD7);

[[noreturn]] void FailOpen(const std::string& path, HRESULT hr, const std::string& what) {
  if (hr == kWrongPassword)
    throw CommandFailure("wrong password for " + path +
                         " (give the database password with --password-file)");
  throw CommandFailure("cannot open " + path + ": " + what);
}

}  // namespace

std::string EngineMessage(const _com_error& error) {
  const std::string description = dao::Utf8(error.Description());
  return description.empty() ? error.ErrorMessage() : description;
}

dao::DatabasePtr OpenRaw(const std::string& path, const SecretBuffer& password) {
  RequireDatabaseFile(path);
  std::string connect = ";PWD=" + password.Text();
  _bstr_t bstrConnect(connect.c_str());
  WipeString(connect);
  try {
    return dao::CreateDBEngine()->OpenDatabase(dao::Bstr(path), _variant_t(false), _variant_t(true),
                                               _variant_t(bstrConnect));
  } catch (const _com_error& e) {
    FailOpen(path, e.Error(), EngineMessage(e));
  }
}

std::unique_ptr<GADM> OpenModel(const std::string& path, const SecretBuffer& password) {
  RequireDatabaseFile(path);
  std::string text = password.Text();
  try {
    auto pModel = std::make_unique<GADM>(nullptr, path, text);
    WipeString(text);
    return pModel;
  } catch (const vem_error& e) {
    WipeString(text);
    if (e.code() == static_cast<LONG>(kWrongPassword)) FailOpen(path, e.code(), e.what());
    throw CommandFailure("cannot derive the model of " + path + ": " + e.what());
  } catch (const _com_error& e) {
    WipeString(text);
    FailOpen(path, e.Error(), EngineMessage(e));
  }
}

}  // namespace vemtool

namespace vemtool {

std::vector<TableCount> EncryptedTables(const std::string& path, const SecretBuffer& password) {
  std::unique_ptr<GADM> pModel = OpenModel(path, password);
  auto& db = static_cast<DaoDatabase&>(pModel->GetDatabase(0));
  std::vector<const SRecordDef*> records;
  pModel->ForEachRecordDef([&](const SRecordDef& record) {
    if (std::any_of(record.m_fields.begin(), record.m_fields.end(),
                    [](const auto& pField) { return pField->m_bCrypt; }))
      records.push_back(&record);
  });
  std::vector<TableCount> tables;
  for (const SRecordDef* pRecord : records) {
    const std::string name = platform::WideToUtf8(platform::AnsiToWide(pRecord->m_name));
    dao::QueryDefPtr pQuery;
    if (SUCCEEDED(db.GetEngineDatabase().GetQueryDefs()->get_Item(_variant_t(dao::Bstr(name)),
                                                                  &pQuery)) &&
        pQuery)
      continue;
    if (std::any_of(tables.begin(), tables.end(),
                    [&](const TableCount& t) { return t.name == name; }))
      continue;
    std::unique_ptr<IRecordsetStrategy> pStrategy = db.CreateRecordsetStrategy(*pRecord);
    auto& strategy = static_cast<DaoRecordsetStrategy&>(*pStrategy);
    strategy.Open();
    LONG lRecords = 0;
    for (; strategy.GetRecordCount() > 0 && !strategy.IsEOF(); strategy.MoveNext()) ++lRecords;
    tables.push_back({name, lRecords});
  }
  return tables;
}

std::string CountsText(const std::vector<TableCount>& tables) {
  LONG lTotal = 0;
  std::string each;
  for (const TableCount& t : tables) {
    lTotal += t.lRecords;
    each += (each.empty() ? "" : ", ") + t.name + " " + std::to_string(t.lRecords);
  }
  return std::to_string(lTotal) + " record" + (lTotal == 1 ? "" : "s") + " in " +
         std::to_string(tables.size()) + " table" + (tables.size() == 1 ? "" : "s") +
         (each.empty() ? "" : " (" + each + ")");
}

}  // namespace vemtool
