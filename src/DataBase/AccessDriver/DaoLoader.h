// DaoLoader: a loader over its own one-record recordset, opened for the
// record that a client record identifies by its id fields. The typed reads
// are RecordReader's. Made by DaoDatabase::CreateLoader; the caller owns it,
// and the database and model must outlive it.
#pragma once

#include "DataBase/AccessDriver/RecordReader.h"

class DaoLoader : public RecordReader {
 public:
  DaoLoader(DaoDatabase& database, const SRecordDef& recordDef);
  // Drops the own recordset without calling its Close.
  ~DaoLoader() override = default;

  DaoLoader(const DaoLoader&) = delete;
  DaoLoader& operator=(const DaoLoader&) = delete;

  // Opens "SELECT * FROM <table> WHERE <id condition>;" unless a recordset
  // is held already (the first record is kept); answers whether one is
  // held. A record that does not exist gives an empty recordset, whose reads
  // raise the engine's "no current record".
  bool Open(IRecord& rRecord) override;
  bool Close() override;

 private:
  dao::RecordsetPtr m_pOwnRecordset;  // the recordset in use; empty while closed
};
