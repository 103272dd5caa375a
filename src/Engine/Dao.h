// The DAO object layer of the engine: DBEngine, Database, Recordset,
// TableDef, QueryDef, Field, Index, Property and their collections.
//
// The objects are reference-counted COM objects (IUnknown and
// ISupportErrorInfo), created with a count of 0 and held by ComPtr. Each
// operation comes in the two forms that #import generates for DAO:
//   - raw: raw_Name(...) for methods, get_X / put_X for properties; answers
//     an HRESULT and, on failure, sets the thread's error info (Source
//     "DAO.<Object>", Description naming what failed). HRESULTs are
//     0x800A0000 | DAO's error number; a missing object is E_POINTER.
//   - throwing: Name(...), GetX() / PutX(v); raises _com_error through
//     _com_issue_errorex(hr, this, IID_<Object>), so a catcher finds the
//     error info with the HRESULT.
// Values are VARIANTs of DAO's types: Boolean VT_BOOL, Byte VT_UI1, Integer
// VT_I2, Long VT_I4, Single VT_R4, Double VT_R8, Currency VT_CY, Date
// VT_DATE, Text/Memo VT_BSTR, binary VT_ARRAY|VT_UI1, Null VT_NULL.
//
// Thread-safety: an object and the objects made from it are used by one
// thread at a time (the thread's error info carries their failures).
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Engine/DatabaseCore.h"
#include "Engine/EngineError.h"
#include "Engine/RecordsetCore.h"
#include "Engine/Value.h"
#include "Platform/ComUtil.h"
#include "Platform/OleAuto.h"

namespace dao {

// {34330C85-1E89-480C-A2EE-A14A4AA85937}
inline constexpr IID IID_DBEngine = {
    0x34330C85, 0x1E89, 0x480C, {0xA2, 0xEE, 0xA1, 0x4A, 0x4A, 0xA8, 0x59, 0x37}};
// {CC2CC05C-F6C6-46E1-A7B8-E634C486B36E}
inline constexpr IID IID_Database = {
    0xCC2CC05C, 0xF6C6, 0x46E1, {0xA7, 0xB8, 0xE6, 0x34, 0xC4, 0x86, 0xB3, 0x6E}};
// {8CC6B83E-5602-41E6-A7B0-D8EDEEEDA2F3}
inline constexpr IID IID_Recordset = {
    0x8CC6B83E, 0x5602, 0x41E6, {0xA7, 0xB0, 0xD8, 0xED, 0xEE, 0xED, 0xA2, 0xF3}};
// {A0921419-407C-4B01-9359-627BD11A26C3}
inline constexpr IID IID_TableDef = {
    0xA0921419, 0x407C, 0x4B01, {0x93, 0x59, 0x62, 0x7B, 0xD1, 0x1A, 0x26, 0xC3}};
// {8E901559-9503-4043-9FA1-C60E2D93EBBC}
inline constexpr IID IID_QueryDef = {
    0x8E901559, 0x9503, 0x4043, {0x9F, 0xA1, 0xC6, 0x0E, 0x2D, 0x93, 0xEB, 0xBC}};
// {2E3FB81A-6A85-4892-8F93-38910BE00A98}
inline constexpr IID IID_Field = {
    0x2E3FB81A, 0x6A85, 0x4892, {0x8F, 0x93, 0x38, 0x91, 0x0B, 0xE0, 0x0A, 0x98}};
// {E97B5DA1-D238-4CC2-9A21-BAD1B3493A78}
inline constexpr IID IID_Index = {
    0xE97B5DA1, 0xD238, 0x4CC2, {0x9A, 0x21, 0xBA, 0xD1, 0xB3, 0x49, 0x3A, 0x78}};
// {0278F5E4-CB7D-4D5C-9FFC-7773BBD01631}
inline constexpr IID IID_Property = {
    0x0278F5E4, 0xCB7D, 0x4D5C, {0x9F, 0xFC, 0x77, 0x73, 0xBB, 0xD0, 0x16, 0x31}};
// {0B616744-CEC7-4E37-8298-3486F6468EA2}
inline constexpr IID IID_TableDefs = {
    0x0B616744, 0xCEC7, 0x4E37, {0x82, 0x98, 0x34, 0x86, 0xF6, 0x46, 0x8E, 0xA2}};
// {BDB0049F-0C62-44E2-BA4D-713A6C9E2D0F}
inline constexpr IID IID_QueryDefs = {
    0xBDB0049F, 0x0C62, 0x44E2, {0xBA, 0x4D, 0x71, 0x3A, 0x6C, 0x9E, 0x2D, 0x0F}};
// {A990851C-F7D7-4B60-8B09-8B1DDA95F3B8}
inline constexpr IID IID_Fields = {
    0xA990851C, 0xF7D7, 0x4B60, {0x8B, 0x09, 0x8B, 0x1D, 0xDA, 0x95, 0xF3, 0xB8}};
// {70169F51-F46A-472E-BDFB-C788A4511BD2}
inline constexpr IID IID_Indexes = {
    0x70169F51, 0xF46A, 0x472E, {0xBD, 0xFB, 0xC7, 0x88, 0xA4, 0x51, 0x1B, 0xD2}};
// {4F87576A-8C01-4160-B816-54DF6B35FF62}
inline constexpr IID IID_Properties = {
    0x4F87576A, 0x8C01, 0x4160, {0xB8, 0x16, 0x54, 0xDF, 0x6B, 0x35, 0xFF, 0x62}};

class DBEngine;
class Database;
class Recordset;
class TableDef;
class QueryDef;
class Field;
class Index;
class Property;
class TableDefs;
class QueryDefs;
class Fields;
class Indexes;
class Properties;

using DBEnginePtr = ComPtr<DBEngine>;
using DatabasePtr = ComPtr<Database>;
using RecordsetPtr = ComPtr<Recordset>;
using TableDefPtr = ComPtr<TableDef>;
using QueryDefPtr = ComPtr<QueryDef>;
using FieldPtr = ComPtr<Field>;
using IndexPtr = ComPtr<Index>;
using PropertyPtr = ComPtr<Property>;
using TableDefsPtr = ComPtr<TableDefs>;
using QueryDefsPtr = ComPtr<QueryDefs>;
using FieldsPtr = ComPtr<Fields>;
using IndexesPtr = ComPtr<Indexes>;
using PropertiesPtr = ComPtr<Properties>;

enum RecordsetTypeEnum : int {
  dbOpenTable = 1,
  dbOpenDynaset = 2,
  dbOpenSnapshot = 4,
  dbOpenForwardOnly = 8,
  dbOpenDynamic = 16
};
enum CommitTransOptionsEnum : int { dbForceOSFlush = 1 };
enum UpdateTypeEnum : int { dbUpdateRegular = 1, dbUpdateCurrentRecord = 2, dbUpdateBatch = 4 };
enum EditModeEnum : int { dbEditNone = 0, dbEditInProgress = 1, dbEditAdd = 2 };
enum RecordsetOptionEnum : int { dbReadOnly = 4, dbFailOnError = 128 };
enum TableDefAttributeEnum : LONG {
  dbHiddenObject = 1,
  dbSystemObject = static_cast<LONG>(0x80000002)
};

// DISP_E_PARAMNOTFOUND: the VT_ERROR value of an optional argument left out.
inline constexpr HRESULT kParamNotFound = static_cast<HRESULT>(0x80020004);
// An optional argument that is left out.
const _variant_t& vtMissing();
bool IsMissing(const VARIANT& v);

// Values across the boundary. ToValue refuses a VARIANT type that no DAO
// field holds with 3421 naming `what`.
Value ToValue(const VARIANT& v, const std::string& what);
// A new VARIANT holding `value` (the caller owns it).
_variant_t FromValue(const Value& value);
// Stores `value` into v, which must hold nothing that needs freeing.
void FillVariant(const Value& value, VARIANT& v);

// UTF-16 <-> the engine's UTF-8.
std::string Utf8(const OLECHAR* text);
std::string Utf8(const _bstr_t& text);
_bstr_t Bstr(const std::string& utf8);

// The engine of the calling code: makes DBEngine objects.
DBEnginePtr CreateDBEngine();

// Common base: reference count, QueryInterface, ISupportErrorInfo and the
// boundary that turns an engine failure into an HRESULT with error info.
class DaoObject : public ISupportErrorInfo {
 public:
  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;
  STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;

  const IID& Iid() const { return *m_iid; }
  const char16_t* Source() const { return m_source; }

 protected:
  DaoObject(const IID& iid, const char16_t* source) : m_iid(&iid), m_source(source) {}
  virtual ~DaoObject() = default;
  DaoObject(const DaoObject&) = delete;
  DaoObject& operator=(const DaoObject&) = delete;

  // Runs fn; an escaping failure becomes an HRESULT with error info.
  template <typename Fn>
  HRESULT Boundary(Fn&& fn) noexcept {
    try {
      fn();
      return S_OK;
    } catch (const EngineError& e) {
      return Report(e.hresult(), e.what());
    } catch (const _com_error& e) {
      return Report(e.Error(),
                    Utf8(e.Description()).empty() ? e.ErrorMessage() : Utf8(e.Description()));
    } catch (const std::bad_alloc&) {
      return Report(E_OUTOFMEMORY, "Out of memory.");
    } catch (const std::exception& e) {
      return Report(E_FAIL, e.what());
    }
  }
  HRESULT Report(HRESULT hr, const std::string& description) noexcept;
  // Raises _com_error for a failed raw call.
  void Check(HRESULT hr) {
    if (FAILED(hr)) _com_issue_errorex(hr, this, *m_iid);
  }
  template <typename T>
  static HRESULT Hand(const ComPtr<T>& p, T** out) {
    if (!out) return E_POINTER;
    *out = p.get();
    if (*out) (*out)->AddRef();
    return S_OK;
  }

 private:
  std::atomic<ULONG> m_refs{0};
  const IID* m_iid;
  const char16_t* m_source;
};

// Where an object's user-defined properties live: the database and the
// object once it exists there; until then (a TableDef or Field not yet
// appended) the properties wait in `pending`.
struct PropertyHome {
  std::shared_ptr<DatabaseCore> db;  // null while the owner is not appended
  ObjectRef ref;
  std::vector<PropertyRecord> pending;
  bool canHold = true;  // false for objects without persistent properties
};

// ---- DBEngine -----------------------------------------------------------------

class DBEngine : public DaoObject {
 public:
  DBEngine() : DaoObject(IID_DBEngine, u"DAO.DBEngine") {}

  // Options: True opens exclusively. Connect: ";PWD=password".
  HRESULT raw_OpenDatabase(BSTR Name, VARIANT Options, VARIANT ReadOnly, VARIANT Connect,
                           Database** ppDb);
  // A new database file; Connect may carry ";PWD=password".
  HRESULT raw_CreateDatabase(BSTR Name, BSTR Connect, VARIANT Option, Database** ppDb);
  // DstLocale / SrcLocale: the Connect texts (";PWD=...") of the copy and the source.
  HRESULT raw_CompactDatabase(BSTR SrcName, BSTR DstName, VARIANT DstLocale, VARIANT Options,
                              VARIANT SrcLocale);
  // Not DAO's: compacts Name in place through the new file TempName beside
  // it, which replaces Name by one rename while Name is held exclusively
  // (see DatabaseCore::CompactInPlace). Connect: ";PWD=password".
  HRESULT raw_CompactDatabaseInPlace(BSTR Name, BSTR TempName, VARIANT Connect);

  DatabasePtr OpenDatabase(const _bstr_t& Name, const _variant_t& Options = vtMissing(),
                           const _variant_t& ReadOnly = vtMissing(),
                           const _variant_t& Connect = vtMissing());
  DatabasePtr CreateDatabase(const _bstr_t& Name, const _bstr_t& Connect = _bstr_t(u""),
                             const _variant_t& Option = vtMissing());
  void CompactDatabase(const _bstr_t& SrcName, const _bstr_t& DstName,
                       const _variant_t& DstLocale = vtMissing(),
                       const _variant_t& Options = vtMissing(),
                       const _variant_t& SrcLocale = vtMissing());
  void CompactDatabaseInPlace(const _bstr_t& Name, const _bstr_t& TempName,
                              const _variant_t& Connect = vtMissing());
};

// ---- Database -----------------------------------------------------------------

class Database : public DaoObject {
 public:
  explicit Database(std::shared_ptr<DatabaseCore> core);
  ~Database() override;

  HRESULT get_Name(BSTR* pbstr);
  HRESULT raw_Close();
  // Name: SQL text, a table or a query name. Type, Options, LockEdit are accepted and ignored:
  // every recordset is a dynaset.
  HRESULT raw_OpenRecordset(BSTR Name, VARIANT Type, VARIANT Options, VARIANT LockEdit,
                            Recordset** ppRs);
  HRESULT raw_Execute(BSTR Query, VARIANT Options);
  HRESULT get_RecordsAffected(LONG* pl);
  HRESULT raw_BeginTrans();
  HRESULT raw_CommitTrans(LONG Options);
  HRESULT raw_Rollback();
  HRESULT get_Properties(Properties** pp);
  HRESULT raw_CreateProperty(VARIANT Name, VARIANT Type, VARIANT Value, VARIANT DDL, Property** pp);
  HRESULT get_TableDefs(TableDefs** pp);
  HRESULT get_QueryDefs(QueryDefs** pp);
  HRESULT raw_CreateTableDef(VARIANT Name, VARIANT Attributes, VARIANT SourceTableName,
                             VARIANT Connect, TableDef** pp);
  HRESULT raw_CreateQueryDef(VARIANT Name, VARIANT SQLText, QueryDef** pp);

  _bstr_t GetName();
  void Close();
  RecordsetPtr OpenRecordset(const _bstr_t& Name, const _variant_t& Type = vtMissing(),
                             const _variant_t& Options = vtMissing(),
                             const _variant_t& LockEdit = vtMissing());
  void Execute(const _bstr_t& Query, const _variant_t& Options = vtMissing());
  LONG GetRecordsAffected();
  void BeginTrans();
  void CommitTrans(LONG Options = 0);
  void Rollback();
  PropertiesPtr GetProperties();
  PropertyPtr CreateProperty(const _variant_t& Name = vtMissing(),
                             const _variant_t& Type = vtMissing(),
                             const _variant_t& Value = vtMissing(),
                             const _variant_t& DDL = vtMissing());
  TableDefsPtr GetTableDefs();
  QueryDefsPtr GetQueryDefs();
  TableDefPtr CreateTableDef(const _variant_t& Name = vtMissing(),
                             const _variant_t& Attributes = vtMissing(),
                             const _variant_t& SourceTableName = vtMissing(),
                             const _variant_t& Connect = vtMissing());
  QueryDefPtr CreateQueryDef(const _variant_t& Name = vtMissing(),
                             const _variant_t& SQLText = vtMissing());

  const std::shared_ptr<DatabaseCore>& Core() const { return m_core; }

 private:
  std::shared_ptr<DatabaseCore> m_core;
  std::shared_ptr<PropertyHome> m_home;
  LONG m_recordsAffected = 0;
};

// ---- Recordset ----------------------------------------------------------------

class Recordset : public DaoObject {
 public:
  explicit Recordset(std::unique_ptr<RecordsetCore> core);

  HRESULT get_Name(BSTR* pbstr);
  HRESULT get_BOF(VARIANT_BOOL* pb);
  HRESULT get_EOF(VARIANT_BOOL* pb);
  HRESULT get_NoMatch(VARIANT_BOOL* pb);
  HRESULT get_RecordCount(LONG* pl);
  HRESULT get_AbsolutePosition(LONG* pl);
  HRESULT put_AbsolutePosition(LONG l);
  HRESULT get_EditMode(short* ps);
  HRESULT get_Updatable(VARIANT_BOOL* pb);
  HRESULT raw_MoveFirst();
  HRESULT raw_MoveLast(LONG Options = 0);
  HRESULT raw_MoveNext();
  HRESULT raw_MovePrevious();
  HRESULT raw_FindFirst(BSTR Criteria);
  HRESULT raw_FindLast(BSTR Criteria);
  HRESULT raw_FindNext(BSTR Criteria);
  HRESULT raw_FindPrevious(BSTR Criteria);
  HRESULT get_Collect(VARIANT Item, VARIANT* pvar);
  HRESULT put_Collect(VARIANT Item, VARIANT value);
  HRESULT get_Fields(Fields** pp);
  HRESULT raw_AddNew();
  HRESULT raw_Edit();
  HRESULT raw_Update(LONG UpdateType, VARIANT_BOOL Force);
  HRESULT raw_CancelUpdate(LONG UpdateType);
  HRESULT raw_Delete();
  HRESULT raw_Close();
  HRESULT raw_Requery(VARIANT NewQueryDef);

  _bstr_t GetName();
  VARIANT_BOOL GetBOF();
  VARIANT_BOOL GetEOF();
  VARIANT_BOOL GetNoMatch();
  LONG GetRecordCount();
  LONG GetAbsolutePosition();
  void PutAbsolutePosition(LONG l);
  short GetEditMode();
  VARIANT_BOOL GetUpdatable();
  void MoveFirst();
  void MoveLast(LONG Options = 0);
  void MoveNext();
  void MovePrevious();
  void FindFirst(const _bstr_t& Criteria);
  void FindLast(const _bstr_t& Criteria);
  void FindNext(const _bstr_t& Criteria);
  void FindPrevious(const _bstr_t& Criteria);
  _variant_t GetCollect(const _variant_t& Item);
  void PutCollect(const _variant_t& Item, const _variant_t& value);
  // Collect without the UTF-16 round trip, for callers that work on the
  // stored bytes. A Text value is handed over as a view of its UTF-8 bytes
  // (valid until the next call on this recordset) and the answer is true;
  // any other value goes to `other` as Collect gives it, and the answer is
  // false. Errors as Collect.
  bool GetCollectText(const _variant_t& Item, std::string_view& text, _variant_t& other);
  // Collect = a Text value given as UTF-8 bytes (as a VT_BSTR of the same
  // characters would set it). Errors as Collect.
  void PutCollectText(const _variant_t& Item, std::string_view utf8);
  FieldsPtr GetFields();
  void AddNew();
  void Edit();
  void Update(LONG UpdateType = dbUpdateRegular, VARIANT_BOOL Force = VARIANT_FALSE);
  void CancelUpdate(LONG UpdateType = dbUpdateRegular);
  void Delete();
  void Close();
  void Requery(const _variant_t& NewQueryDef = vtMissing());

  // For Field objects of this recordset.
  RecordsetCore& Core();
  std::size_t FieldOf(const VARIANT& item);  // 3265 when unknown

 private:
  std::size_t FindField(const VARIANT& item);  // FieldOf without the guess

  std::unique_ptr<RecordsetCore> m_core;
  std::size_t m_lastField = SIZE_MAX;  // the field the last lookup by name found
};

// ---- Field, Index, Property ------------------------------------------------------

class Field : public DaoObject {
 public:
  enum class Kind { New, TableField, QueryField, RecordsetField, IndexField };
  // A new field (CreateField) or an index's field.
  Field(Kind kind, FieldSpec def);
  // A field of a table or query in the database.
  Field(Kind kind, std::shared_ptr<DatabaseCore> db, std::string owner, ColumnInfo info);
  // A field of a recordset.
  Field(ComPtr<Recordset> rs, std::size_t index);

  HRESULT get_Name(BSTR* pbstr);
  HRESULT put_Name(BSTR bstr);
  HRESULT get_Type(short* ps);
  HRESULT put_Type(short s);
  HRESULT get_Size(LONG* pl);
  HRESULT put_Size(LONG l);
  HRESULT get_Attributes(LONG* pl);
  HRESULT put_Attributes(LONG l);
  HRESULT get_Required(VARIANT_BOOL* pb);
  HRESULT put_Required(VARIANT_BOOL b);
  HRESULT get_SourceTable(BSTR* pbstr);
  HRESULT get_SourceField(BSTR* pbstr);
  HRESULT get_Value(VARIANT* pvar);
  HRESULT put_Value(VARIANT var);
  HRESULT get_Properties(Properties** pp);
  HRESULT raw_CreateProperty(VARIANT Name, VARIANT Type, VARIANT Value, VARIANT DDL, Property** pp);

  _bstr_t GetName();
  void PutName(const _bstr_t& name);
  short GetType();
  void PutType(short type);
  LONG GetSize();
  void PutSize(LONG size);
  LONG GetAttributes();
  void PutAttributes(LONG attributes);
  VARIANT_BOOL GetRequired();
  void PutRequired(VARIANT_BOOL required);
  _bstr_t GetSourceTable();
  _bstr_t GetSourceField();
  _variant_t GetValue();
  void PutValue(const _variant_t& value);
  PropertiesPtr GetProperties();
  PropertyPtr CreateProperty(const _variant_t& Name = vtMissing(),
                             const _variant_t& Type = vtMissing(),
                             const _variant_t& Value = vtMissing(),
                             const _variant_t& DDL = vtMissing());

  // For the collections.
  Kind kind() const { return m_kind; }
  const FieldSpec& Spec() const { return m_spec; }
  const std::shared_ptr<PropertyHome>& Home() const { return m_home; }
  void Attach(std::shared_ptr<DatabaseCore> db, const std::string& table);
  bool attachedToParent = false;  // appended to a TableDef or Index

 private:
  void CheckChangeable(const char* what) const;
  ColumnInfo Info();

  Kind m_kind;
  FieldSpec m_spec;  // name, type, size, attributes, required
  std::shared_ptr<PropertyHome> m_home;
  ComPtr<Recordset> m_rs;  // RecordsetField
  std::size_t m_index = 0;
  std::string m_sourceTable, m_sourceField;
};

class Index : public DaoObject {
 public:
  Index(IndexSpec def, bool attached);
  // An index of a table in the database.
  Index(IndexSpec def, std::shared_ptr<DatabaseCore> db, const std::string& table);

  HRESULT get_Name(BSTR* pbstr);
  HRESULT put_Name(BSTR bstr);
  HRESULT get_Primary(VARIANT_BOOL* pb);
  HRESULT put_Primary(VARIANT_BOOL b);
  HRESULT get_Unique(VARIANT_BOOL* pb);
  HRESULT put_Unique(VARIANT_BOOL b);
  HRESULT get_Required(VARIANT_BOOL* pb);
  HRESULT put_Required(VARIANT_BOOL b);
  HRESULT get_Fields(Fields** pp);
  HRESULT get_Properties(Properties** pp);
  HRESULT raw_CreateField(VARIANT Name, VARIANT Type, VARIANT Size, Field** pp);
  HRESULT raw_CreateProperty(VARIANT Name, VARIANT Type, VARIANT Value, VARIANT DDL, Property** pp);

  _bstr_t GetName();
  void PutName(const _bstr_t& name);
  PropertiesPtr GetProperties();
  PropertyPtr CreateProperty(const _variant_t& Name = vtMissing(),
                             const _variant_t& Type = vtMissing(),
                             const _variant_t& Value = vtMissing(),
                             const _variant_t& DDL = vtMissing());
  VARIANT_BOOL GetPrimary();
  void PutPrimary(VARIANT_BOOL b);
  VARIANT_BOOL GetUnique();
  void PutUnique(VARIANT_BOOL b);
  VARIANT_BOOL GetRequired();
  void PutRequired(VARIANT_BOOL b);
  FieldsPtr GetFields();
  FieldPtr CreateField(const _variant_t& Name = vtMissing(), const _variant_t& Type = vtMissing(),
                       const _variant_t& Size = vtMissing());

  IndexSpec Spec();  // with the names of the fields appended
  // The index now exists on `table`: pending properties are stored.
  void Attach(const std::shared_ptr<DatabaseCore>& db, const std::string& table);
  bool attachedToParent = false;

 private:
  void CheckChangeable(const char* what) const;
  IndexSpec m_spec;
  bool m_attached;
  FieldsPtr m_fields;
  std::shared_ptr<PropertyHome> m_home;
};

class Property : public DaoObject {
 public:
  // A new property (CreateProperty), not yet appended.
  explicit Property(PropertyRecord record);
  // A property of an object (through its home).
  Property(std::shared_ptr<PropertyHome> home, std::string name);

  HRESULT get_Name(BSTR* pbstr);
  HRESULT put_Name(BSTR bstr);
  HRESULT get_Type(short* ps);
  HRESULT put_Type(short s);
  HRESULT get_Value(VARIANT* pvar);
  HRESULT put_Value(VARIANT var);
  HRESULT get_Inherited(VARIANT_BOOL* pb);

  _bstr_t GetName();
  void PutName(const _bstr_t& name);
  short GetType();
  void PutType(short type);
  _variant_t GetValue();
  void PutValue(const _variant_t& value);

  bool IsAppended() const { return m_home != nullptr; }
  const PropertyRecord& Record() const { return m_record; }
  // Properties.Append: from now on the property lives in `home`.
  void AttachHome(std::shared_ptr<PropertyHome> home) { m_home = std::move(home); }

 private:
  PropertyRecord Current();
  PropertyRecord m_record;               // a new property's content
  std::shared_ptr<PropertyHome> m_home;  // set once appended
};

// ---- TableDef, QueryDef -----------------------------------------------------------

class TableDef : public DaoObject {
 public:
  // A new table definition (CreateTableDef).
  TableDef(std::shared_ptr<DatabaseCore> db, std::string name, LONG attributes);
  // A table of the database.
  TableDef(std::shared_ptr<DatabaseCore> db, std::string name);

  HRESULT get_Name(BSTR* pbstr);
  HRESULT put_Name(BSTR bstr);
  HRESULT get_Attributes(LONG* pl);
  HRESULT put_Attributes(LONG l);
  HRESULT get_Fields(Fields** pp);
  HRESULT get_Indexes(Indexes** pp);
  HRESULT get_Properties(Properties** pp);
  HRESULT get_RecordCount(LONG* pl);
  HRESULT raw_CreateField(VARIANT Name, VARIANT Type, VARIANT Size, Field** pp);
  HRESULT raw_CreateIndex(VARIANT Name, Index** pp);
  HRESULT raw_CreateProperty(VARIANT Name, VARIANT Type, VARIANT Value, VARIANT DDL, Property** pp);
  HRESULT raw_OpenRecordset(VARIANT Type, VARIANT Options, Recordset** pp);

  _bstr_t GetName();
  void PutName(const _bstr_t& name);
  LONG GetAttributes();
  void PutAttributes(LONG attributes);
  FieldsPtr GetFields();
  IndexesPtr GetIndexes();
  PropertiesPtr GetProperties();
  LONG GetRecordCount();
  FieldPtr CreateField(const _variant_t& Name = vtMissing(), const _variant_t& Type = vtMissing(),
                       const _variant_t& Size = vtMissing());
  IndexPtr CreateIndex(const _variant_t& Name = vtMissing());
  PropertyPtr CreateProperty(const _variant_t& Name = vtMissing(),
                             const _variant_t& Type = vtMissing(),
                             const _variant_t& Value = vtMissing(),
                             const _variant_t& DDL = vtMissing());
  RecordsetPtr OpenRecordset(const _variant_t& Type = vtMissing(),
                             const _variant_t& Options = vtMissing());

  // For TableDefs.Append.
  bool IsAppended() const { return m_appended; }
  void AppendTo(const std::shared_ptr<DatabaseCore>& db);
  const std::shared_ptr<DatabaseCore>& Db() const { return m_db; }

 private:
  std::shared_ptr<DatabaseCore> m_db;
  std::string m_name;
  LONG m_attributes = 0;
  bool m_appended;
  std::shared_ptr<PropertyHome> m_home;
  FieldsPtr m_newFields;    // fields of a new table
  IndexesPtr m_newIndexes;  // indexes of a new table
};

class QueryDef : public DaoObject {
 public:
  QueryDef(std::shared_ptr<DatabaseCore> db, std::string name, std::string sql, bool appended);

  HRESULT get_Name(BSTR* pbstr);
  HRESULT put_Name(BSTR bstr);
  HRESULT get_SQL(BSTR* pbstr);
  HRESULT put_SQL(BSTR bstr);
  HRESULT get_Fields(Fields** pp);
  HRESULT get_Properties(Properties** pp);
  HRESULT raw_CreateProperty(VARIANT Name, VARIANT Type, VARIANT Value, VARIANT DDL, Property** pp);
  HRESULT raw_OpenRecordset(VARIANT Type, VARIANT Options, VARIANT LockEdit, Recordset** pp);
  HRESULT raw_Execute(VARIANT Options);

  _bstr_t GetName();
  void PutName(const _bstr_t& name);
  _bstr_t GetSQL();
  void PutSQL(const _bstr_t& sql);
  FieldsPtr GetFields();
  PropertiesPtr GetProperties();
  PropertyPtr CreateProperty(const _variant_t& Name = vtMissing(),
                             const _variant_t& Type = vtMissing(),
                             const _variant_t& Value = vtMissing(),
                             const _variant_t& DDL = vtMissing());
  RecordsetPtr OpenRecordset(const _variant_t& Type = vtMissing(),
                             const _variant_t& Options = vtMissing(),
                             const _variant_t& LockEdit = vtMissing());
  void Execute(const _variant_t& Options = vtMissing());

  bool IsAppended() const { return m_appended; }
  void AppendTo(const std::shared_ptr<DatabaseCore>& db);

 private:
  std::shared_ptr<DatabaseCore> m_db;
  std::string m_name;
  std::string m_sql;
  bool m_appended;
  std::shared_ptr<PropertyHome> m_home;
};

// ---- Collections --------------------------------------------------------------------

class TableDefs : public DaoObject {
 public:
  explicit TableDefs(std::shared_ptr<DatabaseCore> db);
  HRESULT get_Count(short* ps);
  HRESULT get_Item(VARIANT Item, TableDef** pp);
  HRESULT raw_Append(TableDef* Object);
  HRESULT raw_Delete(BSTR Name);
  HRESULT raw_Refresh();
  short GetCount();
  TableDefPtr GetItem(const _variant_t& Item);
  void Append(TableDef* Object);
  void Append(const ComPtr<TableDef>& Object) { Append(Object.get()); }
  void Delete(const _bstr_t& Name);
  void Refresh();

 private:
  std::shared_ptr<DatabaseCore> m_db;
};

class QueryDefs : public DaoObject {
 public:
  explicit QueryDefs(std::shared_ptr<DatabaseCore> db);
  HRESULT get_Count(short* ps);
  HRESULT get_Item(VARIANT Item, QueryDef** pp);
  HRESULT raw_Append(QueryDef* Object);
  HRESULT raw_Delete(BSTR Name);
  HRESULT raw_Refresh();
  short GetCount();
  QueryDefPtr GetItem(const _variant_t& Item);
  void Append(QueryDef* Object);
  void Append(const ComPtr<QueryDef>& Object) { Append(Object.get()); }
  void Delete(const _bstr_t& Name);
  void Refresh();

 private:
  std::shared_ptr<DatabaseCore> m_db;
};

class Fields : public DaoObject {
 public:
  // Fields held by a new TableDef or an Index (Append adds to the list).
  explicit Fields(Field::Kind memberKind);
  // The fields of a table or query in the database.
  Fields(std::shared_ptr<DatabaseCore> db, std::string owner, Field::Kind memberKind);
  // The fields of a recordset.
  explicit Fields(ComPtr<Recordset> rs);

  HRESULT get_Count(short* ps);
  HRESULT get_Item(VARIANT Item, Field** pp);
  HRESULT raw_Append(Field* Object);
  HRESULT raw_Delete(BSTR Name);
  HRESULT raw_Refresh();
  short GetCount();
  FieldPtr GetItem(const _variant_t& Item);
  void Append(Field* Object);
  void Append(const ComPtr<Field>& Object) { Append(Object.get()); }
  void Delete(const _bstr_t& Name);
  void Refresh();

  const std::vector<FieldPtr>& List() const { return m_list; }

 private:
  std::vector<FieldPtr> Members();
  Field::Kind m_memberKind;
  std::shared_ptr<DatabaseCore> m_db;
  std::string m_owner;
  ComPtr<Recordset> m_rs;
  std::vector<FieldPtr> m_list;  // own list (new TableDef, Index)
  bool m_ownList = false;
};

class Indexes : public DaoObject {
 public:
  // The indexes of a new TableDef.
  Indexes();
  // The indexes of a table in the database.
  Indexes(std::shared_ptr<DatabaseCore> db, std::string table);

  HRESULT get_Count(short* ps);
  HRESULT get_Item(VARIANT Item, Index** pp);
  HRESULT raw_Append(Index* Object);
  HRESULT raw_Delete(BSTR Name);
  HRESULT raw_Refresh();
  short GetCount();
  IndexPtr GetItem(const _variant_t& Item);
  void Append(Index* Object);
  void Append(const ComPtr<Index>& Object) { Append(Object.get()); }
  void Delete(const _bstr_t& Name);
  void Refresh();

  const std::vector<IndexPtr>& List() const { return m_list; }

 private:
  std::vector<IndexPtr> Members();
  std::shared_ptr<DatabaseCore> m_db;
  std::string m_table;
  std::vector<IndexPtr> m_list;
  bool m_ownList = false;
};

class Properties : public DaoObject {
 public:
  explicit Properties(std::shared_ptr<PropertyHome> home);

  HRESULT get_Count(short* ps);
  HRESULT get_Item(VARIANT Item, Property** pp);
  HRESULT raw_Append(Property* Object);
  HRESULT raw_Delete(BSTR Name);
  HRESULT raw_Refresh();
  short GetCount();
  PropertyPtr GetItem(const _variant_t& Item);
  void Append(Property* Object);
  void Append(const ComPtr<Property>& Object) { Append(Object.get()); }
  void Delete(const _bstr_t& Name);
  void Refresh();

 private:
  std::vector<PropertyRecord> Records();
  std::shared_ptr<PropertyHome> m_home;
};

}  // namespace dao
