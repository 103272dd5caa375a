// OLE Automation dates and DateParts: known dates on both sides of day 0,
// the range limits (the first and last day with their times), the
// millisecond rounding and the carry into the next day, invalid parts (leap
// days of years that have none among them) and a round trip of every day of
// the range.
#include "DataBase/AccessDriver/DateConversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

DateParts Parts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                int millisecond = 0) {
  DateParts p;
  p.year = static_cast<std::uint16_t>(year);
  p.month = static_cast<std::uint16_t>(month);
  p.day = static_cast<std::uint16_t>(day);
  p.hour = static_cast<std::uint16_t>(hour);
  p.minute = static_cast<std::uint16_t>(minute);
  p.second = static_cast<std::uint16_t>(second);
  p.millisecond = static_cast<std::uint16_t>(millisecond);
  return p;
}

// The parts as "y-m-d h:m:s.ms": compared and printed as text.
std::string Str(const DateParts& p) {
  std::ostringstream os;
  os << p.year << "-" << p.month << "-" << p.day << " " << p.hour << ":" << p.minute << ":"
     << p.second << "." << p.millisecond;
  return os.str();
}

struct Reading {
  double dOle;
  DateParts parts;
};

// Known days counted independently (Python: date - date(1899, 12, 30)),
// read and written.
TEST(DateConversion, KnownDatesBothWays) {
  const Reading known[] = {
      {0.0, Parts(1899, 12, 30)},         {36526.5, Parts(2000, 1, 1, 12)},
      {-1.25, Parts(1899, 12, 29, 6)},    {1.0, Parts(1899, 12, 31)},
      {2.0, Parts(1900, 1, 1)},           {60.0, Parts(1900, 2, 28)},  // 1900 has no 29 February
      {61.0, Parts(1900, 3, 1)},          {36585.0, Parts(2000, 2, 29)},
      {38046.75, Parts(2004, 2, 29, 18)}, {-109512.0, Parts(1600, 2, 29)},
      {-657434.0, Parts(100, 1, 1)},      {2958465.0, Parts(9999, 12, 31)},
  };
  for (const Reading& k : known) {
    DateParts parts;
    OleDateToDateParts(k.dOle, parts);
    EXPECT_EQ(Str(parts), Str(k.parts)) << k.dOle;
    double dOle = 12345.0;
    ASSERT_TRUE(DatePartsToOleDate(k.parts, dOle)) << Str(k.parts);
    EXPECT_EQ(dOle, k.dOle) << Str(k.parts);
  }
}

// Times of day to the millisecond. Before day 0 the fraction adds time, so
// 1 January 100 spans (-657435, -657434] and 31 December 9999 spans
// [2958465, 2958466). A time within half a millisecond of midnight belongs
// to the next calendar day on both sides of day 0 (the next day of -1.x is
// day 0, of -0.x day 1); 31 December 9999 has none and keeps its last
// millisecond.
TEST(OleDateToDateParts, TimesRoundToTheMillisecondAndCarryAtMidnight) {
  const double kAlmostOne = 1.0 - 0.0004 / 86400000.0;
  const Reading readings[] = {
      // Half a second after midnight has no whole second: the time is zero.
      {0.5 / 86400.0, Parts(1899, 12, 30)},
      {36526.0 + 0.5 / 86400.0, Parts(2000, 1, 1)},
      {36526.0 + 1.5 / 86400.0, Parts(2000, 1, 1, 0, 0, 1, 500)},
      {36526.0 + 45296.789 / 86400.0, Parts(2000, 1, 1, 12, 34, 56, 789)},
      {-2.0 - 45296.789 / 86400.0, Parts(1899, 12, 28, 12, 34, 56, 789)},
      // Just below a millisecond boundary rounds up to it.
      {36526.0 + (1.0 - 1e-9) / 86400.0, Parts(2000, 1, 1, 0, 0, 1, 0)},
      {36526.0 - 0.0004 / 86400.0, Parts(2000, 1, 1)},
      {36526.0 + 86399.999 / 86400.0, Parts(2000, 1, 1, 23, 59, 59, 999)},
      // Ties: the half millisecond is added to the whole value, whose sum
      // rounds to the boundary (added to the fraction alone it stays below).
      {1.499999994212963, Parts(1899, 12, 31, 12)},
      {-1.499999994212963, Parts(1899, 12, 29, 12)},
      {36525.0 + kAlmostOne, Parts(2000, 1, 1)},
      {-(1.0 + kAlmostOne), Parts(1899, 12, 30)},
      {-kAlmostOne, Parts(1899, 12, 31)},
      {-(2.0 + kAlmostOne), Parts(1899, 12, 29)},
      // The first and the last day of the range.
      {-657434.5, Parts(100, 1, 1, 12)},
      {-657434.0 - 86399.999 / 86400.0, Parts(100, 1, 1, 23, 59, 59, 999)},
      {std::nextafter(-657435.0, 0.0), Parts(100, 1, 2)},
      {2958465.5, Parts(9999, 12, 31, 12)},
      {2958465.0 + 86399.999 / 86400.0, Parts(9999, 12, 31, 23, 59, 59, 999)},
      {std::nextafter(2958466.0, 0.0), Parts(9999, 12, 31, 23, 59, 59, 999)},
  };
  for (const Reading& r : readings) {
    DateParts parts;
    OleDateToDateParts(r.dOle, parts);
    EXPECT_EQ(Str(parts), Str(r.parts)) << std::hexfloat << r.dOle;
  }
  // Outside the range the parts are left untouched.
  const double kInf = std::numeric_limits<double>::infinity();
  for (double dOle : {-657435.0, -657435.5, std::nextafter(-657435.0, -1e300), 2958466.0, 2958466.5,
                      std::nextafter(2958466.0, 1e300), 1e300, -1e300, kInf, -kInf,
                      std::numeric_limits<double>::quiet_NaN()}) {
    DateParts parts = Parts(1234, 5, 6, 7, 8, 9, 10);
    OleDateToDateParts(dOle, parts);
    EXPECT_EQ(Str(parts), Str(Parts(1234, 5, 6, 7, 8, 9, 10))) << std::hexfloat << dOle;
  }
}

TEST(DatePartsToOleDate, InvalidPartsAreRefused) {
  std::vector<DateParts> invalid;
  const int dates[][3] = {{1900, 2, 29}, {2100, 2, 29}, {2001, 2, 29}, {2000, 2, 30}, {2000, 4, 31},
                          {2000, 1, 32}, {2000, 1, 0},  {2000, 0, 1},  {2000, 13, 1}, {10000, 1, 1},
                          {65535, 1, 1}, {99, 12, 31},  {0, 1, 1}};
  for (const auto& d : dates) invalid.push_back(Parts(d[0], d[1], d[2]));
  const int times[][4] = {{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}};
  for (const auto& t : times) invalid.push_back(Parts(2000, 1, 1, t[0], t[1], t[2], t[3]));
  for (const DateParts& p : invalid) {
    double dOle = 12345.0;
    EXPECT_FALSE(DatePartsToOleDate(p, dOle)) << Str(p);
    EXPECT_EQ(dOle, 12345.0) << Str(p);
  }
}

// Whether parts read back from their OLE date: every time except those with
// milliseconds in the first second of the day (no whole second: the time
// reads as 00:00:00.000).
bool RoundTrips(const DateParts& p) {
  double dOle = 0;
  if (!DatePartsToOleDate(p, dOle)) {
    ADD_FAILURE() << "refused " << Str(p);
    return false;
  }
  DateParts back;
  OleDateToDateParts(dOle, back);
  if (Str(back) == Str(p)) return true;
  ADD_FAILURE() << Str(p) << " read back as " << Str(back) << " from " << std::hexfloat << dOle;
  return false;
}

// Every day from 1 January 100 to 31 December 9999 (all months, both signs
// of the OLE date) with a time that has milliseconds; every 11th day also at
// midnight and at its last millisecond.
TEST(DateRoundTrip, EveryDayOfTheRange) {
  long count = 0;
  for (long day = -657434; day <= 2958465; ++day, ++count) {
    DateParts date;
    OleDateToDateParts(static_cast<double>(day), date);
    const long k = day < 0 ? -day : day;
    DateParts p = date;
    p.hour = static_cast<std::uint16_t>(k % 24);
    p.minute = static_cast<std::uint16_t>(k % 60);
    p.second = static_cast<std::uint16_t>((k / 60) % 60);
    p.millisecond = static_cast<std::uint16_t>(k % 1000);
    if (p.hour == 0 && p.minute == 0 && p.second == 0) p.second = 1;  // keep the time
    double dOle = 0;
    ASSERT_TRUE(DatePartsToOleDate(p, dOle)) << Str(p);
    ASSERT_EQ(std::trunc(dOle), static_cast<double>(day)) << Str(p);
    if (!RoundTrips(p)) return;
    if (day % 11 != 0) continue;
    DateParts last = date;
    last.hour = 23;
    last.minute = last.second = 59;
    last.millisecond = 999;
    if (!RoundTrips(date) || !RoundTrips(last)) return;
  }
  EXPECT_EQ(count, 2958465L + 657434L + 1L);
}

// Every second of the first and the last day of the range, and of the days
// around day 0, with a millisecond that changes with it.
TEST(DateRoundTrip, EverySecondOfTheEdgeDays) {
  for (const DateParts& day : {Parts(100, 1, 1), Parts(9999, 12, 31), Parts(1899, 12, 29),
                               Parts(1899, 12, 30), Parts(1899, 12, 31)}) {
    for (long s = 1; s < 86400; ++s) {
      DateParts p = day;
      p.hour = static_cast<std::uint16_t>(s / 3600);
      p.minute = static_cast<std::uint16_t>(s / 60 % 60);
      p.second = static_cast<std::uint16_t>(s % 60);
      p.millisecond = static_cast<std::uint16_t>((s * 7) % 1000);
      if (!RoundTrips(p)) return;
    }
  }
}

}  // namespace
