// Dates between the seven-field DateParts record of the loaders, savers and
// the COM layer and the OLE Automation date the database stores: a double
// counting days since 30 December 1899, whose fraction is the time of day.
// Before that day the whole days count backwards while the fraction still
// adds time (-1.25 is 29 December 1899, 06:00).
#pragma once

#include <cstdint>

// One date and time, to the millisecond, in the order the interfaces hand
// the seven values around.
struct DateParts {
  std::uint16_t hour = 0;         // 0..23
  std::uint16_t minute = 0;       // 0..59
  std::uint16_t second = 0;       // 0..59
  std::uint16_t millisecond = 0;  // 0..999
  std::uint16_t day = 0;          // 1..31
  std::uint16_t month = 0;        // 1..12
  std::uint16_t year = 0;         // 100..9999
};

// The days of the OLE dates with parts: 1 January 100 to 31 December 9999.
// Every value from the start of the first to the end of the last day reads:
// kMinOleDate - 1 < value < kMaxOleDate + 1 (before day 0 the fraction adds
// time, so -657434.5 is 1 January 100, 12:00).
inline constexpr double kMinOleDate = -657434.0;
inline constexpr double kMaxOleDate = 2958465.0;

// Splits an OLE date into parts. The value is moved half a millisecond away
// from zero, in double arithmetic on the whole value, so that a value just
// below a millisecond boundary (as the double of a stored time usually is)
// gives that millisecond and a tie reads as that sum rounds; a time that
// reaches midnight that way gives 00:00 of the next day (on 31 December
// 9999, which has none, 23:59:59.999). When the time of day has no whole
// second, the whole time is 0 (the millisecond too). Values outside the
// days above, and NaN, leave parts untouched.
void OleDateToDateParts(double dDate, DateParts& parts);

// Builds the OLE date of parts. false, and dDate untouched, when the parts
// name no date an OLE date can hold: year below 100 or above 9999, month
// outside 1..12, day outside the month (29 February only in leap years),
// hour above 23, minute or second above 59, millisecond above 999.
bool DatePartsToOleDate(const DateParts& parts, double& dDate);
