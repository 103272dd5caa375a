// The definition vocabulary of every data model: field type codes, field
// definitions (SFieldDef), record definitions (SRecordDef) and command
// definitions (SCommandDef).
//
// Definitions are made while a model is built (static model: on the client's
// request; generic model: from the database) and are read-only afterwards.
// Field definitions are shared: the model's field table and every record
// definition that lists a field hold std::shared_ptr<const SFieldDef>, so a
// field definition that the model replaces lives on for the record
// definitions that took it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Platform/ComUtil.h"
#include "Platform/WinTypes.h"

class DataModel;

// Field type codes. A field definition stores its code as a LONG, unchanged
// even when it is none of these (the typed operations then do nothing), so
// switch on static_cast<FieldType>(lType) with a default branch.
enum class FieldType : LONG {
  STRING = 1,     // text; length = characters the value may hold
  BOOL = 2,       // Boolean
  CHAR = 3,       // signed 8-bit
  UCHAR = 4,      // unsigned 8-bit
  SHORT = 5,      // signed 16-bit
  USHORT = 6,     // unsigned 16-bit
  LONG = 7,       // signed 32-bit
  ULONG = 8,      // unsigned 32-bit
  FLOAT = 9,      // IEEE 754 single
  DOUBLE = 10,    // IEEE 754 double
  DATETIME = 11,  // OLE Automation date (days since 1899-12-30)
  BLOB = 12,      // blob id (32-bit) of a BLOB in the blob store; never encrypted
};

inline constexpr LONG kFirstFieldType = static_cast<LONG>(FieldType::STRING);
inline constexpr LONG kLastFieldType = static_cast<LONG>(FieldType::BLOB);

// Bytes of encrypted overhead around a value's plain bytes (header and MAC of
// the field cipher).
inline constexpr LONG kCryptOverheadBytes = 28;

// Number of plain bytes that the field cipher enciphers for one value of the
// type: 1 for BOOL..UCHAR, 2 for SHORT/USHORT, 4 for LONG..FLOAT, 8 for
// DOUBLE/DATETIME. -1 for STRING (its length varies), BLOB (never encrypted)
// and codes outside 1..12.
LONG PlainByteCount(LONG lType);

// Least number of characters the text column of an encrypted field of the
// type must have: the Base64 length of plain bytes + 28, i.e. 40 for 1 or 2
// plain bytes, 44 for 4, 48 for 8. 0 when the type has no fixed minimum
// (STRING, BLOB, unknown codes).
LONG MinEncryptedColumnSize(LONG lType);

// Length of an encrypted STRING field held in a text column of lColumnSize
// characters: the plain bytes that fit after Base64 and the 28 bytes of
// overhead, (size % 4 == 0 ? size / 4 * 3 : 0) - 28. May be negative (a
// column of 255 characters gives -28; one of 252 gives 161).
LONG EncryptedStringLength(LONG lColumnSize);

// The text with which the Description property of a column begins when it
// holds encrypted values of the type ("CRYPT STRING" ... "CRYPT DATETIME"),
// or, for BLOB, marks a blob reference ("BLOB"). Null for unknown codes.
const char* CryptDescription(LONG lType);

// A field: a column of a table or query. Created complete and never changed.
struct SFieldDef {
  // Builds the name's VARIANT; raises _com_error(E_OUTOFMEMORY) when the
  // BSTR cannot be allocated.
  SFieldDef(LONG lID, std::string name, LONG lType, LONG lLength, bool bCrypt);
  virtual ~SFieldDef();

  SFieldDef(const SFieldDef&) = delete;
  SFieldDef& operator=(const SFieldDef&) = delete;

  FieldType Type() const { return static_cast<FieldType>(m_lType); }

  const LONG m_lID;          // index in the model's field table
  const std::string m_name;  // column name (Windows-1252)
  const _variant_t m_vName;  // m_name as VT_BSTR: the index into an engine Fields collection
  const LONG m_lType;        // a FieldType code, stored unchanged
  const LONG m_lLength;      // STRING: characters the value may hold; -1 where none applies
  const bool m_bCrypt;       // the column holds encrypted values
};

// A record: a table or query of one database with an ordered list of fields.
// Filled while the model is built (AddField), read-only afterwards.
struct SRecordDef {
  SRecordDef(LONG lID, std::string name, LONG lDatabaseID);
  virtual ~SRecordDef();

  SRecordDef(const SRecordDef&) = delete;
  SRecordDef& operator=(const SRecordDef&) = delete;

  // Appends pField to m_fields; with bIdField also to m_idFields; with
  // bAutoValue makes it the auto-value field (replacing an earlier one).
  // Adding the same field twice lists it twice. Raises vem_error
  // (E_INVALIDARG) for a null field.
  void AddField(std::shared_ptr<const SFieldDef> pField, bool bIdField, bool bAutoValue);

  const LONG m_lID;          // index in the model's record table
  const LONG m_lDatabaseID;  // index of the database that holds the table or query
  const std::string m_name;  // table or query name (Windows-1252)
  // The field whose value the database generates on append, or null.
  std::shared_ptr<const SFieldDef> m_pAutoValueField;
  // The record's fields in the order of addition.
  std::vector<std::shared_ptr<const SFieldDef>> m_fields;
  // The identifying fields, a sub-list of m_fields in the order of addition;
  // the first one enters the MAC of encrypted values.
  std::vector<std::shared_ptr<const SFieldDef>> m_idFields;
  // The owning model (not owned); set when the model stores the definition.
  DataModel* m_pModel = nullptr;
};

// A command: stored and hashed, handed to its database's CreateCommand
// (which makes nothing of it).
struct SCommandDef {
  SCommandDef(LONG lID, std::string name, LONG lDatabaseID);
  virtual ~SCommandDef();

  SCommandDef(const SCommandDef&) = delete;
  SCommandDef& operator=(const SCommandDef&) = delete;

  const LONG m_lID;
  const LONG m_lDatabaseID;
  const std::string m_name;
};
