// A recordset's cache cells (StoredCell): values kept 16 bytes each with the
// bytes of texts and binaries in an arena, read straight from a statement's
// row with the same rules as ReadColumn (Value.cpp).
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#include "Engine/Value.h"

namespace dao {

StoredCell EncodeCell(const Value& v, std::string& arena) {
  StoredCell c;
  c.kind = static_cast<std::uint32_t>(v.index());
  switch (KindOf(v)) {
    case ValueKind::Null:
      break;
    case ValueKind::Boolean:
      c.i = std::get<bool>(v) ? 1 : 0;
      break;
    case ValueKind::Byte:
      c.i = std::get<std::uint8_t>(v);
      break;
    case ValueKind::Integer:
      c.i = std::get<std::int16_t>(v);
      break;
    case ValueKind::Long:
      c.i = std::get<std::int32_t>(v);
      break;
    case ValueKind::Single:
      c.d = std::get<float>(v);
      break;
    case ValueKind::Double:
      c.d = std::get<double>(v);
      break;
    case ValueKind::Currency:
      c.i = std::get<Currency>(v).scaled;
      break;
    case ValueKind::Date:
      c.d = std::get<Date>(v).value;
      break;
    case ValueKind::Text: {
      const auto& t = std::get<std::string>(v);
      c.offset = arena.size();
      c.size = static_cast<std::uint32_t>(t.size());
      arena.append(t);
      break;
    }
    case ValueKind::Binary: {
      const auto& b = std::get<Bytes>(v);
      c.offset = arena.size();
      c.size = static_cast<std::uint32_t>(b.size());
      arena.append(reinterpret_cast<const char*>(b.data()), b.size());
      break;
    }
  }
  return c;
}

void ReplaceCell(StoredCell& cell, const Value& v, std::string& arena) {
  const auto oldKind = static_cast<ValueKind>(cell.kind);
  const bool oldBytes = oldKind == ValueKind::Text || oldKind == ValueKind::Binary;
  const char* data = nullptr;
  std::size_t size = 0;
  if (const auto* t = std::get_if<std::string>(&v)) {
    data = t->data();
    size = t->size();
  } else if (const auto* b = std::get_if<Bytes>(&v)) {
    data = reinterpret_cast<const char*>(b->data());
    size = b->size();
  }
  if (data && oldBytes && size <= cell.size) {
    if (size) std::memcpy(&arena[cell.offset], data, size);
    cell.kind = static_cast<std::uint32_t>(v.index());
    cell.size = static_cast<std::uint32_t>(size);
    return;
  }
  cell = EncodeCell(v, arena);
}

Value DecodeCell(const StoredCell& c, const std::string& arena) {
  switch (static_cast<ValueKind>(c.kind)) {
    case ValueKind::Null:
      return {};
    case ValueKind::Boolean:
      return c.i != 0;
    case ValueKind::Byte:
      return static_cast<std::uint8_t>(c.i);
    case ValueKind::Integer:
      return static_cast<std::int16_t>(c.i);
    case ValueKind::Long:
      return static_cast<std::int32_t>(c.i);
    case ValueKind::Single:
      return static_cast<float>(c.d);
    case ValueKind::Double:
      return c.d;
    case ValueKind::Currency:
      return Currency{c.i};
    case ValueKind::Date:
      return Date{c.d};
    case ValueKind::Text:
      return std::string(arena.data() + c.offset, c.size);
    case ValueKind::Binary: {
      const auto* p = reinterpret_cast<const std::uint8_t*>(arena.data() + c.offset);
      return Bytes(p, p + c.size);
    }
  }
  return {};
}

StoredCell ReadCell(sqlite3_stmt* stmt, int i, int type, std::string& arena, bool loose) {
  // One call into the statement per value: sqlite3_column_value, then the
  // value's own accessors, which skip the statement's per-call checks. (The
  // engine's connections are opened SQLITE_OPEN_NOMUTEX, where SQLite makes
  // no difference between protected and unprotected values.) The tests are
  // ReadColumn's; anything it would convert or refuse goes through it.
  StoredCell c;
  sqlite3_value* v = sqlite3_column_value(stmt, i);
  const int ct = sqlite3_value_type(v);
  if (ct == SQLITE_NULL) return c;
  auto kind = [&c](ValueKind k) {
    c.kind = static_cast<std::uint32_t>(k);
    return c;
  };
  switch (type) {
    case dbBoolean:
      if (ct == SQLITE_INTEGER) {
        c.i = sqlite3_value_int64(v);
        if (c.i == -1 || c.i == 0) {
          c.i = c.i != 0;
          return kind(ValueKind::Boolean);
        }
      }
      break;
    case dbByte:
      if (ct == SQLITE_INTEGER) {
        c.i = sqlite3_value_int64(v);
        if (c.i >= 0 && c.i <= 255) return kind(ValueKind::Byte);
      }
      break;
    case dbInteger:
      if (ct == SQLITE_INTEGER) {
        c.i = sqlite3_value_int64(v);
        if (c.i >= -32768 && c.i <= 32767) return kind(ValueKind::Integer);
      }
      break;
    case dbLong:
      if (ct == SQLITE_INTEGER) {
        c.i = sqlite3_value_int64(v);
        if (c.i >= std::numeric_limits<std::int32_t>::min() &&
            c.i <= std::numeric_limits<std::int32_t>::max())
          return kind(ValueKind::Long);
      }
      break;
    case dbCurrency:
      if (ct == SQLITE_FLOAT) {
        Currency cy;
        if (CurrencyFromAmount(sqlite3_value_double(v), cy)) {
          c.i = cy.scaled;
          return kind(ValueKind::Currency);
        }
      }
      break;
    case dbSingle:
    case dbDouble:
    case dbDate:
      if (ct == SQLITE_FLOAT || ct == SQLITE_INTEGER) {
        c.d = sqlite3_value_double(v);
        if (type == dbDouble && std::isfinite(c.d)) return kind(ValueKind::Double);
        if (type == dbDate && c.d >= kMinOleDate && c.d <= kMaxOleDate)
          return kind(ValueKind::Date);
        if (type == dbSingle && std::fabs(c.d) <= FLT_MAX) {
          c.d = static_cast<float>(c.d);
          return kind(ValueKind::Single);
        }
        c.d = 0;
      }
      break;
    case dbText:
    case dbMemo:
    case dbBinary:
    case dbLongBinary: {
      const bool text = type == dbText || type == dbMemo;
      if (ct != (text ? SQLITE_TEXT : SQLITE_BLOB)) break;
      const char* p = text ? reinterpret_cast<const char*>(sqlite3_value_text(v))
                           : static_cast<const char*>(sqlite3_value_blob(v));
      const int n = sqlite3_value_bytes(v);
      c.offset = arena.size();
      c.size = static_cast<std::uint32_t>(n);
      if (n > 0) arena.append(p, static_cast<std::size_t>(n));
      return kind(text ? ValueKind::Text : ValueKind::Binary);
    }
    default:
      break;
  }
  return EncodeCell(ReadColumn(stmt, i, type, loose), arena);
}

}  // namespace dao
