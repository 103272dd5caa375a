// OLE Automation dates and the reading of Jet date texts (see JetDate.h).
#include "Engine/JetSql/JetDate.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace jetsql::detail {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(y + (m <= 2));
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}

const std::int64_t kOleEpoch = DaysFromCivil(1899, 12, 30);
constexpr double kMinOle = -657434.0;  // 100-01-01
constexpr double kMaxOle = 2958466.0;  // 10000-01-01, exclusive

int DaysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
  return kDays[static_cast<std::size_t>(month - 1)];
}

// The pieces of a date text: numbers (with their digit count), words and separators.
struct Piece {
  enum class Kind { Number, Word, Sep } kind = Kind::Number;
  long value = 0;  // Number
  int digits = 0;  // Number
  std::string_view text;
  char sep = 0;  // Sep: '/', '-', '.', ':', ','
};

int MonthFromName(std::string_view word) {
  static constexpr std::array<std::string_view, 12> kNames = {
      "january", "february", "march",     "april",   "may",      "june",
      "july",    "august",   "september", "october", "november", "december"};
  if (word.size() < 3) return 0;
  std::string lower;
  for (char c : word) lower.push_back(static_cast<char>((c >= 'A' && c <= 'Z') ? c + 32 : c));
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    if (lower == kNames[i] || lower == kNames[i].substr(0, 3)) return static_cast<int>(i) + 1;
  }
  return 0;
}

bool IsWord(const Piece& p, std::string_view upper) {
  if (p.kind != Piece::Kind::Word || p.text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < upper.size(); ++i) {
    char c = p.text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c != upper[i]) return false;
  }
  return true;
}

bool Fail(std::string* pWhy, const std::string& why) {
  if (pWhy) *pWhy = why;
  return false;
}

int WindowYear(const Piece& p) {
  if (p.digits <= 2) return static_cast<int>(p.value < 30 ? 2000 + p.value : 1900 + p.value);
  return static_cast<int>(p.value);
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  return year >= 100 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

long long OleDayNumber(long long year, int month, int day) {
  return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kOleEpoch;
}

double ToOleDate(const DateParts& parts) {
  const auto days =
      static_cast<double>(DaysFromCivil(parts.year, static_cast<unsigned>(parts.month),
                                        static_cast<unsigned>(parts.day)) -
                          kOleEpoch);
  const double time = (parts.hour * 3600.0 + parts.minute * 60.0 + parts.second) / 86400.0;
  return days >= 0 ? days + time : days - time;
}

bool FromOleDate(double value, DateParts& parts) {
  if (!std::isfinite(value) || value <= kMinOle - 1.0 || value >= kMaxOle) return false;
  double whole = std::trunc(value);
  auto seconds = static_cast<std::int64_t>(std::llround(std::fabs(value - whole) * 86400.0));
  auto days = static_cast<std::int64_t>(whole);
  if (seconds >= 86400) {  // rounding carried into the next day
    seconds -= 86400;
    days += 1;
  }
  CivilFromDays(days + kOleEpoch, parts.year, parts.month, parts.day);
  if (parts.year < 100 || parts.year > 9999) return false;
  parts.hour = static_cast<int>(seconds / 3600);
  parts.minute = static_cast<int>(seconds / 60 % 60);
  parts.second = static_cast<int>(seconds % 60);
  return true;
}

bool ParseDateText(std::string_view text, double& ole, std::string* pWhy) {
  std::vector<Piece> pieces;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == ' ' || c == '\t') {
      ++i;
    } else if (c >= '0' && c <= '9') {
      Piece p;
      p.kind = Piece::Kind::Number;
      const std::size_t start = i;
      while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (p.digits >= 9) return Fail(pWhy, "number too long");
        p.value = p.value * 10 + (text[i] - '0');
        ++p.digits;
        ++i;
      }
      p.text = text.substr(start, i - start);
      pieces.push_back(p);
    } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      const std::size_t start = i;
      while (i < text.size() &&
             ((text[i] >= 'A' && text[i] <= 'Z') || (text[i] >= 'a' && text[i] <= 'z')))
        ++i;
      Piece p;
      p.kind = Piece::Kind::Word;
      p.text = text.substr(start, i - start);
      pieces.push_back(p);
    } else if (c == '/' || c == '-' || c == '.' || c == ':' || c == ',') {
      Piece p;
      p.kind = Piece::Kind::Sep;
      p.sep = c;
      p.text = text.substr(i, 1);
      pieces.push_back(p);
      ++i;
    } else {
      return Fail(pWhy, std::string("unexpected character '") + c + "'");
    }
  }
  if (pieces.empty()) return Fail(pWhy, "empty date");

  std::size_t k = 0;
  auto at = [&](std::size_t i) -> const Piece* { return i < pieces.size() ? &pieces[i] : nullptr; };
  auto isNum = [&](std::size_t i) { return at(i) && at(i)->kind == Piece::Kind::Number; };
  auto isDateSep = [&](std::size_t i) {
    return at(i) && at(i)->kind == Piece::Kind::Sep &&
           (at(i)->sep == '/' || at(i)->sep == '-' || at(i)->sep == '.');
  };
  auto isMonthWord = [&](std::size_t i) {
    return at(i) && at(i)->kind == Piece::Kind::Word && MonthFromName(at(i)->text) != 0;
  };

  DateParts parts;
  bool haveDate = false;
  if (isNum(0) && isDateSep(1) && isNum(2) && isDateSep(3) && isNum(4)) {
    if (pieces[0].digits >= 3) {  // yyyy-mm-dd
      parts.year = static_cast<int>(pieces[0].value);
      parts.month = static_cast<int>(pieces[2].value);
      parts.day = static_cast<int>(pieces[4].value);
    } else {  // m/d/yyyy, always US order
      parts.month = static_cast<int>(pieces[0].value);
      parts.day = static_cast<int>(pieces[2].value);
      parts.year = WindowYear(pieces[4]);
    }
    k = 5;
    haveDate = true;
  } else if (isNum(0) && isMonthWord(1 + (isDateSep(1) ? 1 : 0))) {  // d-mmm-yyyy, d mmm yyyy
    std::size_t i = 1 + (isDateSep(1) ? 1 : 0);
    parts.day = static_cast<int>(pieces[0].value);
    parts.month = MonthFromName(pieces[i].text);
    ++i;
    if (isDateSep(i)) ++i;
    if (!isNum(i)) return Fail(pWhy, "year missing");
    parts.year = WindowYear(pieces[i]);
    k = i + 1;
    haveDate = true;
  } else if (isMonthWord(0)) {  // mmm d, yyyy
    std::size_t i = 1;
    if (isDateSep(i)) ++i;
    if (!isNum(i)) return Fail(pWhy, "day missing");
    parts.month = MonthFromName(pieces[0].text);
    parts.day = static_cast<int>(pieces[i].value);
    ++i;
    if (at(i) && at(i)->kind == Piece::Kind::Sep && (at(i)->sep == ',' || isDateSep(i))) ++i;
    if (!isNum(i)) return Fail(pWhy, "year missing");
    parts.year = WindowYear(pieces[i]);
    k = i + 1;
    haveDate = true;
  }
  if (haveDate) {
    if (parts.month < 1 || parts.month > 12)
      return Fail(pWhy, "month " + std::to_string(parts.month) + " out of range");
    if (parts.year < 100 || parts.year > 9999)
      return Fail(pWhy, "year " + std::to_string(parts.year) + " out of range");
    if (!IsValidDate(parts.year, parts.month, parts.day))
      return Fail(pWhy, "day " + std::to_string(parts.day) + " out of range");
  }

  if (!haveDate && isNum(0) && isDateSep(1))
    return Fail(pWhy, "incomplete date (month, day and year expected)");
  if (k < pieces.size()) {  // a time: h:nn[:ss] [AM|PM] or h AM|PM
    if (!isNum(k)) return Fail(pWhy, "unexpected '" + std::string(pieces[k].text) + "'");
    long hms[3] = {pieces[k].value, 0, 0};
    int count = 1;
    ++k;
    while (count < 3 && at(k) && at(k)->kind == Piece::Kind::Sep && at(k)->sep == ':') {
      if (!isNum(k + 1)) return Fail(pWhy, "time incomplete");
      hms[count++] = pieces[k + 1].value;
      k += 2;
    }
    int ampm = 0;  // 1 AM, 2 PM
    if (at(k) && (IsWord(*at(k), "AM") || IsWord(*at(k), "PM"))) {
      ampm = IsWord(*at(k), "AM") ? 1 : 2;
      ++k;
    }
    if (count == 1 && ampm == 0) return Fail(pWhy, "time without ':' or AM/PM");
    if (k < pieces.size()) return Fail(pWhy, "unexpected '" + std::string(pieces[k].text) + "'");
    if (ampm != 0) {
      if (hms[0] > 12) return Fail(pWhy, "hour " + std::to_string(hms[0]) + " out of range");
      if (hms[0] == 12) hms[0] = 0;
      if (ampm == 2) hms[0] += 12;
    }
    if (hms[0] > 23) return Fail(pWhy, "hour " + std::to_string(hms[0]) + " out of range");
    if (hms[1] > 59) return Fail(pWhy, "minute " + std::to_string(hms[1]) + " out of range");
    if (hms[2] > 59) return Fail(pWhy, "second " + std::to_string(hms[2]) + " out of range");
    parts.hour = static_cast<int>(hms[0]);
    parts.minute = static_cast<int>(hms[1]);
    parts.second = static_cast<int>(hms[2]);
  } else if (!haveDate) {
    return Fail(pWhy, "not a date");
  }
  ole = ToOleDate(parts);
  return true;
}

}  // namespace jetsql::detail
