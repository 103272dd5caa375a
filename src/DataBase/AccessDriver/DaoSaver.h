// DaoSaver: a saver over its own one-record recordset, opened to edit the
// record that a client record identifies by its id fields (Open) or to
// append a new record with those id values (OpenNew). The typed writes are
// RecordWriter's; the values reach the database only on Close. Made by
// DaoDatabase::CreateSaver; the caller owns it, and the database and model
// must outlive it.
#pragma once

#include "DataBase/AccessDriver/RecordWriter.h"

class DaoSaver : public RecordWriter {
 public:
  DaoSaver(DaoDatabase& database, const SRecordDef& recordDef);
  // Drops the own recordset without Update: the values of a saver destroyed
  // without Close are not stored.
  ~DaoSaver() override = default;

  DaoSaver(const DaoSaver&) = delete;
  DaoSaver& operator=(const DaoSaver&) = delete;

  // vem_error 0xC004A006 when no record has the id values (no recordset is
  // kept then); otherwise the record is in edit.
  bool Open(IRecord& rRecord) override;
  // vem_error 0xC004A007 when a record with the id values exists (no
  // recordset is kept then); otherwise a new record is started and its auto
  // value handed back to rRecord.
  bool OpenNew(IRecord& rRecord) override;
  // Update (regular, not forced), then the recordset's Close. A failed
  // Update raises and keeps the recordset.
  bool Close() override;

 private:
  // Opens the one-record query of rRecord unless a recordset is held.
  void OpenQuery(IRecord& rRecord);

  dao::RecordsetPtr m_pOwnRecordset;  // the recordset in use; empty while closed
};
