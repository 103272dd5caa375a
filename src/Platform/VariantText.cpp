// Numbers and dates as text for VariantChangeType (OleAutoInternal.h).
//
// The forms are the Windows ones of the locale the caller names (RulesFor):
// its decimal point, thousands separator, currency symbol, date order and
// month names. Nothing here uses the C library's locale-dependent
// conversions.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "Platform/OleAutoInternal.h"

namespace platform::detail {

namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' ||
         c == 0x00A0;
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

}  // namespace

// ---- Numbers ---------------------------------------------------------------

// ParseDecimal into `out` (which starts empty); false when the text is no
// such number.
bool ReadDecimal(std::u16string_view text, DecimalText& out) {
  text = TrimBlanks(text);
  std::size_t i = 0;
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
  if (!anyDigit) return false;
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
    if (!anyExponentDigit) return false;
    if (negativeExponent) exponent = -exponent;
  }
  if (i != text.size()) return false;
  while (!out.digits.empty() && out.digits.back() == '0') {
    out.digits.pop_back();
    ++pointShift;
  }
  out.exponent = out.digits.empty() ? 0 : exponent + pointShift;
  return true;
}

std::optional<DecimalText> ParseDecimal(std::u16string_view text) {
  std::optional<DecimalText> out(std::in_place);
  if (!ReadDecimal(text, *out)) out.reset();
  return out;
}

namespace {

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// "&H1F" / "&O17" (the text trimmed): the bits as an unsigned value.
std::optional<DecimalText> ParseRadix(std::u16string_view text) {
  if (text.size() < 3 || text[0] != u'&') return std::nullopt;
  const char16_t kind = text[1] | 0x20;
  if (kind != u'h' && kind != u'o') return std::nullopt;
  const int base = kind == u'h' ? 16 : 8;
  ULONGLONG bits = 0;
  for (std::size_t i = 2; i < text.size(); ++i) {
    const int d = HexDigit(text[i]);
    if (d < 0 || d >= base) return std::nullopt;
    if (bits > (~0ULL >> (base == 16 ? 4 : 3))) return std::nullopt;  // more than 64 bits
    bits = bits * static_cast<ULONGLONG>(base) + static_cast<ULONGLONG>(d);
  }
  DecimalText out;
  if (bits != 0) {
    out.digits = std::to_string(bits);
    while (out.digits.back() == '0') {
      out.digits.pop_back();
      ++out.exponent;
    }
  }
  out.fromRadix = true;
  out.radixBits = bits;
  return out;
}

bool StartsWith(std::u16string_view text, std::size_t at, std::u16string_view word) {
  return !word.empty() && text.substr(at, word.size()) == word;
}

}  // namespace

std::optional<DecimalText> ParseNumber(std::u16string_view text, const LocaleRules& rules) {
  if (rules.decimalPoint == u'.') {  // the plain "C" form first: the common case
    std::optional<DecimalText> plain(std::in_place);
    if (ReadDecimal(text, *plain)) return plain;
  }
  text = TrimBlanks(text);
  if (!text.empty() && text[0] == u'&') return ParseRadix(text);
  std::size_t i = 0;
  bool sign = false, negative = false, currency = false, parenthesis = false;
  // Before the digits: a sign, "(" and the currency symbol, each once.
  for (;;) {
    if (i < text.size() && IsBlank(text[i])) {
      ++i;
    } else if (!sign && i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
      sign = true;
      negative = text[i] == u'-';
      ++i;
    } else if (!sign && !parenthesis && i < text.size() && text[i] == u'(') {
      parenthesis = true;
      sign = true;
      negative = true;
      ++i;
    } else if (!currency && StartsWith(text, i, rules.currency)) {
      currency = true;
      i += rules.currency.size();
    } else {
      break;
    }
  }
  // The mantissa, read into the "C" form ParseDecimal reads.
  std::u16string plain;
  bool anyDigit = false, seenPoint = false;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsDigit(c)) {
      anyDigit = true;
      plain.push_back(c);
    } else if (c == rules.decimalPoint && !seenPoint) {
      seenPoint = true;
      plain.push_back(u'.');
    } else if (c == rules.thousands && anyDigit) {
      continue;  // wherever it stands after the first digit, as Windows reads it
    } else {
      break;
    }
  }
  if (!anyDigit) return std::nullopt;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    plain.push_back(u'e');
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) plain.push_back(text[i++]);
    while (i < text.size() && IsDigit(text[i])) plain.push_back(text[i++]);
  }
  // After the digits: the currency symbol, a sign and ")".
  bool closed = !parenthesis;
  for (;;) {
    if (i < text.size() && IsBlank(text[i])) {
      ++i;
    } else if (!sign && i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
      sign = true;
      negative = text[i] == u'-';
      ++i;
    } else if (!closed && i < text.size() && text[i] == u')') {
      closed = true;
      ++i;
    } else if (!currency && StartsWith(text, i, rules.currency)) {
      currency = true;
      i += rules.currency.size();
    } else {
      break;
    }
  }
  if (i != text.size() || !closed) return std::nullopt;
  auto number = ParseDecimal(plain);
  if (!number) return std::nullopt;
  number->negative = negative && !number->digits.empty();
  return number;
}

std::string FormatDouble(double value, int precision, char16_t decimalPoint) {
  if (value == 0.0) return "0";  // also -0
  if (!std::isfinite(value)) return std::signbit(value) ? "-1.#INF" : "1.#INF";
  char buffer[64];
  // From 1E-4 up, "%G" has the form Windows prints.
  auto result =
      std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::general, precision);
  if (std::find(buffer, result.ptr, 'e') == result.ptr) {
    std::string text(buffer, result.ptr);
    if (decimalPoint != u'.')
      std::replace(text.begin(), text.end(), '.', static_cast<char>(decimalPoint));
    return text;
  }
  // The significant digits and the decimal exponent, rounded as "%.*E" does.
  result = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::scientific,
                         precision - 1);
  const std::string sci(buffer, result.ptr);  // "-1.234560000000000e-05"
  const std::size_t ePos = sci.find('e');
  const int exponent = std::atoi(sci.c_str() + ePos + 1);
  const bool negative = sci[0] == '-';
  std::string digits;
  for (std::size_t k = negative ? 1 : 0; k < ePos; ++k)
    if (sci[k] != '.') digits += sci[k];
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  const char point = static_cast<char>(decimalPoint);
  std::string text = negative ? "-" : "";
  if (exponent >= precision || exponent < -11) {
    text += digits[0];
    if (digits.size() > 1) {
      text += point;
      text += digits.substr(1);
    }
    std::snprintf(buffer, sizeof(buffer), "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    return text + buffer;
  }
  const int count = static_cast<int>(digits.size());
  if (exponent < 0) {
    text += '0';
    text += point;
    text.append(static_cast<std::size_t>(-exponent - 1), '0');
    text += digits;
  } else if (exponent + 1 >= count) {
    text += digits;
    text.append(static_cast<std::size_t>(exponent + 1 - count), '0');
  } else {
    text += digits.substr(0, static_cast<std::size_t>(exponent + 1));
    text += point;
    text += digits.substr(static_cast<std::size_t>(exponent + 1));
  }
  return text;
}

std::string FormatCurrency(LONGLONG cyInt64, char16_t decimalPoint) {
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
    text += static_cast<char>(decimalPoint);
    text += decimals;
  }
  return text;
}

// ---- Dates -----------------------------------------------------------------

std::optional<std::string> FormatDate(DATE date, const LocaleRules& rules) {
  if (!(date > kMinDate && date < kMaxDate)) return std::nullopt;  // NaN too
  // As Windows splits a date: the time of day (also for negative dates,
  // -1.25 is 29 December 1899, 6:00) nudged up by 1E-11, cut into hours,
  // minutes and seconds, the rest rounding the second up when above a half.
  // Midnight reached by rounding still prints its time.
  const double whole = std::trunc(date);
  long day = static_cast<long>(whole);
  double part = std::fabs(date - whole) + 0.00000000001;
  if (part >= 1.0) part -= 0.00000000001;
  part *= 24.0;
  const auto hours = static_cast<long>(part);
  part = (part - static_cast<double>(hours)) * 60.0;
  const auto minutes = static_cast<long>(part);
  part = (part - static_cast<double>(minutes)) * 60.0;
  const auto wholeSeconds = static_cast<long>(part);
  part -= static_cast<double>(wholeSeconds);
  long seconds = hours * 3600 + minutes * 60 + wholeSeconds + (part > 0.5 ? 1 : 0);
  const bool printTime = date != whole;
  if (seconds >= 86400) {
    seconds -= 86400;
    ++day;  // the next calendar day, for negative dates too
  }
  const CivilDate civil = CivilFromDays(day + kOleEpochDays);
  char buffer[64];
  std::string text;
  if (day != 0) {
    if (rules.germanDateForm)
      std::snprintf(buffer, sizeof(buffer), "%02u.%02u.%04ld", civil.day, civil.month, civil.year);
    else
      std::snprintf(buffer, sizeof(buffer), "%u/%u/%ld", civil.month, civil.day, civil.year);
    text = buffer;
    if (!printTime) return text;
    text += ' ';
  }
  const long hour = seconds / 3600;
  if (rules.germanDateForm) {
    std::snprintf(buffer, sizeof(buffer), "%02ld:%02ld:%02ld", hour, seconds / 60 % 60,
                  seconds % 60);
  } else {
    const long hour12 = hour % 12 == 0 ? 12 : hour % 12;
    std::snprintf(buffer, sizeof(buffer), "%ld:%02ld:%02ld %s", hour12, seconds / 60 % 60,
                  seconds % 60, hour < 12 ? "AM" : "PM");
  }
  text += buffer;
  return text;
}

namespace {

struct DateNumber {
  long value;
  int digits;
};

bool IsLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c >= 0xC0;
}

char16_t Lower(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  return c;
}

// The month (1..12) a word names in full or abbreviated; 0 for none.
unsigned MonthOf(std::u16string_view word, const LocaleRules& rules) {
  for (unsigned m = 0; m < 12; ++m)
    if (word == rules.months[m] || word == rules.monthShorts[m]) return m + 1;
  return 0;
}

long CurrentYear() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  return parts.tm_year + 1900L;
}

// Years below 100 fall in 1950..2049.
bool ToYear(const DateNumber& n, long& year) {
  year = n.value < 100 ? n.value + (n.value < 50 ? 2000 : 1900) : n.value;
  return n.digits <= 4;
}

}  // namespace

std::optional<DATE> ParseDate(std::u16string_view text, const LocaleRules& rules) {
  text = TrimBlanks(text);
  if (!text.empty() && (text[0] == u'-' || text[0] == u'+')) return std::nullopt;  // a number
  std::vector<DateNumber> numbers;
  unsigned namedMonth = 0;
  bool haveTime = false, meridiem = false, pm = false;
  long hour = 0, minute = 0, second = 0;
  std::size_t i = 0;
  auto readNumber = [&](DateNumber& n) {
    n = {0, 0};
    while (i < text.size() && IsDigit(text[i])) {
      if (n.digits == 9) return false;
      n.value = n.value * 10 + (text[i++] - u'0');
      ++n.digits;
    }
    return n.digits > 0;
  };
  while (i < text.size()) {
    const char16_t c = text[i];
    if (IsDigit(c)) {
      DateNumber n;
      if (!readNumber(n)) return std::nullopt;
      // ":" separates the parts of a time; so does "." where it is no date
      // separator (US English: "2.5" is 2:05).
      const auto isTimeSeparator = [&](std::size_t at) {
        return at < text.size() && (text[at] == u':' || (text[at] == u'.' && !rules.dayFirst));
      };
      if (isTimeSeparator(i)) {
        if (haveTime || n.digits > 2) return std::nullopt;
        haveTime = true;
        hour = n.value;
        ++i;
        DateNumber part;
        if (!readNumber(part) || part.digits > 2) return std::nullopt;
        minute = part.value;
        if (isTimeSeparator(i)) {
          ++i;
          if (!readNumber(part) || part.digits > 2) return std::nullopt;
          second = part.value;
        }
      } else {
        numbers.push_back(n);
      }
    } else if (IsLetter(c)) {
      std::u16string word;
      while (i < text.size() && IsLetter(text[i])) word.push_back(Lower(text[i++]));
      if (word == u"am" || word == u"pm") {
        if (meridiem) return std::nullopt;
        if (!haveTime) {  // "5 PM": the last number is the hour
          if (numbers.empty() || numbers.back().digits > 2) return std::nullopt;
          haveTime = true;
          hour = numbers.back().value;
          numbers.pop_back();
        }
        meridiem = true;
        pm = word == u"pm";
      } else {
        const unsigned m = MonthOf(word, rules);
        if (m == 0 || namedMonth != 0) return std::nullopt;
        namedMonth = m;
      }
    } else if (IsBlank(c) || c == u'/' || c == u'-' || c == u'.' || c == u',') {
      ++i;
    } else {
      return std::nullopt;
    }
  }
  // The time of day.
  if (meridiem) {
    if (hour > 23) return std::nullopt;
    if (hour <= 12) hour = hour % 12 + (pm ? 12 : 0);  // "13:00 PM" stays 13:00
  }
  if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
  // The date.
  long year = 0, month = 0, day = 0;
  bool haveDate = true;
  if (namedMonth != 0) {
    month = namedMonth;
    if (numbers.size() == 1) {
      if (numbers[0].digits <= 2) {
        day = numbers[0].value;
        year = CurrentYear();
      } else {
        day = 1;
        if (!ToYear(numbers[0], year)) return std::nullopt;
      }
    } else if (numbers.size() == 2) {
      const bool yearFirst = numbers[0].digits > 2 || numbers[0].value > 31;
      day = numbers[yearFirst ? 1 : 0].value;
      if (!ToYear(numbers[yearFirst ? 0 : 1], year)) return std::nullopt;
    } else {
      return std::nullopt;
    }
  } else if (numbers.empty()) {
    if (!haveTime) return std::nullopt;
    haveDate = false;
  } else if (numbers.size() == 2 && numbers[0].digits <= 2 && numbers[1].digits > 2) {
    month = numbers[0].value;  // month and year: the first of the month
    day = 1;
    if (!ToYear(numbers[1], year)) return std::nullopt;
  } else if (numbers.size() == 2 || numbers.size() == 3) {
    const bool yearFirst = numbers[0].digits > 2;
    long a = numbers[yearFirst ? 1 : 0].value,
         b = numbers[yearFirst ? 2 % numbers.size() : 1].value;
    if (numbers.size() == 2 && yearFirst) return std::nullopt;
    // a and b in the locale's order (year first: month, day).
    const bool dayFirst = rules.dayFirst && !yearFirst;
    month = dayFirst ? b : a;
    day = dayFirst ? a : b;
    if (month > 12 && day <= 12) std::swap(month, day);  // the first cannot be a month
    if (numbers.size() == 3) {
      if (!ToYear(numbers[yearFirst ? 0 : 2], year)) return std::nullopt;
    } else {
      year = CurrentYear();
    }
  } else {
    return std::nullopt;
  }
  long days = 0;
  if (haveDate) {
    if (month < 1 || month > 12 || year > 9999) return std::nullopt;
    if (day < 1 || static_cast<unsigned>(day) > DaysInMonth(year, static_cast<unsigned>(month)))
      return std::nullopt;
    days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
           kOleEpochDays;
  }
  // The time added part by part, as Windows adds it, away from day 0.
  const double direction = days < 0 ? -1.0 : 1.0;
  double value = static_cast<double>(days);
  value += static_cast<double>(hour) / 24.0 * direction;
  value += static_cast<double>(minute) / 1440.0 * direction;
  value += static_cast<double>(second) / 86400.0 * direction;
  return value;
}

}  // namespace platform::detail
