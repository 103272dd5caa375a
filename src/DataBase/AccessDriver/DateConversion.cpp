// OLE Automation dates to and from DateParts, with the Gregorian calendar's
// 400-, 100- and 4-year cycles counted from 1 January of year 0 (day 1).
#include "DataBase/AccessDriver/DateConversion.h"

#include <cmath>

namespace {

// Days of the (non-leap) year before each month; [12] is the year's length.
constexpr long kMonthDays[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

// Days from 1 January of year 0 (day 1) to 30 December 1899 (OLE day 0).
constexpr long kDaysTo18991230 = 693959;

// Half a millisecond in days.
constexpr double kHalfMillisecond = 5.787037037037037e-09;

bool IsLeapYear(long year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

}  // namespace

void OleDateToDateParts(double dDate, DateParts& parts) {
  // Written so that NaN fails the test too.
  if (!(dDate > kMinOleDate - 1.0 && dDate < kMaxOleDate + 1.0)) return;

  // The value moves half a millisecond away from zero, in double arithmetic
  // on the whole value (so that a tie reads as the rule's arithmetic gives
  // it); the time is the absolute fraction of the moved value. The calendar
  // day is the original value truncated toward zero (before day 0 the
  // fraction adds time to the day as well). When the move crosses a whole
  // number, the time reached midnight and belongs to the next calendar day,
  // which is always one day up, before day 0 too (-1.9999999999 is 30
  // December 1899, 00:00).
  const double dMoved = dDate > 0.0 ? dDate + kHalfMillisecond : dDate - kHalfMillisecond;
  double dWhole = std::trunc(dDate);
  const double dMovedWhole = std::trunc(dMoved);
  double fraction = std::fabs(dMoved - dMovedWhole);
  if (dMovedWhole != dWhole) {
    if (dWhole >= kMaxOleDate) {
      // 31 December 9999 has no next day: its last millisecond.
      fraction = 86399999.5 / 86400000.0;
    } else {
      dWhole += 1.0;
      // Past midnight by less than half a millisecond: no whole second.
      fraction = 0.0;
    }
  }
  long daysAbsolute = static_cast<long>(dWhole) + kDaysTo18991230;
  const long secondsInDay = static_cast<long>(fraction * 86400.0);
  const long millisecond = static_cast<long>(fraction * 86400000.0) % 1000;

  // Whole 400-year cycles, then the century within it: the first century of
  // a cycle has 36525 days (its year 0 is a leap year), the others 36524.
  const long cycles400 = daysAbsolute / 146097;
  daysAbsolute %= 146097;
  const long century = (daysAbsolute - 1) / 36524;
  long years4;
  long dayIn4;
  bool leap4 = true;  // the 4-year block starts with a leap year
  if (century != 0) {
    daysAbsolute = (daysAbsolute - 1) % 36524;
    years4 = (daysAbsolute + 1) / 1461;
    if (years4 != 0) {
      dayIn4 = (daysAbsolute + 1) % 1461;
    } else {
      leap4 = false;  // the century's first year (e.g. 1900) is no leap year
      dayIn4 = daysAbsolute;
    }
  } else {
    years4 = daysAbsolute / 1461;
    dayIn4 = daysAbsolute % 1461;
  }
  long yearIn4;
  if (leap4) {
    yearIn4 = (dayIn4 - 1) / 365;
    if (yearIn4 != 0) dayIn4 = (dayIn4 - 1) % 365;
  } else {
    yearIn4 = dayIn4 / 365;
    dayIn4 %= 365;
  }
  // dayIn4 is now the 0-based day of the year.
  const long year = cycles400 * 400 + century * 100 + years4 * 4 + yearIn4;

  long month;
  long day;
  if (yearIn4 == 0 && leap4 && dayIn4 == 59) {
    month = 2;
    day = 29;
  } else {
    if (yearIn4 == 0 && leap4 && dayIn4 >= 60) --dayIn4;  // skip 29 February
    ++dayIn4;
    month = (dayIn4 >> 5) + 1;
    while (dayIn4 > kMonthDays[month]) ++month;
    day = dayIn4 - kMonthDays[month - 1];
  }

  parts.year = static_cast<std::uint16_t>(year);
  parts.month = static_cast<std::uint16_t>(month);
  parts.day = static_cast<std::uint16_t>(day);
  if (secondsInDay == 0) {
    parts.hour = parts.minute = parts.second = parts.millisecond = 0;
  } else {
    parts.second = static_cast<std::uint16_t>(secondsInDay % 60);
    parts.minute = static_cast<std::uint16_t>(secondsInDay / 60 % 60);
    parts.hour = static_cast<std::uint16_t>(secondsInDay / 3600);
    parts.millisecond = static_cast<std::uint16_t>(millisecond);
  }
}

bool DatePartsToOleDate(const DateParts& parts, double& dDate) {
  const long year = parts.year;
  const long month = parts.month;
  const long day = parts.day;
  if (year < 100 || year > 9999 || month < 1 || month > 12) return false;
  const bool leap = IsLeapYear(year);
  const long daysInMonth = kMonthDays[month] - kMonthDays[month - 1] + (leap && month == 2 ? 1 : 0);
  if (day < 1 || day > daysInMonth || parts.hour > 23 || parts.minute > 59 || parts.second > 59 ||
      parts.millisecond > 999) {
    return false;
  }

  long days = year * 365 + year / 4 - year / 100 + year / 400 + kMonthDays[month - 1] + day;
  if (leap && month <= 2) --days;
  days -= kDaysTo18991230;

  const double time =
      static_cast<double>(parts.millisecond +
                          1000L * (parts.second + 60L * (parts.minute + 60L * parts.hour))) /
      86400000.0;
  dDate = static_cast<double>(days) + (days >= 0 ? time : -time);
  return true;
}
