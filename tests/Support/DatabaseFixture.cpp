// Database files for tests, built through the engine (see DatabaseFixture.h).
#include "Support/DatabaseFixture.h"

namespace vemtest {

namespace {

_variant_t LongType() {
  return _variant_t(static_cast<LONG>(dao::dbLong));
}

_variant_t TextType() {
  return _variant_t(static_cast<LONG>(dao::dbText));
}

// Appends the "Description" and "Enum" properties to an object that has
// CreateProperty and GetProperties (TableDef, QueryDef, Field).
template <class Object>
void AddMarks(Object& object, const std::optional<std::string>& description,
              const std::optional<LONG>& enumId) {
  if (description)
    object.GetProperties()->Append(object.CreateProperty(
        "Description", TextType(), _variant_t(_bstr_t(description->c_str()))));
  if (enumId)
    object.GetProperties()->Append(object.CreateProperty("Enum", LongType(), _variant_t(*enumId)));
}

void SetProperty(dao::Database& db, const std::string& name, const _variant_t& type,
                 const _variant_t& value) {
  dao::PropertiesPtr pProperties = db.GetProperties();
  dao::PropertyPtr pProperty;
  if (SUCCEEDED(pProperties->get_Item(_variant_t(name.c_str()), &pProperty)) && pProperty) {
    pProperty->PutValue(value);
    return;
  }
  pProperties->Append(db.CreateProperty(_variant_t(name.c_str()), type, value));
}

FixtureField Crypt(const char* name, LONG size, const char* keyword, LONG enumId) {
  return {name, dao::dbText, size, false, std::string(keyword), enumId};
}

}  // namespace

dao::DatabasePtr CreateDatabase(const std::string& path, const std::string& password) {
  dao::DBEnginePtr pEngine = dao::CreateDBEngine();
  const std::string connect = password.empty() ? std::string() : ";PWD=" + password;
  return pEngine->CreateDatabase(_bstr_t(path.c_str()), _bstr_t(connect.c_str()));
}

void AddTable(dao::Database& db, const FixtureTable& table) {
  dao::TableDefPtr pTableDef = db.CreateTableDef(_variant_t(table.name.c_str()));
  dao::FieldsPtr pFields = pTableDef->GetFields();
  for (const FixtureField& field : table.fields) {
    dao::FieldPtr pField = field.size > 0
                               ? pTableDef->CreateField(_variant_t(field.name.c_str()),
                                                        _variant_t(static_cast<LONG>(field.type)),
                                                        _variant_t(field.size))
                               : pTableDef->CreateField(_variant_t(field.name.c_str()),
                                                        _variant_t(static_cast<LONG>(field.type)));
    if (field.autoNumber) pField->PutAttributes(pField->GetAttributes() | dao::dbAutoIncrField);
    pFields->Append(pField);
    dao::FieldPtr pAppended = pFields->GetItem(_variant_t(field.name.c_str()));
    AddMarks(*pAppended, field.description, field.enumId);
  }
  if (!table.primaryKey.empty()) {
    dao::IndexPtr pIndex = pTableDef->CreateIndex(_variant_t("PrimaryKey"));
    pIndex->PutPrimary(VARIANT_TRUE);
    for (const std::string& name : table.primaryKey)
      pIndex->GetFields()->Append(pIndex->CreateField(_variant_t(name.c_str())));
    pTableDef->GetIndexes()->Append(pIndex);
  }
  AddMarks(*pTableDef, table.description, table.enumId);
  db.GetTableDefs()->Append(pTableDef);
}

void AddQuery(dao::Database& db, const FixtureQuery& query) {
  dao::QueryDefPtr pQueryDef =
      db.CreateQueryDef(_variant_t(query.name.c_str()), _variant_t(query.sql.c_str()));
  AddMarks(*pQueryDef, query.description, query.enumId);
  dao::FieldsPtr pFields = pQueryDef->GetFields();
  for (const auto& [name, description] : query.fieldDescriptions)
    AddMarks(*pFields->GetItem(_variant_t(name.c_str())), description, std::nullopt);
  for (const auto& [name, enumId] : query.fieldEnums)
    AddMarks(*pFields->GetItem(_variant_t(name.c_str())), std::nullopt, enumId);
}

void SetLongProperty(dao::Database& db, const std::string& name, LONG lValue) {
  SetProperty(db, name, LongType(), _variant_t(lValue));
}

void SetTextProperty(dao::Database& db, const std::string& name, const std::string& value) {
  SetProperty(db, name, TextType(), _variant_t(_bstr_t(value.c_str())));
}

void AddBlobTables(dao::Database& db) {
  AddTable(db, {"tblBLOB_FILES",
                {{"FIL_ID", dao::dbLong, 0, true, {}, {}},
                 {"FIL_Filename", dao::dbText, 255, false, {}, {}},
                 {"FIL_lTotalSize", dao::dbLong, 0, false, {}, {}},
                 {"FIL_lUsedSpace", dao::dbLong, 0, false, {}, {}},
                 {"FIL_lFreeSpace", dao::dbLong, 0, false, {}, {}},
                 {"FIL_lBlobCount", dao::dbLong, 0, false, {}, {}}},
                {"FIL_ID"},
                {},
                {}});
  AddTable(db, {"tblBLOB_BLOCKS",
                {{"BLOB_ID", dao::dbLong, 0, true, {}, {}},
                 {"BLOB_FIL_ID", dao::dbLong, 0, false, {}, {}},
                 {"BLOB_lStart", dao::dbLong, 0, false, {}, {}},
                 {"BLOB_lTotalSize", dao::dbLong, 0, false, {}, {}},
                 {"BLOB_lDataLength", dao::dbLong, 0, false, {}, {}},
                 {"BLOB_RefCount", dao::dbLong, 0, false, {}, {}},
                 {"BLOB_Deleted", dao::dbBoolean, 0, false, {}, {}}},
                {"BLOB_ID"},
                {},
                {}});
}

void CreateFixtureDatabase(const std::string& path, const FixtureOptions& options) {
  dao::DatabasePtr pDb = CreateDatabase(path, options.password);
  if (options.driverVersion) SetLongProperty(*pDb, "vemDriverVersion", *options.driverVersion);
  if (options.withCounters) {
    SetLongProperty(*pDb, "EnumRecordDefMax", kFixtureEnumRecordDefMax);
    SetLongProperty(*pDb, "EnumFieldMax", kFixtureEnumFieldMax);
  }

  AddTable(*pDb, {"tblCustomer",
                  {{"CUS_ID", dao::dbLong, 0, true, {}, 10},
                   {"CUS_Name", dao::dbText, 50, false, {}, 11},
                   Crypt("CUS_Secret", 252, "CRYPT STRING", 12),
                   Crypt("CUS_Active", 40, "CRYPT BOOL", 13),
                   Crypt("CUS_Char", 40, "CRYPT CHAR", 14),
                   Crypt("CUS_UChar", 40, "CRYPT UCHAR", 15),
                   Crypt("CUS_Short", 40, "CRYPT SHORT", 16),
                   Crypt("CUS_UShort", 40, "CRYPT USHORT", 17),
                   Crypt("CUS_Long", 44, "CRYPT LONG", 18),
                   Crypt("CUS_ULong", 44, "CRYPT ULONG", 19),
                   Crypt("CUS_Float", 44, "CRYPT FLOAT", 20),
                   Crypt("CUS_Double", 48, "CRYPT DOUBLE", 21),
                   Crypt("CUS_Birthday", 48, "CRYPT DATETIME", 22),
                   {"CUS_Note", dao::dbMemo, 0, false, {}, {}}},
                  {"CUS_ID"},
                  "DM customers",
                  1});
  AddTable(*pDb, {"tblDocument",
                  {{"DOC_ID", dao::dbLong, 0, true, {}, 30},
                   {"DOC_CUS_ID", dao::dbLong, 0, false, {}, 31},
                   {"DOC_Title", dao::dbText, 100, false, {}, 32},
                   {"DOC_Data", dao::dbLong, 0, false, "BLOB", 33},
                   {"DOC_Pages", dao::dbInteger, 0, false, {}, 34},
                   {"DOC_Flag", dao::dbBoolean, 0, false, {}, 35},
                   {"DOC_Byte", dao::dbByte, 0, false, {}, 36},
                   {"DOC_Price", dao::dbDouble, 0, false, {}, 37},
                   {"DOC_Created", dao::dbDate, 0, false, {}, 38},
                   {"DOC_Amount", dao::dbCurrency, 0, false, {}, 39}},
                  {"DOC_ID"},
                  "DM documents",
                  2});
  AddTable(*pDb, {"tblNote",
                  {{"NOT_Key", dao::dbText, 20, false, {}, {}},
                   {"NOT_Text", dao::dbText, 200, false, {}, {}}},
                  {"NOT_Key"},
                  "DM notes",
                  {}});
  AddTable(*pDb, {"tblScratch", {{"SCR_Value", dao::dbLong, 0, false, {}, {}}}, {}, "scratch", {}});
  AddBlobTables(*pDb);
  AddQuery(*pDb, {"qryCustomerDocs",
                  "SELECT CUS_ID, CUS_Name, DOC_ID, DOC_Title FROM tblCustomer INNER JOIN "
                  "tblDocument ON tblCustomer.CUS_ID = tblDocument.DOC_CUS_ID",
                  "DM customer documents",
                  3,
                  {{"DOC_ID", "ID"}},
                  {}});
  pDb->Close();
}

}  // namespace vemtest
