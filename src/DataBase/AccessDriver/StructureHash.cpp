// The structure hash of a data model: an MD5 digest over its definitions,
// with which a client makes sure that the model it got is the one it
// expects (field and record definitions, their types and crypt flags, the
// versions of the databases).
//
// Input, in this order, with no separators and no lengths:
//   1. field table, each filled slot in ascending id order: field form
//   2. record table, each filled slot in ascending id order:
//        id (4), database id (4), name bytes,
//        the auto-value field in field form (when there is one),
//        each field in field form, in the record's order,
//        each id field in field form, in the record's order
//   3. command table, each filled slot: id (4), database id (4), name bytes
//   4. database table, each filled slot: IDatabase::AddToStructureHash
//        (driver version (4), database version (4), database id (4))
// Field form: id (4), name bytes, type code (4), length (4), crypt (1 byte:
// 1 true, 0 false). Integers are 4 bytes little-endian; names are their
// single-byte (Windows-1252) characters without terminator.
//
// Empty slots (ids with gaps: "Enum" record ids of a generic model, a static
// model's ids) are skipped, which leaves the hash of a model without gaps
// unchanged.
#include <cstdint>

#include "DataBase/AccessDriver/DataModel.h"
#include "Utility/Coding.h"
#include "Utility/Md5.h"

namespace {

void AddLong(Md5Context& context, LONG lValue) {
  BYTE bytes[kFixed32Size];
  EncodeFixed32(bytes, static_cast<std::uint32_t>(lValue));
  Md5Update(context, bytes, sizeof bytes);
}

void AddName(Md5Context& context, const std::string& name) {
  Md5Update(context, name.data(), name.size());
}

void AddFieldForm(Md5Context& context, const SFieldDef& fieldDef) {
  AddLong(context, fieldDef.m_lID);
  AddName(context, fieldDef.m_name);
  AddLong(context, fieldDef.m_lType);
  AddLong(context, fieldDef.m_lLength);
  const BYTE crypt = fieldDef.m_bCrypt ? 1 : 0;
  Md5Update(context, &crypt, 1);
}

}  // namespace

std::array<BYTE, kMd5DigestSize> DataModel::StructureHash() {
  Md5Context context;
  Md5Init(context);
  ForEachFieldDef([&](const SFieldDef& fieldDef) { AddFieldForm(context, fieldDef); });
  ForEachRecordDef([&](const SRecordDef& recordDef) {
    AddLong(context, recordDef.m_lID);
    AddLong(context, recordDef.m_lDatabaseID);
    AddName(context, recordDef.m_name);
    if (recordDef.m_pAutoValueField) AddFieldForm(context, *recordDef.m_pAutoValueField);
    for (const auto& pField : recordDef.m_fields) AddFieldForm(context, *pField);
    for (const auto& pField : recordDef.m_idFields) AddFieldForm(context, *pField);
  });
  ForEachCommandDef([&](const SCommandDef& commandDef) {
    AddLong(context, commandDef.m_lID);
    AddLong(context, commandDef.m_lDatabaseID);
    AddName(context, commandDef.m_name);
  });
  ForEachDatabase([&](IDatabase& database) { database.AddToStructureHash(context); });
  std::array<BYTE, kMd5DigestSize> digest{};
  Md5Final(context, digest.data());
  return digest;
}
