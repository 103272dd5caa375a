// VariantChangeType: the Windows results at the limits of each conversion
// that the reference table (VariantReferenceTest.cpp) does not already hold.
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
      {Null(), VT_I4, kMismatch, ""},   {Null(), VT_UI1, kMismatch, ""},
      {Null(), VT_R8, kMismatch, ""},   {Null(), VT_BSTR, kMismatch, ""},
      {Null(), VT_BOOL, kMismatch, ""}, {Null(), VT_DATE, kMismatch, ""},
      {Null(), VT_CY, kMismatch, ""},   {Null(), VT_EMPTY, kMismatch, ""},
      {Null(), VT_NULL, kOk, "null"},   {Empty(), VT_NULL, kOk, "null"},
      {I4(5), VT_EMPTY, kOk, "empty"},  {Str(u"x"), VT_NULL, kOk, "null"},
  };
  RunCases(cases);
}

TEST(VariantChangeType, IntegerRanges) {
  std::vector<Case> cases = {
      {I4(32767), VT_I2, kOk, "i2 32767"},   {I4(32768), VT_I2, kOverflow, ""},
      {I4(-32768), VT_I2, kOk, "i2 -32768"}, {I4(-32769), VT_I2, kOverflow, ""},
      {I4(255), VT_UI1, kOk, "ui1 255"},     {I4(256), VT_UI1, kOverflow, ""},
      {I4(-5), VT_I1, kOk, "i1 -5"},         {I8(2147483648LL), VT_INT, kOverflow, ""},
      {Int(-7), VT_I8, kOk, "i8 -7"},        {I4(-7), VT_UI4, kOk, "ui4 4294967289"},
  };
  RunCases(cases);
}

TEST(VariantChangeType, FloatingToIntegerRoundsHalfToEven) {
  std::vector<Case> cases = {
      {R8(-3.5), VT_I4, kOk, "i4 -4"},
      {R8(1.5), VT_I2, kOk, "i2 2"},
      {R8(2.5000001), VT_I4, kOk, "i4 3"},
      {R8(-0.4), VT_UI1, kOk, "ui1 0"},
      {R8(-0.5), VT_UI1, kOk, "ui1 0"},
      {R8(-0.6), VT_UI1, kOverflow, ""},
      {R4(2.5f), VT_I2, kOk, "i2 2"},
      {R8(2147483647.49), VT_I4, kOk, "i4 2147483647"},
      {R8(-2147483648.51), VT_I4, kOverflow, ""},
      {R8(9007199254740993.0), VT_I8, kOk, "i8 9007199254740992"},
      {R8(std::numeric_limits<double>::quiet_NaN()), VT_I4, kOverflow, ""},
      {R8(std::numeric_limits<double>::infinity()), VT_I2, kOverflow, ""},
      {Date(36527.5), VT_I4, kOk, "i4 36528"},
  };
  RunCases(cases);
}

TEST(VariantChangeType, TextToNumber) {
  std::vector<Case> cases = {
      {Str(u"1,000.5"), VT_R8, kOk, "r8 1000.5"},
      {Str(u"&H"), VT_I4, kMismatch, ""},
      {Str(u"&HG"), VT_I4, kMismatch, ""},
      {Str(u"$1,234.50"), VT_CY, kOk, "cy 12345000"},
      {Str(u"(5"), VT_I4, kMismatch, ""},
      {Str(u"-5-"), VT_I4, kMismatch, ""},
      {Str(std::u16string_view(u"\0"
                               u"5",
                               2)),
       VT_I4, kMismatch, ""},
      {Str(u"  42\t"), VT_I4, kOk, "i4 42"},
      {Str(u"2.50000000000000000001"), VT_I4, kOk, "i4 3"},
      {Str(u"9223372036854775808"), VT_I8, kOverflow, ""},
      {Str(u"-9223372036854775808"), VT_I8, kOk, "i8 -9223372036854775808"},
      {Str(u"1e400"), VT_R8, kOverflow, ""},
      {Str(u"1e-400"), VT_R8, kOk, "r8 0"},
  };
  RunCases(cases);
}

TEST(VariantChangeType, Booleans) {
  std::vector<Case> cases = {
      {Str(u" false "), VT_BOOL, kMismatch, ""}, {Str(u" 1 "), VT_BOOL, kOk, "bool -1"},
      {Str(u"0.25"), VT_BOOL, kOk, "bool -1"},   {I4(5), VT_BOOL, kOk, "bool -1"},
      {Cy(1), VT_BOOL, kOk, "bool -1"},
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
      {Str(u"-922337203685477.5808"), VT_CY, kOk, "cy -9223372036854775808"},
      {I4(5), VT_CY, kOk, "cy 50000"},
      {I8(922337203685477LL), VT_CY, kOk, "cy 9223372036854770000"},
      {I8(922337203685478LL), VT_CY, kOverflow, ""},
      {Cy(10000), VT_BSTR, kOk, "bstr \"1\""},
  };
  RunCases(cases);
}

TEST(VariantChangeType, NumbersToText) {
  std::vector<Case> cases = {
      {I4(-42), VT_BSTR, kOk, "bstr \"-42\""},
      {R8(1.5e-5), VT_BSTR, kOk, "bstr \"0.000015\""},
      {R8(5.6789e-5), VT_BSTR, kOk, "bstr \"0.000056789\""},
      {R8(-1e-11), VT_BSTR, kOk, "bstr \"-0.00000000001\""},
      {R8(123456789.125), VT_BSTR, kOk, "bstr \"123456789.125\""},
      {R8(-0.0), VT_BSTR, kOk, "bstr \"0\""},
      {R8(-1e300), VT_R4, kOverflow, ""},
  };
  RunCases(cases);
}

TEST(VariantChangeType, Dates) {
  std::vector<Case> cases = {
      {Date(1e7), VT_BSTR, E_INVALIDARG, ""},
      {Str(u"13/13/2000"), VT_DATE, kMismatch, ""},
      {Str(u"1/1/2000 24:00 PM"), VT_DATE, kMismatch, ""},
      {Str(u"1/1/200012:00"), VT_DATE, kMismatch, ""},
      {R8(2958466.0), VT_DATE, kOverflow, ""},
      {R8(-657435.0), VT_DATE, kOverflow, ""},
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
