// IDatabase: one database file of a data model, as the model and the COM
// layer see it. One implementation, DaoDatabase, over the engine.
//
// The model owns its databases (its database table) and sets each one's
// model reference right after construction; through it a database reaches
// the model's back channel and its field and record definitions. Failures
// are raised as vem_error (engine failures carry the engine's HRESULT).
// A database is used on the thread that created it.
#pragma once

#include <memory>

#include "Platform/WinTypes.h"
#include "Utility/Md5.h"

class DataModel;
class IRecord;
struct SCommandDef;
struct SRecordDef;

// Driver objects made by the factories below; the caller owns what they
// return. Implemented over the engine by DaoRecordsetStrategy, DaoLoader,
// DaoSaver and DaoBlobStrategy.
class IRecordsetStrategy;
class ILoader;
class ISaver;
class IBlobStrategy;

// Command objects do not exist: CreateCommand always answers null. The type
// is there so that the operation has a result the caller can own.
class ICommand {
 public:
  virtual ~ICommand() = default;
};

class IDatabase {
 public:
  virtual ~IDatabase() = default;

  IDatabase(const IDatabase&) = delete;
  IDatabase& operator=(const IDatabase&) = delete;

  // The owning model (not owned); null until the model stores the database.
  DataModel* GetModel() const { return m_pModel; }
  void SetModel(DataModel* pModel) { m_pModel = pModel; }
  LONG GetId() const { return m_lID; }

  // The driver version (property "vemDriverVersion"); the upper 16 bits name
  // the format of encrypted values (0x0100 or 0x0101).
  virtual ULONG GetDriverVersion() = 0;
  // Sets the driver version and the target version and writes the property.
  virtual void SetDriverVersion(ULONG ulVersion) = 0;
  // Rewrites every encrypted value in the format of ulVersion.
  virtual bool UpgradeDriverVersion(ULONG ulVersion) = 0;

  virtual void Open() = 0;    // does nothing when already open
  virtual bool IsOpen() = 0;  // the engine's Database is held
  virtual void Close() = 0;

  virtual bool Check() = 0;    // database and blob-file check
  virtual bool Compact() = 0;  // compaction (closes and reopens)

  // Raise vem_error 0xC004A817 on a closed database.
  virtual bool BeginTrans() = 0;
  virtual bool CommitTrans() = 0;
  virtual bool Rollback() = 0;

  // Adds driver version, database version and id (4 bytes little-endian
  // each) to a running structure hash.
  virtual void AddToStructureHash(Md5Context& context) = 0;

  // Sets the cipher's key states from the secret; the first 8 random bytes
  // become the salt when ulRandomLength >= 8. The pointers are only read
  // during the call.
  virtual void SetSecret(const BYTE* pSecret, ULONG ulSecretLength, const BYTE* pRandom,
                         ULONG ulRandomLength) = 0;
  // Re-encrypts every encrypted value with the new secret.
  virtual void ChangeSecret(const BYTE* pOldSecret, ULONG ulOldLength, const BYTE* pNewSecret,
                            ULONG ulNewLength, const BYTE* pRandom, ULONG ulRandomLength) = 0;

  // The change of secret in two phases, for a model that changes several
  // databases as one. BeginSecretChange does everything ChangeSecret does
  // but the commit: on return the new key is in use for writing and every
  // value is rewritten inside a transaction that is still open; on failure
  // nothing is left open, the old key is back and the error is raised.
  // CommitSecretChange then commits (the new key is in force) and
  // AbortSecretChange rolls back (the old key is back); both do nothing
  // without a change begun. ChangeSecret is Begin followed by Commit.
  virtual void BeginSecretChange(const BYTE* pNewSecret, ULONG ulNewLength, const BYTE* pRandom,
                                 ULONG ulRandomLength) = 0;
  virtual void CommitSecretChange() = 0;
  virtual void AbortSecretChange() noexcept = 0;

  // Deletes the record that rRecord identifies by its id fields.
  virtual void DeleteRecord(IRecord& rRecord) = 0;

  // Factories: a new object over the record definition's table or query,
  // owned by the caller; it refers to this database and the model, which
  // must outlive it.
  virtual std::unique_ptr<IBlobStrategy> CreateBlobStrategy(const SRecordDef& recordDef) = 0;
  virtual std::unique_ptr<ILoader> CreateLoader(const SRecordDef& recordDef) = 0;
  virtual std::unique_ptr<ISaver> CreateSaver(const SRecordDef& recordDef) = 0;
  virtual std::unique_ptr<IRecordsetStrategy> CreateRecordsetStrategy(
      const SRecordDef& recordDef) = 0;
  // Always null: there are no command objects.
  virtual std::unique_ptr<ICommand> CreateCommand(const SCommandDef& commandDef) = 0;

 protected:
  IDatabase(LONG lID, DataModel* pModel) : m_pModel(pModel), m_lID(lID) {}

  DataModel* m_pModel;  // not owned
  LONG m_lID;           // index in the model's database table
};
