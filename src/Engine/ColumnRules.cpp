// Column rules as CHECK constraints, their failures as DAO errors, and the
// names Jet accepts.
#include "Engine/ColumnRules.h"

#include <cfloat>
#include <cstdio>

#include "Engine/EngineError.h"
#include "Engine/Sqlite.h"
#include "Engine/Value.h"

namespace dao {

namespace {

constexpr const char* kTypeRule = " must be ";
constexpr const char* kSizeRule = " too long";
constexpr const char* kCheckFailed = "CHECK constraint failed: ";

std::string Number(double d) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", d);
  return buf;
}

// The condition a value of `type` must meet (Null always passes: a CHECK
// that yields Null is not a failure).
std::string TypeCondition(const std::string& c, int type) {
  auto typed = [&](const char* sqliteType) {
    return "typeof(" + c + ") IN ('" + sqliteType + "', 'null')";
  };
  auto range = [&](const std::string& lo, const std::string& hi) {
    return " AND " + c + " BETWEEN " + lo + " AND " + hi;
  };
  switch (type) {
    case dbBoolean:
      return typed("integer") + " AND " + c + " IN (-1, 0)";
    case dbByte:
      return typed("integer") + range("0", "255");
    case dbInteger:
      return typed("integer") + range("-32768", "32767");
    case dbLong:
      return typed("integer") + range("-2147483648", "2147483647");
    case dbSingle:
      return typed("real") + range(Number(-FLT_MAX), Number(FLT_MAX));
    case dbDouble:
      return typed("real") + " AND abs(" + c + ") < 1e999";  // 1e999 reads as infinity
    case dbCurrency:
      return typed("real") + " AND abs(" + c + ") < " + Number(kCurrencyAmountLimit);
    case dbDate:
      return typed("real") + range(Number(kMinOleDate), Number(kMaxOleDate));
    case dbText:
    case dbMemo:
      return typed("text");
    case dbGUID:
      return typed("blob") + " AND length(" + c + ") = 16";
    default:  // Binary, Long Binary
      return typed("blob");
  }
}

// What a value of the type must be, for messages.
std::string Expected(const std::string& typeName) {
  if (typeName == "Boolean") return "True (-1) or False (0)";
  if (typeName == "Byte") return "a whole number from 0 to 255";
  if (typeName == "Integer") return "a whole number from -32768 to 32767";
  if (typeName == "Long") return "a whole number from -2147483648 to 2147483647";
  if (typeName == "Currency") return "an amount below 549755813888 in magnitude";
  if (typeName == "Date") return "a date from 100-01-01 to 9999-12-31";
  if (typeName == "Single" || typeName == "Double")
    return "a finite number in the range of " + typeName;
  if (typeName == "GUID") return "a 16-byte GUID";
  return "a value of type " + typeName;
}

}  // namespace

std::string ColumnChecks(const std::string& table, const std::string& column, int type,
                         std::int32_t size, bool rowid) {
  const std::string c = QuoteId(column);
  const std::string prefix = table + "." + column;
  std::string out = " CONSTRAINT " + QuoteId(prefix + kTypeRule + TypeName(type)) + " CHECK (";
  out += rowid ? c + " BETWEEN -2147483648 AND 2147483647" : TypeCondition(c, type);
  out += ")";
  if (!rowid && (type == dbText || type == dbBinary) && size > 0)
    out += " CONSTRAINT " + QuoteId(prefix + kSizeRule) + " CHECK (length(" + c +
           ") <= " + std::to_string(size) + ")";
  return out;
}

bool DescribeCheckFailure(const std::string& message, int& number, std::string& text) {
  const std::string head = kCheckFailed;
  if (message.compare(0, head.size(), head) != 0) return false;
  std::string name = message.substr(head.size());
  const std::size_t dot = name.find('.');
  if (dot == std::string::npos) return false;
  const std::string table = name.substr(0, dot);
  std::string rest = name.substr(dot + 1);
  const std::string size = kSizeRule;
  if (rest.size() > size.size() &&
      rest.compare(rest.size() - size.size(), size.size(), size) == 0) {
    const std::string field = rest.substr(0, rest.size() - size.size());
    number = kErrFieldTooLong;
    text = "The value is too long for field '" + field + "' of table '" + table + "'.";
    return true;
  }
  const std::size_t rule = rest.rfind(kTypeRule);
  if (rule == std::string::npos) return false;
  const std::string field = rest.substr(0, rule);
  const std::string typeName = rest.substr(rule + std::string(kTypeRule).size());
  number = kErrConversion;
  text = "Data type conversion error: the value cannot be stored in " + typeName + " field '" +
         field + "' of table '" + table + "'; it must be " + Expected(typeName) + ".";
  return true;
}

void CheckObjectName(const std::string& name, const char* what) {
  auto refuse = [&](const std::string& why) {
    Fail(kErrInvalidName, "'" + name + "' isn't a valid " + what + " name: " + why + ".");
  };
  if (!name.empty() && name.front() == ' ') refuse("it begins with a space");
  for (char ch : name) {
    const auto u = static_cast<unsigned char>(ch);
    if (u < 0x20 || u == 0x7F) refuse("it contains a control character");
    if (ch == '.' || ch == '!' || ch == '`' || ch == '[' || ch == ']')
      refuse(std::string("it contains '") + ch + "' (names cannot contain . ! ` [ or ])");
  }
}

}  // namespace dao
