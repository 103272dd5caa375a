// ISaver / IDaoSaver: typed writes into one record, by field definition id.
// A DaoSaver opens its own one-record recordset, to edit an existing record
// (Open) or to append a new one (OpenNew), and stores the values on Close;
// the saver view of a recordset strategy writes into the strategy's current
// record between BeginAppend/BeginUpdate and the matching finish. Values of
// encrypted fields are enciphered in the format of the database's target
// driver version; a BLOB field stores the blob id that a blob strategy's
// Save answers.
//
// Failures are raised as vem_error: an unknown field id (E_INVALIDARG),
// invalid date parts (E_INVALIDARG; nothing is stored), a write without a
// recordset (E_POINTER), a missing record on Open (0xC004A006), an existing
// one on OpenNew (0xC004A007), engine failures (the engine's HRESULT,
// traced once to the model's back channel).
#pragma once

#include <cstdint>
#include <string>

#include "DataBase/AccessDriver/DateConversion.h"
#include "Platform/OleAuto.h"
#include "Platform/WinTypes.h"

class IBlobStrategy;
class IRecord;

class ISaver {
 public:
  virtual ~ISaver() = default;

  // Opens the existing record that rRecord identifies for editing.
  virtual bool Open(IRecord& rRecord) = 0;
  // Starts a new record with rRecord's id values (which must not exist yet)
  // and hands the auto value back to rRecord.
  virtual bool OpenNew(IRecord& rRecord) = 0;
  // Stores the record and drops the recordset; answers true.
  virtual bool Close() = 0;

  // Stores the blob id that rBlob.Save() answers (-1 as NULL); an encrypted
  // BLOB field is left alone and Save is not called.
  virtual void SetBlob(LONG lFieldID, IBlobStrategy& rBlob) = 0;
  virtual void PutDate(LONG lFieldID, const DateParts& parts) = 0;
  virtual void PutDouble(LONG lFieldID, double dValue) = 0;
  virtual void PutFloat(LONG lFieldID, float fValue) = 0;
  virtual void PutULong(LONG lFieldID, ULONG ulValue) = 0;
  virtual void PutLong(LONG lFieldID, LONG lValue) = 0;
  virtual void PutUShort(LONG lFieldID, USHORT usValue) = 0;
  virtual void PutShort(LONG lFieldID, SHORT sValue) = 0;
  virtual void PutUChar(LONG lFieldID, BYTE ucValue) = 0;
  virtual void PutChar(LONG lFieldID, std::int8_t cValue) = 0;
  virtual void PutBool(LONG lFieldID, bool bValue) = 0;
  // Text in Windows-1252; a plain empty text stores NULL.
  virtual void PutString(LONG lFieldID, const std::string& value) = 0;

 protected:
  ISaver() = default;
  ISaver(const ISaver&) = default;
  ISaver& operator=(const ISaver&) = default;
};

class IDaoSaver : public ISaver {
 public:
  // Plain field: the VARIANT unchanged (NULL for VT_NULL or an empty text);
  // encrypted field: its text enciphered.
  virtual void PutVariant(LONG lFieldID, const VARIANT& vValue) = 0;
};
