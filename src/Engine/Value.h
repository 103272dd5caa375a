// Engine values: the DAO data types, the value type the engine works with
// inside (independent of VARIANT), the DAO conversion rules for writing a
// value into a field, and the storage encoding in SQLite.
//
// Storage encoding (one SQLite value per field):
//   Boolean            INTEGER -1 / 0
//   Byte, Integer, Long INTEGER
//   Single, Double     REAL
//   Currency           REAL, the amount itself (so that criteria, aggregates and
//                      SQL see what the recordset shows), read back rounded to
//                      4 decimal places. A double holds every 4-place amount
//                      below 2^39 (549,755,813,888) closely enough for that
//                      rounding to give it back exactly; larger amounts are
//                      refused (3421). Files of format 1 held the amount
//                      scaled by 10,000 as an INTEGER: such a value is still
//                      read as scaled (a Currency column of format 2 has REAL
//                      affinity and never yields an INTEGER).
//   Date               REAL, the OLE Automation date (days since 1899-12-30)
//   Text, Memo         TEXT, UTF-8
//   Binary, LongBinary, GUID  BLOB
//   Null               NULL
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace dao {

// DAO's DataTypeEnum (the types a Jet table can hold).
enum DataTypeEnum : int {
  dbBoolean = 1,
  dbByte = 2,
  dbInteger = 3,
  dbLong = 4,
  dbCurrency = 5,
  dbSingle = 6,
  dbDouble = 7,
  dbDate = 8,
  dbBinary = 9,
  dbText = 10,
  dbLongBinary = 11,
  dbMemo = 12,
  dbGUID = 15,
};

// Field attributes (FieldAttributeEnum).
enum FieldAttributeEnum : int {
  dbFixedField = 0x1,
  dbVariableField = 0x2,
  dbAutoIncrField = 0x10,
  dbUpdatableField = 0x20,
  dbSystemField = 0x2000,
};

struct Currency {
  std::int64_t scaled = 0;  // amount x 10,000
  bool operator==(const Currency&) const = default;
};
// Currency amounts the storage keeps exactly: |amount| < 2^39, i.e. |scaled|
// at most kMaxCurrencyScaled.
inline constexpr double kCurrencyAmountLimit = 549755813888.0;  // 2^39
inline constexpr std::int64_t kMaxCurrencyScaled = 5497558138880000 - 1;
// The stored form of a Currency (the amount as the nearest double).
inline double CurrencyAmount(Currency c) {
  return static_cast<double>(c.scaled) / 10000.0;
}
// The Currency a stored amount stands for, rounded to 4 places (half to
// even); false when the amount is not finite or not below 2^39.
bool CurrencyFromAmount(double amount, Currency& out);
// The OLE dates the engine accepts (100-01-01 to 9999-12-31 23:59:59).
inline constexpr double kMinOleDate = -657434.99999999;
inline constexpr double kMaxOleDate = 2958465.99999999;
struct Date {
  double value = 0;  // OLE Automation date
  bool operator==(const Date&) const = default;
};
using Bytes = std::vector<std::uint8_t>;

// The alternatives' order is ValueKind's.
using Value = std::variant<std::monostate, bool, std::uint8_t, std::int16_t, std::int32_t, float,
                           double, Currency, Date, std::string, Bytes>;
enum class ValueKind {
  Null,
  Boolean,
  Byte,
  Integer,
  Long,
  Single,
  Double,
  Currency,
  Date,
  Text,
  Binary
};
inline ValueKind KindOf(const Value& v) {
  return static_cast<ValueKind>(v.index());
}
inline bool IsNull(const Value& v) {
  return v.index() == 0;
}

// A column as the catalog describes it.
struct ColumnInfo {
  std::string name;
  int type = dbText;  // DataTypeEnum
  std::int32_t size = 0;
  std::int32_t attributes = 0;
  bool required = false;
  bool loose = false;  // a column of a table made without the engine
};

// Declared size of a type whose size is fixed (Text: 255 unless given).
std::int32_t DefaultSize(int type);
// The SQLite column type (affinity) used to store a DAO type.
const char* StorageType(int type);
// "Text", "Long", ... for messages.
const char* TypeName(int type);
bool IsKnownType(int type);

// Converts `value` to what field `column` stores, by DAO's rules: numbers are
// range-checked (3421), text must parse as the target type (3421), text
// longer than a Text field's size is refused (3163), never truncated.
// `owner` names the table or recordset for the message.
Value ConvertForField(const Value& value, const ColumnInfo& column, const std::string& owner);
// The same, converting `value` where it is (a value already of the field's
// type is checked, not copied).
void ConvertForFieldInPlace(Value& value, const ColumnInfo& column, const std::string& owner);
// The value a DAO type holds when converted from `value` (used for property
// values and conversions without a size limit). Throws 3421 naming `what`.
Value ConvertToType(const Value& value, int type, const std::string& what);

// UTF-16 length of a UTF-8 text (the unit of a Text field's size).
std::size_t Utf16Length(std::string_view utf8);

// Binds a value to parameter `index` (1-based).
int BindValue(sqlite3_stmt* stmt, int index, const Value& value);
// Reads column `i` of the current row as a value of DAO type `type`; type 0
// means "infer from the SQLite value" (expressions without a base column).
// A stored value that does not fit the type (out of range, another SQLite
// type, a Boolean other than -1/0) raises 3421 naming the field, unless
// `loose` (a table made without the engine, whose columns the catalog does
// not describe): then it is handed on as SQLite holds it.
Value ReadColumn(sqlite3_stmt* stmt, int i, int type, bool loose = false);
// The DAO type that a value of unknown origin is reported as.
int InferType(const Value& value);

// A value as a recordset's cache keeps it: 16 bytes, with the bytes of a
// text or binary value in a separate arena (so that a cached row of four
// fields takes 64 bytes, not 160).
struct StoredCell {
  std::uint32_t kind = 0;  // ValueKind
  std::uint32_t size = 0;  // bytes in the arena (Text, Binary)
  union {
    std::int64_t i = 0;    // Boolean, Byte, Integer, Long, Currency
    double d;              // Single, Double, Date
    std::uint64_t offset;  // Text, Binary: where the bytes start in the arena
  };
};
StoredCell EncodeCell(const Value& value, std::string& arena);
// Gives `cell` the value `value`: a text or binary that fits into the bytes
// the cell already has in the arena is written there, anything else is
// encoded anew (appended to the arena).
void ReplaceCell(StoredCell& cell, const Value& value, std::string& arena);
Value DecodeCell(const StoredCell& cell, const std::string& arena);
// Reads column `i` as ReadColumn does, straight into a cell.
StoredCell ReadCell(sqlite3_stmt* stmt, int i, int type, std::string& arena, bool loose = false);

// OLE date <-> civil parts; text forms used by conversions.
double OleDateFromParts(int year, int month, int day, int hour, int minute, double second);
bool ParseDateText(std::string_view text, double& oleDate);
std::string FormatDate(double oleDate);
std::string FormatNumber(double value);

}  // namespace dao
