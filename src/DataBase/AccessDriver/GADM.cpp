// GADM: the generic access data model, read from the database's own table
// and query definitions and their properties (see GADM.h).
#include "DataBase/AccessDriver/GADM.h"

#include <array>
#include <limits>
#include <utility>
#include <vector>

#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "Platform/ComBase.h"
#include "Platform/Text.h"

namespace {

constexpr const char* kTraceFile = "DataBase\\AccessDriver\\GADM";
constexpr LONG kTraceLevel = 4;

// DAO field types (DataTypeEnum) that the model maps.
constexpr short kDbBoolean = 1;
constexpr short kDbByte = 2;
constexpr short kDbInteger = 3;
constexpr short kDbLong = 4;
constexpr short kDbDouble = 7;
constexpr short kDbDate = 8;
constexpr short kDbText = 10;
constexpr short kDbMemo = 12;
constexpr short kDbChar = 18;
constexpr short kDbFloat = 21;
// Field attribute of an AutoNumber column.
constexpr LONG kDbAutoIncrField = 0x10;
// Column size that stands for a memo column.
constexpr LONG kMemoColumnSize = 64000;

// The keyword texts, in the order of GADM::Keyword.
constexpr std::array<const char*, 14> kKeywordTexts = {
    "DM",          "BLOB",        "ID",           "CRYPT STRING",  "CRYPT BOOL",
    "CRYPT CHAR",  "CRYPT UCHAR", "CRYPT SHORT",  "CRYPT USHORT",  "CRYPT LONG",
    "CRYPT ULONG", "CRYPT FLOAT", "CRYPT DOUBLE", "CRYPT DATETIME"};

std::string Ansi(const _bstr_t& text) {
  return platform::WideToAnsi(text.view());
}

// The value of the property `name`, or VT_EMPTY when the object has no such
// property (or it cannot be read): a missing property is an ordinary answer
// here, so the raw calls are used and nothing is raised.
_variant_t PropertyValue(dao::Properties* pProperties, const char* name) {
  _variant_t vValue;
  if (pProperties == nullptr) return vValue;
  dao::PropertyPtr pProperty;
  if (FAILED(pProperties->get_Item(_variant_t(name), &pProperty)) || !pProperty) return vValue;
  VARIANT v;
  VariantInit(&v);
  if (FAILED(pProperty->get_Value(&v))) {
    VariantClear(&v);
    return vValue;
  }
  vValue.Attach(v);
  return vValue;
}

// The "Description" matched against the keywords first..last.
GADM::Keyword MatchedKeyword(dao::Properties* pProperties, GADM::Keyword first,
                             GADM::Keyword last) {
  const _variant_t vDescription = PropertyValue(pProperties, "Description");
  if (vDescription.vt != VT_BSTR) return GADM::Keyword::None;
  return GADM::MatchDescription(
      platform::WideToAnsi(
          {vDescription.bstrVal ? vDescription.bstrVal : u"", SysStringLen(vDescription.bstrVal)}),
      first, last);
}

bool DescriptionMatches(dao::Properties* pProperties, GADM::Keyword keyword) {
  return MatchedKeyword(pProperties, keyword, keyword) == keyword;
}

// The model's field type code of an engine type that needs no Description
// (all but Long, Text and Memo); STRING for types the model does not know.
LONG PlainTypeOf(short type) {
  switch (type) {
    case kDbBoolean:
      return static_cast<LONG>(FieldType::BOOL);
    case kDbByte:
      return static_cast<LONG>(FieldType::UCHAR);
    case kDbInteger:
      return static_cast<LONG>(FieldType::SHORT);
    case kDbDouble:
      return static_cast<LONG>(FieldType::DOUBLE);
    case kDbDate:
      return static_cast<LONG>(FieldType::DATETIME);
    case kDbChar:
      return static_cast<LONG>(FieldType::CHAR);
    case kDbFloat:
      return static_cast<LONG>(FieldType::FLOAT);
    default:
      return static_cast<LONG>(FieldType::STRING);
  }
}

}  // namespace

// A table or query definition during the walk.
struct GADM::ParsedObject {
  std::string name;                // Windows-1252
  dao::PropertiesPtr pProperties;  // the table's or query's properties
  dao::TableDefPtr pTableDef;      // null for a query
  // The Fields of the table's primary indexes; read on first use.
  bool bPrimaryFieldsRead = false;
  std::vector<dao::FieldsPtr> primaryFields;

  // The field belongs to one of the table's primary indexes (looked up by
  // name in each primary index's Fields).
  bool InPrimaryIndex(const _bstr_t& fieldName) {
    if (!pTableDef) return false;
    if (!bPrimaryFieldsRead) {
      dao::IndexesPtr pIndexes = pTableDef->GetIndexes();
      const short nIndexes = pIndexes->GetCount();
      for (short i = 0; i < nIndexes; ++i) {
        dao::IndexPtr pIndex = pIndexes->GetItem(_variant_t(static_cast<LONG>(i)));
        if (pIndex->GetPrimary() != VARIANT_FALSE) primaryFields.push_back(pIndex->GetFields());
      }
      bPrimaryFieldsRead = true;
    }
    const _variant_t vName(fieldName);
    for (const dao::FieldsPtr& pFields : primaryFields) {
      dao::FieldPtr pField;
      if (SUCCEEDED(pFields->get_Item(vName, &pField)) && pField) return true;
    }
    return false;
  }
};

HRESULT GADM::ComScope::Initialize() {
  const HRESULT hr = CoInitialize(nullptr);
  if (SUCCEEDED(hr)) m_bInitialized = true;
  return hr;
}

void GADM::ComScope::Uninitialize() noexcept {
  if (!m_bInitialized) return;
  m_bInitialized = false;
  CoUninitialize();
}

GADM::GADM(IkivBackChannel* pBackChannel, std::string path, std::string password)
    : DataModel(pBackChannel), m_path(std::move(path)), m_password(std::move(password)) {
  Define();
}

GADM::~GADM() = default;

GADM::Keyword GADM::MatchDescription(const std::string& text, Keyword first, Keyword last) {
  for (auto k = static_cast<std::size_t>(first);
       k <= static_cast<std::size_t>(last) && k < kKeywordTexts.size(); ++k) {
    if (text.starts_with(kKeywordTexts[k])) return static_cast<Keyword>(k);
  }
  return Keyword::None;
}

void GADM::PreDataModelDefinition() {
  if (FAILED(m_com.Initialize())) throw vem_error(kErrComInitFailed);
  CBackChannel& backChannel = GetBackChannel();
  backChannel.RefreshTraceLevel();
  backChannel.Trace(kTraceLevel, kTraceFile, __LINE__, "GADM parse database");
  CallEngine(this, [&] {
    m_pEngine = dao::CreateDBEngine();
    if (!m_pEngine) _com_issue_error(E_POINTER);
    backChannel.Trace(kTraceLevel, kTraceFile, __LINE__,
                      "success GADM m_pEngine.CreateInstance(__uuidof(DAO::DBEngine))");
    const std::string connect = ";PWD=" + m_password;
    m_pParseDatabase =
        m_pEngine->OpenDatabase(_bstr_t(m_path.c_str()), _variant_t(static_cast<LONG>(0)),
                                _variant_t(false), _variant_t(connect.c_str()));
    if (!m_pParseDatabase) _com_issue_error(E_POINTER);
    backChannel.Trace(kTraceLevel, kTraceFile, __LINE__, "success OpenDatabase");
    dao::PropertiesPtr pProperties = m_pParseDatabase->GetProperties();
    const _variant_t vRecordDefMax = PropertyValue(pProperties.get(), "EnumRecordDefMax");
    m_lNextRecordDefId = vRecordDefMax.vt == VT_I4 ? vRecordDefMax.lVal : 0;
    const _variant_t vFieldMax = PropertyValue(pProperties.get(), "EnumFieldMax");
    m_lNextFieldDefId = vFieldMax.vt == VT_I4 ? vFieldMax.lVal : 0;
  });
}

void GADM::DefDatabases() {
  StoreDatabase(std::make_unique<DaoDatabase>(0, m_path, false, false, ";PWD=" + m_password, this));
}

void GADM::DefFieldDefs() {
  CallEngine(this, [&] {
    ParseDatabase(
        [this](ParsedObject& o, dao::Field& f, LONG j) { return TableFieldDef(o, f, j); },
        [this](ParsedObject& o, dao::Field& f, LONG j) { return QueryFieldDef(o, f, j); });
  });
  FillFieldGaps();
}

void GADM::DefRecordDefs() {
  CallEngine(this, [&] {
    ParseDatabase(
        [this](ParsedObject& o, dao::Field& f, LONG j) { return TableRecordDef(o, f, j); },
        [this](ParsedObject& o, dao::Field& f, LONG j) { return QueryRecordDef(o, f, j); });
  });
  m_pCurrentRecordDef = nullptr;
}

void GADM::DefCommandDefs() {}

void GADM::PostDataModelDefinition() {
  m_fieldIds.clear();
  CallEngine(this, [&] { m_pParseDatabase->Close(); });
  m_pParseDatabase.reset();
  m_pEngine.reset();
  m_com.Uninitialize();
}

void GADM::ParseDatabase(const FieldAction& tableAction, const FieldAction& queryAction) {
  // Calls action for every field of the object (when it is a "DM" one);
  // false when the action ended the pass.
  auto walkFields = [](ParsedObject& object, dao::Fields& fields, const FieldAction& action) {
    if (!DescriptionMatches(object.pProperties.get(), Keyword::DM)) return true;
    const short nFields = fields.GetCount();
    for (short j = 0; j < nFields; ++j) {
      dao::FieldPtr pField = fields.GetItem(_variant_t(static_cast<LONG>(j)));
      if (!pField) _com_issue_error(E_POINTER);
      const int result = action(object, *pField, j);
      if (result == 1) break;
      if (result == 2) return false;
    }
    return true;
  };

  dao::TableDefsPtr pTableDefs = m_pParseDatabase->GetTableDefs();
  const short nTables = pTableDefs->GetCount();
  for (short i = 0; i < nTables; ++i) {
    dao::TableDefPtr pTableDef = pTableDefs->GetItem(_variant_t(static_cast<LONG>(i)));
    if (!pTableDef) _com_issue_error(E_POINTER);
    // The engine's own catalog tables never take part (the engine does not
    // list them; a DAO engine lists them as system objects).
    if ((pTableDef->GetAttributes() & dao::dbSystemObject) != 0) continue;
    ParsedObject object;
    object.name = Ansi(pTableDef->GetName());
    object.pProperties = pTableDef->GetProperties();
    object.pTableDef = pTableDef;
    dao::FieldsPtr pFields = pTableDef->GetFields();
    if (!walkFields(object, *pFields, tableAction)) break;
  }

  dao::QueryDefsPtr pQueryDefs = m_pParseDatabase->GetQueryDefs();
  const short nQueries = pQueryDefs->GetCount();
  for (short i = 0; i < nQueries; ++i) {
    dao::QueryDefPtr pQueryDef = pQueryDefs->GetItem(_variant_t(static_cast<LONG>(i)));
    if (!pQueryDef) _com_issue_error(E_POINTER);
    ParsedObject object;
    object.name = Ansi(pQueryDef->GetName());
    object.pProperties = pQueryDef->GetProperties();
    dao::FieldsPtr pFields = pQueryDef->GetFields();
    if (!walkFields(object, *pFields, queryAction)) break;
  }
}

int GADM::TableFieldDef(ParsedObject& /*object*/, dao::Field& field, LONG /*lFieldIndex*/) {
  const std::string name = Ansi(field.GetName());
  const short type = field.GetType();
  dao::PropertiesPtr pProperties = field.GetProperties();
  LONG lType = PlainTypeOf(type);
  LONG lLength = -1;
  bool bCrypt = false;
  if (type == kDbLong) {
    lType = static_cast<LONG>(
        DescriptionMatches(pProperties.get(), Keyword::BLOB) ? FieldType::BLOB : FieldType::LONG);
  } else if (type == kDbText || type == kDbMemo) {
    const LONG lSize = field.GetSize();
    const LONG lColumnSize = type == kDbText ? lSize : kMemoColumnSize;
    const Keyword keyword =
        MatchedKeyword(pProperties.get(), Keyword::CRYPT_STRING, Keyword::CRYPT_DATETIME);
    if (keyword == Keyword::None) {
      lType = static_cast<LONG>(FieldType::STRING);
      lLength = lColumnSize;
    } else if (keyword == Keyword::CRYPT_STRING) {
      lType = static_cast<LONG>(FieldType::STRING);
      lLength = EncryptedStringLength(lColumnSize);
      bCrypt = true;
    } else {
      // CRYPT BOOL .. CRYPT DATETIME name the codes BOOL .. DATETIME in order.
      lType = static_cast<LONG>(FieldType::BOOL) +
              (static_cast<LONG>(keyword) - static_cast<LONG>(Keyword::CRYPT_BOOL));
      // The minimum is tested against the field's Size, for memo fields too.
      if (lSize < MinEncryptedColumnSize(lType))
        throw vem_error("crypt field length too small in field" + name, 0);
      lLength = lColumnSize;
      bCrypt = true;
    }
  }
  const LONG lID = IdOf(pProperties.get(), m_lNextFieldDefId);
  MakeFieldDef(lID, name, lType, lLength, bCrypt);
  return 0;
}

int GADM::QueryFieldDef(ParsedObject& /*object*/, dao::Field& field, LONG /*lFieldIndex*/) {
  const std::string name = Ansi(field.GetName());
  if (m_fieldIds.contains(name)) return 0;
  const short type = field.GetType();
  dao::PropertiesPtr pProperties = field.GetProperties();
  LONG lType = PlainTypeOf(type);
  LONG lLength = -1;
  if (type == kDbLong) {
    lType = static_cast<LONG>(
        DescriptionMatches(pProperties.get(), Keyword::BLOB) ? FieldType::BLOB : FieldType::LONG);
  } else if (type == kDbText) {
    lLength = field.GetSize();
  }
  const LONG lID = IdOf(pProperties.get(), m_lNextFieldDefId);
  MakeFieldDef(lID, name, lType, lLength, false);
  return 0;
}

int GADM::TableRecordDef(ParsedObject& object, dao::Field& field, LONG lFieldIndex) {
  const _bstr_t fieldName = field.GetName();
  AddToRecordDef(object, field, lFieldIndex, object.InPrimaryIndex(fieldName));
  return 0;
}

int GADM::QueryRecordDef(ParsedObject& object, dao::Field& field, LONG lFieldIndex) {
  dao::PropertiesPtr pProperties = field.GetProperties();
  AddToRecordDef(object, field, lFieldIndex, DescriptionMatches(pProperties.get(), Keyword::ID));
  return 0;
}

void GADM::AddToRecordDef(ParsedObject& object, dao::Field& field, LONG lFieldIndex,
                          bool bIdField) {
  if (lFieldIndex == 0) {
    const LONG lID = IdOf(object.pProperties.get(), m_lNextRecordDefId);
    m_pCurrentRecordDef = &StoreRecordDef(std::make_unique<SRecordDef>(lID, object.name, 0));
  }
  if (m_pCurrentRecordDef == nullptr)
    throw vem_error("no record definition for the fields of " + object.name, E_POINTER);
  const std::string name = Ansi(field.GetName());
  const auto it = m_fieldIds.find(name);
  // The field definitions step saw the same fields; a name it did not see
  // means that the database changed while the definitions were read.
  if (it == m_fieldIds.end())
    throw vem_error("no field definition for field " + name + " of " + object.name +
                        " (the database changed while it was read)",
                    E_FAIL);
  const bool bAutoValue = (field.GetAttributes() & kDbAutoIncrField) != 0;
  m_pCurrentRecordDef->AddField(GetSharedFieldDef(it->second), bIdField, bAutoValue);
}

LONG GADM::IdOf(dao::Properties* pProperties, LONG& lCounter) {
  const _variant_t vEnum = PropertyValue(pProperties, "Enum");
  if (vEnum.vt == VT_I4) return vEnum.lVal;
  // A counter at the end of the LONG range stays there (the definitions
  // that take its last value replace each other).
  const LONG lID = lCounter;
  if (lCounter < std::numeric_limits<LONG>::max()) ++lCounter;
  return lID;
}

void GADM::MakeFieldDef(LONG lID, const std::string& name, LONG lType, LONG lLength, bool bCrypt) {
  StoreFieldDef(std::make_shared<const SFieldDef>(lID, name, lType, lLength, bCrypt));
  m_fieldIds.emplace(name, lID);  // the first field of a name keeps its id
}

void GADM::FillFieldGaps() {
  // Only the dense ids have gaps to fill: an id far above them (an "Enum")
  // must not make the model build millions of placeholders.
  const std::size_t slots = DenseFieldDefSlots();
  std::vector<bool> filled(slots, false);
  ForEachFieldDef([&](const SFieldDef& fieldDef) {
    if (fieldDef.m_lID >= 0 && static_cast<std::size_t>(fieldDef.m_lID) < slots)
      filled[fieldDef.m_lID] = true;
  });
  for (std::size_t i = 0; i < filled.size(); ++i) {
    if (filled[i]) continue;
    StoreFieldDef(std::make_shared<const SFieldDef>(static_cast<LONG>(i), std::string(),
                                                    static_cast<LONG>(FieldType::CHAR), -1, false));
  }
}
