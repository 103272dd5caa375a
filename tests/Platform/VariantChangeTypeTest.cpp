// VariantChangeType: the Windows results at the limits of each conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "Platform/OleAuto.h"
#include "TestObjects.h"
#include "VariantCases.h"

using namespace variantcases;  // NOLINT: the case builders read as a table
using platformtest::TestObject;

TEST(VariantChangeType, NullAndEmpty) {
  std::vector<Case> cases = {
      {Null(), VT_I4, kMismatch, ""},    {Null(), VT_UI1, kMismatch, ""},
      {Null(), VT_R8, kMismatch, ""},    {Null(), VT_BSTR, kMismatch, ""},
      {Null(), VT_BOOL, kMismatch, ""},  {Null(), VT_DATE, kMismatch, ""},
      {Null(), VT_CY, kMismatch, ""},    {Null(), VT_EMPTY, kMismatch, ""},
      {Null(), VT_NULL, kOk, "null"},    {Empty(), VT_I4, kOk, "i4 0"},
      {Empty(), VT_R8, kOk, "r8 0"},     {Empty(), VT_BSTR, kOk, "bstr \"\""},
      {Empty(), VT_BOOL, kOk, "bool 0"}, {Empty(), VT_DATE, kOk, "date 0"},
      {Empty(), VT_CY, kOk, "cy 0"},     {Empty(), VT_NULL, kOk, "null"},
      {I4(5), VT_EMPTY, kOk, "empty"},   {Str(u"x"), VT_NULL, kOk, "null"},
  };
  RunCases(cases);
}

TEST(VariantChangeType, IntegerRanges) {
  std::vector<Case> cases = {
      {I4(32767), VT_I2, kOk, "i2 32767"},
      {I4(32768), VT_I2, kOverflow, ""},
      {I4(-32768), VT_I2, kOk, "i2 -32768"},
      {I4(-32769), VT_I2, kOverflow, ""},
      {I4(255), VT_UI1, kOk, "ui1 255"},
      {I4(256), VT_UI1, kOverflow, ""},
      {I4(-1), VT_UI1, kOverflow, ""},
      {I4(-5), VT_I1, kOk, "i1 -5"},
      {UI1(200), VT_I1, kOk, "i1 -56"},  // same width: the bits
      {I1(-128), VT_I2, kOk, "i2 -128"},
      {I2(-1), VT_UI2, kOk, "ui2 65535"},
      {UI4(4294967295u), VT_I4, kOk, "i4 -1"},
      {UI4(4294967295u), VT_UINT, kOk, "uint 4294967295"},
      {I8(2147483648LL), VT_INT, kOverflow, ""},
      {Int(-7), VT_I8, kOk, "i8 -7"},
      {I8(INT64_MAX), VT_UI8, kOk, "ui8 9223372036854775807"},
      {I8(-1), VT_UI8, kOk, "ui8 18446744073709551615"},
      {UI8(UINT64_MAX), VT_I8, kOk, "i8 -1"},
      {I2(-1), VT_UI4, kOverflow, ""},
      {UI4(4294967295u), VT_I2, kOverflow, ""},
      {UI8(UINT64_MAX), VT_R8, kOk, "r8 1.8446744073709552e+19"},
      {I4(-7), VT_UI4, kOk, "ui4 4294967289"},
      {Int(-1), VT_UINT, kOk, "uint 4294967295"},
  };
  RunCases(cases);
}

TEST(VariantChangeType, FloatingToIntegerRoundsHalfToEven) {
  std::vector<Case> cases = {
      {R8(2.5), VT_I4, kOk, "i4 2"},
      {R8(3.5), VT_I4, kOk, "i4 4"},
      {R8(-2.5), VT_I4, kOk, "i4 -2"},
      {R8(-3.5), VT_I4, kOk, "i4 -4"},
      {R8(0.5), VT_I4, kOk, "i4 0"},
      {R8(1.5), VT_I2, kOk, "i2 2"},
      {R8(2.5000001), VT_I4, kOk, "i4 3"},
      {R8(-0.4), VT_UI1, kOk, "ui1 0"},
      {R8(-0.5), VT_UI1, kOk, "ui1 0"},
      {R8(-0.6), VT_UI1, kOverflow, ""},
      {R4(2.5f), VT_I2, kOk, "i2 2"},
      {R4(255.5f), VT_UI1, kOverflow, ""},
      {R8(2147483647.49), VT_I4, kOk, "i4 2147483647"},
      {R8(2147483647.5), VT_I4, kOverflow, ""},
      {R8(-2147483648.5), VT_I4, kOk, "i4 -2147483648"},
      {R8(-2147483648.51), VT_I4, kOverflow, ""},
      {R8(9007199254740993.0), VT_I8, kOk, "i8 9007199254740992"},
      {R8(9.3e18), VT_I8, kOverflow, ""},
      {R8(1e300), VT_UI8, kOverflow, ""},
      {R8(std::numeric_limits<double>::quiet_NaN()), VT_I4, kOverflow, ""},
      {R8(std::numeric_limits<double>::infinity()), VT_I2, kOverflow, ""},
      {Date(36526.5), VT_I4, kOk, "i4 36526"},
      {Date(36527.5), VT_I4, kOk, "i4 36528"},
      {Cy(25000), VT_I4, kOk, "i4 2"},
      {Cy(35000), VT_I4, kOk, "i4 4"},
      {Cy(-25000), VT_I4, kOk, "i4 -2"},
      {Cy(15001), VT_I4, kOk, "i4 2"},
      {Cy(-14999), VT_I4, kOk, "i4 -1"},
  };
  RunCases(cases);
}

TEST(VariantChangeType, TextToNumber) {
  std::vector<Case> cases = {
      {Str(u"12x"), VT_I4, kMismatch, ""},
      {Str(u"x12"), VT_I4, kMismatch, ""},
      {Str(u""), VT_I4, kMismatch, ""},
      {Str(u"   "), VT_R8, kMismatch, ""},
      {Str(u"abc"), VT_R8, kMismatch, ""},
      {Str(u"0x10"), VT_I4, kMismatch, ""},
      {Str(u"1,000"), VT_I4, kOk, "i4 1000"},
      {Str(u"1,000.5"), VT_R8, kOk, "r8 1000.5"},
      {Str(u"&H1F"), VT_I4, kOk, "i4 31"},
      {Str(u"&HFFFF"), VT_I2, kOk, "i2 -1"},
      {Str(u"&HFFFF"), VT_I4, kOk, "i4 65535"},
      {Str(u"&HFFFFFFFF"), VT_I4, kOk, "i4 -1"},
      {Str(u"&HFFFF"), VT_UI1, kOverflow, ""},
      {Str(u"&O17"), VT_UI1, kOk, "ui1 15"},
      {Str(u"&H"), VT_I4, kMismatch, ""},
      {Str(u"&HG"), VT_I4, kMismatch, ""},
      {Str(u"$1,234.50"), VT_CY, kOk, "cy 12345000"},
      {Str(u"(5)"), VT_I4, kOk, "i4 -5"},
      {Str(u"(5"), VT_I4, kMismatch, ""},
      {Str(u"5-"), VT_I4, kOk, "i4 -5"},
      {Str(u"-5-"), VT_I4, kMismatch, ""},
      {Str(u"\u00A012"), VT_I4, kOk, "i4 12"},
      {Str(std::u16string_view(u"12\0"
                               u"5",
                               4)),
       VT_I4, kOk, "i4 12"},  // up to the NUL
      {Str(std::u16string_view(u"\0"
                               u"5",
                               2)),
       VT_I4, kMismatch, ""},
      {Str(u"1e"), VT_R8, kMismatch, ""},
      {Str(u"."), VT_R8, kMismatch, ""},
      {Str(u"--1"), VT_I4, kMismatch, ""},
      {Str(u"  42\t"), VT_I4, kOk, "i4 42"},
      {Str(u"+7"), VT_I2, kOk, "i2 7"},
      {Str(u"-7"), VT_I2, kOk, "i2 -7"},
      {Str(u"007"), VT_UI1, kOk, "ui1 7"},
      {Str(u"1e3"), VT_I4, kOk, "i4 1000"},
      {Str(u"1.5E1"), VT_I4, kOk, "i4 15"},
      {Str(u"2.5"), VT_I4, kOk, "i4 2"},
      {Str(u"3.5"), VT_I4, kOk, "i4 4"},
      {Str(u"-0.5"), VT_I4, kOk, "i4 0"},
      {Str(u"2.50000000000000000001"), VT_I4, kOk, "i4 3"},
      {Str(u"32767"), VT_I2, kOk, "i2 32767"},
      {Str(u"32768"), VT_I2, kOverflow, ""},
      {Str(u"9223372036854775807"), VT_I8, kOk, "i8 9223372036854775807"},
      {Str(u"9223372036854775808"), VT_I8, kOverflow, ""},
      {Str(u"-9223372036854775808"), VT_I8, kOk, "i8 -9223372036854775808"},
      {Str(u"18446744073709551615"), VT_UI8, kOk, "ui8 18446744073709551615"},
      {Str(u"1e100"), VT_I8, kOverflow, ""},
      {Str(u"3.25"), VT_R8, kOk, "r8 3.25"},
      {Str(u".5"), VT_R8, kOk, "r8 0.5"},
      {Str(u"5."), VT_R8, kOk, "r8 5"},
      {Str(u"-1.5e-3"), VT_R8, kOk, "r8 -0.0015"},
      {Str(u"1e400"), VT_R8, kOverflow, ""},
      {Str(u"1e-400"), VT_R8, kOk, "r8 0"},
      {Str(u"1e39"), VT_R4, kOverflow, ""},
      {Str(u"0.1"), VT_R4, kOk, "r4 0.100000001"},
  };
  RunCases(cases);
}

TEST(VariantChangeType, Booleans) {
  std::vector<Case> cases = {
      {Bool(true), VT_BSTR, kOk, "bstr \"-1\""},
      {Bool(false), VT_BSTR, kOk, "bstr \"0\""},
      {Bool(true), VT_BSTR, kOk, "bstr \"True\"", VARIANT_ALPHABOOL},
      {Bool(false), VT_BSTR, kOk, "bstr \"False\"", VARIANT_ALPHABOOL},
      {Str(u"True"), VT_BOOL, kOk, "bool -1"},
      {Str(u"TRUE"), VT_BOOL, kOk, "bool -1"},
      {Str(u" false "), VT_BOOL, kMismatch, ""},
      {Str(u"#TRUE#"), VT_BOOL, kOk, "bool -1"},
      {Str(u"#FALSE#"), VT_BOOL, kOk, "bool 0"},
      {Str(u"#true#"), VT_BOOL, kMismatch, ""},
      {Str(u" 1 "), VT_BOOL, kOk, "bool -1"},
      {BoolBits(5), VT_BSTR, kOk, "bstr \"5\""},
      {BoolBits(5), VT_BSTR, kOk, "bstr \"True\"", VARIANT_ALPHABOOL},
      {Str(u"0"), VT_BOOL, kOk, "bool 0"},
      {Str(u"-1"), VT_BOOL, kOk, "bool -1"},
      {Str(u"0.25"), VT_BOOL, kOk, "bool -1"},
      {Str(u"yes"), VT_BOOL, kMismatch, ""},
      {Str(u""), VT_BOOL, kMismatch, ""},
      {I4(5), VT_BOOL, kOk, "bool -1"},
      {I4(0), VT_BOOL, kOk, "bool 0"},
      {R8(0.1), VT_BOOL, kOk, "bool -1"},
      {R8(0.0), VT_BOOL, kOk, "bool 0"},
      {Cy(1), VT_BOOL, kOk, "bool -1"},
      {Bool(true), VT_I4, kOk, "i4 -1"},
      {Bool(true), VT_R8, kOk, "r8 -1"},
      {Bool(true), VT_CY, kOk, "cy -10000"},
      {Bool(true), VT_UI1, kOk, "ui1 255"},  // Windows cuts, it does not overflow
      {Bool(true), VT_UI2, kOk, "ui2 65535"},
      {Bool(false), VT_UI4, kOk, "ui4 0"},
  };
  RunCases(cases);
}

TEST(VariantChangeType, Currency) {
  std::vector<Case> cases = {
      {R8(1.5), VT_CY, kOk, "cy 15000"},
      {R8(1.23456), VT_CY, kOk, "cy 12346"},
      {R8(-1.23454), VT_CY, kOk, "cy -12345"},
      {Str(u"0.00005"), VT_CY, kOk, "cy 0"},
      {Str(u"0.00015"), VT_CY, kOk, "cy 2"},
      {Str(u"0.00025"), VT_CY, kOk, "cy 2"},
      {Str(u"-0.00035"), VT_CY, kOk, "cy -4"},
      {Str(u"922337203685477.5807"), VT_CY, kOk, "cy 9223372036854775807"},
      {Str(u"922337203685477.5808"), VT_CY, kOverflow, ""},
      {Str(u"-922337203685477.5808"), VT_CY, kOk, "cy -9223372036854775808"},
      {I4(5), VT_CY, kOk, "cy 50000"},
      {I8(922337203685477LL), VT_CY, kOk, "cy 9223372036854770000"},
      {I8(922337203685478LL), VT_CY, kOverflow, ""},
      {R8(1e15), VT_CY, kOverflow, ""},
      {Cy(12345), VT_R8, kOk, "r8 1.2344999999999999"},
      {Cy(12345), VT_BSTR, kOk, "bstr \"1.2345\""},
      {Cy(15000), VT_BSTR, kOk, "bstr \"1.5\""},
      {Cy(10000), VT_BSTR, kOk, "bstr \"1\""},
      {Cy(-5), VT_BSTR, kOk, "bstr \"-0.0005\""},
      {Cy(INT64_MIN), VT_BSTR, kOk, "bstr \"-922337203685477.5808\""},
      {Cy(0), VT_BSTR, kOk, "bstr \"0\""},
  };
  RunCases(cases);
}

TEST(VariantChangeType, NumbersToText) {
  std::vector<Case> cases = {
      {I4(-42), VT_BSTR, kOk, "bstr \"-42\""},
      {UI8(UINT64_MAX), VT_BSTR, kOk, "bstr \"18446744073709551615\""},
      {I1(-128), VT_BSTR, kOk, "bstr \"-128\""},
      {R8(0.1), VT_BSTR, kOk, "bstr \"0.1\""},
      {R8(-2.5), VT_BSTR, kOk, "bstr \"-2.5\""},
      {R8(1e20), VT_BSTR, kOk, "bstr \"1E+20\""},
      {R8(1.5e-5), VT_BSTR, kOk, "bstr \"0.000015\""},
      {R8(5.6789e-5), VT_BSTR, kOk, "bstr \"0.000056789\""},
      {R8(-1e-11), VT_BSTR, kOk, "bstr \"-0.00000000001\""},
      {R8(1.23e-12), VT_BSTR, kOk, "bstr \"1.23E-12\""},
      {R8(123456789.125), VT_BSTR, kOk, "bstr \"123456789.125\""},
      {R8(0.0001), VT_BSTR, kOk, "bstr \"0.0001\""},
      {R8(123456789012345.0), VT_BSTR, kOk, "bstr \"123456789012345\""},
      {R8(1e15), VT_BSTR, kOk, "bstr \"1E+15\""},
      {R8(1.0 / 3.0), VT_BSTR, kOk, "bstr \"0.333333333333333\""},
      {R8(-0.0), VT_BSTR, kOk, "bstr \"0\""},
      {R4(0.1f), VT_BSTR, kOk, "bstr \"0.1\""},
      {R4(1.0f / 3.0f), VT_BSTR, kOk, "bstr \"0.3333333\""},
      {R8(1e300), VT_R4, kOverflow, ""},
      {R8(-1e300), VT_R4, kOverflow, ""},
      {R8(0.5), VT_R4, kOk, "r4 0.5"},
  };
  RunCases(cases);
}

TEST(VariantChangeType, Dates) {
  std::vector<Case> cases = {
      {Date(36526.0), VT_BSTR, kOk, "bstr \"1/1/2000\""},
      {Date(36526.5), VT_BSTR, kOk, "bstr \"1/1/2000 12:00:00 PM\""},
      {Date(36526.75), VT_BSTR, kOk, "bstr \"1/1/2000 6:00:00 PM\""},
      {Date(0.0), VT_BSTR, kOk, "bstr \"12:00:00 AM\""},
      {Date(0.25), VT_BSTR, kOk, "bstr \"6:00:00 AM\""},
      {Date(-1.25), VT_BSTR, kOk, "bstr \"12/29/1899 6:00:00 AM\""},
      {Date(2958465.0), VT_BSTR, kOk, "bstr \"12/31/9999\""},
      {Date(-657434.0), VT_BSTR, kOk, "bstr \"1/1/100\""},
      {Date(36526.99999999), VT_BSTR, kOk, "bstr \"1/2/2000 12:00:00 AM\""},
      {Date(36526.0000057870370), VT_BSTR, kOk, "bstr \"1/1/2000 12:00:01 AM\""},
      {Date(1e7), VT_BSTR, E_INVALIDARG, ""},
      {Str(u"1/1/2000"), VT_DATE, kOk, "date 36526"},
      {Str(u"2000-01-01"), VT_DATE, kOk, "date 36526"},
      {Str(u" 2000-01-01 12:00:00 "), VT_DATE, kOk, "date 36526.5"},
      {Str(u"1/1/2000 6:00:00 PM"), VT_DATE, kOk, "date 36526.75"},
      {Str(u"1/1/2000 6:00 pm"), VT_DATE, kOk, "date 36526.75"},
      {Str(u"12:00:00 AM"), VT_DATE, kOk, "date 0"},
      {Str(u"12:00 PM"), VT_DATE, kOk, "date 0.5"},
      {Str(u"18:00"), VT_DATE, kOk, "date 0.75"},
      {Str(u"2/29/2000"), VT_DATE, kOk, "date 36585"},
      {Str(u"1/1/99"), VT_DATE, kOk, "date 36161"},
      {Str(u"1/1/29"), VT_DATE, kOk, "date 47119"},
      {Str(u"1/1/49"), VT_DATE, kOk, "date 54424"},
      {Str(u"1/1/50"), VT_DATE, kOk, "date 18264"},
      {Str(u"January 1, 2000"), VT_DATE, kOk, "date 36526"},
      {Str(u"1-Jan-2000"), VT_DATE, kOk, "date 36526"},
      {Str(u"2000/01/02"), VT_DATE, kOk, "date 36527"},
      {Str(u"13/1/2000"), VT_DATE, kOk, "date 36538"},
      {Str(u"2.5"), VT_DATE, kOk, "date 0.086805555555555552"},
      {Str(u"12/31/1999 23:59"), VT_DATE, kOk, "date 36525.999305555561"},
      {Str(u"1/1/2000 13:00 PM"), VT_DATE, kOk, "date 36526.541666666664"},
      {Str(u"2/29/1900"), VT_DATE, kMismatch, ""},
      {Str(u"2/30/2000"), VT_DATE, kMismatch, ""},
      {Str(u"13/13/2000"), VT_DATE, kMismatch, ""},
      {Str(u"1/1/2000 25:00"), VT_DATE, kMismatch, ""},
      {Str(u"1/1/2000 24:00 PM"), VT_DATE, kMismatch, ""},
      {Str(u"1/1/2000 12:60"), VT_DATE, kMismatch, ""},
      {Str(u"1/1/2000x"), VT_DATE, kMismatch, ""},
      {Str(u"1/1/200012:00"), VT_DATE, kMismatch, ""},
      {Str(u"36526"), VT_DATE, kMismatch, ""},
      {Str(u"hello"), VT_DATE, kMismatch, ""},
      {Str(u""), VT_DATE, kMismatch, ""},
      {R8(36526.5), VT_DATE, kOk, "date 36526.5"},
      {R8(2958465.9), VT_DATE, kOk, "date 2958465.8999999999"},
      {R8(2958466.0), VT_DATE, kOverflow, ""},
      {R8(-657435.0), VT_DATE, kOverflow, ""},
      {Date(36526.5), VT_R8, kOk, "r8 36526.5"},
      {Bool(true), VT_DATE, kOk, "date -1"},
  };
  RunCases(cases);
}

TEST(VariantChangeType, DateTextRoundTrips) {
  const char16_t* texts[] = {u"1/1/2000",
                             u"12/31/1999 11:59:59 PM",
                             u"2/29/2024 12:00:01 AM",
                             u"7/4/1776 12:30:00 PM",
                             u"12:00:00 AM",
                             u"11:59:59 PM",
                             u"12/29/1899 6:00:00 AM",
                             u"1/1/100",
                             u"12/31/9999 11:59:59 PM"};
  for (const char16_t* text : texts) {
    Var v(Str(text));
    ASSERT_EQ(VariantChangeType(&v, &v.v, 0, VT_DATE), S_OK) << Utf8(v.v.bstrVal);
    ASSERT_EQ(VariantChangeType(&v, &v.v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Utf8(v.v.bstrVal), platform::WideToUtf8(text));
  }
}

TEST(VariantChangeType, UnsupportedTypes) {
  Var array;
  array.v.vt = VT_ARRAY | VT_I4;
  array.v.parray = SafeArrayCreateVector(VT_I4, 0, 1);
  auto* object = new TestObject();
  Var unknown;
  unknown.v.vt = VT_UNKNOWN;
  unknown.v.punkVal = object;  // takes the object's first reference

  struct Row {
    const VARIANT* source;
    VARTYPE target;
    HRESULT expected;
  };
  VARIANT i4 = I4(1), bad = Make(15), error = Make(VT_ERROR);
  error.scode = E_FAIL;
  const Row rows[] = {
      {&bad, VT_I4, DISP_E_BADVARTYPE},
      {&i4, 15, DISP_E_BADVARTYPE},
      {&i4, 0x1000 | VT_I4, DISP_E_BADVARTYPE},
      {&i4, VT_ARRAY | VT_I4, kMismatch},
      {&i4, VT_BYREF | VT_I4, kMismatch},
      {&i4, VT_ERROR, kMismatch},
      {&i4, VT_UNKNOWN, kMismatch},
      {&error, VT_I4, kMismatch},
      {&error, VT_EMPTY, kMismatch},
      {&array.v, VT_I4, kMismatch},
      {&array.v, VT_BSTR, kMismatch},
      {&unknown.v, VT_I4, kMismatch},
      {&unknown.v, VT_BSTR, kMismatch},
      {&unknown.v, VT_DISPATCH, E_NOINTERFACE},
  };
  for (const Row& row : rows) {
    Var dest;
    EXPECT_EQ(VariantChangeType(&dest, row.source, 0, row.target), row.expected)
        << "vt " << row.source->vt << " -> " << row.target;
    EXPECT_EQ(dest.v.vt, VT_EMPTY);
  }
  // An array converts to its own type: a deep copy.
  Var copy;
  ASSERT_EQ(VariantChangeType(&copy, &array.v, 0, VT_ARRAY | VT_I4), S_OK);
  EXPECT_NE(copy.v.parray, array.v.parray);
  EXPECT_EQ(VariantChangeType(nullptr, &i4, 0, VT_I4), E_INVALIDARG);
}

TEST(VariantChangeType, InPlaceAndByReference) {
  // dest == src: the text is freed and replaced (AddressSanitizer checks both).
  Var v(Str(u" 42 "));
  ASSERT_EQ(VariantChangeType(&v, &v.v, 0, VT_I4), S_OK);
  EXPECT_EQ(Describe(v.v), "i4 42");
  ASSERT_EQ(VariantChangeType(&v, &v.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Describe(v.v), "bstr \"42\"");
  // A failure in place leaves the value.
  ASSERT_EQ(VariantChangeType(&v, &v.v, 0, VT_DATE), kMismatch);
  EXPECT_EQ(Describe(v.v), "bstr \"42\"");

  LONG number = 7;
  VARIANT ref = Make(VT_BYREF | VT_I4);
  ref.plVal = &number;
  Var text;
  ASSERT_EQ(VariantChangeType(&text, &ref, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Describe(text.v), "bstr \"7\"");

  BSTR owned = SysAllocString(u"12");
  VARIANT refText = Make(VT_BYREF | VT_BSTR);
  refText.pbstrVal = &owned;
  Var n;
  ASSERT_EQ(VariantChangeType(&n, &refText, 0, VT_I2), S_OK);
  EXPECT_EQ(Describe(n.v), "i2 12");
  // The same by-reference type is copied as the reference.
  Var sameRef;
  ASSERT_EQ(VariantChangeType(&sameRef, &refText, 0, VT_BYREF | VT_BSTR), S_OK);
  EXPECT_EQ(sameRef.v.pbstrVal, &owned);
  SysFreeString(owned);

  Var inner(R8(2.5));
  VARIANT refVariant = Make(VT_BYREF | VT_VARIANT);
  refVariant.pvarVal = &inner.v;
  ASSERT_EQ(VariantChangeType(&n, &refVariant, 0, VT_I4), S_OK);
  EXPECT_EQ(Describe(n.v), "i4 2");

  VARIANT nullRef = Make(VT_BYREF | VT_I4);
  EXPECT_EQ(VariantChangeType(&n, &nullRef, 0, VT_I4), kMismatch);
}
