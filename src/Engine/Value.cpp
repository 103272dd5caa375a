// Engine values: DAO conversion rules and the SQLite storage encoding.
#include "Engine/Value.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "Engine/EngineError.h"

namespace dao {

namespace {

// OLE dates before day 0 carry their time as a positive fraction, so the
// last moment of 100-01-01 is -657434.99999999.
constexpr double kMinDate = kMinOleDate;  // 100-01-01 23:59:59
constexpr double kMaxDate = kMaxOleDate;  // 9999-12-31 23:59:59

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool ParseNumber(std::string_view text, double& out) {
  text = Trim(text);
  if (text.empty()) return false;
  if (text.front() == '+') text.remove_prefix(1);
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && ptr == text.data() + text.size() && std::isfinite(out);
}

// A short description of a value for messages.
std::string Describe(const Value& v) {
  switch (KindOf(v)) {
    case ValueKind::Null:
      return "Null";
    case ValueKind::Text: {
      const auto& s = std::get<std::string>(v);
      return "the text '" + (s.size() > 40 ? s.substr(0, 40) + "..." : s) + "'";
    }
    case ValueKind::Binary:
      return "binary data of " + std::to_string(std::get<Bytes>(v).size()) + " bytes";
    case ValueKind::Boolean:
      return std::get<bool>(v) ? "True" : "False";
    case ValueKind::Date:
      return "the date " + FormatDate(std::get<Date>(v).value);
    default: {
      double d = 0;
      if (auto* p = std::get_if<std::uint8_t>(&v)) d = *p;
      if (auto* p = std::get_if<std::int16_t>(&v)) d = *p;
      if (auto* p = std::get_if<std::int32_t>(&v)) d = *p;
      if (auto* p = std::get_if<float>(&v)) d = *p;
      if (auto* p = std::get_if<double>(&v)) d = *p;
      if (auto* p = std::get_if<Currency>(&v)) d = CurrencyAmount(*p);
      return "the number " + FormatNumber(d);
    }
  }
}

[[noreturn]] void ConversionError(const Value& v, int type, const std::string& what) {
  Fail(kErrConversion, "Data type conversion error: " + Describe(v) + " cannot be stored as " +
                           TypeName(type) + " in " + what + ".");
}

// The numeric value of v; false when v is not a number (or numeric text).
bool NumericOf(const Value& v, double& d) {
  switch (KindOf(v)) {
    case ValueKind::Boolean:
      d = std::get<bool>(v) ? -1.0 : 0.0;
      return true;
    case ValueKind::Byte:
      d = std::get<std::uint8_t>(v);
      return true;
    case ValueKind::Integer:
      d = std::get<std::int16_t>(v);
      return true;
    case ValueKind::Long:
      d = std::get<std::int32_t>(v);
      return true;
    case ValueKind::Single:
      d = std::get<float>(v);
      return std::isfinite(d);
    case ValueKind::Double:
      d = std::get<double>(v);
      return std::isfinite(d);
    case ValueKind::Currency:
      d = static_cast<double>(std::get<Currency>(v).scaled) / 10000.0;
      return true;
    case ValueKind::Date:
      d = std::get<Date>(v).value;
      return true;
    case ValueKind::Text: {
      const auto& s = std::get<std::string>(v);
      if (ParseNumber(s, d)) return true;
      std::string_view t = Trim(s);
      if (EqualsNoCase(t, "True") || EqualsNoCase(t, "Yes") || EqualsNoCase(t, "On")) {
        d = -1;
        return true;
      }
      if (EqualsNoCase(t, "False") || EqualsNoCase(t, "No") || EqualsNoCase(t, "Off")) {
        d = 0;
        return true;
      }
      return false;
    }
    default:
      return false;
  }
}

std::string TextOf(const Value& v, bool& ok) {
  ok = true;
  switch (KindOf(v)) {
    case ValueKind::Text:
      return std::get<std::string>(v);
    case ValueKind::Boolean:
      return std::get<bool>(v) ? "True" : "False";
    case ValueKind::Byte:
      return std::to_string(std::get<std::uint8_t>(v));
    case ValueKind::Integer:
      return std::to_string(std::get<std::int16_t>(v));
    case ValueKind::Long:
      return std::to_string(std::get<std::int32_t>(v));
    case ValueKind::Single: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(std::get<float>(v)));
      return buf;
    }
    case ValueKind::Double:
      return FormatNumber(std::get<double>(v));
    case ValueKind::Currency: {
      std::int64_t s = std::get<Currency>(v).scaled;
      bool neg = s < 0;
      std::uint64_t a = neg ? 0 - static_cast<std::uint64_t>(s) : static_cast<std::uint64_t>(s);
      std::string out = std::to_string(a / 10000);
      if (neg) out.insert(out.begin(), '-');
      std::uint64_t frac = a % 10000;
      if (frac) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04u", static_cast<unsigned>(frac));
        std::string f = buf;
        while (!f.empty() && f.back() == '0') f.pop_back();
        out += "." + f;
      }
      return out;
    }
    case ValueKind::Date:
      return FormatDate(std::get<Date>(v).value);
    default:
      ok = false;
      return {};
  }
}

template <typename T>
bool RoundInto(double d, T& out) {
  double r = std::nearbyint(d);  // round half to even, as VB's CInt/CLng
  if (!(r >= static_cast<double>(std::numeric_limits<T>::min()) &&
        r <= static_cast<double>(std::numeric_limits<T>::max())))
    return false;
  out = static_cast<T>(r);
  return true;
}

int CivilDays(int y, unsigned m, unsigned d) {  // days since 1970-01-01
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int>(doe) - 719468;
}

void CivilFromDays(int z, int& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

constexpr int kOleEpochDays = -25569;  // 1899-12-30 relative to 1970-01-01

bool ParseInt(std::string_view s, int& out) {
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

bool ParseTime(std::string_view t, double& fraction) {
  t = Trim(t);
  int pm = -1;
  if (t.size() >= 2) {
    std::string_view tail = t.substr(t.size() - 2);
    if (EqualsNoCase(tail, "AM") || EqualsNoCase(tail, "PM")) {
      pm = EqualsNoCase(tail, "PM") ? 1 : 0;
      t = Trim(t.substr(0, t.size() - 2));
    }
  }
  int h = 0, mi = 0;
  double sec = 0;
  auto c1 = t.find(':');
  if (c1 == std::string_view::npos) return false;
  if (!ParseInt(t.substr(0, c1), h)) return false;
  std::string_view rest = t.substr(c1 + 1);
  auto c2 = rest.find(':');
  if (c2 == std::string_view::npos) {
    if (!ParseInt(rest, mi)) return false;
  } else {
    if (!ParseInt(rest.substr(0, c2), mi)) return false;
    if (!ParseNumber(rest.substr(c2 + 1), sec)) return false;
  }
  if (pm >= 0) {
    if (h < 1 || h > 12) return false;
    h = (h % 12) + (pm ? 12 : 0);
  }
  if (h < 0 || h > 23 || mi < 0 || mi > 59 || sec < 0 || sec >= 60) return false;
  fraction = (h * 3600.0 + mi * 60.0 + sec) / 86400.0;
  return true;
}

bool ValidDate(int y, int m, int d) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

}  // namespace

double OleDateFromParts(int year, int month, int day, int hour, int minute, double second) {
  int days =
      CivilDays(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kOleEpochDays;
  double frac = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  return days >= 0 ? days + frac : days - frac;
}

bool ParseDateText(std::string_view text, double& oleDate) {
  text = Trim(text);
  if (text.empty()) return false;
  // Split the date part from a time part (" " or "T").
  std::string_view datePart = text, timePart;
  auto sp = text.find_first_of(" T");
  if (sp != std::string_view::npos) {
    datePart = text.substr(0, sp);
    timePart = text.substr(sp + 1);
  }
  double frac = 0;
  if (datePart.find(':') != std::string_view::npos) {  // a time alone
    if (!ParseTime(text, frac)) return false;
    oleDate = frac;
    return true;
  }
  int y = 0, m = 0, d = 0;
  if (datePart.size() >= 8 && datePart[4] == '-') {  // yyyy-mm-dd
    auto d1 = datePart.find('-'), d2 = datePart.find('-', d1 + 1);
    if (d2 == std::string_view::npos) return false;
    if (!ParseInt(datePart.substr(0, d1), y) ||
        !ParseInt(datePart.substr(d1 + 1, d2 - d1 - 1), m) || !ParseInt(datePart.substr(d2 + 1), d))
      return false;
  } else {  // m/d/yyyy, US order as Jet reads date literals
    auto s1 = datePart.find('/');
    auto s2 = s1 == std::string_view::npos ? s1 : datePart.find('/', s1 + 1);
    if (s2 == std::string_view::npos) return false;
    if (!ParseInt(datePart.substr(0, s1), m) ||
        !ParseInt(datePart.substr(s1 + 1, s2 - s1 - 1), d) || !ParseInt(datePart.substr(s2 + 1), y))
      return false;
    if (datePart.size() - s2 - 1 <= 2) y += y < 30 ? 2000 : 1900;
  }
  if (!ValidDate(y, m, d)) return false;
  if (!timePart.empty() && !ParseTime(timePart, frac)) return false;
  int days = CivilDays(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) - kOleEpochDays;
  oleDate = days >= 0 ? days + frac : days - frac;
  return true;
}

std::string FormatDate(double oleDate) {
  double whole = std::trunc(oleDate);
  double frac = std::fabs(oleDate - whole);
  long long secs = std::llround(frac * 86400.0);
  if (secs >= 86400) {
    secs = 0;
    whole += oleDate >= 0 ? 1 : -1;
  }
  int y;
  unsigned m, d;
  CivilFromDays(static_cast<int>(whole) + kOleEpochDays, y, m, d);
  char buf[48];
  if (secs == 0)
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", y, m, d);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02lld:%02lld:%02lld", y, m, d, secs / 3600,
                  (secs / 60) % 60, secs % 60);
  return buf;
}

std::string FormatNumber(double value) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  return buf;
}

std::size_t Utf16Length(std::string_view utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) ++n;  // a lead byte starts a code point
    if (c >= 0xF0) ++n;           // outside the BMP: a surrogate pair
  }
  return n;
}

bool IsKnownType(int type) {
  return (type >= dbBoolean && type <= dbMemo) || type == dbGUID;
}

std::int32_t DefaultSize(int type) {
  switch (type) {
    case dbBoolean:
    case dbByte:
      return 1;
    case dbInteger:
      return 2;
    case dbLong:
    case dbSingle:
      return 4;
    case dbCurrency:
    case dbDouble:
    case dbDate:
      return 8;
    case dbBinary:
    case dbText:
      return 255;
    case dbGUID:
      return 16;
    default:
      return 0;
  }
}

const char* StorageType(int type) {
  switch (type) {
    case dbBoolean:
    case dbByte:
    case dbInteger:
    case dbLong:
      return "INTEGER";
    case dbCurrency:
    case dbSingle:
    case dbDouble:
    case dbDate:
      return "REAL";
    case dbText:
    case dbMemo:
      return "TEXT";
    default:
      return "BLOB";
  }
}

const char* TypeName(int type) {
  switch (type) {
    case dbBoolean:
      return "Boolean";
    case dbByte:
      return "Byte";
    case dbInteger:
      return "Integer";
    case dbLong:
      return "Long";
    case dbCurrency:
      return "Currency";
    case dbSingle:
      return "Single";
    case dbDouble:
      return "Double";
    case dbDate:
      return "Date";
    case dbBinary:
      return "Binary";
    case dbText:
      return "Text";
    case dbLongBinary:
      return "Long Binary";
    case dbMemo:
      return "Memo";
    case dbGUID:
      return "GUID";
    default:
      return "unknown type";
  }
}

Value ConvertToType(const Value& v, int type, const std::string& what) {
  if (IsNull(v)) return v;
  double d = 0;
  switch (type) {
    case dbBoolean:
      if (auto* b = std::get_if<bool>(&v)) return *b;
      if (!NumericOf(v, d)) ConversionError(v, type, what);
      return d != 0;
    case dbByte: {
      if (auto* p = std::get_if<std::uint8_t>(&v)) return *p;
      std::uint8_t out;
      if (!NumericOf(v, d) || !RoundInto(d, out)) ConversionError(v, type, what);
      return out;
    }
    case dbInteger: {
      if (auto* p = std::get_if<std::int16_t>(&v)) return *p;
      std::int16_t out;
      if (!NumericOf(v, d) || !RoundInto(d, out)) ConversionError(v, type, what);
      return out;
    }
    case dbLong: {
      if (auto* p = std::get_if<std::int32_t>(&v)) return *p;
      std::int32_t out;
      if (!NumericOf(v, d) || !RoundInto(d, out)) ConversionError(v, type, what);
      return out;
    }
    case dbSingle:
      if (auto* p = std::get_if<float>(&v)) return *p;
      if (!NumericOf(v, d) || std::fabs(d) > FLT_MAX) ConversionError(v, type, what);
      return static_cast<float>(d);
    case dbDouble:
      if (auto* p = std::get_if<double>(&v)) return *p;
      if (!NumericOf(v, d)) ConversionError(v, type, what);
      return d;
    case dbCurrency: {
      Currency out;
      if (auto* p = std::get_if<Currency>(&v)) {
        out = *p;
      } else if (auto* p = std::get_if<std::int32_t>(&v)) {
        out = Currency{std::int64_t{*p} * 10000};
      } else {
        if (!NumericOf(v, d) || !(std::fabs(d) < 1e16)) ConversionError(v, type, what);
        out = Currency{
            static_cast<std::int64_t>(std::nearbyint(static_cast<long double>(d) * 10000))};
      }
      // The storage keeps amounts below 2^39 exactly; a larger one would read
      // back as another amount.
      if (out.scaled > kMaxCurrencyScaled || out.scaled < -kMaxCurrencyScaled)
        ConversionError(v, type, what);
      return out;
    }
    case dbDate: {
      if (auto* p = std::get_if<Date>(&v)) return *p;
      if (auto* s = std::get_if<std::string>(&v)) {
        if (ParseDateText(*s, d)) return Date{d};
      }
      if (KindOf(v) == ValueKind::Boolean || !NumericOf(v, d) || d < kMinDate || d > kMaxDate)
        ConversionError(v, type, what);
      return Date{d};
    }
    case dbText:
    case dbMemo: {
      bool ok;
      std::string s = TextOf(v, ok);
      if (!ok) ConversionError(v, type, what);
      return s;
    }
    case dbBinary:
    case dbLongBinary:
      if (auto* p = std::get_if<Bytes>(&v)) return *p;
      ConversionError(v, type, what);
    case dbGUID:
      if (auto* p = std::get_if<Bytes>(&v); p && p->size() == 16) return *p;
      ConversionError(v, type, what);
    default:
      ConversionError(v, type, what);
  }
}

namespace {
// Whether `v` already is what a field of `type` stores.
bool IsStoredForm(const Value& v, int type) {
  switch (type) {
    case dbBoolean:
      return KindOf(v) == ValueKind::Boolean;
    case dbByte:
      return KindOf(v) == ValueKind::Byte;
    case dbInteger:
      return KindOf(v) == ValueKind::Integer;
    case dbLong:
      return KindOf(v) == ValueKind::Long;
    case dbSingle:
      return KindOf(v) == ValueKind::Single;
    case dbDouble:
      return KindOf(v) == ValueKind::Double && std::isfinite(std::get<double>(v));
    case dbCurrency:
      return KindOf(v) == ValueKind::Currency;
    case dbDate:
      return KindOf(v) == ValueKind::Date;
    case dbText:
    case dbMemo:
      return KindOf(v) == ValueKind::Text;
    case dbBinary:
    case dbLongBinary:
      return KindOf(v) == ValueKind::Binary;
    default:
      return false;
  }
}
}  // namespace

namespace {

// The limits a value of the field's own type must keep: Currency below 2^39,
// Text(n) and Binary(n) at most n characters or bytes. `given` is the value
// as the caller gave it (for the message).
void CheckFieldLimits(const Value& out, const Value& given, const ColumnInfo& column,
                      const std::string& owner) {
  auto what = [&] { return "field '" + column.name + "' of '" + owner + "'"; };
  if (const auto* c = std::get_if<Currency>(&out);
      c && (c->scaled > kMaxCurrencyScaled || c->scaled < -kMaxCurrencyScaled))
    ConversionError(given, column.type, what());
  if (column.type == dbText && column.size > 0) {
    const auto& s = std::get<std::string>(out);
    // A UTF-8 text has at least as many bytes as UTF-16 units: count only
    // when the bytes could be too many.
    std::size_t n = s.size() <= static_cast<std::size_t>(column.size) ? 0 : Utf16Length(s);
    if (n > static_cast<std::size_t>(column.size))
      Fail(kErrFieldTooLong, "The value is too long for " + what() + ": " + std::to_string(n) +
                                 " characters given, the field holds at most " +
                                 std::to_string(column.size) + ".");
  }
  if (column.type == dbBinary && column.size > 0) {
    const auto& b = std::get<Bytes>(out);
    if (b.size() > static_cast<std::size_t>(column.size))
      Fail(kErrFieldTooLong,
           "The value is too long for " + what() + ": " + std::to_string(b.size()) +
               " bytes given, the field holds at most " + std::to_string(column.size) + ".");
  }
}

}  // namespace

Value ConvertForField(const Value& value, const ColumnInfo& column, const std::string& owner) {
  Value out;
  if (IsNull(value) || IsStoredForm(value, column.type)) {
    out = value;
  } else {
    static const std::string kUnnamed;
    try {
      out = ConvertToType(value, column.type, kUnnamed);
    } catch (const EngineError&) {
      // Raises with the field named.
      ConvertToType(value, column.type, "field '" + column.name + "' of '" + owner + "'");
      throw;
    }
  }
  if (IsNull(out)) return out;
  CheckFieldLimits(out, value, column, owner);
  return out;
}

void ConvertForFieldInPlace(Value& value, const ColumnInfo& column, const std::string& owner) {
  if (IsNull(value)) return;
  if (!IsStoredForm(value, column.type)) {
    value = ConvertForField(value, column, owner);
    return;
  }
  CheckFieldLimits(value, value, column, owner);
}

int BindValue(sqlite3_stmt* stmt, int index, const Value& v) {
  switch (KindOf(v)) {
    case ValueKind::Null:
      return sqlite3_bind_null(stmt, index);
    case ValueKind::Boolean:
      return sqlite3_bind_int(stmt, index, std::get<bool>(v) ? -1 : 0);
    case ValueKind::Byte:
      return sqlite3_bind_int(stmt, index, std::get<std::uint8_t>(v));
    case ValueKind::Integer:
      return sqlite3_bind_int(stmt, index, std::get<std::int16_t>(v));
    case ValueKind::Long:
      return sqlite3_bind_int(stmt, index, std::get<std::int32_t>(v));
    case ValueKind::Single:
      return sqlite3_bind_double(stmt, index, std::get<float>(v));
    case ValueKind::Double:
      return sqlite3_bind_double(stmt, index, std::get<double>(v));
    case ValueKind::Currency:
      return sqlite3_bind_double(stmt, index, CurrencyAmount(std::get<Currency>(v)));
    case ValueKind::Date:
      return sqlite3_bind_double(stmt, index, std::get<Date>(v).value);
    case ValueKind::Text: {
      const auto& s = std::get<std::string>(v);
      return sqlite3_bind_text(stmt, index, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    }
    case ValueKind::Binary: {
      const auto& b = std::get<Bytes>(v);
      return sqlite3_bind_blob(stmt, index, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
    }
  }
  return SQLITE_MISUSE;
}

namespace {
Value RawColumn(sqlite3_stmt* stmt, int i, int ct) {
  switch (ct) {
    case SQLITE_INTEGER: {
      sqlite3_int64 n = sqlite3_column_int64(stmt, i);
      if (n >= std::numeric_limits<std::int32_t>::min() &&
          n <= std::numeric_limits<std::int32_t>::max())
        return static_cast<std::int32_t>(n);
      return static_cast<double>(n);
    }
    case SQLITE_FLOAT:
      return sqlite3_column_double(stmt, i);
    case SQLITE_TEXT: {
      const char* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
      return std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, i)));
    }
    case SQLITE_BLOB: {
      const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, i));
      int n = sqlite3_column_bytes(stmt, i);
      return Bytes(p, p + n);
    }
    default:
      return {};
  }
}
}  // namespace

bool CurrencyFromAmount(double amount, Currency& out) {
  if (!(std::fabs(amount) < kCurrencyAmountLimit)) return false;
  // The product is exact in long double (53 + 10 significant bits), so the
  // only error left is the stored double's own, below 0.31 of a unit of
  // 0.0001 under 2^39: rounding gives back the amount that was stored.
  out.scaled = static_cast<std::int64_t>(std::nearbyint(static_cast<long double>(amount) * 10000));
  return true;
}

namespace {

[[noreturn]] void MisfitError(sqlite3_stmt* stmt, int i, int type, const Value& raw) {
  const char* name = sqlite3_column_name(stmt, i);
  const char* table = sqlite3_column_table_name(stmt, i);
  Fail(kErrConversion, std::string("Data type conversion error: field '") + (name ? name : "?") +
                           "'" + (table ? std::string(" of table '") + table + "'" : "") +
                           " holds " + Describe(raw) + ", which is not a valid " + TypeName(type) +
                           " value.");
}

// Whether `converted` (of the field's type) stands for the same value as
// `raw` (as SQLite held it): a number equal to the raw number, or a text.
bool SameValue(const Value& converted, const Value& raw) {
  if (KindOf(converted) == ValueKind::Text) return KindOf(raw) != ValueKind::Binary;
  double a = 0, b = 0;
  if (KindOf(raw) == ValueKind::Text || KindOf(raw) == ValueKind::Binary) {
    if (!ParseNumber(std::get_if<std::string>(&raw) ? *std::get_if<std::string>(&raw) : "", a))
      return false;
  } else if (!NumericOf(raw, a)) {
    return false;
  }
  return NumericOf(converted, b) && a == b;
}

}  // namespace

Value ReadColumn(sqlite3_stmt* stmt, int i, int type, bool loose) {
  int ct = sqlite3_column_type(stmt, i);
  if (ct == SQLITE_NULL) return {};
  switch (type) {
    case dbBoolean:
      if (ct == SQLITE_INTEGER) {
        const sqlite3_int64 n = sqlite3_column_int64(stmt, i);
        if (n == -1 || n == 0) return n != 0;
      }
      break;
    case dbByte:
      if (ct == SQLITE_INTEGER) {
        const sqlite3_int64 n = sqlite3_column_int64(stmt, i);
        if (n >= 0 && n <= 255) return static_cast<std::uint8_t>(n);
      }
      break;
    case dbInteger:
      if (ct == SQLITE_INTEGER) {
        const sqlite3_int64 n = sqlite3_column_int64(stmt, i);
        if (n >= -32768 && n <= 32767) return static_cast<std::int16_t>(n);
      }
      break;
    case dbLong:
      if (ct == SQLITE_INTEGER) {
        const sqlite3_int64 n = sqlite3_column_int64(stmt, i);
        if (n >= std::numeric_limits<std::int32_t>::min() &&
            n <= std::numeric_limits<std::int32_t>::max())
          return static_cast<std::int32_t>(n);
      }
      break;
    case dbCurrency:
      if (ct == SQLITE_FLOAT) {
        Currency c;
        if (CurrencyFromAmount(sqlite3_column_double(stmt, i), c)) return c;
      }
      // Format 1 stored the amount scaled by 10,000 as an INTEGER (a
      // Currency column of format 2 has REAL affinity: never an INTEGER).
      if (ct == SQLITE_INTEGER) return Currency{sqlite3_column_int64(stmt, i)};
      break;
    case dbSingle:
      if (ct == SQLITE_FLOAT || ct == SQLITE_INTEGER) {
        const double d = sqlite3_column_double(stmt, i);
        if (std::fabs(d) <= FLT_MAX) return static_cast<float>(d);
      }
      break;
    case dbDouble:
      if (ct == SQLITE_FLOAT || ct == SQLITE_INTEGER) {
        const double d = sqlite3_column_double(stmt, i);
        if (std::isfinite(d)) return d;
      }
      break;
    case dbDate:
      if (ct == SQLITE_FLOAT || ct == SQLITE_INTEGER) {
        const double d = sqlite3_column_double(stmt, i);
        if (d >= kMinDate && d <= kMaxDate) return Date{d};
      }
      break;
    case dbText:
    case dbMemo:
      if (ct == SQLITE_TEXT) return RawColumn(stmt, i, ct);
      break;
    case dbBinary:
    case dbLongBinary:
      if (ct == SQLITE_BLOB) return RawColumn(stmt, i, ct);
      break;
    case dbGUID:
      if (ct == SQLITE_BLOB && sqlite3_column_bytes(stmt, i) == 16) return RawColumn(stmt, i, ct);
      break;
    default:
      return RawColumn(stmt, i, ct);
  }
  // A value that the field's type does not hold as it is (written by another
  // program, or by an older version without the column rules). A table the
  // catalog describes gets it converted only when the conversion keeps the
  // value (a number stored as text, a number in a Text field); anything else
  // is an error, never a different value. A table made without the engine
  // keeps its loose typing: converted when DAO's rules allow, else handed on.
  Value raw = RawColumn(stmt, i, ct);
  try {
    Value converted = ConvertToType(raw, type, "a stored value");
    if (loose || SameValue(converted, raw)) return converted;
  } catch (const EngineError&) {
    if (loose) return raw;
  }
  MisfitError(stmt, i, type, raw);
}

int InferType(const Value& v) {
  switch (KindOf(v)) {
    case ValueKind::Boolean:
      return dbBoolean;
    case ValueKind::Byte:
      return dbByte;
    case ValueKind::Integer:
      return dbInteger;
    case ValueKind::Long:
      return dbLong;
    case ValueKind::Single:
      return dbSingle;
    case ValueKind::Double:
      return dbDouble;
    case ValueKind::Currency:
      return dbCurrency;
    case ValueKind::Date:
      return dbDate;
    case ValueKind::Text:
      return dbText;
    case ValueKind::Binary:
      return dbLongBinary;
    default:
      return dbText;
  }
}

}  // namespace dao
