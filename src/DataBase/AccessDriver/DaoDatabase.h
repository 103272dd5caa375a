// DaoDatabase: one database file of a data model, opened through the engine
// (IDatabase over dao::Database).
//
// Per-thread engine: every thread that constructs a database gets one
// DBEngine, kept in a ThreadEngine record (engine and use count) in a
// process-wide thread-local slot. The first database of a thread
// initialises COM on it and creates the engine; the last one destroyed
// releases both. One process-wide critical section guards that bookkeeping.
//
// Named mutex: on open the mutex is renamed after the engine's Database
// Name ("$" -> "$$", then ":", "\", "/" and "." -> "$"), so that every
// database object of every process that opens the same file shares it. The
// blob store holds it around its file work.
//
// Failures are raised as vem_error; engine failures are traced to the
// model's back channel first (see DaoException.h). A database is used on
// the thread that created it, by one thread at a time, and is destroyed on
// that thread too: the last database of a thread empties that thread's slot
// and uninitialises COM on it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "DataBase/AccessDriver/FieldCipher.h"
#include "DataBase/AccessDriver/IDatabase.h"
#include "Engine/Dao.h"
#include "Platform/WinTypes.h"
#include "Utility/Thread.h"

struct ThreadEngine;

class DaoDatabase : public IDatabase {
 public:
  // The driver version of databases without (a long) "vemDriverVersion",
  // and the database version without "vemDatabaseVersion".
  static constexpr ULONG kDefaultVersion = 0x01000000;
  // Format 1.1 of encrypted values.
  static constexpr ULONG kDriverVersion11 = 0x01010000;

  // Acquires the thread's engine and opens the database. A failed open
  // (vem_error, already traced) leaves the object closed; other failures
  // pass on. pModel may be null (the model sets itself when it stores the
  // database); without a model nothing is traced.
  DaoDatabase(LONG lID, std::string path, bool bExclusive, bool bReadOnly, std::string connect,
              DataModel* pModel);
  ~DaoDatabase() override;

  ULONG GetDriverVersion() override { return m_ulDriverVersion; }
  void SetDriverVersion(ULONG ulVersion) override;
  // Moves the encrypted values from format 1.0 to 1.1 and records driver
  // version 0x01010000 (ulVersion 0 means that version; any other answers
  // false, as does a database not in format 1.0). The walk and the property
  // write form one transaction: on failure nothing changes (values, the
  // property, both version members) and the walk's error is raised.
  bool UpgradeDriverVersion(ULONG ulVersion) override;

  void Open() override;
  bool IsOpen() override { return static_cast<bool>(m_pDatabase); }
  void Close() override;

  bool Check() override;
  bool Compact() override;

  bool BeginTrans() override;
  bool CommitTrans() override;
  bool Rollback() override;

  void AddToStructureHash(Md5Context& context) override;

  void SetSecret(const BYTE* pSecret, ULONG ulSecretLength, const BYTE* pRandom,
                 ULONG ulRandomLength) override;
  // Sets the new secret and rewrites every encrypted value of this database
  // under it (ReencryptAll, read with the key held before the call). The old
  // secret passed in is not used. All or nothing per database: the walk runs
  // in one transaction; when it fails, it is rolled back and both key states
  // and the salt return to what they were, so the database reads and writes
  // exactly as before; the error that ended the walk is raised. In a model
  // with several databases each one changes on its own: databases whose
  // change succeeded before another one failed keep the new key (each is
  // consistent in itself), the failed one and those after it the old key.
  void ChangeSecret(const BYTE* pOldSecret, ULONG ulOldLength, const BYTE* pNewSecret,
                    ULONG ulNewLength, const BYTE* pRandom, ULONG ulRandomLength) override;

  void DeleteRecord(IRecord& rRecord) override;

  std::unique_ptr<IBlobStrategy> CreateBlobStrategy(const SRecordDef& recordDef) override;
  std::unique_ptr<ILoader> CreateLoader(const SRecordDef& recordDef) override;
  std::unique_ptr<ISaver> CreateSaver(const SRecordDef& recordDef) override;
  std::unique_ptr<IRecordsetStrategy> CreateRecordsetStrategy(const SRecordDef& recordDef) override;
  std::unique_ptr<ICommand> CreateCommand(const SCommandDef& commandDef) override;

  // Rewrites every encrypted value of the record definitions that belong to
  // this database, through this database (a definition of another database
  // names a table of another file and is left to that database's own walk;
  // empty record slots are skipped). Each value is read through the loader
  // view with the read key state in the stored format and written back
  // through the saver view, as its own update, with the write key state in
  // the target format. NULL columns have no value and are skipped, except
  // the NULL that format 1.0 stores for an empty text; fields of a type
  // without a value to encipher (BLOB, unknown codes) are not touched.
  // Runs outside a transaction and stops at the first error, leaving the
  // values rewritten so far: ChangeSecret and UpgradeDriverVersion wrap it
  // in one.
  virtual void ReencryptAll();

  // ---- For the driver's loaders, savers, strategies and the blob store ----

  // The version values are written in (differs from the driver version only
  // during an upgrade).
  ULONG GetTargetDriverVersion() const { return m_ulTargetDriverVersion; }
  ULONG GetDatabaseVersion() const { return m_ulDatabaseVersion; }
  const std::string& GetPath() const { return m_path; }
  FieldCipher& GetCipher() { return m_cipher; }
  Mutex& GetMutex() { return m_mutex; }

  // The open engine Database; raises vem_error(E_POINTER) naming the path
  // when closed.
  dao::Database& GetEngineDatabase();

  // The condition that selects rRecord by the id fields of recordDef:
  // "<column> = '<text>'" (quotes doubled) for a STRING field, "<column> =
  // <decimal>" for LONG and the other numeric types, joined by " AND ".
  // Raises vem_error(E_INVALIDARG) when recordDef has no id fields or an id
  // field of another type (an empty condition would select every row).
  static std::string IdCondition(const SRecordDef& recordDef, IRecord& rRecord);

  // The blob directory: the engine's Database Name + "_blob".
  std::string GetBlobDirectory();

  // Test hook: the number of database objects that use the calling thread's
  // engine (0 when the thread has none).
  static LONG TEST_ThreadEngineUseCount();

  // The mutex name of a database file name (see above).
  static std::string MutexNameOf(const std::string& databaseName);

 private:
  void AcquireThreadEngine();
  void ReleaseThreadEngine() noexcept;
  void OpenCore();
  // ReencryptAll, then beforeCommit (when given), inside one transaction of
  // this database: a walk that fails part-way (a value that does not
  // decipher, an engine error) is rolled back, so that the database is never
  // left with values under two keys or in two formats. The error that ended
  // the walk passes on unchanged.
  void ReencryptAllAtomically(const std::function<void()>& beforeCommit);

  ULONG m_ulDriverVersion = kDefaultVersion;
  ULONG m_ulTargetDriverVersion = kDefaultVersion;
  ULONG m_ulDatabaseVersion = kDefaultVersion;
  const std::string m_path;
  const bool m_bExclusive;
  const bool m_bReadOnly;
  const std::string m_connect;  // ";PWD=" + password
  FieldCipher m_cipher;
  dao::DatabasePtr m_pDatabase;             // empty while closed
  Mutex m_mutex;                            // unnamed until the first open
  ThreadEngine* m_pThreadEngine = nullptr;  // this thread's engine record (shared)
};
