// Database files built through the engine (see DatabaseBuilder.h).
#include "DatabaseBuilder.h"

#include <algorithm>

namespace vemtool {

namespace {

_variant_t TypeOf(short type) {
  return _variant_t(static_cast<LONG>(type));
}

_variant_t Text(const std::string& utf8) {
  return _variant_t(dao::Bstr(utf8));
}

// Appends the "Description" and "Enum" properties to an object that has
// CreateProperty and GetProperties (TableDef, QueryDef, Field).
template <class Object>
void AddMarks(Object& object, const std::optional<std::string>& description,
              const std::optional<LONG>& enumId) {
  if (description)
    object.GetProperties()->Append(
        object.CreateProperty("Description", TypeOf(dao::dbText), Text(*description)));
  if (enumId)
    object.GetProperties()->Append(
        object.CreateProperty("Enum", TypeOf(dao::dbLong), _variant_t(*enumId)));
}

void SetProperty(dao::Database& db, const std::string& name, short type, const _variant_t& value) {
  dao::PropertiesPtr pProperties = db.GetProperties();
  dao::PropertyPtr pProperty;
  if (SUCCEEDED(pProperties->get_Item(Text(name), &pProperty)) && pProperty) {
    pProperty->PutValue(value);
    return;
  }
  pProperties->Append(db.CreateProperty(Text(name), TypeOf(type), value));
}

}  // namespace

dao::DatabasePtr CreateDatabase(const std::string& path, const std::string& password) {
  dao::DBEnginePtr pEngine = dao::CreateDBEngine();
  std::string connect = password.empty() ? std::string() : ";PWD=" + password;
  _bstr_t bstrConnect(connect.c_str());
  std::fill(connect.begin(), connect.end(), '\0');
  return pEngine->CreateDatabase(dao::Bstr(path), bstrConnect);
}

void AddTable(dao::Database& db, const TableSpec& table) {
  dao::TableDefPtr pTableDef = db.CreateTableDef(Text(table.name));
  dao::FieldsPtr pFields = pTableDef->GetFields();
  for (const FieldSpec& field : table.fields) {
    dao::FieldPtr pField =
        field.size > 0
            ? pTableDef->CreateField(Text(field.name), TypeOf(field.type), _variant_t(field.size))
            : pTableDef->CreateField(Text(field.name), TypeOf(field.type));
    if (field.autoNumber) pField->PutAttributes(pField->GetAttributes() | dao::dbAutoIncrField);
    if (field.required) pField->PutRequired(VARIANT_TRUE);
    pFields->Append(pField);
    dao::FieldPtr pAppended = pFields->GetItem(Text(field.name));
    AddMarks(*pAppended, field.description, field.enumId);
  }
  auto addIndex = [&](const std::string& name, const std::vector<std::string>& fields,
                      bool bPrimary, bool bUnique) {
    dao::IndexPtr pIndex = pTableDef->CreateIndex(Text(name));
    if (bPrimary) pIndex->PutPrimary(VARIANT_TRUE);
    if (bUnique) pIndex->PutUnique(VARIANT_TRUE);
    for (const std::string& field : fields)
      pIndex->GetFields()->Append(pIndex->CreateField(Text(field)));
    pTableDef->GetIndexes()->Append(pIndex);
  };
  if (!table.primaryKey.empty()) addIndex("PrimaryKey", table.primaryKey, true, true);
  for (const IndexSpec& index : table.indexes)
    addIndex(index.name, index.fields, false, index.unique);
  AddMarks(*pTableDef, table.description, table.enumId);
  db.GetTableDefs()->Append(pTableDef);
}

void AddQuery(dao::Database& db, const QuerySpec& query) {
  dao::QueryDefPtr pQueryDef = db.CreateQueryDef(Text(query.name), Text(query.sql));
  AddMarks(*pQueryDef, query.description, query.enumId);
  dao::FieldsPtr pFields = pQueryDef->GetFields();
  for (const auto& [name, description] : query.fieldDescriptions)
    AddMarks(*pFields->GetItem(Text(name)), description, std::nullopt);
  for (const auto& [name, enumId] : query.fieldEnums)
    AddMarks(*pFields->GetItem(Text(name)), std::nullopt, enumId);
}

void SetLongProperty(dao::Database& db, const std::string& name, LONG lValue) {
  SetProperty(db, name, dao::dbLong, _variant_t(lValue));
}

void SetTextProperty(dao::Database& db, const std::string& name, const std::string& value) {
  SetProperty(db, name, dao::dbText, Text(value));
}

void SetBoolProperty(dao::Database& db, const std::string& name, bool bValue) {
  SetProperty(db, name, dao::dbBoolean, _variant_t(bValue));
}

void SetDoubleProperty(dao::Database& db, const std::string& name, double dValue) {
  SetProperty(db, name, dao::dbDouble, _variant_t(dValue));
}

void AddBlobTables(dao::Database& db) {
  auto column = [](const char* name, short type = dao::dbLong, LONG size = 0,
                   bool autoNumber = false) {
    return FieldSpec{name, type, size, autoNumber, {}, {}, false};
  };
  AddTable(db, {"tblBLOB_FILES",
                {column("FIL_ID", dao::dbLong, 0, true), column("FIL_Filename", dao::dbText, 255),
                 column("FIL_lTotalSize"), column("FIL_lUsedSpace"), column("FIL_lFreeSpace"),
                 column("FIL_lBlobCount")},
                {"FIL_ID"},
                {},
                {},
                {}});
  AddTable(db, {"tblBLOB_BLOCKS",
                {column("BLOB_ID", dao::dbLong, 0, true), column("BLOB_FIL_ID"),
                 column("BLOB_lStart"), column("BLOB_lTotalSize"), column("BLOB_lDataLength"),
                 column("BLOB_RefCount"), column("BLOB_Deleted", dao::dbBoolean)},
                {"BLOB_ID"},
                {},
                {},
                {}});
}

}  // namespace vemtool
