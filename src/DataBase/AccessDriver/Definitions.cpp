// Field type codes and the definition records (see Definitions.h).
#include "DataBase/AccessDriver/Definitions.h"

#include <utility>

#include "DataBase/AccessDriver/DaoException.h"

LONG PlainByteCount(LONG lType) {
  switch (static_cast<FieldType>(lType)) {
    case FieldType::BOOL:
    case FieldType::CHAR:
    case FieldType::UCHAR:
      return 1;
    case FieldType::SHORT:
    case FieldType::USHORT:
      return 2;
    case FieldType::LONG:
    case FieldType::ULONG:
    case FieldType::FLOAT:
      return 4;
    case FieldType::DOUBLE:
    case FieldType::DATETIME:
      return 8;
    case FieldType::STRING:
    case FieldType::BLOB:
      break;
  }
  return -1;
}

LONG MinEncryptedColumnSize(LONG lType) {
  const LONG lPlain = PlainByteCount(lType);
  if (lPlain < 0) return 0;
  // Base64 length of (plain bytes + overhead): 4 characters per started triple.
  return 4 * ((lPlain + kCryptOverheadBytes + 2) / 3);
}

LONG EncryptedStringLength(LONG lColumnSize) {
  return (lColumnSize % 4 == 0 ? lColumnSize / 4 * 3 : 0) - kCryptOverheadBytes;
}

const char* CryptDescription(LONG lType) {
  switch (static_cast<FieldType>(lType)) {
    case FieldType::STRING:
      return "CRYPT STRING";
    case FieldType::BOOL:
      return "CRYPT BOOL";
    case FieldType::CHAR:
      return "CRYPT CHAR";
    case FieldType::UCHAR:
      return "CRYPT UCHAR";
    case FieldType::SHORT:
      return "CRYPT SHORT";
    case FieldType::USHORT:
      return "CRYPT USHORT";
    case FieldType::LONG:
      return "CRYPT LONG";
    case FieldType::ULONG:
      return "CRYPT ULONG";
    case FieldType::FLOAT:
      return "CRYPT FLOAT";
    case FieldType::DOUBLE:
      return "CRYPT DOUBLE";
    case FieldType::DATETIME:
      return "CRYPT DATETIME";
    case FieldType::BLOB:
      return "BLOB";
  }
  return nullptr;
}

SFieldDef::SFieldDef(LONG lID, std::string name, LONG lType, LONG lLength, bool bCrypt)
    : m_lID(lID),
      m_name(std::move(name)),
      m_vName(m_name.c_str()),  // VT_BSTR; _com_error(E_OUTOFMEMORY) on exhaustion
      m_lType(lType),
      m_lLength(lLength),
      m_bCrypt(bCrypt) {}

SFieldDef::~SFieldDef() = default;

SRecordDef::SRecordDef(LONG lID, std::string name, LONG lDatabaseID)
    : m_lID(lID), m_lDatabaseID(lDatabaseID), m_name(std::move(name)) {}

SRecordDef::~SRecordDef() = default;

void SRecordDef::AddField(std::shared_ptr<const SFieldDef> pField, bool bIdField, bool bAutoValue) {
  if (pField == nullptr)
    throw vem_error("null field definition added to record definition " + std::to_string(m_lID) +
                        " (" + m_name + ")",
                    E_INVALIDARG);
  m_fields.push_back(pField);
  if (bIdField) m_idFields.push_back(pField);
  if (bAutoValue) m_pAutoValueField = std::move(pField);
}

SCommandDef::SCommandDef(LONG lID, std::string name, LONG lDatabaseID)
    : m_lID(lID), m_lDatabaseID(lDatabaseID), m_name(std::move(name)) {}

SCommandDef::~SCommandDef() = default;
