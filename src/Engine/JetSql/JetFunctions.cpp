// The SQL functions and the collation that translated Jet SQL calls, with Jet's semantics:
// 1-based string positions counted in characters, text comparisons ignoring case, dates as OLE
// Automation doubles, Booleans as -1/0, VBA's banker's rounding in conversions.
//
// Null handling: a Null in the main argument gives Null (Jet's own functions mostly do; where VBA
// would raise "Invalid use of Null" for a Null text or number to convert, the function answers
// Null rather than failing the whole query). Wrong argument values raise an SQL error with VBA's
// message and the function's name ("Invalid procedure call or argument in Left").
//
// The functions run per row: they read arguments in place, format numbers into stack buffers and
// allocate only the text they return (and a Like pattern once per statement when it is constant).
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "Engine/JetSql/JetDate.h"
#include "Engine/JetSql/JetSql.h"
#include "Engine/JetSql/JetText.h"

namespace jetsql {

namespace {

using detail::AppendUtf8;
using detail::NextCodePoint;

// ---- argument reading ----

struct Number {
  bool isInt = true;
  std::int64_t i = 0;
  double d = 0;
  double AsDouble() const { return isInt ? static_cast<double>(i) : d; }
};

void ResultNumber(sqlite3_context* ctx, const Number& n) {
  if (n.isInt) {
    sqlite3_result_int64(ctx, n.i);
  } else {
    sqlite3_result_double(ctx, n.d);
  }
}

void Error(sqlite3_context* ctx, std::string_view what, const char* fn) {
  std::string msg(what);
  msg += " in ";
  msg += fn;
  sqlite3_result_error(ctx, msg.c_str(), static_cast<int>(msg.size()));
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A numeric text as VBA converts it: optional sign, digits with an optional fraction and
// exponent, or &H / &O integers; surrounding blanks allowed.
bool ParseNumberText(std::string_view s, Number& out) {
  s = TrimSpaces(s);
  if (s.empty()) return false;
  if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
    const int radix = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
    std::uint32_t v = 0;
    const auto res = std::from_chars(s.data() + 2, s.data() + s.size(), v, radix);
    if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return false;
    out.isInt = true;
    out.i = v <= 0xFFFF ? static_cast<std::int16_t>(static_cast<std::uint16_t>(v))
                        : static_cast<std::int32_t>(v);
    return true;
  }
  bool negative = false;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || s[0] == '+' || s[0] == '-') return false;
  std::int64_t i = 0;
  auto res = std::from_chars(s.data(), s.data() + s.size(), i);
  if (res.ec == std::errc() && res.ptr == s.data() + s.size()) {
    out.isInt = true;
    out.i = negative ? -i : i;
    return true;
  }
  double d = 0;
  res = std::from_chars(s.data(), s.data() + s.size(), d);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size() || !std::isfinite(d)) return false;
  out.isInt = false;
  out.d = negative ? -d : d;
  return true;
}

enum class Read { Ok, Null, Failed };

// Reads a numeric argument; text is converted (a date text too), anything else fails with
// "Type mismatch".
Read GetNumber(sqlite3_context* ctx, sqlite3_value* v, Number& out, const char* fn) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
      return Read::Null;
    case SQLITE_INTEGER:
      out.isInt = true;
      out.i = sqlite3_value_int64(v);
      return Read::Ok;
    case SQLITE_FLOAT:
      out.isInt = false;
      out.d = sqlite3_value_double(v);
      return Read::Ok;
    case SQLITE_TEXT: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
      const std::string_view s(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(v)));
      if (ParseNumberText(s, out)) return Read::Ok;
      double ole = 0;
      if (detail::ParseDateText(s, ole, nullptr)) {
        out.isInt = false;
        out.d = ole;
        return Read::Ok;
      }
      break;
    }
    default:
      break;
  }
  Error(ctx, "Type mismatch", fn);
  return Read::Failed;
}

// VBA's conversion to a whole number: round half to even, then range check.
bool ToWhole(const Number& n, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
  if (n.isInt) {
    if (n.i < lo || n.i > hi) return false;
    out = n.i;
    return true;
  }
  const double r = std::nearbyint(n.d);
  if (!(r >= static_cast<double>(lo) && r <= static_cast<double>(hi))) return false;
  out = static_cast<std::int64_t>(r);
  return true;
}

// Reads an argument that must be a whole number in [lo, hi] (a count, a position).
Read GetWhole(sqlite3_context* ctx, sqlite3_value* v, std::int64_t lo, std::int64_t hi,
              std::int64_t& out, const char* fn) {
  Number n;
  const Read r = GetNumber(ctx, v, n, fn);
  if (r != Read::Ok) return r;
  if (!ToWhole(n, lo, hi, out)) {
    Error(ctx, "Invalid procedure call or argument", fn);
    return Read::Failed;
  }
  return Read::Ok;
}

// Text of a number as VBA's CStr writes it: whole numbers plainly, others with up to 15
// significant digits, exponents as "1E+20". Locale-independent.
std::string_view FormatDouble(double d, char* buf, std::size_t size) {
  if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 1e15) {
    const auto res = std::to_chars(buf, buf + size, static_cast<std::int64_t>(d));
    return {buf, static_cast<std::size_t>(res.ptr - buf)};
  }
  const auto res = std::to_chars(buf, buf + size, d, std::chars_format::general, 15);
  for (char* p = buf; p < res.ptr; ++p) {
    if (*p == 'e') *p = 'E';
  }
  return {buf, static_cast<std::size_t>(res.ptr - buf)};
}

constexpr std::size_t kNumberBuf = 48;

// The text form of a value as Jet converts it; false for Null.
bool GetText(sqlite3_value* v, char* buf, std::string_view& out) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
      return false;
    case SQLITE_INTEGER: {
      const auto res = std::to_chars(buf, buf + kNumberBuf, sqlite3_value_int64(v));
      out = std::string_view(buf, static_cast<std::size_t>(res.ptr - buf));
      return true;
    }
    case SQLITE_FLOAT:
      out = FormatDouble(sqlite3_value_double(v), buf, kNumberBuf);
      return true;
    default: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
      out = std::string_view(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(v)));
      return true;
    }
  }
}

void ResultText(sqlite3_context* ctx, std::string_view s) {
  sqlite3_result_text64(ctx, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void ResultBool(sqlite3_context* ctx, bool b) {
  sqlite3_result_int(ctx, b ? 1 : 0);
}

// Byte offset of the code point with 0-based index `n` (or the end).
std::size_t OffsetOfChar(std::string_view s, std::int64_t n) {
  std::size_t pos = 0;
  while (n > 0 && pos < s.size()) {
    NextCodePoint(s, pos);
    --n;
  }
  return pos;
}

std::int64_t CountChars(std::string_view s) {
  std::int64_t n = 0;
  for (std::size_t pos = 0; pos < s.size(); ++n) NextCodePoint(s, pos);
  return n;
}

// Truth value of a logical operand: 1, 0 or -1 for Null; -2 after an error was set.
int Truth(sqlite3_context* ctx, sqlite3_value* v, const char* fn) {
  Number n;
  const Read r = GetNumber(ctx, v, n, fn);
  if (r == Read::Null) return -1;
  if (r == Read::Failed) return -2;
  return n.AsDouble() != 0 ? 1 : 0;
}

// ---- operators ----

void JetLike(sqlite3_context* ctx, int, sqlite3_value** argv) {
  char buf[kNumberBuf];
  std::string_view text;
  std::string_view pattern;
  char pbuf[kNumberBuf];
  if (!GetText(argv[0], buf, text) || !GetText(argv[1], pbuf, pattern)) {
    sqlite3_result_null(ctx);
    return;
  }
  if (auto* cached = static_cast<detail::LikePattern*>(sqlite3_get_auxdata(ctx, 1))) {
    ResultBool(ctx, cached->Matches(text));
    return;
  }
  auto compiled = std::make_unique<detail::LikePattern>();
  std::string why;
  if (!compiled->Compile(pattern, &why)) {
    const std::string msg = "Invalid Like pattern '" + std::string(pattern) + "': " + why;
    sqlite3_result_error(ctx, msg.c_str(), static_cast<int>(msg.size()));
    return;
  }
  ResultBool(ctx, compiled->Matches(text));
  // SQLite may free the pattern at once (when the argument is not constant): set it last.
  sqlite3_set_auxdata(ctx, 1, compiled.release(),
                      [](void* p) { delete static_cast<detail::LikePattern*>(p); });
}

// a & b & ...: Null counts as "", the result is Null only when every part is Null.
void JetConcat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  char buf[kNumberBuf];
  std::string_view part;
  sqlite3_uint64 total = 0;
  bool any = false;
  for (int i = 0; i < argc; ++i) {
    if (GetText(argv[i], buf, part)) {
      total += part.size();
      any = true;
    }
  }
  if (!any) {
    sqlite3_result_null(ctx);
    return;
  }
  char* out = static_cast<char*>(sqlite3_malloc64(total + 1));
  if (!out) {
    sqlite3_result_error_nomem(ctx);
    return;
  }
  char* p = out;
  for (int i = 0; i < argc; ++i) {
    if (GetText(argv[i], buf, part)) {
      if (!part.empty()) std::memcpy(p, part.data(), part.size());
      p += part.size();
    }
  }
  sqlite3_result_text64(ctx, out, total, sqlite3_free, SQLITE_UTF8);
}

// a + b where neither side is known to be a number: two texts join, otherwise numbers add.
void JetAdd(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  if (sqlite3_value_type(argv[0]) == SQLITE_TEXT && sqlite3_value_type(argv[1]) == SQLITE_TEXT) {
    JetConcat(ctx, 2, argv);
    return;
  }
  Number a;
  Number b;
  if (GetNumber(ctx, argv[0], a, "+") != Read::Ok || GetNumber(ctx, argv[1], b, "+") != Read::Ok)
    return;
  std::int64_t sum = 0;
  if (a.isInt && b.isInt && !__builtin_add_overflow(a.i, b.i, &sum)) {
    sqlite3_result_int64(ctx, sum);
  } else {
    sqlite3_result_double(ctx, a.AsDouble() + b.AsDouble());
  }
}

// Reads both operands of an arithmetic operator; false when the result is already set.
bool TwoNumbers(sqlite3_context* ctx, sqlite3_value** argv, Number& a, Number& b, const char* fn) {
  const Read ra = GetNumber(ctx, argv[0], a, fn);
  if (ra == Read::Failed) return false;
  const Read rb = GetNumber(ctx, argv[1], b, fn);
  if (rb == Read::Failed) return false;
  if (ra == Read::Null || rb == Read::Null) {
    sqlite3_result_null(ctx);
    return false;
  }
  return true;
}

void JetDiv(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Number a;
  Number b;
  if (!TwoNumbers(ctx, argv, a, b, "/")) return;
  if (b.AsDouble() == 0) {
    sqlite3_result_error(ctx, "Division by zero", -1);
    return;
  }
  sqlite3_result_double(ctx, a.AsDouble() / b.AsDouble());
}

// \ and Mod round both operands to whole numbers first (half to even).
bool TwoWholes(sqlite3_context* ctx, sqlite3_value** argv, std::int64_t& a, std::int64_t& b,
               const char* fn) {
  Number na;
  Number nb;
  if (!TwoNumbers(ctx, argv, na, nb, fn)) return false;
  constexpr auto lo = std::numeric_limits<std::int64_t>::min() + 1;
  constexpr auto hi = std::numeric_limits<std::int64_t>::max();
  if (!ToWhole(na, lo, hi, a) || !ToWhole(nb, lo, hi, b)) {
    Error(ctx, "Overflow", fn);
    return false;
  }
  if (b == 0) {
    sqlite3_result_error(ctx, "Division by zero", -1);
    return false;
  }
  return true;
}

void JetIntDiv(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::int64_t a = 0;
  std::int64_t b = 0;
  if (TwoWholes(ctx, argv, a, b, "\\")) sqlite3_result_int64(ctx, a / b);
}

void JetMod(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::int64_t a = 0;
  std::int64_t b = 0;
  if (TwoWholes(ctx, argv, a, b, "Mod")) sqlite3_result_int64(ctx, a % b);
}

void JetPow(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Number a;
  Number b;
  if (!TwoNumbers(ctx, argv, a, b, "^")) return;
  const double r = std::pow(a.AsDouble(), b.AsDouble());
  if (std::isnan(r)) return Error(ctx, "Invalid procedure call or argument", "^");
  if (std::isinf(r)) return Error(ctx, "Overflow", "^");
  sqlite3_result_double(ctx, r);
}

void JetXor(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const int a = Truth(ctx, argv[0], "Xor");
  if (a == -2) return;
  const int b = Truth(ctx, argv[1], "Xor");
  if (b == -2) return;
  if (a < 0 || b < 0) return sqlite3_result_null(ctx);
  ResultBool(ctx, a != b);
}

void JetEqv(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const int a = Truth(ctx, argv[0], "Eqv");
  if (a == -2) return;
  const int b = Truth(ctx, argv[1], "Eqv");
  if (b == -2) return;
  if (a < 0 || b < 0) return sqlite3_result_null(ctx);
  ResultBool(ctx, a == b);
}

// a Imp b: true when a is false or b is true; Null only where that cannot be told.
void JetImp(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const int a = Truth(ctx, argv[0], "Imp");
  if (a == -2) return;
  const int b = Truth(ctx, argv[1], "Imp");
  if (b == -2) return;
  if (a == 0 || b == 1) return ResultBool(ctx, true);
  if (a == 1 && b == 0) return ResultBool(ctx, false);
  sqlite3_result_null(ctx);
}

// Jet's ordering of two non-Null values: numbers by value, texts by the collation, a number
// before a text.
int CompareValues(sqlite3_value* a, sqlite3_value* b) {
  const bool aText = sqlite3_value_type(a) == SQLITE_TEXT || sqlite3_value_type(a) == SQLITE_BLOB;
  const bool bText = sqlite3_value_type(b) == SQLITE_TEXT || sqlite3_value_type(b) == SQLITE_BLOB;
  if (aText != bText) return aText ? 1 : -1;
  if (!aText) {
    const double x = sqlite3_value_double(a);
    const double y = sqlite3_value_double(b);
    if (sqlite3_value_type(a) == SQLITE_INTEGER && sqlite3_value_type(b) == SQLITE_INTEGER) {
      const auto i = sqlite3_value_int64(a);
      const auto j = sqlite3_value_int64(b);
      return i < j ? -1 : (i > j ? 1 : 0);
    }
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  char ba[kNumberBuf];
  char bb[kNumberBuf];
  std::string_view sa;
  std::string_view sb;
  GetText(a, ba, sa);
  GetText(b, bb, sb);
  return detail::CompareNoCase(sa, sb);
}

void JetBetween(sqlite3_context* ctx, int, sqlite3_value** argv) {
  for (int i = 0; i < 3; ++i) {
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  }
  sqlite3_value* lo = argv[1];
  sqlite3_value* hi = argv[2];
  if (CompareValues(lo, hi) > 0) std::swap(lo, hi);
  ResultBool(ctx, CompareValues(lo, argv[0]) <= 0 && CompareValues(argv[0], hi) <= 0);
}

// ---- text functions ----

template <char32_t (*Map)(char32_t)>
void MapCase(sqlite3_context* ctx, int, sqlite3_value** argv) {
  char buf[kNumberBuf];
  std::string_view s;
  if (!GetText(argv[0], buf, s)) return sqlite3_result_null(ctx);
  std::string out;
  out.reserve(s.size());
  for (std::size_t pos = 0; pos < s.size();) {
    const auto c = static_cast<unsigned char>(s[pos]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(Map(c)));
      ++pos;
    } else {
      AppendUtf8(out, Map(NextCodePoint(s, pos)));
    }
  }
  ResultText(ctx, out);
}

void JetLen(sqlite3_context* ctx, int, sqlite3_value** argv) {
  char buf[kNumberBuf];
  std::string_view s;
  if (!GetText(argv[0], buf, s)) return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, CountChars(s));
}

constexpr std::int64_t kMaxCount = std::numeric_limits<std::int32_t>::max();

void JetLeft(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::int64_t n = 0;
  const Read r = GetWhole(ctx, argv[1], 0, kMaxCount, n, "Left");
  if (r == Read::Failed) return;
  if (r == Read::Null) return Error(ctx, "Invalid use of Null", "Left");
  char buf[kNumberBuf];
  std::string_view s;
  if (!GetText(argv[0], buf, s)) return sqlite3_result_null(ctx);
  ResultText(ctx, s.substr(0, OffsetOfChar(s, n)));
}

void JetRight(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::int64_t n = 0;
  const Read r = GetWhole(ctx, argv[1], 0, kMaxCount, n, "Right");
  if (r == Read::Failed) return;
  if (r == Read::Null) return Error(ctx, "Invalid use of Null", "Right");
  char buf[kNumberBuf];
  std::string_view s;
  if (!GetText(argv[0], buf, s)) return sqlite3_result_null(ctx);
  const std::int64_t len = CountChars(s);
  ResultText(ctx, s.substr(OffsetOfChar(s, len > n ? len - n : 0)));
}

void JetMid(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::int64_t start = 0;
  Read r = GetWhole(ctx, argv[1], 1, kMaxCount, start, "Mid");
  if (r == Read::Failed) return;
  if (r == Read::Null) return Error(ctx, "Invalid use of Null", "Mid");
  std::int64_t length = kMaxCount;
  if (argc > 2) {
    r = GetWhole(ctx, argv[2], 0, kMaxCount, length, "Mid");
    if (r == Read::Failed) return;
    if (r == Read::Null) return Error(ctx, "Invalid use of Null", "Mid");
  }
  char buf[kNumberBuf];
  std::string_view s;
  if (!GetText(argv[0], buf, s)) return sqlite3_result_null(ctx);
  const std::size_t from = OffsetOfChar(s, start - 1);
  const std::string_view rest = s.substr(from);
  ResultText(ctx, rest.substr(0, OffsetOfChar(rest, length)));
}

template <bool kLeft, bool kRight>
void TrimFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  char buf[kNumberBuf];
  std::string_view s;
  if (!GetText(argv[0], buf, s)) return sqlite3_result_null(ctx);
  if (kLeft) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  }
  if (kRight) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  }
  ResultText(ctx, s);
}

// Reads a compare mode argument (0 binary, 1 text); false when an error was set.
bool GetCompareMode(sqlite3_context* ctx, sqlite3_value* v, bool& textCompare, const char* fn) {
  std::int64_t mode = 1;
  const Read r = GetWhole(ctx, v, 0, 2, mode, fn);
  if (r == Read::Failed) return false;
  if (r == Read::Null) {
    Error(ctx, "Invalid use of Null", fn);
    return false;
  }
  textCompare = mode != 0;
  return true;
}

// InStr([start,] text, sought[, compare]): the 1-based character position of sought in text at
// or after start, 0 when absent; compare defaults to text (case-insensitive) as in Jet queries.
void JetInStr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::int64_t start = 1;
  int first = 0;
  if (argc >= 3) {
    const Read r = GetWhole(ctx, argv[0], 1, kMaxCount, start, "InStr");
    if (r == Read::Failed) return;
    if (r == Read::Null) return Error(ctx, "Invalid use of Null", "InStr");
    first = 1;
  }
  bool textCompare = true;
  if (argc == 4 && !GetCompareMode(ctx, argv[3], textCompare, "InStr")) return;
  char b1[kNumberBuf];
  char b2[kNumberBuf];
  std::string_view s;
  std::string_view sought;
  if (!GetText(argv[first], b1, s) || !GetText(argv[first + 1], b2, sought))
    return sqlite3_result_null(ctx);
  const std::int64_t len = CountChars(s);
  if (len == 0 || start > len) return sqlite3_result_int(ctx, 0);
  if (sought.empty()) return sqlite3_result_int64(ctx, start);
  std::size_t pos = OffsetOfChar(s, start - 1);
  for (std::int64_t index = start; pos < s.size(); ++index) {
    std::size_t i = pos;
    std::size_t j = 0;
    bool match = true;
    while (j < sought.size()) {
      if (i >= s.size()) {
        match = false;
        break;
      }
      const char32_t a = NextCodePoint(s, i);
      const char32_t b = NextCodePoint(sought, j);
      if (textCompare ? detail::FoldCase(a) != detail::FoldCase(b) : a != b) {
        match = false;
        break;
      }
    }
    if (match) return sqlite3_result_int64(ctx, index);
    NextCodePoint(s, pos);
  }
  sqlite3_result_int(ctx, 0);
}

void JetStrComp(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  bool textCompare = true;
  if (argc == 3 && !GetCompareMode(ctx, argv[2], textCompare, "StrComp")) return;
  char b1[kNumberBuf];
  char b2[kNumberBuf];
  std::string_view a;
  std::string_view b;
  if (!GetText(argv[0], b1, a) || !GetText(argv[1], b2, b)) return sqlite3_result_null(ctx);
  const int c = textCompare ? detail::CompareNoCase(a, b) : a.compare(b);
  sqlite3_result_int(ctx, c < 0 ? -1 : (c > 0 ? 1 : 0));
}

void JetSpace(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::int64_t n = 0;
  const Read r = GetWhole(ctx, argv[0], 0, kMaxCount, n, "Space");
  if (r == Read::Failed) return;
  if (r == Read::Null) return sqlite3_result_null(ctx);
  if (n > sqlite3_limit(sqlite3_context_db_handle(ctx), SQLITE_LIMIT_LENGTH, -1))
    return sqlite3_result_error_toobig(ctx);
  std::string s(static_cast<std::size_t>(n), ' ');
  ResultText(ctx, s);
}

// Windows-1252 code points of the bytes 0x80-0x9F (undefined bytes map to the C1 controls, as
// Windows converts them).
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

template <bool kWide>
void JetAsc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  char buf[kNumberBuf];
  std::string_view s;
  if (!GetText(argv[0], buf, s)) return sqlite3_result_null(ctx);
  if (s.empty()) return Error(ctx, "Invalid procedure call or argument", kWide ? "AscW" : "Asc");
  std::size_t pos = 0;
  const char32_t cp = NextCodePoint(s, pos);
  if (kWide || cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return sqlite3_result_int64(ctx, cp);
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == cp) return sqlite3_result_int(ctx, 0x80 + i);
  }
  sqlite3_result_int(ctx, '?');
}

template <bool kWide>
void JetChr(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::int64_t code = 0;
  const char* fn = kWide ? "ChrW" : "Chr";
  const Read r = GetWhole(ctx, argv[0], kWide ? -32768 : 0, kWide ? 65535 : 255, code, fn);
  if (r == Read::Failed) return;
  if (r == Read::Null) return Error(ctx, "Invalid use of Null", fn);
  char32_t cp = static_cast<char32_t>(code < 0 ? code + 65536 : code);
  if (!kWide && cp >= 0x80 && cp <= 0x9F) cp = kCp1252High[cp - 0x80];
  std::string out;
  AppendUtf8(out, cp);
  ResultText(ctx, out);
}

// Val: the number at the start of a text, blanks ignored; 0 when there is none.
void JetVal(sqlite3_context* ctx, int, sqlite3_value** argv) {
  char buf[kNumberBuf];
  std::string_view s;
  if (!GetText(argv[0], buf, s)) return sqlite3_result_null(ctx);
  std::string digits;
  std::size_t i = 0;
  const auto skipBlanks = [&] {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  };
  const auto isDigit = [&](char c) { return c >= '0' && c <= '9'; };
  skipBlanks();
  if (i + 1 < s.size() && s[i] == '&' &&
      (s[i + 1] == 'H' || s[i + 1] == 'h' || s[i + 1] == 'O' || s[i + 1] == 'o')) {
    const int radix = (s[i + 1] == 'H' || s[i + 1] == 'h') ? 16 : 8;
    std::uint64_t v = 0;
    for (i += 2; i < s.size(); ++i) {
      const char c = s[i];
      int d = -1;
      if (isDigit(c)) d = c - '0';
      if (radix == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      if (radix == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0 || d >= radix) break;
      v = v * static_cast<unsigned>(radix) + static_cast<unsigned>(d);
      if (v > 0xFFFFFFFFull) return Error(ctx, "Overflow", "Val");
    }
    return sqlite3_result_int64(
        ctx, v <= 0xFFFF ? static_cast<std::int16_t>(static_cast<std::uint16_t>(v))
                         : static_cast<std::int32_t>(static_cast<std::uint32_t>(v)));
  }
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) digits.push_back(s[i++]);
  bool any = false;
  bool dot = false;
  for (;; ++i) {
    skipBlanks();
    if (i >= s.size()) break;
    if (isDigit(s[i])) {
      digits.push_back(s[i]);
      any = true;
    } else if (s[i] == '.' && !dot) {
      digits.push_back('.');
      dot = true;
    } else {
      break;
    }
  }
  if (any && i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    std::string exponent = "e";
    std::size_t k = i + 1;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) exponent.push_back(s[k++]);
    bool expDigits = false;
    while (k < s.size() && isDigit(s[k])) {
      exponent.push_back(s[k++]);
      expDigits = true;
    }
    if (expDigits) digits += exponent;
  }
  Number n;
  if (!any || !ParseNumberText(digits, n)) return sqlite3_result_int(ctx, 0);
  ResultNumber(ctx, n);
}

// ---- conversions ----

void JetCStr(sqlite3_context* ctx, int, sqlite3_value** argv) {
  char buf[kNumberBuf];
  std::string_view s;
  if (!GetText(argv[0], buf, s)) return sqlite3_result_null(ctx);
  ResultText(ctx, s);
}

template <std::int64_t kLo, std::int64_t kHi>
void ToWholeFn(sqlite3_context* ctx, sqlite3_value** argv, const char* fn) {
  Number n;
  const Read r = GetNumber(ctx, argv[0], n, fn);
  if (r == Read::Failed) return;
  if (r == Read::Null) return sqlite3_result_null(ctx);
  std::int64_t out = 0;
  if (!ToWhole(n, kLo, kHi, out)) return Error(ctx, "Overflow", fn);
  sqlite3_result_int64(ctx, out);
}

void JetCLng(sqlite3_context* ctx, int, sqlite3_value** argv) {
  ToWholeFn<std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()>(
      ctx, argv, "CLng");
}

void JetCInt(sqlite3_context* ctx, int, sqlite3_value** argv) {
  ToWholeFn<-32768, 32767>(ctx, argv, "CInt");
}

void JetCDbl(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Number n;
  const Read r = GetNumber(ctx, argv[0], n, "CDbl");
  if (r == Read::Failed) return;
  if (r == Read::Null) return sqlite3_result_null(ctx);
  sqlite3_result_double(ctx, n.AsDouble());
}

void JetCSng(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Number n;
  const Read r = GetNumber(ctx, argv[0], n, "CSng");
  if (r == Read::Failed) return;
  if (r == Read::Null) return sqlite3_result_null(ctx);
  const double d = n.AsDouble();
  if (std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max()))
    return Error(ctx, "Overflow", "CSng");
  sqlite3_result_double(ctx, static_cast<double>(static_cast<float>(d)));
}

void JetCBool(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_TEXT) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const std::string_view s = TrimSpaces(
        std::string_view(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(argv[0]))));
    if (detail::EqualNoCase(s, "true")) return sqlite3_result_int(ctx, -1);
    if (detail::EqualNoCase(s, "false")) return sqlite3_result_int(ctx, 0);
  }
  Number n;
  const Read r = GetNumber(ctx, argv[0], n, "CBool");
  if (r == Read::Failed) return;
  if (r == Read::Null) return sqlite3_result_null(ctx);
  sqlite3_result_int(ctx, n.AsDouble() != 0 ? -1 : 0);
}

// Reads a date argument (an OLE date number, or a text holding a date or a number) into parts.
Read GetDate(sqlite3_context* ctx, sqlite3_value* v, double& ole, detail::DateParts* parts,
             const char* fn) {
  Number n;
  const Read r = GetNumber(ctx, v, n, fn);
  if (r != Read::Ok) return r;
  ole = n.AsDouble();
  detail::DateParts scratch;
  if (!detail::FromOleDate(ole, parts ? *parts : scratch)) {
    Error(ctx, "Invalid date", fn);
    return Read::Failed;
  }
  return Read::Ok;
}

void JetCDate(sqlite3_context* ctx, int, sqlite3_value** argv) {
  double ole = 0;
  const Read r = GetDate(ctx, argv[0], ole, nullptr, "CDate");
  if (r == Read::Failed) return;
  if (r == Read::Null) return sqlite3_result_null(ctx);
  sqlite3_result_double(ctx, ole);
}

template <int detail::DateParts::*kMember>
void DatePartFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  double ole = 0;
  detail::DateParts parts;
  const Read r = GetDate(ctx, argv[0], ole, &parts, "a date function");
  if (r == Read::Failed) return;
  if (r == Read::Null) return sqlite3_result_null(ctx);
  sqlite3_result_int(ctx, parts.*kMember);
}

// Weekday(date[, firstDayOfWeek]): 1 for the first day of the week (default Sunday).
void JetWeekday(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::int64_t first = 1;
  if (argc > 1) {
    const Read r = GetWhole(ctx, argv[1], 0, 7, first, "Weekday");
    if (r == Read::Failed) return;
    if (r == Read::Null) return Error(ctx, "Invalid use of Null", "Weekday");
    if (first == 0) first = 1;
  }
  double ole = 0;
  detail::DateParts parts;
  const Read r = GetDate(ctx, argv[0], ole, &parts, "Weekday");
  if (r == Read::Failed) return;
  if (r == Read::Null) return sqlite3_result_null(ctx);
  const long long day = detail::OleDayNumber(parts.year, parts.month, parts.day);
  const long long sundayBased = ((day % 7) + 7 + 6) % 7 + 1;  // 1899-12-30 was a Saturday (7)
  sqlite3_result_int64(ctx, ((sundayBased - first) % 7 + 7) % 7 + 1);
}

// An OLE date from a day number and seconds into that day.
double OleFrom(long long day, double seconds) {
  const double time = seconds / 86400.0;
  return day >= 0 ? static_cast<double>(day) + time : static_cast<double>(day) - time;
}

bool ValidOle(double ole) {
  detail::DateParts parts;
  return detail::FromOleDate(ole, parts);
}

// DateSerial(year, month, day): months and days beyond their range carry over (month 13 is
// January of the next year, day 0 the last day of the month before); years 0-99 are 1930-2029.
void JetDateSerial(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::int64_t v[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    const Read r = GetWhole(ctx, argv[i], -1000000, 1000000, v[i], "DateSerial");
    if (r == Read::Failed) return;
    if (r == Read::Null) return sqlite3_result_null(ctx);
  }
  std::int64_t year = v[0];
  if (year >= 0 && year <= 99) year += year < 30 ? 2000 : 1900;
  const std::int64_t months = year * 12 + (v[1] - 1);
  const std::int64_t y = months >= 0 ? months / 12 : -((-months + 11) / 12);
  const int m = static_cast<int>(months - y * 12) + 1;
  const double ole = static_cast<double>(detail::OleDayNumber(y, m, 1) + (v[2] - 1));
  if (!ValidOle(ole)) return Error(ctx, "Invalid procedure call or argument", "DateSerial");
  sqlite3_result_double(ctx, ole);
}

void JetTimeSerial(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::int64_t v[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    const Read r = GetWhole(ctx, argv[i], -100000000, 100000000, v[i], "TimeSerial");
    if (r == Read::Failed) return;
    if (r == Read::Null) return sqlite3_result_null(ctx);
  }
  const std::int64_t total = v[0] * 3600 + v[1] * 60 + v[2];
  const std::int64_t day = total >= 0 ? total / 86400 : -((-total + 86399) / 86400);
  const double ole = OleFrom(day, static_cast<double>(total - day * 86400));
  if (!ValidOle(ole)) return Error(ctx, "Invalid procedure call or argument", "TimeSerial");
  sqlite3_result_double(ctx, ole);
}

// The local date and time as an OLE date, to the second.
double NowOle() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&now, &local);
  detail::DateParts parts;
  parts.year = local.tm_year + 1900;
  parts.month = local.tm_mon + 1;
  parts.day = local.tm_mday;
  parts.hour = local.tm_hour;
  parts.minute = local.tm_min;
  parts.second = std::min(local.tm_sec, 59);
  return detail::ToOleDate(parts);
}

void JetNow(sqlite3_context* ctx, int, sqlite3_value**) {
  sqlite3_result_double(ctx, NowOle());
}
void JetDate(sqlite3_context* ctx, int, sqlite3_value**) {
  sqlite3_result_double(ctx, std::floor(NowOle()));
}
void JetTime(sqlite3_context* ctx, int, sqlite3_value**) {
  const double now = NowOle();
  sqlite3_result_double(ctx, now - std::floor(now));
}

// ---- numbers ----

template <typename IntOp, typename RealOp>
void NumberFn(sqlite3_context* ctx, sqlite3_value** argv, const char* fn, IntOp intOp,
              RealOp realOp) {
  Number n;
  const Read r = GetNumber(ctx, argv[0], n, fn);
  if (r == Read::Failed) return;
  if (r == Read::Null) return sqlite3_result_null(ctx);
  if (n.isInt) {
    intOp(n.i);
  } else {
    realOp(n.d);
  }
}

void JetAbs(sqlite3_context* ctx, int, sqlite3_value** argv) {
  NumberFn(
      ctx, argv, "Abs",
      [&](std::int64_t i) {
        if (i == std::numeric_limits<std::int64_t>::min()) {
          sqlite3_result_double(ctx, -static_cast<double>(i));
        } else {
          sqlite3_result_int64(ctx, i < 0 ? -i : i);
        }
      },
      [&](double d) { sqlite3_result_double(ctx, std::fabs(d)); });
}

void JetInt(sqlite3_context* ctx, int, sqlite3_value** argv) {
  NumberFn(
      ctx, argv, "Int", [&](std::int64_t i) { sqlite3_result_int64(ctx, i); },
      [&](double d) { sqlite3_result_double(ctx, std::floor(d)); });
}

void JetFix(sqlite3_context* ctx, int, sqlite3_value** argv) {
  NumberFn(
      ctx, argv, "Fix", [&](std::int64_t i) { sqlite3_result_int64(ctx, i); },
      [&](double d) { sqlite3_result_double(ctx, std::trunc(d)); });
}

void JetSgn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  NumberFn(
      ctx, argv, "Sgn", [&](std::int64_t i) { sqlite3_result_int(ctx, (i > 0) - (i < 0)); },
      [&](double d) { sqlite3_result_int(ctx, (d > 0) - (d < 0)); });
}

void JetSqr(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Number n;
  const Read r = GetNumber(ctx, argv[0], n, "Sqr");
  if (r == Read::Failed) return;
  if (r == Read::Null) return sqlite3_result_null(ctx);
  if (n.AsDouble() < 0) return Error(ctx, "Invalid procedure call or argument", "Sqr");
  sqlite3_result_double(ctx, std::sqrt(n.AsDouble()));
}

// Round(x[, digits]): half to even, as VBA rounds.
void JetRound(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::int64_t digits = 0;
  if (argc > 1) {
    const Read r = GetWhole(ctx, argv[1], 0, 22, digits, "Round");
    if (r == Read::Failed) return;
    if (r == Read::Null) return Error(ctx, "Invalid use of Null", "Round");
  }
  Number n;
  const Read r = GetNumber(ctx, argv[0], n, "Round");
  if (r == Read::Failed) return;
  if (r == Read::Null) return sqlite3_result_null(ctx);
  if (n.isInt) return sqlite3_result_int64(ctx, n.i);
  if (digits == 0) return sqlite3_result_double(ctx, std::nearbyint(n.d));
  const double scale = std::pow(10.0, static_cast<double>(digits));
  const double scaled = n.d * scale;
  if (!std::isfinite(scaled)) return sqlite3_result_double(ctx, n.d);
  sqlite3_result_double(ctx, std::nearbyint(scaled) / scale);
}

// ---- collation ----

int CollateNoCase(void*, int n1, const void* p1, int n2, const void* p2) {
  return detail::CompareNoCase(
      std::string_view(static_cast<const char*>(p1), static_cast<std::size_t>(n1)),
      std::string_view(static_cast<const char*>(p2), static_cast<std::size_t>(n2)));
}

struct FunctionDef {
  const char* name;
  int nArg;
  void (*fn)(sqlite3_context*, int, sqlite3_value**);
  bool deterministic;
};

constexpr FunctionDef kDefs[] = {
    {"jet_like", 2, JetLike, true},
    {"jet_concat", -1, JetConcat, true},
    {"jet_add", 2, JetAdd, true},
    {"jet_div", 2, JetDiv, true},
    {"jet_idiv", 2, JetIntDiv, true},
    {"jet_mod", 2, JetMod, true},
    {"jet_pow", 2, JetPow, true},
    {"jet_xor", 2, JetXor, true},
    {"jet_eqv", 2, JetEqv, true},
    {"jet_imp", 2, JetImp, true},
    {"jet_between", 3, JetBetween, true},
    {"jet_ucase", 1, MapCase<detail::ToUpper>, true},
    {"jet_lcase", 1, MapCase<detail::ToLower>, true},
    {"jet_len", 1, JetLen, true},
    {"jet_left", 2, JetLeft, true},
    {"jet_right", 2, JetRight, true},
    {"jet_mid", 2, JetMid, true},
    {"jet_mid", 3, JetMid, true},
    {"jet_trim", 1, TrimFn<true, true>, true},
    {"jet_ltrim", 1, TrimFn<true, false>, true},
    {"jet_rtrim", 1, TrimFn<false, true>, true},
    {"jet_instr", 2, JetInStr, true},
    {"jet_instr", 3, JetInStr, true},
    {"jet_instr", 4, JetInStr, true},
    {"jet_strcomp", 2, JetStrComp, true},
    {"jet_strcomp", 3, JetStrComp, true},
    {"jet_space", 1, JetSpace, true},
    {"jet_asc", 1, JetAsc<false>, true},
    {"jet_ascw", 1, JetAsc<true>, true},
    {"jet_chr", 1, JetChr<false>, true},
    {"jet_chrw", 1, JetChr<true>, true},
    {"jet_val", 1, JetVal, true},
    {"jet_cstr", 1, JetCStr, true},
    {"jet_clng", 1, JetCLng, true},
    {"jet_cint", 1, JetCInt, true},
    {"jet_cdbl", 1, JetCDbl, true},
    {"jet_csng", 1, JetCSng, true},
    {"jet_cbool", 1, JetCBool, true},
    {"jet_cdate", 1, JetCDate, true},
    {"jet_year", 1, DatePartFn<&detail::DateParts::year>, true},
    {"jet_month", 1, DatePartFn<&detail::DateParts::month>, true},
    {"jet_day", 1, DatePartFn<&detail::DateParts::day>, true},
    {"jet_hour", 1, DatePartFn<&detail::DateParts::hour>, true},
    {"jet_minute", 1, DatePartFn<&detail::DateParts::minute>, true},
    {"jet_second", 1, DatePartFn<&detail::DateParts::second>, true},
    {"jet_weekday", 1, JetWeekday, true},
    {"jet_weekday", 2, JetWeekday, true},
    {"jet_dateserial", 3, JetDateSerial, true},
    {"jet_timeserial", 3, JetTimeSerial, true},
    {"jet_now", 0, JetNow, false},
    {"jet_date", 0, JetDate, false},
    {"jet_time", 0, JetTime, false},
    {"jet_abs", 1, JetAbs, true},
    {"jet_int", 1, JetInt, true},
    {"jet_fix", 1, JetFix, true},
    {"jet_sgn", 1, JetSgn, true},
    {"jet_sqr", 1, JetSqr, true},
    {"jet_round", 1, JetRound, true},
    {"jet_round", 2, JetRound, true},
};

}  // namespace

void RegisterJetFunctions(sqlite3* db) {
  if (!db) throw std::invalid_argument("RegisterJetFunctions: no database connection");
  for (const FunctionDef& def : kDefs) {
    int flags = SQLITE_UTF8 | SQLITE_INNOCUOUS;
    if (def.deterministic) flags |= SQLITE_DETERMINISTIC;
    if (sqlite3_create_function_v2(db, def.name, def.nArg, flags, nullptr, def.fn, nullptr, nullptr,
                                   nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("RegisterJetFunctions: cannot register SQL function ") +
                               def.name + ": " + sqlite3_errmsg(db));
    }
  }
  if (sqlite3_create_collation_v2(db, kJetCollation, SQLITE_UTF8, nullptr, CollateNoCase,
                                  nullptr) != SQLITE_OK) {
    throw std::runtime_error(std::string("RegisterJetFunctions: cannot register collation ") +
                             kJetCollation + ": " + sqlite3_errmsg(db));
  }
}

}  // namespace jetsql
