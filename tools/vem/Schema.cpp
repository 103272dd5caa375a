// Reading and checking the JSON schema of `vem create` (see Schema.h).
#include "Schema.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "DataBase/AccessDriver/Definitions.h"
#include "DataBase/AccessDriver/GADM.h"
#include "Platform/Text.h"

namespace vemtool {

namespace {

using nlohmann::json;

// A schema error at a JSON pointer.
struct SchemaError {
  std::string where;
  std::string what;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw SchemaError{where.empty() ? "/" : where, what};
}

// A JSON pointer reference token (RFC 6901: "~" -> "~0", "/" -> "~1").
std::string Token(const std::string& key) {
  std::string out;
  for (char c : key) {
    if (c == '~')
      out += "~0";
    else if (c == '/')
      out += "~1";
    else
      out += c;
  }
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

const char* KindOf(const json& value) {
  switch (value.type()) {
    case json::value_t::object:
      return "an object";
    case json::value_t::array:
      return "an array";
    case json::value_t::string:
      return "a string";
    case json::value_t::boolean:
      return "a Boolean";
    case json::value_t::null:
      return "null";
    default:
      return "a number";
  }
}

// The members of an object, each checked against the keys allowed there.
const json& Object(const json& value, const std::string& where,
                   std::initializer_list<const char*> keys) {
  if (!value.is_object()) Fail(where, std::string("expected an object, found ") + KindOf(value));
  for (const auto& [key, member] : value.items()) {
    if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return key == k; })) {
      std::string known;
      for (const char* k : keys) known += std::string(known.empty() ? "" : ", ") + k;
      Fail(where + "/" + Token(key), "unknown key \"" + key + "\" (known here: " + known + ")");
    }
  }
  return value;
}

const json* Member(const json& object, const char* key) {
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::string String(const json& value, const std::string& where, bool bNonEmpty = true) {
  if (!value.is_string()) Fail(where, std::string("expected a string, found ") + KindOf(value));
  std::string text = value.get<std::string>();
  if (bNonEmpty && text.empty()) Fail(where, "must not be empty");
  return text;
}

std::string RequiredString(const json& object, const char* key, const std::string& where) {
  const json* pValue = Member(object, key);
  if (!pValue) Fail(where, std::string("missing \"") + key + "\"");
  return String(*pValue, where + "/" + key);
}

// A name of a table, query, field or index: the system holds names as
// Windows-1252 text, so a name with other characters would not be found.
std::string Name(const json& object, const std::string& where) {
  std::string name = RequiredString(object, "name", where);
  const std::u16string wide = platform::Utf8ToWide(name);
  if (platform::AnsiToWide(platform::WideToAnsi(wide)) != wide)
    Fail(where + "/name",
         "\"" + name +
             "\" has characters outside Windows-1252, which the server's names cannot hold");
  return name;
}

bool Boolean(const json& value, const std::string& where) {
  if (!value.is_boolean())
    Fail(where, std::string("expected true or false, found ") + KindOf(value));
  return value.get<bool>();
}

LONG Long(const json& value, const std::string& where, LONG lMin, LONG lMax) {
  if (!value.is_number_integer())
    Fail(where, std::string("expected an integer, found ") + KindOf(value));
  const bool bFits = value.is_number_unsigned()
                         ? value.get<std::uint64_t>() <= static_cast<std::uint64_t>(lMax)
                         : value.get<std::int64_t>() >= lMin && value.get<std::int64_t>() <= lMax;
  if (!bFits)
    Fail(where, "must be from " + std::to_string(lMin) + " to " + std::to_string(lMax) +
                    " (found " + value.dump() + ")");
  return static_cast<LONG>(value.get<std::int64_t>());
}

constexpr LONG kMaxId = std::numeric_limits<LONG>::max();

std::vector<std::string> Names(const json& value, const std::string& where) {
  if (value.is_string()) return {String(value, where)};
  if (!value.is_array() || value.empty())
    Fail(where, "expected a field name or a non-empty array of field names");
  std::vector<std::string> names;
  for (std::size_t i = 0; i < value.size(); ++i)
    names.push_back(String(value[i], where + "/" + std::to_string(i)));
  return names;
}

// Jet column types by their DAO names.
const std::map<std::string, short>& JetTypes() {
  static const std::map<std::string, short> types = {{"Boolean", dao::dbBoolean},
                                                     {"Byte", dao::dbByte},
                                                     {"Integer", dao::dbInteger},
                                                     {"Long", dao::dbLong},
                                                     {"Currency", dao::dbCurrency},
                                                     {"Single", dao::dbSingle},
                                                     {"Double", dao::dbDouble},
                                                     {"Date", dao::dbDate},
                                                     {"Binary", dao::dbBinary},
                                                     {"Text", dao::dbText},
                                                     {"LongBinary", dao::dbLongBinary},
                                                     {"Memo", dao::dbMemo},
                                                     {"GUID", dao::dbGUID}};
  return types;
}

std::string TypeName(short type) {
  for (const auto& [name, t] : JetTypes())
    if (t == type) return name;
  return std::to_string(type);
}

short JetType(const json& value, const std::string& where) {
  const std::string name = String(value, where);
  std::string known;
  for (const auto& [typeName, type] : JetTypes()) {
    if (Lower(typeName) == Lower(name)) return type;
    known += (known.empty() ? "" : ", ") + typeName;
  }
  Fail(where, "unknown type \"" + name + "\" (one of " + known + ")");
}

// Names compare as the engine compares them: without regard to case.
class NameSet {
 public:
  // Fails at where when the name was added before (at the place given then).
  void Add(const std::string& name, const std::string& where, const char* kind) {
    const auto [it, bNew] = m_names.emplace(Lower(name), where);
    if (!bNew)
      Fail(where,
           std::string("a ") + kind + " named \"" + name + "\" comes earlier, at " + it->second);
  }
  bool Has(const std::string& name) const { return m_names.count(Lower(name)) > 0; }

 private:
  std::map<std::string, std::string> m_names;
};

// The model's rules for the "Description" of a table column.
void CheckFieldDescription(const FieldSpec& field, const std::string& where, bool bBlobTables) {
  if (!field.description) return;
  const std::string& text = *field.description;
  using K = GADM::Keyword;
  const K crypt = GADM::MatchDescription(text, K::CRYPT_STRING, K::CRYPT_DATETIME);
  const bool bBlob = GADM::MatchDescription(text, K::BLOB, K::BLOB) == K::BLOB;
  const std::string at = where + "/description";
  if (bBlob) {
    if (field.type != dao::dbLong)
      Fail(at,
           "\"BLOB\" marks a Long column (the blob id); this column is " + TypeName(field.type));
    if (!bBlobTables)
      Fail(at, "a BLOB column needs the blob tables: add \"blobTables\": true at the top");
    return;
  }
  if (crypt == K::None) return;
  if (field.type != dao::dbText && field.type != dao::dbMemo)
    Fail(at, "\"" + text +
                 "\" marks a Text or Memo column (it holds the cipher text); this column is " +
                 TypeName(field.type));
  const LONG lType = static_cast<LONG>(FieldType::STRING) + static_cast<LONG>(crypt) -
                     static_cast<LONG>(K::CRYPT_STRING);
  const std::string sizeAt = where + "/size";
  if (lType == static_cast<LONG>(FieldType::STRING)) {
    if (field.type == dao::dbText && EncryptedStringLength(field.size) <= 0)
      Fail(sizeAt,
           "a CRYPT STRING column of size " + std::to_string(field.size) +
               " holds no text: its size must be a multiple of 4 and at least 40 (252 holds 161 "
               "characters; a Memo holds 47972)");
    return;
  }
  const LONG lMin = MinEncryptedColumnSize(lType);
  if (field.type == dao::dbMemo)
    Fail(at, "\"" + text + "\" needs a Text column of size " + std::to_string(lMin) +
                 " or more; a Memo column is refused by the model");
  if (field.size < lMin)
    Fail(sizeAt, "a \"" + std::string(CryptDescription(lType)) +
                     "\" column needs a size of at least " + std::to_string(lMin) + " (found " +
                     std::to_string(field.size) + ")");
}

FieldSpec ReadField(const json& value, const std::string& where, bool bBlobTables) {
  const json& object = Object(
      value, where, {"name", "type", "size", "autoNumber", "required", "description", "enum"});
  FieldSpec field;
  field.name = Name(object, where);
  const json* pType = Member(object, "type");
  if (!pType) Fail(where, "missing \"type\"");
  field.type = JetType(*pType, where + "/type");
  if (const json* p = Member(object, "size")) {
    if (field.type != dao::dbText && field.type != dao::dbBinary)
      Fail(where + "/size", "a size applies to Text and Binary columns only");
    field.size = Long(*p, where + "/size", 1, 255);
  } else if (field.type == dao::dbText || field.type == dao::dbBinary) {
    field.size = 255;
  }
  if (const json* p = Member(object, "autoNumber")) {
    field.autoNumber = Boolean(*p, where + "/autoNumber");
    if (field.autoNumber && field.type != dao::dbLong)
      Fail(where + "/autoNumber", "an AutoNumber column must be of type Long");
  }
  if (const json* p = Member(object, "required")) field.required = Boolean(*p, where + "/required");
  if (const json* p = Member(object, "description"))
    field.description = String(*p, where + "/description", false);
  if (const json* p = Member(object, "enum")) field.enumId = Long(*p, where + "/enum", 0, kMaxId);
  CheckFieldDescription(field, where, bBlobTables);
  return field;
}

TableSpec ReadTable(const json& value, const std::string& where, bool bBlobTables) {
  const json& object =
      Object(value, where, {"name", "description", "enum", "fields", "primaryKey", "indexes"});
  TableSpec table;
  table.name = Name(object, where);
  if (const json* p = Member(object, "description"))
    table.description = String(*p, where + "/description", false);
  if (const json* p = Member(object, "enum")) table.enumId = Long(*p, where + "/enum", 0, kMaxId);
  const json* pFields = Member(object, "fields");
  if (!pFields) Fail(where, "missing \"fields\"");
  if (!pFields->is_array() || pFields->empty())
    Fail(where + "/fields", "expected a non-empty array of fields");
  NameSet fieldNames;
  for (std::size_t i = 0; i < pFields->size(); ++i) {
    const std::string at = where + "/fields/" + std::to_string(i);
    table.fields.push_back(ReadField((*pFields)[i], at, bBlobTables));
    fieldNames.Add(table.fields.back().name, at + "/name", "field");
  }
  auto checkNames = [&](const std::vector<std::string>& names, const std::string& at) {
    for (std::size_t i = 0; i < names.size(); ++i)
      if (!fieldNames.Has(names[i]))
        Fail(names.size() == 1 && at.ends_with("primaryKey") ? at : at + "/" + std::to_string(i),
             "\"" + names[i] + "\" is not a field of table \"" + table.name + "\"");
  };
  if (const json* p = Member(object, "primaryKey")) {
    table.primaryKey = Names(*p, where + "/primaryKey");
    checkNames(table.primaryKey, where + "/primaryKey");
  }
  if (const json* p = Member(object, "indexes")) {
    if (!p->is_array()) Fail(where + "/indexes", "expected an array of indexes");
    NameSet indexNames;
    indexNames.Add("PrimaryKey", where + "/primaryKey", "index");
    for (std::size_t i = 0; i < p->size(); ++i) {
      const std::string at = where + "/indexes/" + std::to_string(i);
      const json& index = Object((*p)[i], at, {"name", "fields", "unique"});
      IndexSpec def;
      def.name = Name(index, at);
      indexNames.Add(def.name, at + "/name", "index");
      const json* pIndexFields = Member(index, "fields");
      if (!pIndexFields) Fail(at, "missing \"fields\"");
      def.fields = Names(*pIndexFields, at + "/fields");
      checkNames(def.fields, at + "/fields");
      if (const json* pUnique = Member(index, "unique"))
        def.unique = Boolean(*pUnique, at + "/unique");
      table.indexes.push_back(std::move(def));
    }
  }
  return table;
}

QuerySpec ReadQuery(const json& value, const std::string& where) {
  const json& object = Object(value, where, {"name", "sql", "description", "enum", "fields"});
  QuerySpec query;
  query.name = Name(object, where);
  query.sql = RequiredString(object, "sql", where);
  if (const json* p = Member(object, "description"))
    query.description = String(*p, where + "/description", false);
  if (const json* p = Member(object, "enum")) query.enumId = Long(*p, where + "/enum", 0, kMaxId);
  if (const json* p = Member(object, "fields")) {
    if (!p->is_object())
      Fail(where + "/fields", std::string("expected an object, found ") + KindOf(*p));
    for (const auto& [name, field] : p->items()) {
      const std::string at = where + "/fields/" + Token(name);
      const json& marks = Object(field, at, {"description", "enum"});
      if (const json* pd = Member(marks, "description"))
        query.fieldDescriptions.emplace_back(name, String(*pd, at + "/description", false));
      if (const json* pe = Member(marks, "enum"))
        query.fieldEnums.emplace_back(name, Long(*pe, at + "/enum", 0, kMaxId));
    }
  }
  return query;
}

// Object() with no keys refuses every member; the query's "fields" takes
// any name, so it is checked for being an object only.
const json& AnyObject(const json& value, const std::string& where) {
  if (!value.is_object()) Fail(where, std::string("expected an object, found ") + KindOf(value));
  return value;
}

std::vector<SchemaProperty> ReadProperties(const json& value, const std::string& where) {
  std::vector<SchemaProperty> properties;
  for (const auto& [name, member] : AnyObject(value, where).items()) {
    const std::string at = where + "/" + Token(name);
    if (name == "vemDriverVersion")
      Fail(at, "set the driver version with the top-level \"driverVersion\" (\"1.0\" or \"1.1\")");
    if (name == "vemKeyCheck")
      Fail(at, "\"vemKeyCheck\" is written by the server when the secret changes");
    SchemaProperty property{name, LONG{0}, at};
    if (member.is_number_integer())
      property.value = Long(member, at, std::numeric_limits<LONG>::min(), kMaxId);
    else if (name == "EnumRecordDefMax" || name == "EnumFieldMax" || name == "vemDatabaseVersion")
      Fail(at, "\"" + name + "\" must be an integer (the model reads any other type as absent)");
    else if (member.is_number())
      property.value = member.get<double>();
    else if (member.is_boolean())
      property.value = member.get<bool>();
    else if (member.is_string())
      property.value = member.get<std::string>();
    else
      Fail(at, std::string("a property value is a string, a number or a Boolean, not ") +
                   KindOf(member));
    properties.push_back(std::move(property));
  }
  return properties;
}

DatabaseSchema ReadSchema(const json& root) {
  const json& object =
      Object(root, "", {"driverVersion", "blobTables", "properties", "tables", "queries"});
  DatabaseSchema schema;
  if (const json* p = Member(object, "driverVersion")) {
    const std::string version = String(*p, "/driverVersion");
    if (version == "1.0")
      schema.driverVersion = 0x01000000;
    else if (version != "1.1")
      Fail("/driverVersion", "expected \"1.0\" or \"1.1\" (found \"" + version + "\")");
  }
  if (const json* p = Member(object, "blobTables")) schema.blobTables = Boolean(*p, "/blobTables");
  if (const json* p = Member(object, "properties"))
    schema.properties = ReadProperties(*p, "/properties");
  NameSet objectNames;  // tables and queries share one name space
  if (schema.blobTables) {
    objectNames.Add("tblBLOB_FILES", "/blobTables", "table");
    objectNames.Add("tblBLOB_BLOCKS", "/blobTables", "table");
  }
  auto array = [&](const char* key) -> const json* {
    const json* p = Member(object, key);
    if (p && !p->is_array())
      Fail(std::string("/") + key, std::string("expected an array, found ") + KindOf(*p));
    return p;
  };
  if (const json* p = array("tables")) {
    for (std::size_t i = 0; i < p->size(); ++i) {
      const std::string at = "/tables/" + std::to_string(i);
      schema.tables.push_back(ReadTable((*p)[i], at, schema.blobTables));
      objectNames.Add(schema.tables.back().name, at + "/name", "table or query");
      schema.tableWhere.push_back(at);
    }
  }
  if (const json* p = array("queries")) {
    for (std::size_t i = 0; i < p->size(); ++i) {
      const std::string at = "/queries/" + std::to_string(i);
      schema.queries.push_back(ReadQuery((*p)[i], at));
      objectNames.Add(schema.queries.back().name, at + "/name", "table or query");
      schema.queryWhere.push_back(at);
    }
  }
  return schema;
}

// Refuses a key that an object holds twice, which the parser would settle
// silently by keeping the last one: in a hand-written file the first is as
// likely to be the one meant. Follows the parser's events to know the JSON
// pointer of each value.
class DuplicateKeyCheck {
 public:
  bool operator()(int /*depth*/, json::parse_event_t event, json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
      case json::parse_event_t::array_start:
        m_frames.push_back({Path(), event == json::parse_event_t::object_start, {}, {}, 0});
        break;
      case json::parse_event_t::key: {
        Frame& frame = m_frames.back();
        frame.key = parsed.get<std::string>();
        if (!frame.keys.insert(frame.key).second)
          Fail(frame.path + "/" + Token(frame.key),
               "the key \"" + frame.key + "\" comes twice in this object");
        break;
      }
      case json::parse_event_t::object_end:
      case json::parse_event_t::array_end:
        m_frames.pop_back();
        Advance();
        break;
      case json::parse_event_t::value:
        Advance();
        break;
    }
    return true;
  }

 private:
  struct Frame {
    std::string path;  // JSON pointer of the object or array
    bool bObject;
    std::set<std::string> keys;
    std::string key;  // the member being read
    std::size_t index;
  };
  // The pointer of the value that begins now.
  std::string Path() const {
    if (m_frames.empty()) return "";
    const Frame& f = m_frames.back();
    return f.path + "/" + (f.bObject ? Token(f.key) : std::to_string(f.index));
  }
  void Advance() {
    if (!m_frames.empty() && !m_frames.back().bObject) ++m_frames.back().index;
  }
  std::vector<Frame> m_frames;
};

// Line and column (from 1) of byte offset `byte` (from 1, as the parser
// reports it) of text.
std::pair<std::size_t, std::size_t> LineColumn(const std::string& text, std::size_t byte) {
  std::size_t line = 1, column = 1;
  const std::size_t end = std::min(text.size(), byte > 0 ? byte - 1 : 0);
  for (std::size_t i = 0; i < end; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return {line, column};
}

}  // namespace

DatabaseSchema LoadSchema(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw CommandFailure("cannot open schema file " + path);
  std::stringstream content;
  content << file.rdbuf();
  if (file.bad()) throw CommandFailure("cannot read schema file " + path);
  const std::string text = content.str();
  json root;
  try {
    root = json::parse(text, DuplicateKeyCheck());
  } catch (const SchemaError& e) {
    throw CommandFailure(path + ": " + e.where + ": " + e.what);
  } catch (const json::parse_error& e) {
    const auto [line, column] = LineColumn(text, e.byte);
    std::string what = e.what();
    const std::size_t colon = what.find(": ", what.find("parse error"));
    if (colon != std::string::npos) what = what.substr(colon + 2);
    throw CommandFailure(path + ":" + std::to_string(line) + ":" + std::to_string(column) +
                         ": JSON syntax error: " + what);
  }
  try {
    return ReadSchema(root);
  } catch (const SchemaError& e) {
    throw CommandFailure(path + ": " + e.where + ": " + e.what);
  }
}

}  // namespace vemtool
