// ILoader / IDaoLoader: typed reads of one record, by field definition id.
// A DaoLoader opens its own one-record recordset for a record given by its
// id fields; the loader view of a recordset strategy reads the strategy's
// current record. Values of encrypted fields are deciphered on the way; a
// BLOB field binds a blob strategy to the blob id it holds.
//
// Failures are raised as vem_error: an unknown field id (E_INVALIDARG), a
// read without a recordset (E_POINTER), engine and conversion failures (the
// engine's HRESULT, traced once to the model's back channel), the cipher's
// errors (code 0).
#pragma once

#include <cstdint>
#include <string>

#include "DataBase/AccessDriver/DateConversion.h"
#include "Platform/OleAuto.h"
#include "Platform/WinTypes.h"

class IBlobStrategy;
class IRecord;

class ILoader {
 public:
  virtual ~ILoader() = default;

  // Opens the record that rRecord identifies; answers whether a recordset is
  // held. A second Open before Close keeps the first record.
  virtual bool Open(IRecord& rRecord) = 0;
  // Drops the recordset; answers true.
  virtual bool Close() = 0;

  // Binds rBlob to the blob id of the BLOB column (-1 for a value that is no
  // long); an encrypted BLOB field leaves rBlob as it was.
  virtual void GetBlob(LONG lFieldID, IBlobStrategy& rBlob) = 0;
  // Parts of the stored OLE date; a date outside the OLE range leaves parts
  // as they were.
  virtual void GetDate(LONG lFieldID, DateParts& parts) = 0;
  virtual void GetDouble(LONG lFieldID, double& dValue) = 0;
  virtual void GetFloat(LONG lFieldID, float& fValue) = 0;
  virtual void GetULong(LONG lFieldID, ULONG& ulValue) = 0;
  virtual void GetLong(LONG lFieldID, LONG& lValue) = 0;
  virtual void GetUShort(LONG lFieldID, USHORT& usValue) = 0;
  virtual void GetShort(LONG lFieldID, SHORT& sValue) = 0;
  virtual void GetUChar(LONG lFieldID, BYTE& ucValue) = 0;
  virtual void GetChar(LONG lFieldID, std::int8_t& cValue) = 0;
  virtual void GetBool(LONG lFieldID, bool& bValue) = 0;
  // The text (Windows-1252); a plain column that holds no text gives "".
  virtual void GetString(LONG lFieldID, std::string& value) = 0;

 protected:
  ILoader() = default;
  ILoader(const ILoader&) = default;
  ILoader& operator=(const ILoader&) = default;
};

class IDaoLoader : public ILoader {
 public:
  // Plain field: the value as the engine holds it (VT_NULL included);
  // encrypted field: the deciphered text as VT_BSTR. vValue is cleared first.
  virtual void GetVariant(LONG lFieldID, VARIANT& vValue) = 0;
};
