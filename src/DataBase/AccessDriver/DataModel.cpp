// DataModel: the id-indexed tables, their lookups and the definition
// procedure (see DataModel.h).
#include "DataBase/AccessDriver/DataModel.h"

#include <string>
#include <utility>

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
