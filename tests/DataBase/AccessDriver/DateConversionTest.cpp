// OLE Automation dates and DateParts: known dates on both sides of day 0,
// the range limits, the millisecond rounding, leap years, invalid parts and a
// round trip over the whole range.
#include "DataBase/AccessDriver/DateConversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>

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

// Known days counted independently (Python: date - date(1899, 12, 30)).
struct KnownDate {
  double dOle;
  DateParts parts;
};
const KnownDate kKnownDates[] = {
    {0.0, Parts(1899, 12, 30)},         {36526.5, Parts(2000, 1, 1, 12)},
    {-1.25, Parts(1899, 12, 29, 6)},    {1.0, Parts(1899, 12, 31)},
    {2.0, Parts(1900, 1, 1)},           {60.0, Parts(1900, 2, 28)},  // 1900 has no 29 February
    {61.0, Parts(1900, 3, 1)},          {36585.0, Parts(2000, 2, 29)},
    {38046.75, Parts(2004, 2, 29, 18)}, {-109512.0, Parts(1600, 2, 29)},
    {-657434.0, Parts(100, 1, 1)},      {2958465.0, Parts(9999, 12, 31)},
};

TEST(OleDateToDateParts, KnownDates) {
  for (const KnownDate& k : kKnownDates) {
    DateParts parts;
    OleDateToDateParts(k.dOle, parts);
    EXPECT_EQ(Str(parts), Str(k.parts)) << k.dOle;
  }
}

TEST(OleDateToDateParts, TimeOfDayToTheMillisecond) {
  struct Case {
    double dOle;
    DateParts parts;
  } cases[] = {
      // Half a second after midnight has no whole second: the time is zero.
      {0.5 / 86400.0, Parts(1899, 12, 30)},
      {36526.0 + 0.5 / 86400.0, Parts(2000, 1, 1)},
      {36526.0 + 1.5 / 86400.0, Parts(2000, 1, 1, 0, 0, 1, 500)},
      // 12:34:56.789, and the same time before day 0 (fraction adds time).
      {36526.0 + 45296.789 / 86400.0, Parts(2000, 1, 1, 12, 34, 56, 789)},
      {-2.0 - 45296.789 / 86400.0, Parts(1899, 12, 28, 12, 34, 56, 789)},
      // Just below a millisecond boundary rounds up to it.
      {36526.0 + (1.0 - 1e-9) / 86400.0, Parts(2000, 1, 1, 0, 0, 1, 0)},
      // Half a millisecond before midnight rounds to the next day.
      {36526.0 - 0.0004 / 86400.0, Parts(2000, 1, 1)},
      {36526.0 + 86399.999 / 86400.0, Parts(2000, 1, 1, 23, 59, 59, 999)},
  };
  for (const Case& c : cases) {
    DateParts parts;
    OleDateToDateParts(c.dOle, parts);
    EXPECT_EQ(Str(parts), Str(c.parts)) << std::hexfloat << c.dOle;
  }
}

TEST(OleDateToDateParts, OutsideTheRangeLeavesThePartsUntouched) {
  const double outside[] = {-657434.5,
                            -657435.0,
                            2958465.5,
                            2958466.0,
                            1e300,
                            -1e300,
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN()};
  for (double dOle : outside) {
    DateParts parts = Parts(1234, 5, 6, 7, 8, 9, 10);
    OleDateToDateParts(dOle, parts);
    EXPECT_EQ(Str(parts), Str(Parts(1234, 5, 6, 7, 8, 9, 10))) << dOle;
  }
}

TEST(DatePartsToOleDate, KnownDates) {
  for (const KnownDate& k : kKnownDates) {
    double dOle = 12345.0;
    ASSERT_TRUE(DatePartsToOleDate(k.parts, dOle)) << Str(k.parts);
    EXPECT_EQ(dOle, k.dOle) << Str(k.parts);
  }
}

TEST(DatePartsToOleDate, InvalidPartsAreRefused) {
  const DateParts invalid[] = {
      Parts(1900, 2, 29),       Parts(2100, 2, 29),          Parts(2001, 2, 29),
      Parts(2000, 2, 30),       Parts(2000, 4, 31),          Parts(2000, 1, 32),
      Parts(2000, 1, 0),        Parts(2000, 0, 1),           Parts(2000, 13, 1),
      Parts(10000, 1, 1),       Parts(65535, 1, 1),          Parts(2000, 1, 1, 24),
      Parts(2000, 1, 1, 0, 60), Parts(2000, 1, 1, 0, 0, 60), Parts(2000, 1, 1, 0, 0, 0, 1000),
  };
  for (const DateParts& p : invalid) {
    double dOle = 12345.0;
    EXPECT_FALSE(DatePartsToOleDate(p, dOle)) << Str(p);
    EXPECT_EQ(dOle, 12345.0) << Str(p);
  }
}

TEST(DatePartsToOleDate, LeapYearsAndDayCounts) {
  struct Case {
    int year;
    bool bLeap;
  } cases[] = {{2000, true},  {1900, false}, {2004, true},
               {2100, false}, {1600, true},  {2001, false}};
  for (const Case& c : cases) {
    double dFeb28 = 0, dMar1 = 0, dJan1 = 0, dNextJan1 = 0;
    ASSERT_TRUE(DatePartsToOleDate(Parts(c.year, 2, 28), dFeb28));
    ASSERT_TRUE(DatePartsToOleDate(Parts(c.year, 3, 1), dMar1));
    ASSERT_TRUE(DatePartsToOleDate(Parts(c.year, 1, 1), dJan1));
    ASSERT_TRUE(DatePartsToOleDate(Parts(c.year + 1, 1, 1), dNextJan1));
    EXPECT_EQ(dMar1 - dFeb28, c.bLeap ? 2.0 : 1.0) << c.year;
    EXPECT_EQ(dNextJan1 - dJan1, c.bLeap ? 366.0 : 365.0) << c.year;
    double dFeb29 = 0;
    EXPECT_EQ(DatePartsToOleDate(Parts(c.year, 2, 29), dFeb29), c.bLeap) << c.year;
  }
}

// Every 97th day from 2 January 100 to 9999 (all months, both
// signs of the OLE date), each with a time that has milliseconds.
TEST(DateRoundTrip, PartsToOleAndBackOverTheWholeRange) {
  int count = 0;
  for (long day = -657433; day < 2958465; day += 97) {
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
    EXPECT_EQ(std::trunc(dOle), static_cast<double>(day)) << Str(p);
    DateParts back;
    OleDateToDateParts(dOle, back);
    ASSERT_EQ(Str(back), Str(p)) << std::hexfloat << dOle;
    ++count;
  }
  EXPECT_GT(count, 37000);
}

}  // namespace
