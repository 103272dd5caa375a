// Dates as Jet keeps them: OLE Automation dates, a double counting days since 1899-12-30 whose
// fraction is the time of day. Before that day the integer part counts backwards and the fraction
// still adds time (-1.25 is 1899-12-29 06:00). Internal to the JetSql library.
#pragma once

#include <string>
#include <string_view>

namespace jetsql::detail {

struct DateParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
};

// Valid dates run from 100-01-01 to 9999-12-31, as in OLE Automation.
bool IsValidDate(int year, int month, int day);
// The OLE day number (days since 1899-12-30) of a proleptic Gregorian date; month 1-12 and day
// 1-31, not otherwise checked.
long long OleDayNumber(long long year, int month, int day);
// REQUIRES: the parts are valid (IsValidDate, hour 0-23, minute and second 0-59).
double ToOleDate(const DateParts& parts);
// The parts of an OLE date, rounded to the second; false when the value is not finite or outside
// the valid range.
bool FromOleDate(double value, DateParts& parts);

// Reads the text of a Jet date literal (what stands between the '#'s): "m/d/yyyy" (also with '-'
// or '.' for '/', and two-digit years: 00-29 are 20xx, 30-99 are 19xx), "yyyy-mm-dd", "d-mmm-yyyy",
// "mmm d, yyyy", each optionally followed by a time "h:nn[:ss] [AM|PM]" or "h AM|PM"; or a time
// alone (on 1899-12-30). Answers false with *pWhy saying what is wrong.
bool ParseDateText(std::string_view text, double& ole, std::string* pWhy);

}  // namespace jetsql::detail
