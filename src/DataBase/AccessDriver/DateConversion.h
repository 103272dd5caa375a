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
  std::uint16_t year = 0;         // 100..9999 for dates an OLE date can hold
};

// Range of OLE dates with parts: 1 January 100 to 31 December 9999.
inline constexpr double kMinOleDate = -657434.0;
inline constexpr double kMaxOleDate = 2958465.0;

// Splits an OLE date into parts. The value is first moved half a millisecond
// away from zero so that a value just below a millisecond boundary (as the
// double of a stored time usually is) gives that millisecond. When the time
// of day has no whole second, the whole time is 0 (the millisecond too).
// Values outside kMinOleDate..kMaxOleDate, and NaN, leave parts untouched.
void OleDateToDateParts(double dDate, DateParts& parts);

// Builds the OLE date of parts. false, and dDate untouched, when the parts
// name no date: year above 9999, month outside 1..12, day outside the
// month (29 February only in leap years), hour above 23, minute or second
// above 59, millisecond above 999.
bool DatePartsToOleDate(const DateParts& parts, double& dDate);
