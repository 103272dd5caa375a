// The DAO object layer: common machinery, DBEngine, Database, Recordset.
#include <cstring>
#include <string_view>

#include "Engine/Dao.h"
#include "Platform/Text.h"

namespace dao {

// ---- Values and texts ------------------------------------------------------------

const _variant_t& vtMissing() {
  static const _variant_t missing(static_cast<LONG>(kParamNotFound), VT_ERROR);
  return missing;
}

bool IsMissing(const VARIANT& v) {
  return v.vt == VT_EMPTY || (v.vt == VT_ERROR && v.scode == kParamNotFound);
}

std::string Utf8(const OLECHAR* text) {
  if (!text) return {};
  return platform::WideToUtf8(std::u16string_view(text, std::char_traits<char16_t>::length(text)));
}

std::string Utf8(const _bstr_t& text) {
  return platform::WideToUtf8(text.view());
}

_bstr_t Bstr(const std::string& utf8) {
  return _bstr_t(std::u16string_view(platform::Utf8ToWide(utf8)));
}

Value ToValue(const VARIANT& in, const std::string& what) {
  const VARIANT* v = &in;
  if (v->vt == (VT_VARIANT | VT_BYREF) && v->pvarVal) v = v->pvarVal;
  VARTYPE vt = v->vt;
  if (vt & VT_BYREF) {
    switch (vt & VT_TYPEMASK) {
      case VT_BOOL:
        return *v->pboolVal != 0;
      case VT_UI1:
        return *v->pbVal;
      case VT_I2:
        return *v->piVal;
      case VT_I4:
        return *v->plVal;
      case VT_R4:
        return *v->pfltVal;
      case VT_R8:
        return *v->pdblVal;
      case VT_BSTR:
        return Utf8(*v->pbstrVal);
      default:
        break;
    }
  }
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      return {};
    case VT_BOOL:
      return v->boolVal != 0;
    case VT_UI1:
      return v->bVal;
    case VT_I1:
      return static_cast<std::int16_t>(v->cVal);
    case VT_I2:
      return v->iVal;
    case VT_UI2:
      return static_cast<std::int32_t>(v->uiVal);
    case VT_I4:
    case VT_INT:
      return static_cast<std::int32_t>(v->lVal);
    case VT_UI4:
    case VT_UINT:
      if (v->ulVal <= 0x7FFFFFFFu) return static_cast<std::int32_t>(v->ulVal);
      return static_cast<double>(v->ulVal);
    case VT_I8:
      if (v->llVal >= INT32_MIN && v->llVal <= INT32_MAX)
        return static_cast<std::int32_t>(v->llVal);
      return static_cast<double>(v->llVal);
    case VT_UI8:
      if (v->ullVal <= 0x7FFFFFFFu) return static_cast<std::int32_t>(v->ullVal);
      return static_cast<double>(v->ullVal);
    case VT_R4:
      return v->fltVal;
    case VT_R8:
      return v->dblVal;
    case VT_CY:
      return Currency{v->cyVal.int64};
    case VT_DATE:
      return Date{v->date};
    case VT_BSTR: {
      BSTR b = v->bstrVal;
      const UINT n = SysStringLen(b);
      std::string out(n, '\0');
      for (UINT i = 0; i < n; ++i) {
        if (b[i] >= 0x80) return platform::WideToUtf8(std::u16string_view(b, n));
        out[i] = static_cast<char>(b[i]);
      }
      return out;
    }
    case VT_ARRAY | VT_UI1: {
      SAFEARRAY* sa = v->parray;
      Bytes bytes;
      if (sa && SafeArrayGetDim(sa) == 1) {
        LONG lo = 0, hi = -1;
        SafeArrayGetLBound(sa, 1, &lo);
        SafeArrayGetUBound(sa, 1, &hi);
        void* data = nullptr;
        if (hi >= lo && SUCCEEDED(SafeArrayAccessData(sa, &data))) {
          const auto* p = static_cast<const std::uint8_t*>(data);
          bytes.assign(p, p + (hi - lo + 1));
          SafeArrayUnaccessData(sa);
        }
      }
      return bytes;
    }
    default:
      Fail(kErrConversion, "Data type conversion error: a value of VARIANT type " +
                               std::to_string(vt) + " cannot be stored (" + what + ").");
  }
}

namespace {

BSTR AllocUtf8(const char* text, std::size_t n) {
  // ASCII (the usual case) widens straight into the BSTR; a text with other
  // characters is converted through a UTF-16 string instead.
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(n));
  if (!b) throw std::bad_alloc();
  unsigned char high = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    high |= c;
    b[i] = static_cast<char16_t>(c);
  }
  if (high < 0x80) return b;
  SysFreeString(b);
  std::u16string w = platform::Utf8ToWide(std::string_view(text, n));
  b = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
  if (!b) throw std::bad_alloc();
  return b;
}

}  // namespace

void FillVariant(const Value& value, VARIANT& v) {
  switch (KindOf(value)) {
    case ValueKind::Null:
      v.vt = VT_NULL;
      break;
    case ValueKind::Boolean:
      v.vt = VT_BOOL;
      v.boolVal = std::get<bool>(value) ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case ValueKind::Byte:
      v.vt = VT_UI1;
      v.bVal = std::get<std::uint8_t>(value);
      break;
    case ValueKind::Integer:
      v.vt = VT_I2;
      v.iVal = std::get<std::int16_t>(value);
      break;
    case ValueKind::Long:
      v.vt = VT_I4;
      v.lVal = std::get<std::int32_t>(value);
      break;
    case ValueKind::Single:
      v.vt = VT_R4;
      v.fltVal = std::get<float>(value);
      break;
    case ValueKind::Double:
      v.vt = VT_R8;
      v.dblVal = std::get<double>(value);
      break;
    case ValueKind::Currency:
      v.vt = VT_CY;
      v.cyVal.int64 = std::get<Currency>(value).scaled;
      break;
    case ValueKind::Date:
      v.vt = VT_DATE;
      v.date = std::get<Date>(value).value;
      break;
    case ValueKind::Text: {
      const std::string& text = std::get<std::string>(value);
      v.bstrVal = AllocUtf8(text.data(), text.size());
      v.vt = VT_BSTR;
      break;
    }
    case ValueKind::Binary: {
      const Bytes& bytes = std::get<Bytes>(value);
      SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
      if (!sa) throw std::bad_alloc();
      void* data = nullptr;
      if (!bytes.empty() && SUCCEEDED(SafeArrayAccessData(sa, &data))) {
        std::memcpy(data, bytes.data(), bytes.size());
        SafeArrayUnaccessData(sa);
      }
      v.vt = VT_ARRAY | VT_UI1;
      v.parray = sa;
      break;
    }
  }
}

namespace {

// A cached cell straight into a VARIANT (numbers and text without a Value
// in between).
void FillVariant(const StoredCell& c, const std::string& arena, VARIANT& v) {
  switch (static_cast<ValueKind>(c.kind)) {
    case ValueKind::Long:
      v.vt = VT_I4;
      v.lVal = static_cast<LONG>(c.i);
      return;
    case ValueKind::Double:
      v.vt = VT_R8;
      v.dblVal = c.d;
      return;
    case ValueKind::Text:
      v.bstrVal = AllocUtf8(arena.data() + c.offset, c.size);
      v.vt = VT_BSTR;
      return;
    default:
      FillVariant(DecodeCell(c, arena), v);
      return;
  }
}

}  // namespace

_variant_t FromValue(const Value& value) {
  _variant_t out;
  FillVariant(value, out.GetVARIANT());
  return out;
}

namespace {

std::string TextArg(const VARIANT& v, const std::string& what) {
  if (IsMissing(v)) return {};
  Value value = ToValue(v, what);
  if (IsNull(value)) return {};
  return std::get<std::string>(ConvertToType(value, dbText, what));
}

bool BoolArg(const VARIANT& v, bool def, const std::string& what) {
  if (IsMissing(v)) return def;
  Value value = ToValue(v, what);
  if (IsNull(value)) return def;
  return std::get<bool>(ConvertToType(value, dbBoolean, what));
}

LONG LongArg(const VARIANT& v, LONG def, const std::string& what) {
  if (IsMissing(v)) return def;
  Value value = ToValue(v, what);
  if (IsNull(value)) return def;
  return std::get<std::int32_t>(ConvertToType(value, dbLong, what));
}

template <typename T>
ComPtr<T> Own(T* p) {
  return ComPtr<T>(p);
}

}  // namespace

DBEnginePtr CreateDBEngine() {
  return Own(new DBEngine());
}

// ---- DaoObject -------------------------------------------------------------------

HRESULT DaoObject::QueryInterface(REFIID riid, void** ppvObject) {
  if (!ppvObject) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISupportErrorInfo) ||
      IsEqualIID(riid, *m_iid)) {
    *ppvObject = static_cast<ISupportErrorInfo*>(this);
    AddRef();
    return S_OK;
  }
  *ppvObject = nullptr;
  return E_NOINTERFACE;
}

ULONG DaoObject::AddRef() {
  return ++m_refs;
}

ULONG DaoObject::Release() {
  ULONG n = --m_refs;
  if (n == 0) delete this;
  return n;
}

HRESULT DaoObject::InterfaceSupportsErrorInfo(REFIID riid) {
  return IsEqualIID(riid, *m_iid) ? S_OK : S_FALSE;
}

HRESULT DaoObject::Report(HRESULT hr, const std::string& description) noexcept {
  try {
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create)) && create) {
      std::u16string source(m_source);
      std::u16string text = platform::Utf8ToWide(description);
      create->SetGUID(*m_iid);
      create->SetSource(source.data());
      create->SetDescription(text.data());
      IErrorInfo* info = nullptr;
      if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) &&
          info) {
        SetErrorInfo(0, info);
        info->Release();
      }
      create->Release();
    }
  } catch (...) {
  }
  return hr;
}

// ---- DBEngine ----------------------------------------------------------------------

HRESULT DBEngine::raw_OpenDatabase(BSTR Name, VARIANT Options, VARIANT ReadOnly, VARIANT Connect,
                                   Database** ppDb) {
  return Boundary([&] {
    if (!ppDb)
      throw EngineError::FromHResult(E_POINTER, "OpenDatabase needs a place for the database.");
    *ppDb = nullptr;
    bool exclusive = BoolArg(Options, false, "the Options of OpenDatabase");
    bool readOnly = BoolArg(ReadOnly, false, "the ReadOnly argument of OpenDatabase");
    std::string connect = TextArg(Connect, "the Connect argument of OpenDatabase");
    auto core = DatabaseCore::Open(Utf8(Name), exclusive, readOnly, connect);
    Check(Hand(Own(new Database(std::move(core))), ppDb));
  });
}

HRESULT DBEngine::raw_CreateDatabase(BSTR Name, BSTR Connect, VARIANT, Database** ppDb) {
  return Boundary([&] {
    if (!ppDb)
      throw EngineError::FromHResult(E_POINTER, "CreateDatabase needs a place for the database.");
    *ppDb = nullptr;
    auto core = DatabaseCore::Create(Utf8(Name), Utf8(Connect));
    Check(Hand(Own(new Database(std::move(core))), ppDb));
  });
}

HRESULT DBEngine::raw_CompactDatabase(BSTR SrcName, BSTR DstName, VARIANT DstLocale,
                                      VARIANT Options, VARIANT SrcLocale) {
  return Boundary([&] {
    std::string dstConnect = TextArg(DstLocale, "the destination connect text of CompactDatabase");
    std::string srcConnect;
    if (IsMissing(SrcLocale) && Options.vt == VT_BSTR)  // (src, dst, dstConnect, srcConnect)
      srcConnect = TextArg(Options, "the source connect text of CompactDatabase");
    else
      srcConnect = TextArg(SrcLocale, "the source connect text of CompactDatabase");
    if (!ParseConnect(srcConnect).hasPassword) srcConnect = dstConnect;
    DatabaseCore::Compact(Utf8(SrcName), Utf8(DstName), dstConnect, srcConnect);
  });
}

HRESULT DBEngine::raw_CompactDatabaseInPlace(BSTR Name, BSTR TempName, VARIANT Connect) {
  return Boundary([&] {
    DatabaseCore::CompactInPlace(Utf8(Name), Utf8(TempName),
                                 TextArg(Connect, "the connect text of CompactDatabaseInPlace"));
  });
}

DatabasePtr DBEngine::OpenDatabase(const _bstr_t& Name, const _variant_t& Options,
                                   const _variant_t& ReadOnly, const _variant_t& Connect) {
  Database* p = nullptr;
  Check(raw_OpenDatabase(Name, Options, ReadOnly, Connect, &p));
  DatabasePtr out;
  out.Attach(p);
  return out;
}

DatabasePtr DBEngine::CreateDatabase(const _bstr_t& Name, const _bstr_t& Connect,
                                     const _variant_t& Option) {
  Database* p = nullptr;
  Check(raw_CreateDatabase(Name, Connect, Option, &p));
  DatabasePtr out;
  out.Attach(p);
  return out;
}

void DBEngine::CompactDatabase(const _bstr_t& SrcName, const _bstr_t& DstName,
                               const _variant_t& DstLocale, const _variant_t& Options,
                               const _variant_t& SrcLocale) {
  Check(raw_CompactDatabase(SrcName, DstName, DstLocale, Options, SrcLocale));
}

void DBEngine::CompactDatabaseInPlace(const _bstr_t& Name, const _bstr_t& TempName,
                                      const _variant_t& Connect) {
  Check(raw_CompactDatabaseInPlace(Name, TempName, Connect));
}

// ---- Database ----------------------------------------------------------------------

Database::Database(std::shared_ptr<DatabaseCore> core)
    : DaoObject(IID_Database, u"DAO.Database"), m_core(std::move(core)) {
  m_home = std::make_shared<PropertyHome>();
  m_home->db = m_core;
  m_home->ref = ObjectRef{ObjectKind::Database, "", ""};
}

Database::~Database() {
  try {
    m_core->Close();
  } catch (...) {
  }
}

HRESULT Database::get_Name(BSTR* pbstr) {
  return Boundary([&] {
    if (!pbstr)
      throw EngineError::FromHResult(E_POINTER, "Database.Name needs a place for the name.");
    *pbstr = Bstr(m_core->Name()).Detach();
  });
}

HRESULT Database::raw_Close() {
  return Boundary([&] {
    m_core->CheckOpen();
    m_core->Close();
  });
}

HRESULT Database::raw_OpenRecordset(BSTR Name, VARIANT, VARIANT, VARIANT, Recordset** ppRs) {
  return Boundary([&] {
    if (!ppRs)
      throw EngineError::FromHResult(E_POINTER, "OpenRecordset needs a place for the recordset.");
    *ppRs = nullptr;
    std::string text = Utf8(Name);
    m_core->CheckOpen();
    // A table or query name opens all of its rows.
    // A table or query name opens all of its rows; SQL text is recognised by
    // its first word without asking the catalog.
    std::size_t start = text.find_first_not_of(" \t\r\n(");
    std::string first = Lower(text.substr(start == std::string::npos ? text.size() : start, 10));
    bool isSql = first.rfind("select", 0) == 0 || first.rfind("transform", 0) == 0 ||
                 first.rfind("parameters", 0) == 0;
    if (!isSql && (m_core->FindTable(text) || m_core->IsQuery(text)))
      text = "SELECT * FROM [" + text + "]";
    Check(Hand(Own(new Recordset(m_core->OpenRecordset(text))), ppRs));
  });
}

HRESULT Database::raw_Execute(BSTR Query, VARIANT) {
  return Boundary([&] { m_recordsAffected = m_core->Execute(Utf8(Query)); });
}

HRESULT Database::get_RecordsAffected(LONG* pl) {
  return Boundary([&] {
    if (!pl)
      throw EngineError::FromHResult(E_POINTER, "RecordsAffected needs a place for the count.");
    *pl = m_recordsAffected;
  });
}

HRESULT Database::raw_BeginTrans() {
  return Boundary([&] { m_core->BeginTrans(); });
}

HRESULT Database::raw_CommitTrans(LONG Options) {
  return Boundary([&] { m_core->CommitTrans(Options); });
}

HRESULT Database::raw_Rollback() {
  return Boundary([&] { m_core->Rollback(); });
}

HRESULT Database::get_Properties(Properties** pp) {
  return Boundary([&] {
    m_core->CheckOpen();
    Check(Hand(Own(new Properties(m_home)), pp));
  });
}

PropertyPtr MakeNewProperty(const VARIANT& Name, const VARIANT& Type, const VARIANT& Value);

HRESULT Database::raw_CreateProperty(VARIANT Name, VARIANT Type, VARIANT Value, VARIANT,
                                     Property** pp) {
  return Boundary([&] { Check(Hand(MakeNewProperty(Name, Type, Value), pp)); });
}

HRESULT Database::get_TableDefs(TableDefs** pp) {
  return Boundary([&] {
    m_core->CheckOpen();
    Check(Hand(Own(new TableDefs(m_core)), pp));
  });
}

HRESULT Database::get_QueryDefs(QueryDefs** pp) {
  return Boundary([&] {
    m_core->CheckOpen();
    Check(Hand(Own(new QueryDefs(m_core)), pp));
  });
}

HRESULT Database::raw_CreateTableDef(VARIANT Name, VARIANT Attributes, VARIANT, VARIANT,
                                     TableDef** pp) {
  return Boundary([&] {
    m_core->CheckOpen();
    std::string name = TextArg(Name, "the name of a new table");
    LONG attributes = LongArg(Attributes, 0, "the attributes of table '" + name + "'");
    Check(Hand(Own(new TableDef(m_core, name, attributes)), pp));
  });
}

HRESULT Database::raw_CreateQueryDef(VARIANT Name, VARIANT SQLText, QueryDef** pp) {
  return Boundary([&] {
    m_core->CheckOpen();
    std::string name = TextArg(Name, "the name of a new query");
    std::string sql = TextArg(SQLText, "the SQL of query '" + name + "'");
    // A named query definition is saved at once, as DAO does.
    if (!name.empty()) m_core->CreateQuery(name, sql);
    Check(Hand(Own(new QueryDef(m_core, name, sql, !name.empty())), pp));
  });
}

_bstr_t Database::GetName() {
  BSTR b = nullptr;
  Check(get_Name(&b));
  return _bstr_t(b, false);
}

void Database::Close() {
  Check(raw_Close());
}

RecordsetPtr Database::OpenRecordset(const _bstr_t& Name, const _variant_t& Type,
                                     const _variant_t& Options, const _variant_t& LockEdit) {
  Recordset* p = nullptr;
  Check(raw_OpenRecordset(Name, Type, Options, LockEdit, &p));
  RecordsetPtr out;
  out.Attach(p);
  return out;
}

void Database::Execute(const _bstr_t& Query, const _variant_t& Options) {
  Check(raw_Execute(Query, Options));
}

LONG Database::GetRecordsAffected() {
  LONG n = 0;
  Check(get_RecordsAffected(&n));
  return n;
}

void Database::BeginTrans() {
  Check(raw_BeginTrans());
}

void Database::CommitTrans(LONG Options) {
  Check(raw_CommitTrans(Options));
}

void Database::Rollback() {
  Check(raw_Rollback());
}

PropertiesPtr Database::GetProperties() {
  Properties* p = nullptr;
  Check(get_Properties(&p));
  PropertiesPtr out;
  out.Attach(p);
  return out;
}

PropertyPtr Database::CreateProperty(const _variant_t& Name, const _variant_t& Type,
                                     const _variant_t& Value, const _variant_t& DDL) {
  Property* p = nullptr;
  Check(raw_CreateProperty(Name, Type, Value, DDL, &p));
  PropertyPtr out;
  out.Attach(p);
  return out;
}

TableDefsPtr Database::GetTableDefs() {
  TableDefs* p = nullptr;
  Check(get_TableDefs(&p));
  TableDefsPtr out;
  out.Attach(p);
  return out;
}

QueryDefsPtr Database::GetQueryDefs() {
  QueryDefs* p = nullptr;
  Check(get_QueryDefs(&p));
  QueryDefsPtr out;
  out.Attach(p);
  return out;
}

TableDefPtr Database::CreateTableDef(const _variant_t& Name, const _variant_t& Attributes,
                                     const _variant_t& SourceTableName, const _variant_t& Connect) {
  TableDef* p = nullptr;
  Check(raw_CreateTableDef(Name, Attributes, SourceTableName, Connect, &p));
  TableDefPtr out;
  out.Attach(p);
  return out;
}

QueryDefPtr Database::CreateQueryDef(const _variant_t& Name, const _variant_t& SQLText) {
  QueryDef* p = nullptr;
  Check(raw_CreateQueryDef(Name, SQLText, &p));
  QueryDefPtr out;
  out.Attach(p);
  return out;
}

// ---- Recordset -------------------------------------------------------------------------

Recordset::Recordset(std::unique_ptr<RecordsetCore> core)
    : DaoObject(IID_Recordset, u"DAO.Recordset"), m_core(std::move(core)) {}

RecordsetCore& Recordset::Core() {
  return *m_core;
}

namespace {

// Whether a field name equals a text, ignoring ASCII case (names are
// usually ASCII; other names go through RecordsetCore::FieldIndex).
bool SameName(const std::u16string& name, const OLECHAR* text, std::size_t len) {
  if (name.size() != len) return false;
  for (std::size_t k = 0; k < len; ++k) {
    char16_t a = name[k], b = text[k];
    if (a == b) continue;
    if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a + 32);
    if (b >= u'A' && b <= u'Z') b = static_cast<char16_t>(b + 32);
    if (a != b) return false;
  }
  return true;
}

}  // namespace

std::size_t Recordset::FieldOf(const VARIANT& item) {
  const VARIANT* v = &item;
  if (v->vt == (VT_VARIANT | VT_BYREF) && v->pvarVal) v = v->pvarVal;
  // Callers read the same fields in the same order row after row: the field
  // after the last one found is tried first.
  if (v->vt == VT_BSTR) {
    const RecordsetLayout& layout = m_core->Layout();
    const std::size_t next = m_lastField + 1 < layout.wideNames.size() ? m_lastField + 1 : 0;
    if (next < layout.wideNames.size() &&
        SameName(layout.wideNames[next], v->bstrVal ? v->bstrVal : u"", SysStringLen(v->bstrVal))) {
      m_lastField = next;
      return layout.firstOf[next];
    }
  }
  return FindField(*v);
}

std::size_t Recordset::FindField(const VARIANT& item) {
  const VARIANT* v = &item;
  if (v->vt == VT_BSTR) {
    // Compare the BSTR with the fields' names without converting it.
    const std::vector<std::u16string>& names = m_core->Layout().wideNames;
    const OLECHAR* text = v->bstrVal ? v->bstrVal : u"";
    const std::size_t len = SysStringLen(v->bstrVal);
    for (std::size_t i = 0; i < names.size(); ++i)
      if (SameName(names[i], text, len)) {
        m_lastField = i;
        return i;
      }
    std::string name = Utf8(v->bstrVal);
    int i = m_core->FieldIndex(name);
    if (i < 0)
      Fail(kErrItemNotFound, "Item not found in this collection: recordset '" + m_core->Sql() +
                                 "' has no field '" + name + "'.");
    return static_cast<std::size_t>(i);
  }
  LONG i = LongArg(*v, -1, "a field index");
  if (i < 0 || static_cast<std::size_t>(i) >= m_core->FieldCount())
    Fail(kErrItemNotFound, "Item not found in this collection: recordset '" + m_core->Sql() +
                               "' has no field number " + std::to_string(i) + ".");
  return static_cast<std::size_t>(i);
}

#define VEM_OUT_CHECK(p, what) \
  if (!(p))                    \
  throw EngineError::FromHResult(E_POINTER, std::string(what) + " needs a place for its result.")

HRESULT Recordset::get_Name(BSTR* pbstr) {
  return Boundary([&] {
    VEM_OUT_CHECK(pbstr, "Recordset.Name");
    *pbstr = Bstr(m_core->Sql()).Detach();
  });
}

HRESULT Recordset::get_BOF(VARIANT_BOOL* pb) {
  return Boundary([&] {
    VEM_OUT_CHECK(pb, "Recordset.BOF");
    *pb = m_core->IsBOF() ? VARIANT_TRUE : VARIANT_FALSE;
  });
}

HRESULT Recordset::get_EOF(VARIANT_BOOL* pb) {
  return Boundary([&] {
    VEM_OUT_CHECK(pb, "Recordset.EOF");
    *pb = m_core->IsEOF() ? VARIANT_TRUE : VARIANT_FALSE;
  });
}

HRESULT Recordset::get_NoMatch(VARIANT_BOOL* pb) {
  return Boundary([&] {
    VEM_OUT_CHECK(pb, "Recordset.NoMatch");
    *pb = m_core->NoMatch() ? VARIANT_TRUE : VARIANT_FALSE;
  });
}

HRESULT Recordset::get_RecordCount(LONG* pl) {
  return Boundary([&] {
    VEM_OUT_CHECK(pl, "Recordset.RecordCount");
    *pl = m_core->RecordCount();
  });
}

HRESULT Recordset::get_AbsolutePosition(LONG* pl) {
  return Boundary([&] {
    VEM_OUT_CHECK(pl, "Recordset.AbsolutePosition");
    *pl = m_core->AbsolutePosition();
  });
}

HRESULT Recordset::put_AbsolutePosition(LONG l) {
  return Boundary([&] { m_core->SetAbsolutePosition(l); });
}

HRESULT Recordset::get_EditMode(short* ps) {
  return Boundary([&] {
    VEM_OUT_CHECK(ps, "Recordset.EditMode");
    *ps = static_cast<short>(m_core->EditMode());
  });
}

HRESULT Recordset::get_Updatable(VARIANT_BOOL* pb) {
  return Boundary([&] {
    VEM_OUT_CHECK(pb, "Recordset.Updatable");
    *pb = m_core->Updatable() ? VARIANT_TRUE : VARIANT_FALSE;
  });
}

HRESULT Recordset::raw_MoveFirst() {
  return Boundary([&] { m_core->MoveFirst(); });
}
HRESULT Recordset::raw_MoveLast(LONG) {
  return Boundary([&] { m_core->MoveLast(); });
}
HRESULT Recordset::raw_MoveNext() {
  return Boundary([&] { m_core->MoveNext(); });
}
HRESULT Recordset::raw_MovePrevious() {
  return Boundary([&] { m_core->MovePrevious(); });
}
HRESULT Recordset::raw_FindFirst(BSTR Criteria) {
  return Boundary([&] { m_core->Find(FindKind::First, Utf8(Criteria)); });
}
HRESULT Recordset::raw_FindLast(BSTR Criteria) {
  return Boundary([&] { m_core->Find(FindKind::Last, Utf8(Criteria)); });
}
HRESULT Recordset::raw_FindNext(BSTR Criteria) {
  return Boundary([&] { m_core->Find(FindKind::Next, Utf8(Criteria)); });
}
HRESULT Recordset::raw_FindPrevious(BSTR Criteria) {
  return Boundary([&] { m_core->Find(FindKind::Previous, Utf8(Criteria)); });
}

HRESULT Recordset::get_Collect(VARIANT Item, VARIANT* pvar) {
  return Boundary([&] {
    VEM_OUT_CHECK(pvar, "Recordset.Collect");
    std::size_t i = FieldOf(Item);  // GetValue refuses a closed recordset (3420)
    VARIANT v;
    v.vt = VT_EMPTY;
    RecordsetCore::ValueRef r = m_core->Locate(i);
    if (r.value)
      FillVariant(*r.value, v);
    else
      FillVariant(*r.cell, *r.arena, v);
    *pvar = v;
  });
}

HRESULT Recordset::put_Collect(VARIANT Item, VARIANT value) {
  return Boundary([&] {
    m_core->IsBOF();
    std::size_t i = FieldOf(Item);
    m_core->SetValue(i, ToValue(value, m_core->FieldAt(i).info.name));
  });
}

HRESULT Recordset::get_Fields(Fields** pp) {
  return Boundary([&] {
    m_core->IsBOF();
    Check(Hand(Own(new Fields(RecordsetPtr(this))), pp));
  });
}

HRESULT Recordset::raw_AddNew() {
  return Boundary([&] { m_core->AddNew(); });
}
HRESULT Recordset::raw_Edit() {
  return Boundary([&] { m_core->Edit(); });
}
HRESULT Recordset::raw_Update(LONG, VARIANT_BOOL) {
  return Boundary([&] { m_core->Update(); });
}
HRESULT Recordset::raw_CancelUpdate(LONG) {
  return Boundary([&] { m_core->CancelUpdate(); });
}
HRESULT Recordset::raw_Delete() {
  return Boundary([&] { m_core->Delete(); });
}
HRESULT Recordset::raw_Close() {
  return Boundary([&] {
    if (!m_core->IsOpen())
      Fail(kErrObjectInvalid, "Recordset '" + m_core->Sql() + "' is already closed.");
    m_core->Close();
  });
}
HRESULT Recordset::raw_Requery(VARIANT) {
  return Boundary([&] { m_core->Requery(); });
}

_bstr_t Recordset::GetName() {
  BSTR b = nullptr;
  Check(get_Name(&b));
  return _bstr_t(b, false);
}
VARIANT_BOOL Recordset::GetBOF() {
  VARIANT_BOOL b = 0;
  Check(get_BOF(&b));
  return b;
}
VARIANT_BOOL Recordset::GetEOF() {
  VARIANT_BOOL b = 0;
  Check(get_EOF(&b));
  return b;
}
VARIANT_BOOL Recordset::GetNoMatch() {
  VARIANT_BOOL b = 0;
  Check(get_NoMatch(&b));
  return b;
}
LONG Recordset::GetRecordCount() {
  LONG n = 0;
  Check(get_RecordCount(&n));
  return n;
}
LONG Recordset::GetAbsolutePosition() {
  LONG n = 0;
  Check(get_AbsolutePosition(&n));
  return n;
}
void Recordset::PutAbsolutePosition(LONG l) {
  Check(put_AbsolutePosition(l));
}
short Recordset::GetEditMode() {
  short s = 0;
  Check(get_EditMode(&s));
  return s;
}
VARIANT_BOOL Recordset::GetUpdatable() {
  VARIANT_BOOL b = 0;
  Check(get_Updatable(&b));
  return b;
}
void Recordset::MoveFirst() {
  Check(raw_MoveFirst());
}
void Recordset::MoveLast(LONG Options) {
  Check(raw_MoveLast(Options));
}
void Recordset::MoveNext() {
  Check(raw_MoveNext());
}
void Recordset::MovePrevious() {
  Check(raw_MovePrevious());
}
void Recordset::FindFirst(const _bstr_t& Criteria) {
  Check(raw_FindFirst(Criteria));
}
void Recordset::FindLast(const _bstr_t& Criteria) {
  Check(raw_FindLast(Criteria));
}
void Recordset::FindNext(const _bstr_t& Criteria) {
  Check(raw_FindNext(Criteria));
}
void Recordset::FindPrevious(const _bstr_t& Criteria) {
  Check(raw_FindPrevious(Criteria));
}
_variant_t Recordset::GetCollect(const _variant_t& Item) {
  _variant_t out;  // filled in place: no copy of the value
  Check(get_Collect(Item, &out.GetVARIANT()));
  return out;
}
void Recordset::PutCollect(const _variant_t& Item, const _variant_t& value) {
  Check(put_Collect(Item, value));
}
bool Recordset::GetCollectText(const _variant_t& Item, std::string_view& text, _variant_t& other) {
  bool isText = false;
  Check(Boundary([&] {
    std::size_t i = FieldOf(Item);
    RecordsetCore::ValueRef r = m_core->Locate(i);
    VARIANT v;
    v.vt = VT_EMPTY;
    if (r.value) {
      if (const std::string* s = std::get_if<std::string>(r.value)) {
        text = *s;
        isText = true;
        return;
      }
      FillVariant(*r.value, v);
    } else {
      if (static_cast<ValueKind>(r.cell->kind) == ValueKind::Text) {
        text = std::string_view(r.arena->data() + r.cell->offset, r.cell->size);
        isText = true;
        return;
      }
      FillVariant(*r.cell, *r.arena, v);
    }
    other.Attach(v);
  }));
  return isText;
}
void Recordset::PutCollectText(const _variant_t& Item, std::string_view utf8) {
  Check(Boundary([&] {
    m_core->IsBOF();
    std::size_t i = FieldOf(Item);
    m_core->SetValue(i, Value(std::string(utf8)));
  }));
}
FieldsPtr Recordset::GetFields() {
  Fields* p = nullptr;
  Check(get_Fields(&p));
  FieldsPtr out;
  out.Attach(p);
  return out;
}
void Recordset::AddNew() {
  Check(raw_AddNew());
}
void Recordset::Edit() {
  Check(raw_Edit());
}
void Recordset::Update(LONG UpdateType, VARIANT_BOOL Force) {
  Check(raw_Update(UpdateType, Force));
}
void Recordset::CancelUpdate(LONG UpdateType) {
  Check(raw_CancelUpdate(UpdateType));
}
void Recordset::Delete() {
  Check(raw_Delete());
}
void Recordset::Close() {
  Check(raw_Close());
}
void Recordset::Requery(const _variant_t& NewQueryDef) {
  Check(raw_Requery(NewQueryDef));
}

}  // namespace dao
