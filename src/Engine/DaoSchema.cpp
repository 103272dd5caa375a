// The DAO object layer: Field, Index, Property, TableDef, QueryDef and the
// collections.
#include <algorithm>

#include "Engine/Dao.h"

namespace dao {

namespace {

template <typename T>
ComPtr<T> Own(T* p) {
  return ComPtr<T>(p);
}

template <typename T>
ComPtr<T> Take(T* p) {
  ComPtr<T> out;
  out.Attach(p);
  return out;
}

[[noreturn]] void NullObject(const std::string& what) {
  throw EngineError::FromHResult(E_POINTER, what + ": no object was given.");
}

#define VEM_OUT(p, what) \
  if (!(p)) NullObject(what)

std::string TextArg(const VARIANT& v, const std::string& what) {
  if (IsMissing(v)) return {};
  Value value = ToValue(v, what);
  if (IsNull(value)) return {};
  return std::get<std::string>(ConvertToType(value, dbText, what));
}

LONG LongArg(const VARIANT& v, LONG def, const std::string& what) {
  if (IsMissing(v)) return def;
  Value value = ToValue(v, what);
  if (IsNull(value)) return def;
  return std::get<std::int32_t>(ConvertToType(value, dbLong, what));
}

// An item of a collection: a position or a name.
struct ItemKey {
  bool byName = false;
  std::string name;
  LONG index = -1;
};

ItemKey KeyOf(const VARIANT& item, const std::string& what) {
  const VARIANT* v = &item;
  if (v->vt == (VT_VARIANT | VT_BYREF) && v->pvarVal) v = v->pvarVal;
  ItemKey k;
  if (v->vt == VT_BSTR || v->vt == (VT_BSTR | VT_BYREF)) {
    k.byName = true;
    k.name = Utf8(v->vt == VT_BSTR ? v->bstrVal : *v->pbstrVal);
  } else {
    k.index = LongArg(*v, -1, what);
  }
  return k;
}

std::string Describe(const ItemKey& k) {
  return k.byName ? "'" + k.name + "'" : "number " + std::to_string(k.index);
}

std::int32_t DefaultAttributes(int type) {
  return (type == dbText || type == dbMemo || type == dbBinary || type == dbLongBinary)
             ? dbVariableField
             : dbFixedField;
}

}  // namespace

PropertyPtr MakeNewProperty(const VARIANT& Name, const VARIANT& Type, const VARIANT& Value) {
  PropertyRecord r;
  r.name = TextArg(Name, "the name of a new property");
  r.value =
      IsMissing(Value) ? dao::Value{} : ToValue(Value, "the value of property '" + r.name + "'");
  r.type = LongArg(Type, IsNull(r.value) ? dbText : InferType(r.value),
                   "the type of property '" + r.name + "'");
  return Own(new Property(std::move(r)));
}

// ---- Field ---------------------------------------------------------------------------

Field::Field(Kind kind, FieldSpec def)
    : DaoObject(IID_Field, u"DAO.Field"), m_kind(kind), m_spec(std::move(def)) {
  m_home = std::make_shared<PropertyHome>();
  m_home->ref = ObjectRef{ObjectKind::TableField, "", m_spec.name};
  m_home->canHold = kind == Kind::New;
}

Field::Field(Kind kind, std::shared_ptr<DatabaseCore> db, std::string owner, ColumnInfo info)
    : DaoObject(IID_Field, u"DAO.Field"), m_kind(kind) {
  m_spec.name = info.name;
  m_spec.type = info.type;
  m_spec.size = info.size;
  m_spec.attributes = info.attributes;
  m_spec.required = info.required;
  m_sourceTable = kind == Kind::TableField ? owner : "";
  m_sourceField = kind == Kind::TableField ? info.name : "";
  m_home = std::make_shared<PropertyHome>();
  m_home->db = std::move(db);
  m_home->ref =
      ObjectRef{kind == Kind::TableField ? ObjectKind::TableField : ObjectKind::QueryField,
                std::move(owner), info.name};
}

Field::Field(ComPtr<Recordset> rs, std::size_t index)
    : DaoObject(IID_Field, u"DAO.Field"),
      m_kind(Kind::RecordsetField),
      m_rs(std::move(rs)),
      m_index(index) {
  const FieldDesc& d = m_rs->Core().FieldAt(index);
  m_spec.name = d.info.name;
  m_sourceTable = d.sourceTable;
  m_sourceField = d.sourceColumn;
  m_home = std::make_shared<PropertyHome>();
  m_home->ref = ObjectRef{ObjectKind::TableField, d.sourceTable, d.sourceColumn};
  m_home->canHold = false;
}

void Field::Attach(std::shared_ptr<DatabaseCore> db, const std::string& table) {
  m_kind = Kind::TableField;
  m_sourceTable = table;
  m_sourceField = m_spec.name;
  m_home->db = db;
  m_home->ref = ObjectRef{ObjectKind::TableField, table, m_spec.name};
  m_home->canHold = true;
  for (const auto& p : m_home->pending) db->AppendProperty(m_home->ref, p);
  m_home->pending.clear();
}

ColumnInfo Field::Info() {
  switch (m_kind) {
    case Kind::TableField: {
      const ColumnInfo* c = m_home->db->ColumnOf(m_home->ref.object, m_spec.name);
      if (!c)
        Fail(kErrItemNotFound,
             "Field '" + m_spec.name + "' of table '" + m_home->ref.object + "' no longer exists.");
      return *c;
    }
    case Kind::RecordsetField:
      return m_rs->Core().FieldAt(m_index).info;
    default: {
      ColumnInfo c;
      c.name = m_spec.name;
      c.type = m_spec.type;
      c.size = m_spec.size > 0 ? m_spec.size : DefaultSize(m_spec.type);
      c.attributes = m_spec.attributes ? m_spec.attributes : DefaultAttributes(m_spec.type);
      c.required = m_spec.required;
      return c;
    }
  }
}

void Field::CheckChangeable(const char* what) const {
  if ((m_kind != Kind::New && m_kind != Kind::IndexField) || attachedToParent)
    Fail(kErrInvalidOperation,
         std::string("Invalid operation: the ") + what + " of field '" + m_spec.name +
             "' cannot be changed once the field belongs to a table, query or recordset.");
}

HRESULT Field::get_Name(BSTR* pbstr) {
  return Boundary([&] {
    VEM_OUT(pbstr, "Field.Name");
    *pbstr = Bstr(m_spec.name).Detach();
  });
}
HRESULT Field::put_Name(BSTR bstr) {
  return Boundary([&] {
    CheckChangeable("name");
    m_spec.name = Utf8(bstr);
    m_home->ref.sub = m_spec.name;
  });
}
HRESULT Field::get_Type(short* ps) {
  return Boundary([&] {
    VEM_OUT(ps, "Field.Type");
    *ps = static_cast<short>(Info().type);
  });
}
HRESULT Field::put_Type(short s) {
  return Boundary([&] {
    CheckChangeable("type");
    if (!IsKnownType(s))
      Fail(kErrInvalidArgument, "Invalid argument: " + std::to_string(s) +
                                    " is not a field type (field '" + m_spec.name + "').");
    m_spec.type = s;
  });
}
HRESULT Field::get_Size(LONG* pl) {
  return Boundary([&] {
    VEM_OUT(pl, "Field.Size");
    *pl = Info().size;
  });
}
HRESULT Field::put_Size(LONG l) {
  return Boundary([&] {
    CheckChangeable("size");
    m_spec.size = l;
  });
}
HRESULT Field::get_Attributes(LONG* pl) {
  return Boundary([&] {
    VEM_OUT(pl, "Field.Attributes");
    *pl = Info().attributes;
  });
}
HRESULT Field::put_Attributes(LONG l) {
  return Boundary([&] {
    CheckChangeable("attributes");
    m_spec.attributes = l;
  });
}
HRESULT Field::get_Required(VARIANT_BOOL* pb) {
  return Boundary([&] {
    VEM_OUT(pb, "Field.Required");
    *pb = Info().required ? VARIANT_TRUE : VARIANT_FALSE;
  });
}
HRESULT Field::put_Required(VARIANT_BOOL b) {
  return Boundary([&] {
    CheckChangeable("Required property");
    m_spec.required = b != 0;
  });
}
HRESULT Field::get_SourceTable(BSTR* pbstr) {
  return Boundary([&] {
    VEM_OUT(pbstr, "Field.SourceTable");
    *pbstr = Bstr(m_sourceTable).Detach();
  });
}
HRESULT Field::get_SourceField(BSTR* pbstr) {
  return Boundary([&] {
    VEM_OUT(pbstr, "Field.SourceField");
    *pbstr = Bstr(m_sourceField).Detach();
  });
}
HRESULT Field::get_Value(VARIANT* pvar) {
  return Boundary([&] {
    VEM_OUT(pvar, "Field.Value");
    if (m_kind != Kind::RecordsetField)
      Fail(kErrInvalidOperation, "Invalid operation: field '" + m_spec.name +
                                     "' belongs to no recordset, so it has no value.");
    _variant_t v = FromValue(m_rs->Core().GetValue(m_index));
    *pvar = v.Detach();
  });
}
HRESULT Field::put_Value(VARIANT var) {
  return Boundary([&] {
    if (m_kind != Kind::RecordsetField)
      Fail(kErrInvalidOperation, "Invalid operation: field '" + m_spec.name +
                                     "' belongs to no recordset, so it has no value.");
    m_rs->Core().SetValue(m_index, ToValue(var, m_spec.name));
  });
}
HRESULT Field::get_Properties(Properties** pp) {
  return Boundary([&] {
    std::shared_ptr<PropertyHome> home = m_home;
    if (m_kind == Kind::RecordsetField && !m_sourceTable.empty()) {
      // A recordset field shows the properties of the table field it comes from.
      home = std::make_shared<PropertyHome>(*m_home);
      home->db = m_rs->Core().Db();
      home->canHold = true;
    }
    Check(Hand(Own(new Properties(home)), pp));
  });
}
HRESULT Field::raw_CreateProperty(VARIANT Name, VARIANT Type, VARIANT Value, VARIANT,
                                  Property** pp) {
  return Boundary([&] { Check(Hand(MakeNewProperty(Name, Type, Value), pp)); });
}

_bstr_t Field::GetName() {
  BSTR b = nullptr;
  Check(get_Name(&b));
  return _bstr_t(b, false);
}
void Field::PutName(const _bstr_t& name) {
  Check(put_Name(name));
}
short Field::GetType() {
  short s = 0;
  Check(get_Type(&s));
  return s;
}
void Field::PutType(short type) {
  Check(put_Type(type));
}
LONG Field::GetSize() {
  LONG l = 0;
  Check(get_Size(&l));
  return l;
}
void Field::PutSize(LONG size) {
  Check(put_Size(size));
}
LONG Field::GetAttributes() {
  LONG l = 0;
  Check(get_Attributes(&l));
  return l;
}
void Field::PutAttributes(LONG attributes) {
  Check(put_Attributes(attributes));
}
VARIANT_BOOL Field::GetRequired() {
  VARIANT_BOOL b = 0;
  Check(get_Required(&b));
  return b;
}
void Field::PutRequired(VARIANT_BOOL required) {
  Check(put_Required(required));
}
_bstr_t Field::GetSourceTable() {
  BSTR b = nullptr;
  Check(get_SourceTable(&b));
  return _bstr_t(b, false);
}
_bstr_t Field::GetSourceField() {
  BSTR b = nullptr;
  Check(get_SourceField(&b));
  return _bstr_t(b, false);
}
_variant_t Field::GetValue() {
  VARIANT v;
  VariantInit(&v);
  Check(get_Value(&v));
  return _variant_t(v, false);
}
void Field::PutValue(const _variant_t& value) {
  Check(put_Value(value));
}
PropertiesPtr Field::GetProperties() {
  Properties* p = nullptr;
  Check(get_Properties(&p));
  return Take(p);
}
PropertyPtr Field::CreateProperty(const _variant_t& Name, const _variant_t& Type,
                                  const _variant_t& Value, const _variant_t& DDL) {
  Property* p = nullptr;
  Check(raw_CreateProperty(Name, Type, Value, DDL, &p));
  return Take(p);
}

// ---- Index ---------------------------------------------------------------------------

Index::Index(IndexSpec def, std::shared_ptr<DatabaseCore> db, const std::string& table)
    : Index(std::move(def), true) {
  m_home->db = std::move(db);
  m_home->ref = ObjectRef{ObjectKind::Index, table, m_spec.name};
}

void Index::Attach(const std::shared_ptr<DatabaseCore>& db, const std::string& table) {
  m_attached = true;
  m_home->ref = ObjectRef{ObjectKind::Index, table, m_spec.name};
  for (const auto& p : m_home->pending) db->AppendProperty(m_home->ref, p);
  m_home->pending.clear();
  m_home->db = db;
}

Index::Index(IndexSpec def, bool attached)
    : DaoObject(IID_Index, u"DAO.Index"), m_spec(std::move(def)), m_attached(attached) {
  m_home = std::make_shared<PropertyHome>();
  m_home->ref = ObjectRef{ObjectKind::Index, "", m_spec.name};
  m_fields = Own(new Fields(Field::Kind::IndexField));
  for (std::size_t i = 0; i < m_spec.fields.size(); ++i) {
    FieldSpec f;
    f.name = m_spec.fields[i];
    f.attributes = i < m_spec.descending.size() && m_spec.descending[i] ? 1 : 0;
    auto field = Own(new Field(Field::Kind::IndexField, f));
    m_fields->Append(field.get());
  }
}

IndexSpec Index::Spec() {
  IndexSpec s = m_spec;
  s.fields.clear();
  s.descending.clear();
  for (const auto& f : m_fields->List()) {
    s.fields.push_back(f->Spec().name);
    s.descending.push_back((f->Spec().attributes & 1) != 0);
  }
  return s;
}

void Index::CheckChangeable(const char* what) const {
  if (m_attached || attachedToParent)
    Fail(kErrInvalidOperation, std::string("Invalid operation: the ") + what + " of index '" +
                                   m_spec.name +
                                   "' cannot be changed once the index belongs to a table.");
}

HRESULT Index::get_Name(BSTR* pbstr) {
  return Boundary([&] {
    VEM_OUT(pbstr, "Index.Name");
    *pbstr = Bstr(m_spec.name).Detach();
  });
}
HRESULT Index::put_Name(BSTR bstr) {
  return Boundary([&] {
    CheckChangeable("name");
    m_spec.name = Utf8(bstr);
    m_home->ref.sub = m_spec.name;
  });
}
HRESULT Index::get_Primary(VARIANT_BOOL* pb) {
  return Boundary([&] {
    VEM_OUT(pb, "Index.Primary");
    *pb = m_spec.primary ? VARIANT_TRUE : VARIANT_FALSE;
  });
}
HRESULT Index::put_Primary(VARIANT_BOOL b) {
  return Boundary([&] {
    CheckChangeable("Primary property");
    m_spec.primary = b != 0;
  });
}
HRESULT Index::get_Unique(VARIANT_BOOL* pb) {
  return Boundary([&] {
    VEM_OUT(pb, "Index.Unique");
    *pb = (m_spec.unique || m_spec.primary) ? VARIANT_TRUE : VARIANT_FALSE;
  });
}
HRESULT Index::put_Unique(VARIANT_BOOL b) {
  return Boundary([&] {
    CheckChangeable("Unique property");
    m_spec.unique = b != 0;
  });
}
HRESULT Index::get_Required(VARIANT_BOOL* pb) {
  return Boundary([&] {
    VEM_OUT(pb, "Index.Required");
    *pb = (m_spec.required || m_spec.primary) ? VARIANT_TRUE : VARIANT_FALSE;
  });
}
HRESULT Index::put_Required(VARIANT_BOOL b) {
  return Boundary([&] {
    CheckChangeable("Required property");
    m_spec.required = b != 0;
  });
}
HRESULT Index::get_Fields(Fields** pp) {
  return Boundary([&] { Check(Hand(m_fields, pp)); });
}
HRESULT Index::get_Properties(Properties** pp) {
  return Boundary([&] { Check(Hand(Own(new Properties(m_home)), pp)); });
}
HRESULT Index::raw_CreateProperty(VARIANT Name, VARIANT Type, VARIANT Value, VARIANT,
                                  Property** pp) {
  return Boundary([&] { Check(Hand(MakeNewProperty(Name, Type, Value), pp)); });
}
PropertiesPtr Index::GetProperties() {
  Properties* p = nullptr;
  Check(get_Properties(&p));
  return Take(p);
}
PropertyPtr Index::CreateProperty(const _variant_t& Name, const _variant_t& Type,
                                  const _variant_t& Value, const _variant_t& DDL) {
  Property* p = nullptr;
  Check(raw_CreateProperty(Name, Type, Value, DDL, &p));
  return Take(p);
}
HRESULT Index::raw_CreateField(VARIANT Name, VARIANT, VARIANT, Field** pp) {
  return Boundary([&] {
    FieldSpec f;
    f.name = TextArg(Name, "the name of an index field");
    Check(Hand(Own(new Field(Field::Kind::IndexField, f)), pp));
  });
}

_bstr_t Index::GetName() {
  BSTR b = nullptr;
  Check(get_Name(&b));
  return _bstr_t(b, false);
}
void Index::PutName(const _bstr_t& name) {
  Check(put_Name(name));
}
VARIANT_BOOL Index::GetPrimary() {
  VARIANT_BOOL b = 0;
  Check(get_Primary(&b));
  return b;
}
void Index::PutPrimary(VARIANT_BOOL b) {
  Check(put_Primary(b));
}
VARIANT_BOOL Index::GetUnique() {
  VARIANT_BOOL b = 0;
  Check(get_Unique(&b));
  return b;
}
void Index::PutUnique(VARIANT_BOOL b) {
  Check(put_Unique(b));
}
VARIANT_BOOL Index::GetRequired() {
  VARIANT_BOOL b = 0;
  Check(get_Required(&b));
  return b;
}
void Index::PutRequired(VARIANT_BOOL b) {
  Check(put_Required(b));
}
FieldsPtr Index::GetFields() {
  Fields* p = nullptr;
  Check(get_Fields(&p));
  return Take(p);
}
FieldPtr Index::CreateField(const _variant_t& Name, const _variant_t& Type,
                            const _variant_t& Size) {
  Field* p = nullptr;
  Check(raw_CreateField(Name, Type, Size, &p));
  return Take(p);
}

// ---- Property ------------------------------------------------------------------------

Property::Property(PropertyRecord record)
    : DaoObject(IID_Property, u"DAO.Property"), m_record(std::move(record)) {}

Property::Property(std::shared_ptr<PropertyHome> home, std::string name)
    : DaoObject(IID_Property, u"DAO.Property"), m_home(std::move(home)) {
  m_record.name = std::move(name);
}

PropertyRecord Property::Current() {
  if (!m_home) return m_record;
  const auto& list = m_home->db ? m_home->db->Properties(m_home->ref) : m_home->pending;
  for (const auto& p : list)
    if (EqualNoCase(p.name, m_record.name)) return p;
  std::string owner = m_home->db ? m_home->db->DescribeObject(m_home->ref) : "the object";
  Fail(kErrPropertyNotFound,
       "Property not found: '" + m_record.name + "' no longer exists on " + owner + ".");
}

HRESULT Property::get_Name(BSTR* pbstr) {
  return Boundary([&] {
    VEM_OUT(pbstr, "Property.Name");
    *pbstr = Bstr(m_record.name).Detach();
  });
}
HRESULT Property::put_Name(BSTR bstr) {
  return Boundary([&] {
    if (m_home)
      Fail(kErrInvalidOperation,
           "Invalid operation: property '" + m_record.name + "' cannot be renamed once appended.");
    m_record.name = Utf8(bstr);
  });
}
HRESULT Property::get_Type(short* ps) {
  return Boundary([&] {
    VEM_OUT(ps, "Property.Type");
    *ps = static_cast<short>(Current().type);
  });
}
HRESULT Property::put_Type(short s) {
  return Boundary([&] {
    if (m_home)
      Fail(kErrInvalidOperation, "Invalid operation: the type of property '" + m_record.name +
                                     "' cannot be changed once appended.");
    if (!IsKnownType(s))
      Fail(kErrInvalidArgument, "Invalid argument: " + std::to_string(s) +
                                    " is not a property type (property '" + m_record.name + "').");
    m_record.type = s;
  });
}
HRESULT Property::get_Value(VARIANT* pvar) {
  return Boundary([&] {
    VEM_OUT(pvar, "Property.Value");
    _variant_t v = FromValue(Current().value);
    *pvar = v.Detach();
  });
}
HRESULT Property::put_Value(VARIANT var) {
  return Boundary([&] {
    std::string what = "property '" + m_record.name + "'";
    Value v = ToValue(var, what);
    if (!m_home) {
      m_record.value = v;
      return;
    }
    if (m_home->db) {
      m_home->db->SetPropertyValue(m_home->ref, m_record.name, v);
      return;
    }
    for (auto& p : m_home->pending)
      if (EqualNoCase(p.name, m_record.name)) {
        p.value = ConvertToType(v, p.type, what);
        return;
      }
    Fail(kErrPropertyNotFound, "Property not found: '" + m_record.name + "'.");
  });
}
HRESULT Property::get_Inherited(VARIANT_BOOL* pb) {
  return Boundary([&] {
    VEM_OUT(pb, "Property.Inherited");
    *pb = VARIANT_FALSE;
  });
}
_bstr_t Property::GetName() {
  BSTR b = nullptr;
  Check(get_Name(&b));
  return _bstr_t(b, false);
}
void Property::PutName(const _bstr_t& name) {
  Check(put_Name(name));
}
short Property::GetType() {
  short s = 0;
  Check(get_Type(&s));
  return s;
}
void Property::PutType(short type) {
  Check(put_Type(type));
}
_variant_t Property::GetValue() {
  VARIANT v;
  VariantInit(&v);
  Check(get_Value(&v));
  return _variant_t(v, false);
}
void Property::PutValue(const _variant_t& value) {
  Check(put_Value(value));
}

// ---- TableDef ------------------------------------------------------------------------

TableDef::TableDef(std::shared_ptr<DatabaseCore> db, std::string name, LONG attributes)
    : DaoObject(IID_TableDef, u"DAO.TableDef"),
      m_db(std::move(db)),
      m_name(std::move(name)),
      m_attributes(attributes),
      m_appended(false) {
  m_home = std::make_shared<PropertyHome>();
  m_home->ref = ObjectRef{ObjectKind::Table, m_name, ""};
  m_newFields = Own(new Fields(Field::Kind::New));
  m_newIndexes = Own(new Indexes());
}

TableDef::TableDef(std::shared_ptr<DatabaseCore> db, std::string name)
    : DaoObject(IID_TableDef, u"DAO.TableDef"),
      m_db(std::move(db)),
      m_name(std::move(name)),
      m_appended(true) {
  m_home = std::make_shared<PropertyHome>();
  m_home->db = m_db;
  m_home->ref = ObjectRef{ObjectKind::Table, m_name, ""};
}

void TableDef::AppendTo(const std::shared_ptr<DatabaseCore>& db) {
  TableSpec def;
  def.name = m_name;
  for (const auto& f : m_newFields->List()) def.fields.push_back(f->Spec());
  for (const auto& ix : m_newIndexes->List()) def.indexes.push_back(ix->Spec());
  db->WriteAtomically("Appending table '" + m_name + "'", [&] {
    db->CreateTable(def);
    m_home->ref = ObjectRef{ObjectKind::Table, m_name, ""};
    for (const auto& p : m_home->pending) db->AppendProperty(m_home->ref, p);
    for (const auto& f : m_newFields->List()) f->Attach(db, m_name);
    for (const auto& ix : m_newIndexes->List()) ix->Attach(db, m_name);
  });
  m_home->db = db;
  m_home->pending.clear();

  m_db = db;
  m_appended = true;
}

HRESULT TableDef::get_Name(BSTR* pbstr) {
  return Boundary([&] {
    VEM_OUT(pbstr, "TableDef.Name");
    *pbstr = Bstr(m_name).Detach();
  });
}
HRESULT TableDef::put_Name(BSTR bstr) {
  return Boundary([&] {
    if (m_appended)
      Fail(kErrInvalidOperation, "Invalid operation: table '" + m_name + "' cannot be renamed.");
    m_name = Utf8(bstr);
    m_home->ref.object = m_name;
  });
}
HRESULT TableDef::get_Attributes(LONG* pl) {
  return Boundary([&] {
    VEM_OUT(pl, "TableDef.Attributes");
    *pl = m_attributes;
  });
}
HRESULT TableDef::put_Attributes(LONG l) {
  return Boundary([&] {
    if (m_appended)
      Fail(kErrInvalidOperation,
           "Invalid operation: the attributes of table '" + m_name + "' cannot be changed.");
    m_attributes = l;
  });
}
HRESULT TableDef::get_Fields(Fields** pp) {
  return Boundary([&] {
    if (!m_appended) {
      Check(Hand(m_newFields, pp));
      return;
    }
    m_db->CheckOpen();
    Check(Hand(Own(new Fields(m_db, m_name, Field::Kind::TableField)), pp));
  });
}
HRESULT TableDef::get_Indexes(Indexes** pp) {
  return Boundary([&] {
    if (!m_appended) {
      Check(Hand(m_newIndexes, pp));
      return;
    }
    m_db->CheckOpen();
    Check(Hand(Own(new Indexes(m_db, m_name)), pp));
  });
}
HRESULT TableDef::get_Properties(Properties** pp) {
  return Boundary([&] { Check(Hand(Own(new Properties(m_home)), pp)); });
}
HRESULT TableDef::get_RecordCount(LONG* pl) {
  return Boundary([&] {
    VEM_OUT(pl, "TableDef.RecordCount");
    if (!m_appended) {
      *pl = 0;
      return;
    }
    auto rs = m_db->OpenRecordset("SELECT Count(*) FROM [" + m_name + "]");
    *pl = std::get<std::int32_t>(ConvertToType(rs->GetValue(0), dbLong, "a record count"));
  });
}
HRESULT TableDef::raw_CreateField(VARIANT Name, VARIANT Type, VARIANT Size, Field** pp) {
  return Boundary([&] {
    FieldSpec f;
    f.name = TextArg(Name, "the name of a new field");
    f.type = LongArg(Type, dbText, "the type of field '" + f.name + "'");
    f.size = LongArg(Size, 0, "the size of field '" + f.name + "'");
    f.attributes = DefaultAttributes(f.type);
    Check(Hand(Own(new Field(Field::Kind::New, f)), pp));
  });
}
HRESULT TableDef::raw_CreateIndex(VARIANT Name, Index** pp) {
  return Boundary([&] {
    IndexSpec ix;
    ix.name = TextArg(Name, "the name of a new index");
    Check(Hand(Own(new Index(ix, false)), pp));
  });
}
HRESULT TableDef::raw_CreateProperty(VARIANT Name, VARIANT Type, VARIANT Value, VARIANT,
                                     Property** pp) {
  return Boundary([&] { Check(Hand(MakeNewProperty(Name, Type, Value), pp)); });
}
HRESULT TableDef::raw_OpenRecordset(VARIANT, VARIANT, Recordset** pp) {
  return Boundary([&] {
    if (!m_appended)
      Fail(kErrInvalidOperation,
           "Invalid operation: table '" + m_name + "' is not yet appended to TableDefs.");
    Check(Hand(Own(new Recordset(m_db->OpenRecordset("SELECT * FROM [" + m_name + "]"))), pp));
  });
}

_bstr_t TableDef::GetName() {
  BSTR b = nullptr;
  Check(get_Name(&b));
  return _bstr_t(b, false);
}
void TableDef::PutName(const _bstr_t& name) {
  Check(put_Name(name));
}
LONG TableDef::GetAttributes() {
  LONG l = 0;
  Check(get_Attributes(&l));
  return l;
}
void TableDef::PutAttributes(LONG attributes) {
  Check(put_Attributes(attributes));
}
FieldsPtr TableDef::GetFields() {
  Fields* p = nullptr;
  Check(get_Fields(&p));
  return Take(p);
}
IndexesPtr TableDef::GetIndexes() {
  Indexes* p = nullptr;
  Check(get_Indexes(&p));
  return Take(p);
}
PropertiesPtr TableDef::GetProperties() {
  Properties* p = nullptr;
  Check(get_Properties(&p));
  return Take(p);
}
LONG TableDef::GetRecordCount() {
  LONG l = 0;
  Check(get_RecordCount(&l));
  return l;
}
FieldPtr TableDef::CreateField(const _variant_t& Name, const _variant_t& Type,
                               const _variant_t& Size) {
  Field* p = nullptr;
  Check(raw_CreateField(Name, Type, Size, &p));
  return Take(p);
}
IndexPtr TableDef::CreateIndex(const _variant_t& Name) {
  Index* p = nullptr;
  Check(raw_CreateIndex(Name, &p));
  return Take(p);
}
PropertyPtr TableDef::CreateProperty(const _variant_t& Name, const _variant_t& Type,
                                     const _variant_t& Value, const _variant_t& DDL) {
  Property* p = nullptr;
  Check(raw_CreateProperty(Name, Type, Value, DDL, &p));
  return Take(p);
}
RecordsetPtr TableDef::OpenRecordset(const _variant_t& Type, const _variant_t& Options) {
  Recordset* p = nullptr;
  Check(raw_OpenRecordset(Type, Options, &p));
  return Take(p);
}

// ---- QueryDef ------------------------------------------------------------------------

QueryDef::QueryDef(std::shared_ptr<DatabaseCore> db, std::string name, std::string sql,
                   bool appended)
    : DaoObject(IID_QueryDef, u"DAO.QueryDef"),
      m_db(std::move(db)),
      m_name(std::move(name)),
      m_sql(std::move(sql)),
      m_appended(appended) {
  m_home = std::make_shared<PropertyHome>();
  if (appended) m_home->db = m_db;
  m_home->ref = ObjectRef{ObjectKind::Query, m_name, ""};
}

void QueryDef::AppendTo(const std::shared_ptr<DatabaseCore>& db) {
  db->WriteAtomically("Appending query '" + m_name + "'", [&] {
    db->CreateQuery(m_name, m_sql);
    m_home->ref = ObjectRef{ObjectKind::Query, m_name, ""};
    for (const auto& p : m_home->pending) db->AppendProperty(m_home->ref, p);
  });
  m_home->db = db;
  m_home->pending.clear();
  m_db = db;
  m_appended = true;
}

HRESULT QueryDef::get_Name(BSTR* pbstr) {
  return Boundary([&] {
    VEM_OUT(pbstr, "QueryDef.Name");
    *pbstr = Bstr(m_name).Detach();
  });
}
HRESULT QueryDef::put_Name(BSTR bstr) {
  return Boundary([&] {
    if (m_appended)
      Fail(kErrInvalidOperation, "Invalid operation: query '" + m_name + "' cannot be renamed.");
    m_name = Utf8(bstr);
    m_home->ref.object = m_name;
  });
}
HRESULT QueryDef::get_SQL(BSTR* pbstr) {
  return Boundary([&] {
    VEM_OUT(pbstr, "QueryDef.SQL");
    if (m_appended) {
      auto sql = m_db->QuerySql(m_name);
      if (!sql) Fail(kErrItemNotFound, "Query '" + m_name + "' no longer exists.");
      m_sql = *sql;
    }
    *pbstr = Bstr(m_sql).Detach();
  });
}
HRESULT QueryDef::put_SQL(BSTR bstr) {
  return Boundary([&] {
    std::string sql = Utf8(bstr);
    if (m_appended) m_db->SetQuerySql(m_name, sql);
    m_sql = sql;
  });
}
HRESULT QueryDef::get_Fields(Fields** pp) {
  return Boundary([&] {
    if (!m_appended)
      Fail(kErrInvalidOperation,
           "Invalid operation: query '" + m_name + "' is not appended to QueryDefs.");
    m_db->CheckOpen();
    Check(Hand(Own(new Fields(m_db, m_name, Field::Kind::QueryField)), pp));
  });
}
HRESULT QueryDef::get_Properties(Properties** pp) {
  return Boundary([&] { Check(Hand(Own(new Properties(m_home)), pp)); });
}
HRESULT QueryDef::raw_CreateProperty(VARIANT Name, VARIANT Type, VARIANT Value, VARIANT,
                                     Property** pp) {
  return Boundary([&] { Check(Hand(MakeNewProperty(Name, Type, Value), pp)); });
}
HRESULT QueryDef::raw_OpenRecordset(VARIANT, VARIANT, VARIANT, Recordset** pp) {
  return Boundary([&] {
    std::string sql = m_appended ? "SELECT * FROM [" + m_name + "]" : m_sql;
    Check(Hand(Own(new Recordset(m_db->OpenRecordset(sql))), pp));
  });
}
HRESULT QueryDef::raw_Execute(VARIANT) {
  return Boundary([&] { m_db->Execute(m_appended ? *m_db->QuerySql(m_name) : m_sql); });
}
_bstr_t QueryDef::GetName() {
  BSTR b = nullptr;
  Check(get_Name(&b));
  return _bstr_t(b, false);
}
void QueryDef::PutName(const _bstr_t& name) {
  Check(put_Name(name));
}
_bstr_t QueryDef::GetSQL() {
  BSTR b = nullptr;
  Check(get_SQL(&b));
  return _bstr_t(b, false);
}
void QueryDef::PutSQL(const _bstr_t& sql) {
  Check(put_SQL(sql));
}
FieldsPtr QueryDef::GetFields() {
  Fields* p = nullptr;
  Check(get_Fields(&p));
  return Take(p);
}
PropertiesPtr QueryDef::GetProperties() {
  Properties* p = nullptr;
  Check(get_Properties(&p));
  return Take(p);
}
PropertyPtr QueryDef::CreateProperty(const _variant_t& Name, const _variant_t& Type,
                                     const _variant_t& Value, const _variant_t& DDL) {
  Property* p = nullptr;
  Check(raw_CreateProperty(Name, Type, Value, DDL, &p));
  return Take(p);
}
RecordsetPtr QueryDef::OpenRecordset(const _variant_t& Type, const _variant_t& Options,
                                     const _variant_t& LockEdit) {
  Recordset* p = nullptr;
  Check(raw_OpenRecordset(Type, Options, LockEdit, &p));
  return Take(p);
}
void QueryDef::Execute(const _variant_t& Options) {
  Check(raw_Execute(Options));
}

// ---- TableDefs, QueryDefs ------------------------------------------------------------

TableDefs::TableDefs(std::shared_ptr<DatabaseCore> db)
    : DaoObject(IID_TableDefs, u"DAO.TableDefs"), m_db(std::move(db)) {}

HRESULT TableDefs::get_Count(short* ps) {
  return Boundary([&] {
    VEM_OUT(ps, "TableDefs.Count");
    *ps = static_cast<short>(m_db->TableNames().size());
  });
}
HRESULT TableDefs::get_Item(VARIANT Item, TableDef** pp) {
  return Boundary([&] {
    VEM_OUT(pp, "TableDefs.Item");
    *pp = nullptr;
    ItemKey k = KeyOf(Item, "a TableDefs item");
    std::string name;
    if (k.byName) {
      const TableInfo* t = m_db->FindTable(k.name);
      if (!t)
        Fail(kErrItemNotFound, "Item not found in this collection: there is no table '" + k.name +
                                   "' in '" + m_db->Name() + "'.");
      name = t->name;
    } else {
      auto names = m_db->TableNames();
      if (k.index < 0 || static_cast<std::size_t>(k.index) >= names.size())
        Fail(kErrItemNotFound, "Item not found in this collection: there is no table " +
                                   Describe(k) + " in '" + m_db->Name() + "'.");
      name = names[static_cast<std::size_t>(k.index)];
    }
    Check(Hand(Own(new TableDef(m_db, name)), pp));
  });
}
HRESULT TableDefs::raw_Append(TableDef* Object) {
  return Boundary([&] {
    if (!Object) NullObject("TableDefs.Append");
    m_db->CheckOpen();
    if (Object->IsAppended())
      Fail(kErrNameExists, "Cannot append: table '" + Utf8(Object->GetName()) +
                               "' is already in a TableDefs collection.");
    Object->AppendTo(m_db);
  });
}
HRESULT TableDefs::raw_Delete(BSTR Name) {
  return Boundary([&] { m_db->DropTable(Utf8(Name)); });
}
HRESULT TableDefs::raw_Refresh() {
  return Boundary([&] { m_db->CheckOpen(); });
}
short TableDefs::GetCount() {
  short s = 0;
  Check(get_Count(&s));
  return s;
}
TableDefPtr TableDefs::GetItem(const _variant_t& Item) {
  TableDef* p = nullptr;
  Check(get_Item(Item, &p));
  return Take(p);
}
void TableDefs::Append(TableDef* Object) {
  Check(raw_Append(Object));
}
void TableDefs::Delete(const _bstr_t& Name) {
  Check(raw_Delete(Name));
}
void TableDefs::Refresh() {
  Check(raw_Refresh());
}

QueryDefs::QueryDefs(std::shared_ptr<DatabaseCore> db)
    : DaoObject(IID_QueryDefs, u"DAO.QueryDefs"), m_db(std::move(db)) {}

HRESULT QueryDefs::get_Count(short* ps) {
  return Boundary([&] {
    VEM_OUT(ps, "QueryDefs.Count");
    *ps = static_cast<short>(m_db->QueryNames().size());
  });
}
HRESULT QueryDefs::get_Item(VARIANT Item, QueryDef** pp) {
  return Boundary([&] {
    VEM_OUT(pp, "QueryDefs.Item");
    *pp = nullptr;
    ItemKey k = KeyOf(Item, "a QueryDefs item");
    std::string name;
    if (k.byName) {
      for (const auto& n : m_db->QueryNames())
        if (EqualNoCase(n, k.name)) name = n;
    } else {
      auto names = m_db->QueryNames();
      if (k.index >= 0 && static_cast<std::size_t>(k.index) < names.size())
        name = names[static_cast<std::size_t>(k.index)];
    }
    if (name.empty())
      Fail(kErrItemNotFound, "Item not found in this collection: there is no query " + Describe(k) +
                                 " in '" + m_db->Name() + "'.");
    Check(Hand(Own(new QueryDef(m_db, name, *m_db->QuerySql(name), true)), pp));
  });
}
HRESULT QueryDefs::raw_Append(QueryDef* Object) {
  return Boundary([&] {
    if (!Object) NullObject("QueryDefs.Append");
    m_db->CheckOpen();
    if (Object->IsAppended())
      Fail(kErrNameExists, "Cannot append: query '" + Utf8(Object->GetName()) +
                               "' is already in a QueryDefs collection.");
    Object->AppendTo(m_db);
  });
}
HRESULT QueryDefs::raw_Delete(BSTR Name) {
  return Boundary([&] { m_db->DropQuery(Utf8(Name)); });
}
HRESULT QueryDefs::raw_Refresh() {
  return Boundary([&] { m_db->CheckOpen(); });
}
short QueryDefs::GetCount() {
  short s = 0;
  Check(get_Count(&s));
  return s;
}
QueryDefPtr QueryDefs::GetItem(const _variant_t& Item) {
  QueryDef* p = nullptr;
  Check(get_Item(Item, &p));
  return Take(p);
}
void QueryDefs::Append(QueryDef* Object) {
  Check(raw_Append(Object));
}
void QueryDefs::Delete(const _bstr_t& Name) {
  Check(raw_Delete(Name));
}
void QueryDefs::Refresh() {
  Check(raw_Refresh());
}

// ---- Fields --------------------------------------------------------------------------

Fields::Fields(Field::Kind memberKind)
    : DaoObject(IID_Fields, u"DAO.Fields"), m_memberKind(memberKind), m_ownList(true) {}

Fields::Fields(std::shared_ptr<DatabaseCore> db, std::string owner, Field::Kind memberKind)
    : DaoObject(IID_Fields, u"DAO.Fields"),
      m_memberKind(memberKind),
      m_db(std::move(db)),
      m_owner(std::move(owner)) {}

Fields::Fields(ComPtr<Recordset> rs)
    : DaoObject(IID_Fields, u"DAO.Fields"),
      m_memberKind(Field::Kind::RecordsetField),
      m_rs(std::move(rs)) {}

std::vector<FieldPtr> Fields::Members() {
  if (m_ownList) return m_list;
  std::vector<FieldPtr> out;
  if (m_rs) {
    for (std::size_t i = 0; i < m_rs->Core().FieldCount(); ++i)
      out.push_back(Own(new Field(m_rs, i)));
  } else if (m_memberKind == Field::Kind::TableField) {
    const TableInfo* t = m_db->FindTable(m_owner);
    if (!t) Fail(kErrItemNotFound, "Table '" + m_owner + "' no longer exists.");
    for (const auto& c : t->columns)
      out.push_back(Own(new Field(Field::Kind::TableField, m_db, t->name, c)));
  } else {
    for (const auto& c : m_db->QueryColumns(m_owner))
      out.push_back(Own(new Field(Field::Kind::QueryField, m_db, m_owner, c)));
  }
  return out;
}

HRESULT Fields::get_Count(short* ps) {
  return Boundary([&] {
    VEM_OUT(ps, "Fields.Count");
    if (m_rs) {
      m_rs->Core().IsBOF();
      *ps = static_cast<short>(m_rs->Core().FieldCount());
    } else {
      *ps = static_cast<short>(Members().size());
    }
  });
}
HRESULT Fields::get_Item(VARIANT Item, Field** pp) {
  return Boundary([&] {
    VEM_OUT(pp, "Fields.Item");
    *pp = nullptr;
    if (m_rs) {
      m_rs->Core().IsBOF();
      std::size_t i = m_rs->FieldOf(Item);
      Check(Hand(Own(new Field(m_rs, i)), pp));
      return;
    }
    ItemKey k = KeyOf(Item, "a Fields item");
    if (k.byName && !m_ownList && m_memberKind == Field::Kind::TableField) {
      const ColumnInfo* c = m_db->ColumnOf(m_owner, k.name);
      if (!c)
        Fail(kErrItemNotFound, "Item not found in this collection: table '" + m_owner +
                                   "' has no field '" + k.name + "'.");
      Check(Hand(Own(new Field(Field::Kind::TableField, m_db, m_db->FindTable(m_owner)->name, *c)),
                 pp));
      return;
    }
    auto members = Members();
    for (std::size_t i = 0; i < members.size(); ++i) {
      if ((k.byName && EqualNoCase(members[i]->Spec().name, k.name)) ||
          (!k.byName && static_cast<LONG>(i) == k.index)) {
        Check(Hand(members[i], pp));
        return;
      }
    }
    Fail(kErrItemNotFound, "Item not found in this collection: there is no field " + Describe(k) +
                               (m_owner.empty() ? std::string() : " in '" + m_owner + "'") + ".");
  });
}
HRESULT Fields::raw_Append(Field* Object) {
  return Boundary([&] {
    if (!Object) NullObject("Fields.Append");
    if (Object->attachedToParent ||
        (Object->kind() != Field::Kind::New && Object->kind() != Field::Kind::IndexField))
      Fail(kErrNameExists,
           "Cannot append: field '" + Object->Spec().name + "' already belongs to a collection.");
    if (m_rs)
      Fail(kErrInvalidOperation, "Invalid operation: fields cannot be appended to a recordset.");
    if (!m_ownList) {
      if (m_memberKind != Field::Kind::TableField)
        Fail(kErrInvalidOperation,
             "Invalid operation: fields cannot be appended to query '" + m_owner + "'.");
      m_db->WriteAtomically(
          "Appending field '" + Object->Spec().name + "' to table '" + m_owner + "'", [&] {
            m_db->AddColumn(m_owner, Object->Spec());
            Object->Attach(m_db, m_db->FindTable(m_owner)->name);
          });
      Object->attachedToParent = true;
      return;
    }
    for (const auto& f : m_list)
      if (EqualNoCase(f->Spec().name, Object->Spec().name))
        Fail(kErrNameExists, "Cannot append: a field named '" + Object->Spec().name +
                                 "' is already in the collection.");
    Object->attachedToParent = true;
    m_list.push_back(FieldPtr(Object));
  });
}
HRESULT Fields::raw_Delete(BSTR Name) {
  return Boundary([&] {
    std::string name = Utf8(Name);
    if (!m_ownList)
      Fail(kErrNotSupported, "Field '" + name + "' cannot be deleted from '" + m_owner + "'.");
    for (auto it = m_list.begin(); it != m_list.end(); ++it)
      if (EqualNoCase((*it)->Spec().name, name)) {
        (*it)->attachedToParent = false;
        m_list.erase(it);
        return;
      }
    Fail(kErrItemNotFound, "Item not found in this collection: there is no field '" + name + "'.");
  });
}
HRESULT Fields::raw_Refresh() {
  return S_OK;
}
short Fields::GetCount() {
  short s = 0;
  Check(get_Count(&s));
  return s;
}
FieldPtr Fields::GetItem(const _variant_t& Item) {
  Field* p = nullptr;
  Check(get_Item(Item, &p));
  return Take(p);
}
void Fields::Append(Field* Object) {
  Check(raw_Append(Object));
}
void Fields::Delete(const _bstr_t& Name) {
  Check(raw_Delete(Name));
}
void Fields::Refresh() {
  Check(raw_Refresh());
}

// ---- Indexes -------------------------------------------------------------------------

Indexes::Indexes() : DaoObject(IID_Indexes, u"DAO.Indexes"), m_ownList(true) {}

Indexes::Indexes(std::shared_ptr<DatabaseCore> db, std::string table)
    : DaoObject(IID_Indexes, u"DAO.Indexes"), m_db(std::move(db)), m_table(std::move(table)) {}

std::vector<IndexPtr> Indexes::Members() {
  if (m_ownList) return m_list;
  const TableInfo* t = m_db->FindTable(m_table);
  if (!t) Fail(kErrItemNotFound, "Table '" + m_table + "' no longer exists.");
  std::vector<IndexPtr> out;
  for (const auto& ix : t->indexes) out.push_back(Own(new Index(ix, m_db, t->name)));
  return out;
}

HRESULT Indexes::get_Count(short* ps) {
  return Boundary([&] {
    VEM_OUT(ps, "Indexes.Count");
    *ps = static_cast<short>(Members().size());
  });
}
HRESULT Indexes::get_Item(VARIANT Item, Index** pp) {
  return Boundary([&] {
    VEM_OUT(pp, "Indexes.Item");
    *pp = nullptr;
    ItemKey k = KeyOf(Item, "an Indexes item");
    auto members = Members();
    for (std::size_t i = 0; i < members.size(); ++i) {
      if ((k.byName && EqualNoCase(Utf8(members[i]->GetName()), k.name)) ||
          (!k.byName && static_cast<LONG>(i) == k.index)) {
        Check(Hand(members[i], pp));
        return;
      }
    }
    Fail(kErrItemNotFound, "Item not found in this collection: there is no index " + Describe(k) +
                               (m_table.empty() ? std::string() : " on table '" + m_table + "'") +
                               ".");
  });
}
HRESULT Indexes::raw_Append(Index* Object) {
  return Boundary([&] {
    if (!Object) NullObject("Indexes.Append");
    if (Object->attachedToParent)
      Fail(kErrNameExists,
           "Cannot append: index '" + Utf8(Object->GetName()) + "' already belongs to a table.");
    if (!m_ownList) {
      m_db->WriteAtomically("Appending index '" + Utf8(Object->GetName()) + "'", [&] {
        m_db->CreateIndex(m_table, Object->Spec());
        Object->Attach(m_db, m_db->FindTable(m_table)->name);
      });
      Object->attachedToParent = true;
      return;
    }
    for (const auto& ix : m_list)
      if (EqualNoCase(Utf8(ix->GetName()), Utf8(Object->GetName())))
        Fail(kErrNameExists, "Cannot append: an index named '" + Utf8(Object->GetName()) +
                                 "' is already in the collection.");
    Object->attachedToParent = true;
    m_list.push_back(IndexPtr(Object));
  });
}
HRESULT Indexes::raw_Delete(BSTR Name) {
  return Boundary([&] {
    std::string name = Utf8(Name);
    if (!m_ownList) {
      m_db->DropIndex(m_table, name);
      return;
    }
    for (auto it = m_list.begin(); it != m_list.end(); ++it)
      if (EqualNoCase(Utf8((*it)->GetName()), name)) {
        (*it)->attachedToParent = false;
        m_list.erase(it);
        return;
      }
    Fail(kErrItemNotFound, "Item not found in this collection: there is no index '" + name + "'.");
  });
}
HRESULT Indexes::raw_Refresh() {
  return S_OK;
}
short Indexes::GetCount() {
  short s = 0;
  Check(get_Count(&s));
  return s;
}
IndexPtr Indexes::GetItem(const _variant_t& Item) {
  Index* p = nullptr;
  Check(get_Item(Item, &p));
  return Take(p);
}
void Indexes::Append(Index* Object) {
  Check(raw_Append(Object));
}
void Indexes::Delete(const _bstr_t& Name) {
  Check(raw_Delete(Name));
}
void Indexes::Refresh() {
  Check(raw_Refresh());
}

// ---- Properties ----------------------------------------------------------------------

Properties::Properties(std::shared_ptr<PropertyHome> home)
    : DaoObject(IID_Properties, u"DAO.Properties"), m_home(std::move(home)) {}

std::vector<PropertyRecord> Properties::Records() {
  if (m_home->db) return m_home->db->Properties(m_home->ref);
  return m_home->pending;
}

HRESULT Properties::get_Count(short* ps) {
  return Boundary([&] {
    VEM_OUT(ps, "Properties.Count");
    *ps = static_cast<short>(Records().size());
  });
}
HRESULT Properties::get_Item(VARIANT Item, Property** pp) {
  return Boundary([&] {
    VEM_OUT(pp, "Properties.Item");
    *pp = nullptr;
    ItemKey k = KeyOf(Item, "a Properties item");
    auto records = Records();
    std::string owner = m_home->db ? m_home->db->DescribeObject(m_home->ref) : "the new object";
    for (std::size_t i = 0; i < records.size(); ++i) {
      if ((k.byName && EqualNoCase(records[i].name, k.name)) ||
          (!k.byName && static_cast<LONG>(i) == k.index)) {
        Check(Hand(Own(new Property(m_home, records[i].name)), pp));
        return;
      }
    }
    if (k.byName)
      Fail(kErrPropertyNotFound,
           "Property not found: " + owner + " has no property '" + k.name + "'.");
    Fail(kErrItemNotFound,
         "Item not found in this collection: " + owner + " has no property " + Describe(k) + ".");
  });
}
HRESULT Properties::raw_Append(Property* Object) {
  return Boundary([&] {
    if (!Object) NullObject("Properties.Append");
    if (!m_home->canHold)
      Fail(kErrInvalidOperation,
           "Invalid operation: this object cannot hold user-defined properties.");
    if (Object->IsAppended())
      Fail(kErrNameExists,
           "Cannot append: property '" + Object->Record().name + "' already belongs to an object.");
    PropertyRecord r = Object->Record();
    if (r.name.empty())
      Fail(kErrInvalidArgument, "Invalid argument: a property needs a name before it is appended.");
    if (m_home->db) {
      m_home->db->AppendProperty(m_home->ref, r);
    } else {
      for (const auto& p : m_home->pending)
        if (EqualNoCase(p.name, r.name))
          Fail(kErrNameExists, "Property '" + r.name + "' already exists on the new object.");
      if (!IsKnownType(r.type))
        Fail(kErrInvalidArgument,
             "Property '" + r.name + "' has the unknown type " + std::to_string(r.type) + ".");
      r.value = ConvertToType(r.value, r.type, "property '" + r.name + "'");
      m_home->pending.push_back(r);
    }
    Object->AttachHome(m_home);
  });
}
HRESULT Properties::raw_Delete(BSTR Name) {
  return Boundary([&] {
    std::string name = Utf8(Name);
    if (m_home->db) {
      m_home->db->DeleteProperty(m_home->ref, name);
      return;
    }
    auto& list = m_home->pending;
    auto it = std::find_if(list.begin(), list.end(),
                           [&](const PropertyRecord& p) { return EqualNoCase(p.name, name); });
    if (it == list.end())
      Fail(kErrItemNotFound,
           "Item not found in this collection: there is no property '" + name + "'.");
    list.erase(it);
  });
}
HRESULT Properties::raw_Refresh() {
  return S_OK;
}
short Properties::GetCount() {
  short s = 0;
  Check(get_Count(&s));
  return s;
}
PropertyPtr Properties::GetItem(const _variant_t& Item) {
  Property* p = nullptr;
  Check(get_Item(Item, &p));
  return Take(p);
}
void Properties::Append(Property* Object) {
  Check(raw_Append(Object));
}
void Properties::Delete(const _bstr_t& Name) {
  Check(raw_Delete(Name));
}
void Properties::Refresh() {
  Check(raw_Refresh());
}

}  // namespace dao
