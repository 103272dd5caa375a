// DataModel: the id-indexed tables, their lookups and the definition
// procedure (see DataModel.h).
#include "DataBase/AccessDriver/DataModel.h"

#include <string>
#include <utility>
#include <vector>

#include "DataBase/AccessDriver/DaoException.h"

namespace {

void RequireObject(const void* p, const char* szKind) {
  if (p == nullptr)
    throw vem_error("null " + std::string(szKind) + " stored in data model", E_INVALIDARG);
}

}  // namespace

DataModel& DataModel::Of(const SRecordDef& recordDef) {
  if (recordDef.m_pModel == nullptr)
    throw vem_error("record definition " + recordDef.m_name + " belongs to no data model",
                    E_INVALIDARG);
  return *recordDef.m_pModel;
}

DataModel::DataModel(IkivBackChannel* pBackChannel) : m_backChannel("VEM", 0) {
  m_backChannel.SetClient(pBackChannel);
}

DataModel::~DataModel() {
  // Databases first, one slot at a time in ascending id order, while the
  // definitions and the back channel they may use still exist.
  m_databases.Clear();
  m_commandDefs.Clear();
  m_recordDefs.Clear();
  m_fieldDefs.Clear();
}

void DataModel::Define() {
  PreDataModelDefinition();
  DefDatabases();
  DefFieldDefs();
  DefRecordDefs();
  DefCommandDefs();
  PostDataModelDefinition();
}

template <class Slot>
const Slot& DataModel::FilledSlot(const IdTable<Slot>& table, LONG lID, const char* szKind) {
  const Slot* pSlot = table.Find(lID);
  if (pSlot == nullptr)
    throw vem_error("unknown " + std::string(szKind) + " id " + std::to_string(lID), E_INVALIDARG);
  return *pSlot;
}

template <class Slot>
Slot& DataModel::StoreInSlot(IdTable<Slot>& table, LONG lID, Slot pObject, const char* szKind) {
  if (lID < 0)
    throw vem_error(
        std::string(szKind) + " id " + std::to_string(lID) + " is out of range (ids are 0 or more)",
        E_INVALIDARG);
  Slot& slot = table.Reserve(lID);
  slot.reset();
  slot = std::move(pObject);
  return slot;
}

const SFieldDef& DataModel::GetFieldDef(LONG lID) const {
  return *FilledSlot(m_fieldDefs, lID, "field definition");
}

std::shared_ptr<const SFieldDef> DataModel::GetSharedFieldDef(LONG lID) const {
  return FilledSlot(m_fieldDefs, lID, "field definition");
}

SRecordDef& DataModel::GetRecordDef(LONG lID) {
  return *FilledSlot(m_recordDefs, lID, "record definition");
}

const SRecordDef& DataModel::GetRecordDef(LONG lID) const {
  return *FilledSlot(m_recordDefs, lID, "record definition");
}

const SCommandDef& DataModel::GetCommandDef(LONG lID) const {
  return *FilledSlot(m_commandDefs, lID, "command definition");
}

IDatabase& DataModel::GetDatabase(LONG lID) {
  return *FilledSlot(m_databases, lID, "database");
}

std::shared_ptr<const SFieldDef> DataModel::StoreFieldDef(
    std::shared_ptr<const SFieldDef> pFieldDef) {
  RequireObject(pFieldDef.get(), "field definition");
  const LONG lID = pFieldDef->m_lID;
  return StoreInSlot(m_fieldDefs, lID, std::move(pFieldDef), "field definition");
}

SRecordDef& DataModel::StoreRecordDef(std::unique_ptr<SRecordDef> pRecordDef) {
  RequireObject(pRecordDef.get(), "record definition");
  const LONG lID = pRecordDef->m_lID;
  pRecordDef->m_pModel = this;
  return *StoreInSlot(m_recordDefs, lID, std::move(pRecordDef), "record definition");
}

SCommandDef& DataModel::StoreCommandDef(std::unique_ptr<SCommandDef> pCommandDef) {
  RequireObject(pCommandDef.get(), "command definition");
  const LONG lID = pCommandDef->m_lID;
  return *StoreInSlot(m_commandDefs, lID, std::move(pCommandDef), "command definition");
}

IDatabase& DataModel::StoreDatabase(std::unique_ptr<IDatabase> pDatabase) {
  RequireObject(pDatabase.get(), "database");
  const LONG lID = pDatabase->GetId();
  pDatabase->SetModel(this);
  return *StoreInSlot(m_databases, lID, std::move(pDatabase), "database");
}

bool DataModel::BeginTrans(LONG lDBID) {
  return GetDatabase(lDBID).BeginTrans();
}

bool DataModel::CommitTrans(LONG lDBID) {
  return GetDatabase(lDBID).CommitTrans();
}

bool DataModel::RollbackTrans(LONG lDBID) {
  return GetDatabase(lDBID).Rollback();
}

void DataModel::SetSecret(const BYTE* pSecret, ULONG ulSecretLength, const BYTE* pRandom,
                          ULONG ulRandomLength) {
  ForEachDatabase(
      [&](IDatabase& db) { db.SetSecret(pSecret, ulSecretLength, pRandom, ulRandomLength); });
}

void DataModel::ChangeSecret(const BYTE* /*pOldSecret*/, ULONG /*ulOldLength*/,
                             const BYTE* pNewSecret, ULONG ulNewLength, const BYTE* pRandom,
                             ULONG ulRandomLength) {
  // Every database walks inside its own open transaction first; only when
  // all walks are done does any of them commit. Each database reads with
  // the key it holds, so the old secret passed in is not needed.
  std::vector<IDatabase*> begun;
  begun.reserve(DatabaseSlots());
  try {
    ForEachDatabase([&](IDatabase& db) {
      db.BeginSecretChange(pNewSecret, ulNewLength, pRandom, ulRandomLength);
      begun.push_back(&db);
    });
  } catch (...) {
    for (auto it = begun.rbegin(); it != begun.rend(); ++it) (*it)->AbortSecretChange();
    throw;
  }
  // Each database holds its write lock until its commit, so a commit fails
  // only when the file itself cannot be written; the databases not yet
  // committed then return to the old key with the failing one.
  for (std::size_t i = 0; i < begun.size(); ++i) {
    try {
      begun[i]->CommitSecretChange();
    } catch (...) {
      for (std::size_t j = begun.size(); j-- > i;) begun[j]->AbortSecretChange();
      throw;
    }
  }
}

void DataModel::Check() {
  ForEachDatabase([](IDatabase& db) { db.Check(); });
}

void DataModel::Compact() {
  ForEachDatabase([](IDatabase& db) { db.Compact(); });
}

void DataModel::DeleteRecord(IRecord& rRecord) {
  const SRecordDef& recordDef = GetRecordDef(rRecord.GetRecordDefId());
  GetDatabase(recordDef.m_lDatabaseID).DeleteRecord(rRecord);
}

std::unique_ptr<IBlobStrategy> DataModel::CreateBlobStrategy(LONG rdID) {
  const SRecordDef& recordDef = GetRecordDef(rdID);
  return GetDatabase(recordDef.m_lDatabaseID).CreateBlobStrategy(recordDef);
}

std::unique_ptr<ILoader> DataModel::CreateLoader(LONG rdID) {
  const SRecordDef& recordDef = GetRecordDef(rdID);
  return GetDatabase(recordDef.m_lDatabaseID).CreateLoader(recordDef);
}

std::unique_ptr<ISaver> DataModel::CreateSaver(LONG rdID) {
  const SRecordDef& recordDef = GetRecordDef(rdID);
  return GetDatabase(recordDef.m_lDatabaseID).CreateSaver(recordDef);
}

std::unique_ptr<IRecordsetStrategy> DataModel::CreateRecordsetStrategy(LONG rdID) {
  const SRecordDef& recordDef = GetRecordDef(rdID);
  return GetDatabase(recordDef.m_lDatabaseID).CreateRecordsetStrategy(recordDef);
}

std::unique_ptr<ICommand> DataModel::CreateCommand(LONG cdID) {
  const SCommandDef& commandDef = GetCommandDef(cdID);
  return GetDatabase(commandDef.m_lDatabaseID).CreateCommand(commandDef);
}

void DataModel::UpgradeDriverVersion(ULONG ulVersion) {
  ForEachDatabase([&](IDatabase& db) { db.UpgradeDriverVersion(ulVersion); });
}

ULONG DataModel::GetDriverVersion() {
  const std::unique_ptr<IDatabase>* pSlot = m_databases.Find(0);
  if (pSlot == nullptr)
    throw vem_error("the data model has no database 0 whose driver version could be read", E_FAIL);
  return (*pSlot)->GetDriverVersion();
}
