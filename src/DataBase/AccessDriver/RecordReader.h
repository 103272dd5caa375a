// RecordReader: the typed reads of a loader (IDaoLoader from GetBlob to
// GetVariant) over a "recordset in use": a reference to the recordset
// field of the object that owns the cursor. DaoLoader reads its own
// one-record recordset through it; the loader view of a recordset strategy
// reads the strategy's current record. Open and Close are left to them.
//
// Every read looks the field definition up in the record definition's model
// (vem_error E_INVALIDARG for an unknown id), reads the column with Collect
// and either converts the plain value to the read's type or deciphers the
// stored text with the database's field cipher (stored driver version),
// binding the MAC to the record definition's name, the field's name and the
// value of the record definition's first id field in the current record.
// Engine and conversion failures are translated (traced once, raised as
// vem_error with the HRESULT); a read without a recordset raises E_POINTER.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "DataBase/AccessDriver/ILoader.h"
#include "Engine/Dao.h"
#include "Platform/ComUtil.h"

class DaoDatabase;
class DataModel;
struct SFieldDef;
struct SRecordDef;

class RecordReader : public IDaoLoader {
 public:
  void GetBlob(LONG lFieldID, IBlobStrategy& rBlob) final;
  void GetDate(LONG lFieldID, DateParts& parts) final;
  void GetDouble(LONG lFieldID, double& dValue) final;
  void GetFloat(LONG lFieldID, float& fValue) final;
  void GetULong(LONG lFieldID, ULONG& ulValue) final;
  void GetLong(LONG lFieldID, LONG& lValue) final;
  void GetUShort(LONG lFieldID, USHORT& usValue) final;
  void GetShort(LONG lFieldID, SHORT& sValue) final;
  void GetUChar(LONG lFieldID, BYTE& ucValue) final;
  void GetChar(LONG lFieldID, std::int8_t& cValue) final;
  void GetBool(LONG lFieldID, bool& bValue) final;
  void GetString(LONG lFieldID, std::string& value) final;
  void GetVariant(LONG lFieldID, VARIANT& vValue) final;

 protected:
  // rRecordsetInUse: the owner's recordset field; it may be empty (closed)
  // and must outlive this object. Raises vem_error(E_INVALIDARG) when the
  // record definition belongs to no model.
  RecordReader(DaoDatabase& database, const SRecordDef& recordDef,
               dao::RecordsetPtr& rRecordsetInUse);

  // The recordset in use; raises _com_error(E_POINTER) when there is none.
  dao::Recordset& CurrentRecordset();
  // The value of the record definition's first id field in the current
  // record (VT_EMPTY without id fields): the id the MAC binds to.
  _variant_t FirstIdValue(dao::Recordset& recordset);

  DataModel* const m_pModel;        // the record definition's model (not owned)
  DaoDatabase& m_database;          // carries the field cipher (not owned)
  const SRecordDef& m_recordDef;    // table name and id fields (not owned)
  dao::RecordsetPtr& m_rRecordset;  // the recordset in use (owner's field)

 private:
  // Reads a fixed-size value: plain columns converted to vt and handed to
  // takePlain; encrypted ones deciphered into `bytes` (which holds the
  // caller's current value, so that a value that delivers nothing keeps it).
  template <class TakePlain>
  void ReadFixed(LONG lFieldID, VARTYPE vt, BYTE* bytes, std::size_t n, TakePlain&& takePlain);
  // Reads field's stored value and deciphers it into pOut (capacity
  // bytes); answers the cipher's result. For a text read (pLongText given)
  // the capacity is the stored text's length, and a text longer than the
  // given capacity is deciphered into *pLongText, to which pOut then points.
  LONG Decipher(const SFieldDef& field, dao::Recordset& recordset, BYTE*& pOut,
                std::size_t capacity, std::vector<BYTE>* pLongText);
  // Deciphers the stored text of field into value (Windows-1252 bytes).
  void DecryptText(const SFieldDef& field, dao::Recordset& recordset, std::string& value);
};
