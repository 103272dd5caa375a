// DaoDatabase: the per-thread engine, opening and closing, version
// properties, transactions, record deletion, the cipher's key states and
// the factories and the re-encryption walk (see DaoDatabase.h).
#include "DataBase/AccessDriver/DaoDatabase.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include "DataBase/AccessDriver/DAO_BLOB.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/DaoLoader.h"
#include "DataBase/AccessDriver/DaoRecordsetStrategy.h"
#include "DataBase/AccessDriver/DaoSaver.h"
#include "DataBase/AccessDriver/DataModel.h"
#include "DataBase/AccessDriver/IBlobStrategy.h"
#include "DataBase/AccessDriver/IRecord.h"
#include "Platform/ComBase.h"
#include "Platform/Win32.h"
#include "Utility/Coding.h"

// One thread's engine: created by the thread's first database object,
// released with its last one, wherever that one is destroyed.
struct ThreadEngine {
  dao::DBEnginePtr m_pEngine;  // empty while no database uses it
  LONG m_lUseCount = 0;        // database objects that use the engine
  DWORD m_dwThreadId = 0;      // the thread that created it and initialised COM
  bool m_bListed = true;       // in the registry: that thread has not ended
};

namespace {

constexpr const char* kTraceFile = "DataBase\\AccessDriver\\DaoDatabase";
constexpr LONG kTraceLevel = 4;
constexpr short kDbLong = 4;  // DAO's property type of a long
constexpr const char* kDriverVersionProperty = "vemDriverVersion";
constexpr const char* kDatabaseVersionProperty = "vemDatabaseVersion";

// The process-wide registry of the ThreadEngine records, one per thread that
// has (or had, until it ended) a database object, and the critical section
// that guards every change to them. A record is found by its thread's id,
// never through the destroying thread's own state, so a database may be
// released on any thread. COM is initialised by a record's thread and
// uninitialised on that thread only: when the last database of thread T is
// released on another thread, the engine goes, but T's COM initialisation
// stays with the record until T's next database reuses it or T ends.
// Never destroyed: thread-exit hooks may run after static destructors.
class ThreadEngines {
 public:
  CritSection& Lock() { return m_lock; }
  // REQUIRES: Lock() held (for all three).
  ThreadEngine* Find(DWORD dwThreadId) const {
    const auto it = m_byThread.find(dwThreadId);
    return it != m_byThread.end() ? it->second : nullptr;
  }
  void Add(ThreadEngine* pRecord) { m_byThread[pRecord->m_dwThreadId] = pRecord; }
  void Remove(ThreadEngine* pRecord) {
    m_byThread.erase(pRecord->m_dwThreadId);
    pRecord->m_bListed = false;
  }

 private:
  CritSection m_lock;
  // Guarded by m_lock:
  std::map<DWORD, ThreadEngine*> m_byThread;  // owned; use count >= 0
};

ThreadEngines& Engines() {
  static ThreadEngines* const pEngines = new ThreadEngines();
  return *pEngines;
}

// Runs when a thread that created a database ends: its record leaves the
// registry (thread ids are reused). A record no database uses any more is
// freed, and the thread's COM initialisation undone; one still in use is
// freed by the release of its last database.
class ThreadExitHook {
 public:
  void Arm() { m_bArmed = true; }
  ~ThreadExitHook() {
    if (!m_bArmed) return;
    ThreadEngines& engines = Engines();
    std::lock_guard<CritSection> guard(engines.Lock());
    ThreadEngine* pRecord = engines.Find(GetCurrentThreadId());
    if (pRecord == nullptr) return;
    engines.Remove(pRecord);
    if (pRecord->m_lUseCount > 0) return;
    delete pRecord;
    CoUninitialize();
  }

 private:
  bool m_bArmed = false;
};

thread_local ThreadExitHook t_exitHook;

// Reads the long property `name` of the database into lValue: the failing
// lookup's HRESULT when it is missing, E_INVALIDARG when it is not of type
// long, the conversion's HRESULT when its value is no long.
HRESULT ReadLongProperty(dao::Database& db, const char* name, LONG& lValue) {
  dao::PropertiesPtr pProperties;
  HRESULT hr = db.get_Properties(&pProperties);
  if (FAILED(hr)) return hr;
  if (!pProperties) return E_POINTER;
  dao::PropertyPtr pProperty;
  _variant_t vName(name);
  hr = pProperties->get_Item(vName, &pProperty);
  if (FAILED(hr)) return hr;
  if (!pProperty) return E_POINTER;
  short type = 0;
  hr = pProperty->get_Type(&type);
  if (FAILED(hr)) return hr;
  if (type != kDbLong) return E_INVALIDARG;
  _variant_t vValue;
  hr = pProperty->get_Value(&vValue);
  if (FAILED(hr)) return hr;
  _variant_t vLong;
  hr = VariantChangeType(&vLong, &vValue, 0, VT_I4);
  if (FAILED(hr)) return hr;
  lValue = vLong.lVal;
  return S_OK;
}

ULONG ReadVersion(dao::Database& db, const char* name) {
  LONG lValue = 0;
  if (FAILED(ReadLongProperty(db, name, lValue))) return DaoDatabase::kDefaultVersion;
  return static_cast<ULONG>(lValue);
}

bool TableExists(dao::Database& db, const char* name) {
  dao::TableDefsPtr pTableDefs;
  if (FAILED(db.get_TableDefs(&pTableDefs)) || !pTableDefs) return false;
  dao::TableDefPtr pTableDef;
  return SUCCEEDED(pTableDefs->get_Item(_variant_t(name), &pTableDef)) && pTableDef;
}

}  // namespace

DaoDatabase::DaoDatabase(LONG lID, std::string path, bool bExclusive, bool bReadOnly,
                         std::string connect, DataModel* pModel)
    : IDatabase(lID, pModel),
      m_path(std::move(path)),
      m_bExclusive(bExclusive),
      m_bReadOnly(bReadOnly),
      m_connect(std::move(connect)) {
  AcquireThreadEngine();
  try {
    Open();
  } catch (const vem_error&) {
    // Already traced by the engine error translation: the object stays closed.
  } catch (...) {
    if (m_pModel != nullptr)
      m_pModel->GetBackChannel().Trace(kTraceLevel, kTraceFile, 1554,
                                       "fatal general exception in open database");
    m_pDatabase.reset();
    ReleaseThreadEngine();
    throw;
  }
}

DaoDatabase::~DaoDatabase() {
  try {
    Close();
  } catch (const vem_error&) {
    if (m_pModel != nullptr)
      m_pModel->GetBackChannel().Trace(
          kTraceLevel, kTraceFile, 1661,
          "failed to close database in destructor DaoDatabase::~DaoDatabase");
  } catch (...) {
    // A destructor must not throw; the engine reference is dropped below.
  }
  m_pDatabase.reset();
  ReleaseThreadEngine();
}

void DaoDatabase::AcquireThreadEngine() {
  ThreadEngines& engines = Engines();
  std::lock_guard<CritSection> guard(engines.Lock());
  const DWORD dwThreadId = GetCurrentThreadId();
  ThreadEngine* pRecord = engines.Find(dwThreadId);
  if (pRecord != nullptr && pRecord->m_lUseCount > 0) {
    ++pRecord->m_lUseCount;
    m_pThreadEngine = pRecord;
    return;
  }
  // A record without users kept this thread's COM initialisation (its last
  // database was released on another thread): only the engine is new.
  const bool bInitialize = pRecord == nullptr;
  if (bInitialize && FAILED(CoInitialize(nullptr))) {
    if (m_pModel != nullptr)
      m_pModel->GetBackChannel().Trace(kTraceLevel, kTraceFile, 1595, "fatal CoInitialize");
    throw vem_error(kVemErrComInitFailed);
  }
  std::unique_ptr<ThreadEngine> pNew;
  try {
    dao::DBEnginePtr pEngine = dao::CreateDBEngine();
    if (!pEngine) _com_issue_error(E_POINTER);
    if (bInitialize) {
      pNew = std::make_unique<ThreadEngine>();
      pNew->m_dwThreadId = dwThreadId;
      pRecord = pNew.get();
    }
    pRecord->m_pEngine = std::move(pEngine);
  } catch (const _com_error& error) {
    if (m_pModel != nullptr)
      m_pModel->GetBackChannel().Trace(kTraceLevel, kTraceFile, 1613,
                                       "fatal exception DBEngine could not be created");
    if (bInitialize) CoUninitialize();
    RaiseEngineError(error, m_pModel);
  } catch (...) {
    if (bInitialize) CoUninitialize();
    throw;
  }
  if (bInitialize) {
    engines.Add(pNew.release());
    t_exitHook.Arm();
  }
  pRecord->m_lUseCount = 1;
  m_pThreadEngine = pRecord;
}

dao::DBEngine& DaoDatabase::ThreadDBEngine() {
  if (m_pThreadEngine == nullptr || !m_pThreadEngine->m_pEngine) _com_issue_error(E_POINTER);
  return *m_pThreadEngine->m_pEngine;
}

LONG DaoDatabase::TEST_ThreadEngineUseCount() {
  ThreadEngines& engines = Engines();
  std::lock_guard<CritSection> guard(engines.Lock());
  const ThreadEngine* pRecord = engines.Find(GetCurrentThreadId());
  return pRecord != nullptr ? pRecord->m_lUseCount : 0;
}

void DaoDatabase::ReleaseThreadEngine() noexcept {
  if (m_pThreadEngine == nullptr) return;
  ThreadEngines& engines = Engines();
  std::lock_guard<CritSection> guard(engines.Lock());
  ThreadEngine* pRecord = m_pThreadEngine;
  m_pThreadEngine = nullptr;
  if (--pRecord->m_lUseCount > 0) return;
  pRecord->m_pEngine.reset();  // no database uses the engine any more
  if (!pRecord->m_bListed) {
    delete pRecord;  // its thread has ended: there is no COM to undo on it
  } else if (pRecord->m_dwThreadId == GetCurrentThreadId()) {
    engines.Remove(pRecord);
    delete pRecord;
    CoUninitialize();
  }
  // Otherwise the record keeps its thread's COM initialisation (see
  // ThreadEngines).
}

void DaoDatabase::Open() {
  if (IsOpen()) return;
  CallEngine(m_pModel, [&] { OpenCore(); });
  FinishInterruptedBlobCompaction();
}

void DaoDatabase::OpenCore() {
  dao::DatabasePtr pDatabase =
      ThreadDBEngine().OpenDatabase(_bstr_t(m_path.c_str()), _variant_t(m_bExclusive),
                                    _variant_t(m_bReadOnly), _variant_t(m_connect.c_str()));
  if (!pDatabase) _com_issue_error(E_POINTER);

  m_ulDriverVersion = ReadVersion(*pDatabase, kDriverVersionProperty);
  m_ulTargetDriverVersion = m_ulDriverVersion;
  m_ulDatabaseVersion = ReadVersion(*pDatabase, kDatabaseVersionProperty);

  const _bstr_t name = pDatabase->GetName();
  m_mutex.setName(MutexNameOf(static_cast<const char*>(name)).c_str());

  if (TableExists(*pDatabase, "tblBLOB_FILES")) {
    const std::string directory = std::string(static_cast<const char*>(name)) + "_blob";
    std::error_code ec;
    if (!std::filesystem::is_directory(directory, ec)) {
      std::filesystem::create_directory(directory, ec);
      if (ec && m_pModel != nullptr) {
        const std::string text =
            "failed to create blob directory " + directory + ": " + ec.message();
        m_pModel->GetBackChannel().TraceText(kTraceLevel, kTraceFile, __LINE__, text.c_str());
      }
    }
  }
  m_pDatabase = std::move(pDatabase);
}

void DaoDatabase::Close() {
  if (!IsOpen()) return;
  CallEngine(m_pModel, [&] { m_pDatabase->Close(); });
  m_pDatabase.reset();
}

std::string DaoDatabase::MutexNameOf(const std::string& databaseName) {
  std::string name;
  name.reserve(databaseName.size() + 8);
  for (char c : databaseName) {
    if (c == '$')
      name += "$$";
    else if (c == ':' || c == '\\' || c == '/' || c == '.')
      name += '$';
    else
      name += c;
  }
  return name;
}

void DaoDatabase::WriteProperty(dao::Database& db, const char* name, short type,
                                const _variant_t& vValue) {
  dao::PropertiesPtr pProperties = db.GetProperties();
  if (!pProperties) _com_issue_error(E_POINTER);
  dao::PropertyPtr pProperty;
  if (SUCCEEDED(pProperties->get_Item(_variant_t(name), &pProperty)) && pProperty) {
    pProperty->PutValue(vValue);
    return;
  }
  dao::PropertyPtr pNew =
      db.CreateProperty(_variant_t(name), _variant_t(static_cast<LONG>(type)), vValue);
  pProperties->Append(pNew);
}

dao::Database& DaoDatabase::GetEngineDatabase() {
  if (!m_pDatabase) throw vem_error("database " + m_path + " is not open", E_POINTER);
  return *m_pDatabase;
}

std::string DaoDatabase::GetBlobDirectory() {
  return CallEngine(m_pModel, [&] {
    const _bstr_t name = GetEngineDatabase().GetName();
    return std::string(static_cast<const char*>(name)) + "_blob";
  });
}

void DaoDatabase::SetDriverVersion(ULONG ulVersion) {
  m_ulDriverVersion = ulVersion;
  m_ulTargetDriverVersion = ulVersion;
  CallEngine(m_pModel, [&] {
    WriteProperty(GetEngineDatabase(), kDriverVersionProperty, kDbLong,
                  _variant_t(static_cast<LONG>(ulVersion)));
  });
}

bool DaoDatabase::UpgradeDriverVersion(ULONG ulVersion) {
  if (ulVersion == 0) ulVersion = kDriverVersion11;
  if (ulVersion != kDriverVersion11) return false;
  if ((m_ulDriverVersion >> 16) != kCipherFormat10) return false;
  m_ulTargetDriverVersion = kDriverVersion11;
  try {
    // The version property is written in the walk's transaction: the file
    // never names format 1.0 for values in 1.1, or the reverse.
    ReencryptAllAtomically([&] {
      CallEngine(m_pModel, [&] {
        WriteProperty(GetEngineDatabase(), kDriverVersionProperty, kDbLong,
                      _variant_t(static_cast<LONG>(kDriverVersion11)));
      });
    });
  } catch (...) {
    // Rolled back: every value is in the old format, which stays in force.
    m_ulTargetDriverVersion = m_ulDriverVersion;
    throw;
  }
  m_ulDriverVersion = kDriverVersion11;
  m_ulTargetDriverVersion = kDriverVersion11;
  return true;
}

bool DaoDatabase::BeginTrans() {
  if (!IsOpen()) throw vem_error(kVemErrTransactionOnClosedDb);
  CallEngine(m_pModel, [&] { m_pDatabase->BeginTrans(); });
  return false;
}

bool DaoDatabase::CommitTrans() {
  if (!IsOpen()) throw vem_error(kVemErrTransactionOnClosedDb);
  CallEngine(m_pModel, [&] { m_pDatabase->CommitTrans(0); });
  return false;
}

bool DaoDatabase::Rollback() {
  if (!IsOpen()) throw vem_error(kVemErrTransactionOnClosedDb);
  CallEngine(m_pModel, [&] { m_pDatabase->Rollback(); });
  return false;
}

void DaoDatabase::AddToStructureHash(Md5Context& context) {
  BYTE bytes[3 * kFixed32Size];
  EncodeFixed32(bytes, m_ulDriverVersion);
  EncodeFixed32(bytes + kFixed32Size, m_ulDatabaseVersion);
  EncodeFixed32(bytes + 2 * kFixed32Size, static_cast<std::uint32_t>(m_lID));
  Md5Update(context, bytes, sizeof bytes);
}

void DaoDatabase::SetSecret(const BYTE* pSecret, ULONG ulSecretLength, const BYTE* pRandom,
                            ULONG ulRandomLength) {
  m_cipher.SetSecret(pSecret, ulSecretLength, pRandom, ulRandomLength);
}

std::string DaoDatabase::IdCondition(const SRecordDef& recordDef, IRecord& rRecord) {
  if (recordDef.m_idFields.empty())
    throw vem_error("record definition " + recordDef.m_name + " (id " +
                        std::to_string(recordDef.m_lID) +
                        ") has no id fields: its records cannot be selected",
                    E_INVALIDARG);
  std::string condition;
  for (const std::shared_ptr<const SFieldDef>& pField : recordDef.m_idFields) {
    IdValue value;
    rRecord.GetIdFieldValue(pField->m_lID, value);
    if (!condition.empty()) condition += " AND ";
    const LONG lType = pField->m_lType;
    if (lType == static_cast<LONG>(FieldType::STRING)) {
      condition += pField->m_name;
      condition += " = '";
      for (char c : value.m_text) {
        if (c == '\'') condition += '\'';
        condition += c;
      }
      condition += '\'';
    } else if (lType >= static_cast<LONG>(FieldType::BOOL) &&
               lType <= static_cast<LONG>(FieldType::DOUBLE)) {
      condition += pField->m_name;
      condition += " = ";
      condition += std::to_string(value.m_lValue);
    } else {
      throw vem_error("id field " + pField->m_name + " of record definition " + recordDef.m_name +
                          " has type " + std::to_string(lType) + ", which cannot select a record",
                      E_INVALIDARG);
    }
  }
  return condition;
}

void DaoDatabase::DeleteRecord(IRecord& rRecord) {
  if (m_pModel == nullptr) throw vem_error("database " + m_path + " has no model", E_POINTER);
  const SRecordDef& recordDef = m_pModel->GetRecordDef(rRecord.GetRecordDefId());
  const std::string sql =
      "DELETE FROM " + recordDef.m_name + " WHERE " + IdCondition(recordDef, rRecord);
  CallEngine(m_pModel, [&] { GetEngineDatabase().Execute(_bstr_t(sql.c_str())); });
}

std::unique_ptr<IBlobStrategy> DaoDatabase::CreateBlobStrategy(const SRecordDef& recordDef) {
  return std::make_unique<DaoBlobStrategy>(m_pModel, recordDef, *this);
}

std::unique_ptr<ILoader> DaoDatabase::CreateLoader(const SRecordDef& recordDef) {
  return std::make_unique<DaoLoader>(*this, recordDef);
}

std::unique_ptr<ISaver> DaoDatabase::CreateSaver(const SRecordDef& recordDef) {
  return std::make_unique<DaoSaver>(*this, recordDef);
}

std::unique_ptr<IRecordsetStrategy> DaoDatabase::CreateRecordsetStrategy(
    const SRecordDef& recordDef) {
  return std::make_unique<DaoRecordsetStrategy>(*this, recordDef);
}

std::unique_ptr<ICommand> DaoDatabase::CreateCommand(const SCommandDef& /*commandDef*/) {
  return nullptr;
}
