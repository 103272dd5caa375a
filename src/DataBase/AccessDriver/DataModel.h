// DataModel: the common base of the two model kinds (static SDM, generic
// GADM). Owns the model's four id-indexed tables (field, record and command
// definitions, databases) and its back channel to the client.
//
// Tables: each is a vector of slots indexed by id; a slot is empty or holds
// one object. Storing under id n grows the table to exactly n + 1 slots when
// it is shorter (new slots empty), destroys an object already in slot n, then
// puts the new one there. Tables never shrink. Field definitions are shared
// (std::shared_ptr<const SFieldDef>): a record definition keeps the field
// definitions it took alive even when the model's slot is later replaced.
//
// Lookups by id never read outside a table or into an empty slot: an unknown,
// negative or empty-slot id raises vem_error(E_INVALIDARG) naming the kind and
// the id ("unknown field definition id 7"). Ids are at most kMaxId.
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
// Threads: a model is used by one thread at a time; it does no locking.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "DataBase/AccessDriver/Definitions.h"
#include "DataBase/AccessDriver/IDatabase.h"
#include "IkivBackChannel/BackChannel.h"
#include "Platform/WinTypes.h"
#include "vem/IkivBackChannel.h"

class DataModel {
 public:
  // The model a record definition belongs to; vem_error (E_INVALIDARG) when
  // it belongs to none.
  static DataModel& Of(const SRecordDef& recordDef);

  // Largest id a definition or database may have. Ids index the tables
  // directly, so a larger (client-supplied) id would allocate a huge table.
  static constexpr LONG kMaxId = 0xFFFFF;

  virtual ~DataModel();

  DataModel(const DataModel&) = delete;
  DataModel& operator=(const DataModel&) = delete;

  // The back channel to the client (module code "VEM", depth 0).
  CBackChannel& GetBackChannel() { return m_backChannel; }

  // Lookups by id; vem_error(E_INVALIDARG) for an unknown id (see above).
  const SFieldDef& GetFieldDef(LONG lID) const;
  // The shared field definition, for record definitions that take it.
  std::shared_ptr<const SFieldDef> GetSharedFieldDef(LONG lID) const;
  SRecordDef& GetRecordDef(LONG lID);
  const SRecordDef& GetRecordDef(LONG lID) const;
  const SCommandDef& GetCommandDef(LONG lID) const;
  IDatabase& GetDatabase(LONG lID);

  // The structure hash: MD5 over the field, record and command tables and
  // the databases, in that order, each in ascending id order, skipping empty
  // slots (byte layout in StructureHash.cpp). Computed on each call from the
  // current definitions; nothing is cached.
  std::array<BYTE, kMd5DigestSize> StructureHash();

  // Slot counts (highest id stored + 1; empty slots included).
  std::size_t FieldDefSlots() const { return m_fieldDefs.size(); }
  std::size_t RecordDefSlots() const { return m_recordDefs.size(); }
  std::size_t CommandDefSlots() const { return m_commandDefs.size(); }
  std::size_t DatabaseSlots() const { return m_databases.size(); }

  // Visit the filled slots of a table in ascending id order, skipping empty
  // slots (a static model may leave gaps in its ids). The operations that go
  // to every database (secret, check, compact, upgrade) use ForEachDatabase.
  template <class F>
  void ForEachFieldDef(F&& f) const {
    for (std::size_t i = 0; i < m_fieldDefs.size(); ++i)
      if (m_fieldDefs[i]) f(*m_fieldDefs[i]);
  }
  template <class F>
  void ForEachRecordDef(F&& f) const {
    for (std::size_t i = 0; i < m_recordDefs.size(); ++i)
      if (m_recordDefs[i]) f(static_cast<const SRecordDef&>(*m_recordDefs[i]));
  }
  template <class F>
  void ForEachCommandDef(F&& f) const {
    for (std::size_t i = 0; i < m_commandDefs.size(); ++i)
      if (m_commandDefs[i]) f(static_cast<const SCommandDef&>(*m_commandDefs[i]));
  }
  template <class F>
  void ForEachDatabase(F&& f) {
    for (std::size_t i = 0; i < m_databases.size(); ++i)
      if (m_databases[i]) f(*m_databases[i]);
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
  // (E_INVALIDARG) for a null object or an id outside 0..kMaxId.
  // StoreRecordDef and StoreDatabase set the object's model to this model.
  std::shared_ptr<const SFieldDef> StoreFieldDef(std::shared_ptr<const SFieldDef> pFieldDef);
  SRecordDef& StoreRecordDef(std::unique_ptr<SRecordDef> pRecordDef);
  SCommandDef& StoreCommandDef(std::unique_ptr<SCommandDef> pCommandDef);
  IDatabase& StoreDatabase(std::unique_ptr<IDatabase> pDatabase);

 private:
  // Declared first: destroyed last, after every database that may trace.
  CBackChannel m_backChannel;
  std::vector<std::shared_ptr<const SFieldDef>> m_fieldDefs;  // by field id
  std::vector<std::unique_ptr<SRecordDef>> m_recordDefs;      // by record id
  std::vector<std::unique_ptr<SCommandDef>> m_commandDefs;    // by command id
  std::vector<std::unique_ptr<IDatabase>> m_databases;        // by database id
};
