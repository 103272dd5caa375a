// DataModel: the id-indexed tables, their lookups and the definition
// procedure (see DataModel.h).
#include "DataBase/AccessDriver/DataModel.h"

#include <string>
#include <utility>

#include "DataBase/AccessDriver/DaoException.h"

namespace {

// The slot for lID, or vem_error(E_INVALIDARG) when lID is negative, beyond
// the table or names an empty slot.
template <class Slot>
const Slot& FilledSlot(const std::vector<Slot>& table, LONG lID, const char* szKind) {
  if (lID < 0 || static_cast<std::size_t>(lID) >= table.size() || !table[lID])
    throw vem_error("unknown " + std::string(szKind) + " id " + std::to_string(lID), E_INVALIDARG);
  return table[lID];
}

// Stores pObject under lID: grows the table to lID + 1 slots when shorter,
// destroys the slot's earlier object, then fills the slot.
template <class Slot>
void StoreInSlot(std::vector<Slot>& table, LONG lID, Slot pObject, const char* szKind) {
  if (lID < 0 || lID > DataModel::kMaxId)
    throw vem_error(std::string(szKind) + " id " + std::to_string(lID) + " is out of range (0.." +
                        std::to_string(DataModel::kMaxId) + ")",
                    E_INVALIDARG);
  if (table.size() < static_cast<std::size_t>(lID) + 1)
    table.resize(static_cast<std::size_t>(lID) + 1);
  table[lID].reset();
  table[lID] = std::move(pObject);
}

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
  for (std::unique_ptr<IDatabase>& pDatabase : m_databases) pDatabase.reset();
  m_databases.clear();
  m_commandDefs.clear();
  m_recordDefs.clear();
  m_fieldDefs.clear();
}

void DataModel::Define() {
  PreDataModelDefinition();
  DefDatabases();
  DefFieldDefs();
  DefRecordDefs();
  DefCommandDefs();
  PostDataModelDefinition();
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
  StoreInSlot(m_fieldDefs, lID, std::move(pFieldDef), "field definition");
  return m_fieldDefs[lID];
}

SRecordDef& DataModel::StoreRecordDef(std::unique_ptr<SRecordDef> pRecordDef) {
  RequireObject(pRecordDef.get(), "record definition");
  const LONG lID = pRecordDef->m_lID;
  pRecordDef->m_pModel = this;
  StoreInSlot(m_recordDefs, lID, std::move(pRecordDef), "record definition");
  return *m_recordDefs[lID];
}

SCommandDef& DataModel::StoreCommandDef(std::unique_ptr<SCommandDef> pCommandDef) {
  RequireObject(pCommandDef.get(), "command definition");
  const LONG lID = pCommandDef->m_lID;
  StoreInSlot(m_commandDefs, lID, std::move(pCommandDef), "command definition");
  return *m_commandDefs[lID];
}

IDatabase& DataModel::StoreDatabase(std::unique_ptr<IDatabase> pDatabase) {
  RequireObject(pDatabase.get(), "database");
  const LONG lID = pDatabase->GetId();
  pDatabase->SetModel(this);
  StoreInSlot(m_databases, lID, std::move(pDatabase), "database");
  return *m_databases[lID];
}
