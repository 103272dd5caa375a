// RecordWriter: the typed writes of a saver (IDaoSaver from SetBlob to
// PutVariant) and the auto-value hand-back, over a "recordset in use": a
// reference to the recordset field of the object that owns the cursor.
// DaoSaver writes into its own one-record recordset through it; the saver
// view of a recordset strategy writes into the strategy's current record
// (in AddNew or Edit state). Open, OpenNew and Close are left to them.
//
// Every write looks the field definition up (vem_error E_INVALIDARG for an
// unknown id) and either sets the column with Collect to a VARIANT of the
// engine type or, for an encrypted field, enciphers the plain bytes with the
// database's field cipher (target driver version) and stores the text.
// Engine failures are translated (traced once, raised as vem_error); a write
// without a recordset raises E_POINTER. A write that fails stores nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "DataBase/AccessDriver/ISaver.h"
#include "Engine/Dao.h"
#include "Platform/ComUtil.h"

class DaoDatabase;
class DataModel;
class IRecord;
struct SFieldDef;
struct SRecordDef;

class RecordWriter : public IDaoSaver {
 public:
  void SetBlob(LONG lFieldID, IBlobStrategy& rBlob) final;
  // Invalid parts raise vem_error(E_INVALIDARG) naming the field; nothing is
  // stored.
  void PutDate(LONG lFieldID, const DateParts& parts) final;
  void PutDouble(LONG lFieldID, double dValue) final;
  void PutFloat(LONG lFieldID, float fValue) final;
  void PutULong(LONG lFieldID, ULONG ulValue) final;
  void PutLong(LONG lFieldID, LONG lValue) final;
  void PutUShort(LONG lFieldID, USHORT usValue) final;
  void PutShort(LONG lFieldID, SHORT sValue) final;
  void PutUChar(LONG lFieldID, BYTE ucValue) final;
  void PutChar(LONG lFieldID, std::int8_t cValue) final;
  void PutBool(LONG lFieldID, bool bValue) final;
  void PutString(LONG lFieldID, const std::string& value) final;
  void PutVariant(LONG lFieldID, const VARIANT& vValue) final;

  // Stores the record being added or edited (the engine's Update). When a
  // value was enciphered into it, the update runs under the database's check
  // of the key in force (DaoDatabase::UpdateUnderKeyInForce): a client
  // whose key is stale gets vem_error and nothing is stored. Raises
  // _com_error for engine failures outside that check.
  void UpdateRecord();
  // Forgets the values enciphered into an earlier edit (AddNew or Edit
  // starts a new one).
  void BeginRecord() { m_bEnciphered = false; }

  // After AddNew: when the record definition of rRecord has an auto-value
  // field of type LONG for which rRecord holds a value, gives rRecord the
  // number the engine assigned to the new record. Raises _com_error.
  void HandBackAutoValue(IRecord& rRecord);

 protected:
  // rRecordsetInUse: the owner's recordset field; it may be empty (closed)
  // and must outlive this object. Raises vem_error(E_INVALIDARG) when the
  // record definition belongs to no model.
  RecordWriter(DaoDatabase& database, const SRecordDef& recordDef,
               dao::RecordsetPtr& rRecordsetInUse);

  // The recordset in use; raises _com_error(E_POINTER) when there is none.
  dao::Recordset& CurrentRecordset();

  DataModel* const m_pModel;        // the record definition's model (not owned)
  DaoDatabase& m_database;          // carries the field cipher (not owned)
  const SRecordDef& m_recordDef;    // table name and id fields (not owned)
  dao::RecordsetPtr& m_rRecordset;  // the recordset in use (owner's field)

 private:
  // Stores vPlain into a plain column, or the n bytes at pPlain enciphered
  // into an encrypted one.
  void Write(const SFieldDef& field, const _variant_t& vPlain, const BYTE* pPlain, std::size_t n);
  void WriteFixed(LONG lFieldID, const _variant_t& vPlain, const BYTE* pPlain, std::size_t n);
  // Enciphers the n bytes at pPlain and stores the text in field's column.
  void WriteEncrypted(const SFieldDef& field, dao::Recordset& recordset, const BYTE* pPlain,
                      std::size_t n);
  // True when the database writes format 1.0, where an empty text is NULL.
  bool TargetIsFormat10() const;

  bool m_bEnciphered = false;  // the current edit holds an enciphered value
};
