// DaoDatabase: one database file of a data model, opened through the engine
// (IDatabase over dao::Database).
//
// Per-thread engine: every thread that constructs a database gets one
// DBEngine, kept in a ThreadEngine record (engine, use count, thread) in a
// process-wide registry found by thread id. The first database of a thread
// initialises COM on it and creates the engine; the last one released
// releases the engine, on whatever thread that happens (threading model
// "both"). COM is uninitialised on the thread that initialised it only:
// at once when the last database goes on that thread, otherwise when that
// thread's next database is released there or the thread ends. One
// process-wide critical section guards that bookkeeping.
//
// Named mutex: on open the mutex is renamed after the engine's Database
// Name ("$" -> "$$", then ":", "\", "/" and "." -> "$"), so that every
// database object of every process that opens the same file shares it. The
// blob store holds it around its file work.
//
// Failures are raised as vem_error; engine failures are traced to the
// model's back channel first (see DaoException.h). A database is used by
// one thread at a time, through the engine of the thread that created it;
// it may be destroyed on any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DataBase/AccessDriver/FieldCipher.h"
#include "DataBase/AccessDriver/IDatabase.h"
#include "Engine/Dao.h"
#include "Platform/WinTypes.h"
#include "Utility/Thread.h"

struct ThreadEngine;
struct SFieldDef;
struct SRecordDef;

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
  // write form one transaction, which first checks that the key held is the
  // one in force (vem_error kVemErrStaleKey otherwise) and ends by recording
  // its check value: on failure nothing changes (values, the property, both
  // version members) and the walk's error is raised.
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
  // in one transaction, which first checks that the key held before the call
  // is the one in force (vem_error kVemErrStaleKey otherwise) and ends by
  // recording the new key's check value; when it fails, it is rolled back
  // and both key states and the salt return to what they were, so the
  // database reads and writes exactly as before; the error that ended the
  // walk is raised. A model with several databases changes them as one
  // through the two phases below (DataModel::ChangeSecret).
  void ChangeSecret(const BYTE* pOldSecret, ULONG ulOldLength, const BYTE* pNewSecret,
                    ULONG ulNewLength, const BYTE* pRandom, ULONG ulRandomLength) override;
  // ChangeSecret in two phases (see IDatabase): the walk's transaction stays
  // open, holding the database's write lock, until Commit or Abort.
  void BeginSecretChange(const BYTE* pNewSecret, ULONG ulNewLength, const BYTE* pRandom,
                         ULONG ulRandomLength) override;
  void CommitSecretChange() override;
  void AbortSecretChange() noexcept override;

  void DeleteRecord(IRecord& rRecord) override;

  std::unique_ptr<IBlobStrategy> CreateBlobStrategy(const SRecordDef& recordDef) override;
  std::unique_ptr<ILoader> CreateLoader(const SRecordDef& recordDef) override;
  std::unique_ptr<ISaver> CreateSaver(const SRecordDef& recordDef) override;
  std::unique_ptr<IRecordsetStrategy> CreateRecordsetStrategy(const SRecordDef& recordDef) override;
  std::unique_ptr<ICommand> CreateCommand(const SCommandDef& commandDef) override;

  // Rewrites every encrypted value of the tables of this database, through
  // this database: the tables of the record definitions that name this
  // database (those of another database name tables of another file and are
  // left to that database's own walk; a record definition over a stored
  // query shows rows of tables and is left out), each table and each column
  // once, in the order of the record definitions. Each value's plain bytes
  // are deciphered exactly as stored (read key state, stored format),
  // whatever the field's type and whether or not they make a valid value of
  // it, and enciphered again (write key state, target format), all values
  // of a record in one update: every value reads the same afterwards, and
  // no value can block the walk. NULL columns have no value and are skipped, except the NULL
  // that format 1.0 stores for an empty text when the target is format 1.1;
  // fields of a type without a value to encipher (BLOB, unknown codes) are
  // not touched. Runs outside a transaction and stops at the first error (a
  // value whose MAC fails, an engine error, a failed move), leaving the
  // values rewritten so far: ChangeSecret and UpgradeDriverVersion wrap it
  // in one.
  virtual void ReencryptAll();

  // ---- For the driver's loaders, savers, strategies and the blob store ----

  // Runs update (the engine Update of a record that holds values enciphered
  // with the write key state) in a write transaction (nested in the
  // client's, if one is open) that first checks that the write key state is
  // the one in force: the database's key check value was made with it, or
  // the database has none. Otherwise raises vem_error (kVemErrStaleKey, or
  // kVemErrKeyCheckDamaged for an unreadable check value) without running
  // update. The check costs a data version query while no other connection
  // has committed since the last one.
  void UpdateUnderKeyInForce(const std::function<void()>& update);

  // An encrypted column of the walk, with the record definition whose name
  // and first id field its values' MACs bind.
  struct WalkColumn {
    const SFieldDef* pField;
    const SRecordDef* pRecordDef;
  };

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
  // The blob directory, "/" and fileName.
  std::string GetBlobFilePath(const std::string& fileName);
  // The part of the engine's Database Name behind its last "/" or "\".
  std::string GetDatabaseFileName();
  // Chooses and creates (exclusively, empty) a temporary file "~<n>.tmp" in
  // the blob directory, n a process-wide counter in base 36 advanced for
  // every name tried, under the named mutex; answers its full path. Raises
  // vem_error kVemErrBlobFileOpen naming the path when a file cannot be
  // created for another reason than an existing one.
  std::string MakeTempFileName();
  // The temporary name of counter value ulValue ("~" + base 36 + ".tmp").
  static std::string TempFileNameOf(ULONG ulValue);

  // ---- Check and compaction of the blob files (DaoBLOBCompact.cpp) ----
  //
  // Crash safety: a blob file is replaced only by its finished, synced copy
  // (the file's name + ".tmp", header flag kBlobFileCompacting and the
  // file's id), in one
  // rename made inside the transaction that moves the tables to the copy's
  // layout; the flag is cleared once that transaction is committed. While a
  // run is under way the marker file kBlobCompactionMarker lies in the blob
  // directory; while it is there, an open (and every run) first finishes
  // what a crash interrupted (RecoverBlobCompaction).

  // The marker of a blob compaction run under way (in the blob directory).
  static constexpr const char* kBlobCompactionMarker = "compaction.pending";

  // Checks and compacts every blob file (smallest first) under the named
  // mutex; true when each was checked and compacted. A file the check
  // refuses is reported and skipped; a vem_error from a compaction is
  // reported and ends the run. A database without tblBLOB_FILES answers
  // true.
  bool CompactBlobFiles();
  // Checks and compacts the blob file of the files row on which rFiles
  // stands; true when it was compacted. Raises vem_error (0xC004A805 and
  // others) when the compaction fails after its check; the file and the
  // tables are then as before, or (failure after the rename) as after.
  bool CompactBlobFile(dao::Recordset& rFiles);
  // Checks the blob file lFileId (the row on which rFiles stands) against
  // the tables; repairs the header differences the tables settle and block
  // flags of live blocks, written only when every check passed. Raises
  // vem_error with the code of the first check that fails.
  bool CheckBlobFile(LONG lFileId, dao::Recordset& rFiles);
  // Finishes interrupted compactions: removes copies never renamed into
  // place, and for a blob file still flagged as a copy brings the tables to
  // its layout (when the transaction was lost) and clears the flag. True
  // when nothing is left unfinished. Under the named mutex.
  bool RecoverBlobCompaction();

  // Test hook: the number of database objects that use the calling thread's
  // engine (0 when the thread has none).
  static LONG TEST_ThreadEngineUseCount();

  // The mutex name of a database file name (see above).
  static std::string MutexNameOf(const std::string& databaseName);

 private:
  void AcquireThreadEngine();
  // This thread's engine; raises _com_error(E_POINTER) when there is none.
  dao::DBEngine& ThreadDBEngine();
  void ReleaseThreadEngine() noexcept;
  void OpenCore();
  // ReencryptAll, then beforeCommit (when given), inside one transaction of
  // this database: a walk that fails part-way (a value that does not
  // decipher, an engine error) is rolled back, so that the database is never
  // left with values under two keys or in two formats. The error that ended
  // the walk passes on unchanged.
  void ReencryptAllAtomically(const std::function<void()>& beforeCommit);
  // The two halves of ReencryptAllAtomically: Begin walks and leaves the
  // transaction open (a failed walk is rolled back before the error passes
  // on); Commit commits it (a failed commit leaves it for Rollback);
  // Rollback rolls it back. Commit and Rollback do nothing when no
  // transaction was left open (a closed database walks without one).
  void BeginReencryption(const std::function<void()>& beforeCommit);
  void CommitReencryption();
  void RollbackReencryption() noexcept;
  // Re-enciphers the columns of the table of recordDef, record by record.
  void ReencryptTable(const SRecordDef& recordDef, const std::vector<WalkColumn>& columns);
  // The same walk straight on the engine's connection, for a table whose
  // values are all as this driver writes them. Answers false, having
  // undone everything it wrote, when anything is out of the ordinary (a
  // value, an id or a column the engine would treat differently, a value
  // that does not decipher, any SQLite error): ReencryptTable then walks
  // the table and meets the same situation exactly as it always has.
  bool ReencryptTableDirectly(const SRecordDef& recordDef, const std::vector<WalkColumn>& columns);
  // True while this database's connection is inside a transaction (which
  // the engine always begins holding the write lock).
  bool InWriteTransaction();
  // The engine connection's data version: it moves when another connection
  // commits (this connection's own commits leave it).
  std::int64_t DataVersion();
  // Raises vem_error(kVemErrStaleKey) when the database's key check value
  // was not made with keyState. A damaged check value raises
  // kVemErrKeyCheckDamaged unless bRepairable (the caller writes a new one).
  // REQUIRES: a write transaction of this database is open.
  void CheckKeyInForce(const Md5Context& keyState, bool bRepairable);
  // Records keyState as the key in force (a new check value, new salt).
  void WriteKeyCheck(const Md5Context& keyState);
  // Sets the property `name` (type, value), creating and appending it when
  // the database has none of that name. Raises _com_error.
  static void WriteProperty(dao::Database& db, const char* name, short type,
                            const _variant_t& vValue);

  // True when the database has the table tblBLOB_FILES.
  bool HasBlobTables();
  // After an open (not read-only): when the marker of a compaction run lies
  // in the blob directory, RecoverBlobCompaction, and the marker goes when
  // nothing is left unfinished. Failures are traced; the open stands.
  void FinishInterruptedBlobCompaction();
  // Compacts the closed database file in place through the engine (a copy
  // beside it renamed over it); true when replaced, false when no free name
  // for the copy was found. Engine refusals and failures are raised.
  bool CompactDatabaseFile();
  // Finishes the compaction whose copy became the blob file path (file
  // lFileId); raises vem_error when the copy and the tables disagree.
  void RecoverBlobFile(LONG lFileId, const std::string& path);
  // Back channel helpers of the blob check and compaction.
  void BlobTrace(LONG lLevel, LONG lLine, const std::string& text);
  [[noreturn]] void BlobFail(LONG lLine, const std::string& trace, const std::string& path,
                             LONG lCode);
  [[noreturn]] void BlobStreamFailure(LONG lLine, const std::string& what);

  // The key state last found in force and the data version then: while the
  // version stays, the check needs no property read.
  struct KeyCheckCache {
    bool bValid = false;
    std::int64_t dataVersion = 0;
    Md5Context keyState{};
  };

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
  KeyCheckCache m_keyCheck;
  bool m_bReencryptionOpen = false;  // BeginReencryption left its transaction open
  // A change of secret begun and neither committed nor aborted: the key
  // states before it (restored on abort) and after it (in force on commit).
  bool m_bSecretChangePending = false;
  FieldCipher::KeyStates m_keysBeforeChange{};
  FieldCipher::KeyStates m_keysAfterChange{};
  // Progress of one blob compaction run: blocks in all, blocks processed.
  LONG m_lBlobBlocksTotal = 1;
  LONG m_lBlobBlocksDone = 0;
  // Set when a compaction copy is left in place unfinished (the marker stays).
  bool m_bBlobCompactionUnfinished = false;
};
