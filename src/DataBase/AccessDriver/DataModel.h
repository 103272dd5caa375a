// DataModel: the common base of the two model kinds (static SDM, generic
// GADM). Owns the model's four id-indexed tables (field, record and command
// definitions, databases) and its back channel to the client.
//
// Tables: each holds slots indexed by id; a slot is empty or holds one
// object. Ids below kDenseIds live in a vector that grows to exactly n + 1
// slots when id n is stored (new slots empty); larger ids (a generic
// database's "Enum" values, a static client's numbers) live in a sparse map,
// so that no table is ever sized by a client's number. Storing destroys an
// object already under that id, then puts the new one there. Tables never
// shrink. Field definitions are shared (std::shared_ptr<const SFieldDef>): a
// record definition keeps the field definitions it took alive even when the
// model's slot is later replaced.
//
// Lookups by id never read outside a table or into an empty slot: an unknown,
// negative or empty-slot id raises vem_error(E_INVALIDARG) naming the kind and
// the id ("unknown field definition id 7"). Ids are 0 to 0x7FFFFFFF.
//
// Definition procedure: a derived model's constructor calls Define() once,
// after its own members are set up; Define runs the six steps in order:
// PreDataModelDefinition, DefDatabases, DefFieldDefs, DefRecordDefs,
// DefCommandDefs, PostDataModelDefinition. (The base constructor cannot run
// them: virtual calls from a base constructor do not reach the derived
// class.) Definitions are read-only once Define has returned.
//
// Destruction: the database table goes first (each database closes itself and
// may still trace through the back channel), then the command, record and
// field tables, then the back channel.
//
// IDataModel: the operations of the COM layer are implemented here, once for
// both model kinds (see IDataModel.h).
//
// Threads: a model is used by one thread at a time; it does no locking.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DataBase/AccessDriver/Definitions.h"
#include "DataBase/AccessDriver/IDataModel.h"
#include "DataBase/AccessDriver/IDatabase.h"
#include "IkivBackChannel/BackChannel.h"
#include "Platform/WinTypes.h"
#include "vem/IkivBackChannel.h"

class DataModel : public IDataModel {
 public:
  // The model a record definition belongs to; vem_error (E_INVALIDARG) when
  // it belongs to none.
  static DataModel& Of(const SRecordDef& recordDef);

  // Ids below this index a vector directly; larger ones a sparse map.
  static constexpr LONG kDenseIds = 0x10000;

  ~DataModel() override;

  DataModel(const DataModel&) = delete;
  DataModel& operator=(const DataModel&) = delete;

  // The back channel to the client (module code "VEM", depth 0).
  CBackChannel& GetBackChannel() { return m_backChannel; }

  // Lookups by id; vem_error(E_INVALIDARG) for an unknown id (see above).
  const SFieldDef& GetFieldDef(LONG lID) const;
  // The shared field definition, for record definitions that take it.
  std::shared_ptr<const SFieldDef> GetSharedFieldDef(LONG lID) const;
  SRecordDef& GetRecordDef(LONG lID);
  const SRecordDef& GetRecordDef(LONG lID) const override;
  const SCommandDef& GetCommandDef(LONG lID) const;
  IDatabase& GetDatabase(LONG lID);

  // The structure hash: MD5 over the field, record and command tables and
  // the databases, in that order, each in ascending id order, skipping empty
  // slots (byte layout in StructureHash.cpp). Computed on each call from the
  // current definitions; nothing is cached.
  std::array<BYTE, kMd5DigestSize> StructureHash() override;

  // IDataModel (see IDataModel.h).
  bool BeginTrans(LONG lDBID) override;
  bool CommitTrans(LONG lDBID) override;
  bool RollbackTrans(LONG lDBID) override;
  void SetSecret(const BYTE* pSecret, ULONG ulSecretLength, const BYTE* pRandom,
                 ULONG ulRandomLength) override;
  void ChangeSecret(const BYTE* pOldSecret, ULONG ulOldLength, const BYTE* pNewSecret,
                    ULONG ulNewLength, const BYTE* pRandom, ULONG ulRandomLength) override;
  void Check() override;
  void Compact() override;
  void DeleteRecord(IRecord& rRecord) override;
  std::unique_ptr<IBlobStrategy> CreateBlobStrategy(LONG rdID) override;
  std::unique_ptr<ILoader> CreateLoader(LONG rdID) override;
  std::unique_ptr<ISaver> CreateSaver(LONG rdID) override;
  std::unique_ptr<IRecordsetStrategy> CreateRecordsetStrategy(LONG rdID) override;
  std::unique_ptr<ICommand> CreateCommand(LONG cdID) override;
  void UpgradeDriverVersion(ULONG ulVersion) override;
  ULONG GetDriverVersion() override;

  // Slot counts (highest id stored + 1; empty slots included).
  std::size_t FieldDefSlots() const { return m_fieldDefs.Slots(); }
  std::size_t RecordDefSlots() const { return m_recordDefs.Slots(); }
  std::size_t CommandDefSlots() const { return m_commandDefs.Slots(); }
  std::size_t DatabaseSlots() const { return m_databases.Slots(); }

  // Visit the filled slots of a table in ascending id order, skipping empty
  // slots (a static model may leave gaps in its ids). The operations that go
  // to every database (secret, check, compact, upgrade) use ForEachDatabase.
  template <class F>
  void ForEachFieldDef(F&& f) const {
    m_fieldDefs.ForEach([&](const std::shared_ptr<const SFieldDef>& p) { f(*p); });
  }
  template <class F>
  void ForEachRecordDef(F&& f) const {
    m_recordDefs.ForEach(
        [&](const std::unique_ptr<SRecordDef>& p) { f(static_cast<const SRecordDef&>(*p)); });
  }
  template <class F>
  void ForEachCommandDef(F&& f) const {
    m_commandDefs.ForEach(
        [&](const std::unique_ptr<SCommandDef>& p) { f(static_cast<const SCommandDef&>(*p)); });
  }
  template <class F>
  void ForEachDatabase(F&& f) {
    m_databases.ForEach([&](const std::unique_ptr<IDatabase>& p) { f(*p); });
  }

 protected:
  // pBackChannel: the client's back channel, held without AddRef for the
  // model's lifetime; null drops every report.
  explicit DataModel(IkivBackChannel* pBackChannel);

  // Runs the six definition steps in order. Called once, by the most derived
  // model's constructor. Exceptions of a step leave Define (and so the
  // derived constructor); the base destructor then frees what was stored.
  void Define();

  // The definition steps. The model kind stores its definitions with the
  // Store operations below; every Store may be called in every step.
  virtual void PreDataModelDefinition() {}
  virtual void DefDatabases() = 0;
  virtual void DefFieldDefs() = 0;
  virtual void DefRecordDefs() = 0;
  virtual void DefCommandDefs() = 0;
  virtual void PostDataModelDefinition() {}

  // Store under the object's own id, replacing (and destroying, or for a
  // field definition releasing) an earlier object there. vem_error
  // (E_INVALIDARG) for a null object or a negative id.
  // StoreRecordDef and StoreDatabase set the object's model to this model.
  std::shared_ptr<const SFieldDef> StoreFieldDef(std::shared_ptr<const SFieldDef> pFieldDef);
  SRecordDef& StoreRecordDef(std::unique_ptr<SRecordDef> pRecordDef);
  SCommandDef& StoreCommandDef(std::unique_ptr<SCommandDef> pCommandDef);
  IDatabase& StoreDatabase(std::unique_ptr<IDatabase> pDatabase);

 private:
  // One table: a dense vector of slots for ids below kDenseIds, a sparse map
  // above. Slot is a std::shared_ptr or std::unique_ptr.
  template <class Slot>
  class IdTable {
   public:
    // The filled slot of lID, or null.
    const Slot* Find(LONG lID) const {
      if (lID < 0) return nullptr;
      if (lID < kDenseIds) {
        const std::size_t i = static_cast<std::size_t>(lID);
        return i < m_dense.size() && m_dense[i] ? &m_dense[i] : nullptr;
      }
      const auto it = m_sparse.find(lID);
      return it != m_sparse.end() && it->second ? &it->second : nullptr;
    }
    // The slot of lID (0 <= lID), created empty when missing.
    Slot& Reserve(LONG lID) {
      if (lID < kDenseIds) {
        const std::size_t i = static_cast<std::size_t>(lID);
        if (m_dense.size() < i + 1) m_dense.resize(i + 1);
        return m_dense[i];
      }
      return m_sparse[lID];
    }
    std::size_t Slots() const {
      return m_sparse.empty() ? m_dense.size()
                              : static_cast<std::size_t>(m_sparse.rbegin()->first) + 1;
    }
    // Dense slots that exist (filled or empty): the ids 0 .. DenseSlots() - 1.
    std::size_t DenseSlots() const { return m_dense.size(); }
    template <class F>
    void ForEach(F&& f) const {
      for (const Slot& p : m_dense)
        if (p) f(p);
      for (const auto& [lID, p] : m_sparse)
        if (p) f(p);
    }
    // Destroys the objects in ascending id order.
    void Clear() {
      for (Slot& p : m_dense) p.reset();
      for (auto& entry : m_sparse) entry.second.reset();
      m_dense.clear();
      m_sparse.clear();
    }

   private:
    std::vector<Slot> m_dense;      // ids 0 .. kDenseIds - 1
    std::map<LONG, Slot> m_sparse;  // ids kDenseIds and above
  };

  // The filled slot of lID, or vem_error(E_INVALIDARG) naming szKind.
  template <class Slot>
  static const Slot& FilledSlot(const IdTable<Slot>& table, LONG lID, const char* szKind);
  // Stores pObject under lID (destroying the slot's earlier object first);
  // vem_error(E_INVALIDARG) for a negative id.
  template <class Slot>
  static Slot& StoreInSlot(IdTable<Slot>& table, LONG lID, Slot pObject, const char* szKind);

 protected:
  // Dense field slots (filled or empty): the generic model fills their gaps.
  std::size_t DenseFieldDefSlots() const { return m_fieldDefs.DenseSlots(); }

 private:
  // Declared first: destroyed last, after every database that may trace.
  CBackChannel m_backChannel;
  IdTable<std::shared_ptr<const SFieldDef>> m_fieldDefs;  // by field id
  IdTable<std::unique_ptr<SRecordDef>> m_recordDefs;      // by record id
  IdTable<std::unique_ptr<SCommandDef>> m_commandDefs;    // by command id
  IdTable<std::unique_ptr<IDatabase>> m_databases;        // by database id
};
