// GADM: the generic access data model. Its definitions are read from an
// existing database file: the model opens the file through its own engine
// (the parse database), walks the table definitions and then the query
// definitions, and makes one record definition per table or query whose
// "Description" begins with "DM" and one field definition per distinct field
// name. The database itself says what takes part and how:
//
//   object                property            meaning
//   database              "EnumRecordDefMax"  first id for a table/query without "Enum" (VT_I4,
//   else 0) database              "EnumFieldMax"      first id for a field without "Enum" (VT_I4,
//   else 0) table, query, field   "Enum"              the definition's id (VT_I4 only) table, query
//   "Description"       takes part when it begins with "DM" field of a table      "Description"
//   "CRYPT STRING" .. "CRYPT DATETIME": encrypted;
//                                             "BLOB" (on a Long column): a blob reference
//   field of a query      "Description"       begins with "ID": an id field of the query
//
// Keywords match when the property exists, is text and begins with the
// keyword (exact, case-sensitive). The model has exactly one database, id 0,
// a DaoDatabase on the same file, opened in the databases step (the file is
// open twice while the definitions are read).
//
// Life of the parse engine: created in the pre-definition step (after
// CoInitialize), released in the post-definition step (Close of the parse
// database, release of it and the engine, CoUninitialize). When a step fails
// the construction fails with the exception (engine failures are traced and
// raised as vem_error carrying the engine's HRESULT); the parse database and
// the engine are then released without Close, and the thread's COM
// initialisation made by the model is undone, so that a failed construction
// leaves nothing behind.
//
// Record slots: "Enum" ids may leave gaps in the record table; the field
// table's gaps below DataModel::kDenseIds are filled with placeholders
// (empty name, CHAR, -1, not encrypted); ids above are kept sparse. Walks
// over record slots skip empty ones (DataModel::ForEach*).
//
// Threads: built and used on one thread (the databases work through the
// engine of the thread that created them).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "DataBase/AccessDriver/DataModel.h"
#include "Engine/Dao.h"
#include "Platform/WinTypes.h"
#include "vem/IkivBackChannel.h"

class GADM : public DataModel {
 public:
  // Code raised when COM cannot be initialised for the parse engine.
  static constexpr LONG kErrComInitFailed = static_cast<LONG>(0xC004A818);

  // Builds the model from the database at path (Windows-1252 text), opened
  // with ";PWD=" + password. pBackChannel may be null. Raises vem_error when
  // the definitions cannot be read (see above).
  GADM(IkivBackChannel* pBackChannel, std::string path, std::string password);
  ~GADM() override;

  // The keywords of "Description" properties, in the order in which they are
  // tried; MatchDescription answers the first that a text begins with.
  enum class Keyword {
    DM,
    BLOB,
    ID,
    CRYPT_STRING,
    CRYPT_BOOL,
    CRYPT_CHAR,
    CRYPT_UCHAR,
    CRYPT_SHORT,
    CRYPT_USHORT,
    CRYPT_LONG,
    CRYPT_ULONG,
    CRYPT_FLOAT,
    CRYPT_DOUBLE,
    CRYPT_DATETIME,
    None,
  };
  // The first keyword in [first, last] (in the order above) that text begins
  // with, compared exactly and case-sensitively; Keyword::None when none.
  static Keyword MatchDescription(const std::string& text, Keyword first, Keyword last);

 protected:
  void PreDataModelDefinition() override;
  void DefDatabases() override;
  void DefFieldDefs() override;
  void DefRecordDefs() override;
  void DefCommandDefs() override;
  void PostDataModelDefinition() override;

 private:
  // A table or query definition during the walk.
  struct ParsedObject;
  // Per-field action of the walk: 0 goes on, 1 ends this object's fields, 2
  // ends the current pass (tables or queries).
  using FieldAction = std::function<int(ParsedObject&, dao::Field&, LONG lFieldIndex)>;

  // Walks every table definition, then every query definition, of the parse
  // database, calling the action for each field of each "DM" object.
  void ParseDatabase(const FieldAction& tableAction, const FieldAction& queryAction);

  int TableFieldDef(ParsedObject& object, dao::Field& field, LONG lFieldIndex);
  int QueryFieldDef(ParsedObject& object, dao::Field& field, LONG lFieldIndex);
  int TableRecordDef(ParsedObject& object, dao::Field& field, LONG lFieldIndex);
  int QueryRecordDef(ParsedObject& object, dao::Field& field, LONG lFieldIndex);
  // Steps shared by the two record actions; bIdField as each decides.
  void AddToRecordDef(ParsedObject& object, dao::Field& field, LONG lFieldIndex, bool bIdField);

  // An id from the object's "Enum" (VT_I4) or the counter, which is then
  // incremented.
  static LONG IdOf(dao::Properties* pProperties, LONG& lCounter);
  // Stores the field definition and enters name -> id into the map unless
  // the name is there already.
  void MakeFieldDef(LONG lID, const std::string& name, LONG lType, LONG lLength, bool bCrypt);
  // Fills every empty slot of the field table with a placeholder.
  void FillFieldGaps();

  // This model's own COM initialisation of the thread: undone once, by the
  // post-definition step or, when construction fails, by the destructor.
  class ComScope {
   public:
    ComScope() = default;
    ~ComScope() { Uninitialize(); }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    HRESULT Initialize();
    void Uninitialize() noexcept;

   private:
    bool m_bInitialized = false;
  };

  // Declared first: destroyed last, after the engine objects below.
  ComScope m_com;
  // Only while the definitions are read. The parse database is declared
  // after the engine that opened it and so released before it.
  dao::DBEnginePtr m_pEngine;
  dao::DatabasePtr m_pParseDatabase;
  const std::string m_path;                   // Windows-1252
  const std::string m_password;               // Windows-1252
  SRecordDef* m_pCurrentRecordDef = nullptr;  // being filled; owned by the record table
  LONG m_lNextRecordDefId = 0;
  LONG m_lNextFieldDefId = 0;
  std::map<std::string, LONG> m_fieldIds;  // field name -> field definition id (byte order)
};
