// Numbers and dates as text for VariantChangeType (OleAutoInternal.h).
//
// The forms are the Windows en-US ones, fixed: the "C" locale for numbers
// ("." as the decimal point, no thousands separators) and US dates
// ("M/D/YYYY H:MM:SS AM"), whatever the process locale is. Nothing here uses
// the C library's locale-dependent conversions.
#include <charconv>
#include <cmath>
#include <cstdio>

#include "Platform/OleAutoInternal.h"

namespace platform::detail {

namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
}

bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// ---- Calendar -------------------------------------------------------------
// Days are counted from 1 January 1970 (proleptic Gregorian calendar) by the
// well-known era algorithm; the OLE day 0 is 30 December 1899.

constexpr long DaysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

struct CivilDate {
  long year;
  unsigned month;
  unsigned day;
};

CivilDate CivilFromDays(long z) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long y = static_cast<long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {y + (m <= 2 ? 1 : 0), m, d};
}

constexpr long kOleEpochDays = DaysFromCivil(1899, 12, 30);

unsigned DaysInMonth(long year, unsigned month) {
  static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
  return kDays[month - 1];
}

// ---- A small reader over ASCII date text ------------------------------------

class DateReader {
 public:
  explicit DateReader(std::u16string_view text) : m_text(text) {}

  bool AtEnd() const { return m_pos == m_text.size(); }
  std::size_t Pos() const { return m_pos; }
  void Seek(std::size_t pos) { m_pos = pos; }
  char16_t Peek() const { return AtEnd() ? u'\0' : m_text[m_pos]; }

  bool Take(char16_t c) {
    if (Peek() != c) return false;
    ++m_pos;
    return true;
  }

  // Skips blanks; answers whether there was at least one.
  bool SkipBlanks() {
    std::size_t start = m_pos;
    while (!AtEnd() && IsBlank(m_text[m_pos])) ++m_pos;
    return m_pos != start;
  }

  // Reads 1..maxDigits decimal digits (no more may follow); `count` receives
  // the number of digits read.
  bool Number(int maxDigits, int& value, int& count) {
    value = 0;
    count = 0;
    while (!AtEnd() && IsDigit(m_text[m_pos])) {
      if (count == maxDigits) return false;
      value = value * 10 + (m_text[m_pos] - u'0');
      ++count;
      ++m_pos;
    }
    return count > 0;
  }

  // Reads "AM" or "PM" in any case; pm receives which.
  bool Meridiem(bool& pm) {
    if (m_text.size() - m_pos < 2) return false;
    char16_t a = m_text[m_pos] | 0x20;
    char16_t b = m_text[m_pos + 1] | 0x20;
    if ((a != u'a' && a != u'p') || b != u'm') return false;
    pm = a == u'p';
    m_pos += 2;
    return true;
  }

 private:
  std::u16string_view m_text;
  std::size_t m_pos = 0;
};

// "M/D/Y" or "YYYY-M-D" at the reader's position. Leaves the reader where it
// was and answers false when no date starts there.
bool ReadDate(DateReader& in, long& year, unsigned& month, unsigned& day, bool& isDate) {
  const std::size_t start = in.Pos();
  isDate = false;
  int first = 0, firstCount = 0;
  if (!in.Number(4, first, firstCount)) {  // no date here; maybe a time
    in.Seek(start);
    return true;
  }
  int m = 0, d = 0, y = 0, count = 0;
  if (firstCount <= 2 && in.Take(u'/')) {
    m = first;
    if (!in.Number(2, d, count) || !in.Take(u'/') || !in.Number(4, y, count)) return false;
    if (count <= 2)
      y += y < 30 ? 2000 : 1900;
    else if (y < 100)
      return false;
  } else if (firstCount == 4 && in.Take(u'-')) {
    y = first;
    if (!in.Number(2, m, count) || !in.Take(u'-') || !in.Number(2, d, count)) return false;
    if (y < 100) return false;
  } else {
    in.Seek(start);
    return true;
  }
  if (m < 1 || m > 12) return false;
  if (d < 1 || static_cast<unsigned>(d) > DaysInMonth(y, static_cast<unsigned>(m))) return false;
  year = y;
  month = static_cast<unsigned>(m);
  day = static_cast<unsigned>(d);
  isDate = true;
  return true;
}

// "H:MM[:SS]" with an optional AM/PM; seconds receives the time of day.
bool ReadTime(DateReader& in, long& seconds) {
  int h = 0, m = 0, s = 0, count = 0;
  if (!in.Number(2, h, count) || !in.Take(u':') || !in.Number(2, m, count)) return false;
  if (in.Take(u':') && !in.Number(2, s, count)) return false;
  const std::size_t beforeBlanks = in.Pos();
  in.SkipBlanks();
  bool pm = false;
  if (in.Meridiem(pm)) {
    if (h < 1 || h > 12) return false;
    h = h % 12 + (pm ? 12 : 0);
  } else {
    in.Seek(beforeBlanks);
    if (h > 23) return false;
  }
  if (m > 59 || s > 59) return false;
  seconds = h * 3600L + m * 60L + s;
  return true;
}

}  // namespace

// ---- Numbers ---------------------------------------------------------------

std::optional<DecimalText> ParseDecimal(std::u16string_view text) {
  text = TrimBlanks(text);
  std::size_t i = 0;
  DecimalText out;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    out.negative = text[i] == u'-';
    ++i;
  }
  long pointShift = 0;  // decimal places read after the point, negated
  bool anyDigit = false, seenPoint = false;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsDigit(c)) {
      anyDigit = true;
      if (seenPoint) --pointShift;
      if (out.digits.empty() && c == u'0') continue;  // leading zero
      out.digits.push_back(static_cast<char>(c));
    } else if (c == u'.' && !seenPoint) {
      seenPoint = true;
    } else {
      break;
    }
  }
  if (!anyDigit) return std::nullopt;
  long exponent = 0;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    ++i;
    bool negativeExponent = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
      negativeExponent = text[i] == u'-';
      ++i;
    }
    bool anyExponentDigit = false;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
      anyExponentDigit = true;
      if (exponent < 100000000L) exponent = exponent * 10 + (text[i] - u'0');  // saturates
    }
    if (!anyExponentDigit) return std::nullopt;
    if (negativeExponent) exponent = -exponent;
  }
  if (i != text.size()) return std::nullopt;
  while (!out.digits.empty() && out.digits.back() == '0') {
    out.digits.pop_back();
    ++pointShift;
  }
  out.exponent = out.digits.empty() ? 0 : exponent + pointShift;
  return out;
}

std::string FormatDouble(double value, int precision) {
  if (value == 0.0) return "0";  // also -0
  char buffer[64];
  auto result =
      std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::general, precision);
  std::string text(buffer, result.ptr);
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');  // "%G": 1E+20, INF, NAN
  return text;
}

std::string FormatCurrency(LONGLONG cyInt64) {
  const bool negative = cyInt64 < 0;
  const ULONGLONG magnitude =
      negative ? ULONGLONG{0} - static_cast<ULONGLONG>(cyInt64) : static_cast<ULONGLONG>(cyInt64);
  std::string text = negative ? "-" : "";
  text += std::to_string(magnitude / 10000);
  unsigned fraction = static_cast<unsigned>(magnitude % 10000);
  if (fraction != 0) {
    char digits[8];
    std::snprintf(digits, sizeof(digits), "%04u", fraction);
    std::string decimals(digits);
    while (decimals.back() == '0') decimals.pop_back();
    text += '.';
    text += decimals;
  }
  return text;
}

// ---- Dates -----------------------------------------------------------------

std::optional<std::string> FormatDate(DATE date) {
  if (!(date > kMinDate && date < kMaxDate)) return std::nullopt;  // NaN too
  const double whole = std::trunc(date);
  long day = static_cast<long>(whole);
  // The fraction is the time of day for negative dates too (-1.25 is
  // 29 December 1899, 6:00), rounded to the second.
  long seconds = static_cast<long>(std::floor(std::fabs(date - whole) * 86400.0 + 0.5));
  if (seconds >= 86400) {
    seconds -= 86400;
    ++day;
  }
  const CivilDate civil = CivilFromDays(day + kOleEpochDays);
  char buffer[64];
  std::string text;
  if (day != 0) {
    std::snprintf(buffer, sizeof(buffer), "%u/%u/%04ld", civil.month, civil.day, civil.year);
    text = buffer;
    if (seconds == 0) return text;
    text += ' ';
  }
  const long hour = seconds / 3600;
  const long hour12 = hour % 12 == 0 ? 12 : hour % 12;
  std::snprintf(buffer, sizeof(buffer), "%ld:%02ld:%02ld %s", hour12, seconds / 60 % 60,
                seconds % 60, hour < 12 ? "AM" : "PM");
  text += buffer;
  return text;
}

std::optional<DATE> ParseDate(std::u16string_view text) {
  DateReader in(text);
  in.SkipBlanks();
  long year = 0;
  unsigned month = 0, day = 0;
  bool haveDate = false;
  if (!ReadDate(in, year, month, day, haveDate)) return std::nullopt;
  long seconds = 0;
  bool haveTime = false;
  if (haveDate) {
    const bool blanks = in.SkipBlanks();
    if (!in.AtEnd()) {
      if (!blanks || !ReadTime(in, seconds)) return std::nullopt;
      haveTime = true;
    }
  } else {
    if (!ReadTime(in, seconds)) return std::nullopt;
    haveTime = true;
  }
  in.SkipBlanks();
  if (!in.AtEnd() || (!haveDate && !haveTime)) return std::nullopt;
  const long days = haveDate ? DaysFromCivil(year, month, day) - kOleEpochDays : 0;
  const double fraction = static_cast<double>(seconds) / 86400.0;
  return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

}  // namespace platform::detail
