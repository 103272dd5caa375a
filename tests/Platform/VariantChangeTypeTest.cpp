// VariantChangeType: the Windows results at the limits of each conversion,
// DECIMAL, byte arrays, locales, value properties and references: what the
// reference table (VariantReferenceTest.cpp) does not already hold, and the
// platform's own answers where it keeps them (VariantDeviations.tsv).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "Platform/OleAuto.h"
#include "Support/ChildProcess.h"
#include "TestObjects.h"
#include "VariantCases.h"

using namespace variantcases;  // NOLINT: the case builders read as a table
using platformtest::TestObject;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr LCID kGerman = 0x407;

// An object whose value property (DISPID_VALUE) is a VARIANT it copies out.
class ValueObject final : public IDispatch {
 public:
  explicit ValueObject(VARIANT value) : m_value(value) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override {
    *ppvObject = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) return E_NOINTERFACE;
    *ppvObject = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO*, UINT*) override {
    ++invokes;
    if (id != DISPID_VALUE || (flags & DISPATCH_PROPERTYGET) == 0 || params == nullptr ||
        params->cArgs != 0 || result == nullptr)
      return DISP_E_MEMBERNOTFOUND;
    return VariantCopy(result, &m_value.v);
  }
  int invokes = 0;

 private:
  ~ValueObject() = default;
  std::atomic<ULONG> m_refs{1};
  Var m_value;
};

}  // namespace

TEST(VariantChangeType, NullEmptyAndIntegerRanges) {
  std::vector<Case> cases = {
      {Null(), VT_I4, "mismatch"},
      {Null(), VT_R8, "mismatch"},
      {Null(), VT_BSTR, "mismatch"},
      {Null(), VT_BOOL, "mismatch"},
      {Null(), VT_DATE, "mismatch"},
      {Null(), VT_CY, "mismatch"},
      {Null(), VT_EMPTY, "mismatch"},
      {Null(), VT_NULL, "null"},
      {Make(VT_EMPTY), VT_NULL, "null"},
      {I4(5), VT_EMPTY, "empty"},
      {Str(u"x"), VT_NULL, "null"},
      {I4(32767), VT_I2, "i2 32767"},
      {I4(32768), VT_I2, "overflow"},
      {I4(-32768), VT_I2, "i2 -32768"},
      {I4(-32769), VT_I2, "overflow"},
      {I4(255), VT_UI1, "ui1 255"},
      {I4(256), VT_UI1, "overflow"},
      {I4(-5), VT_I1, "i1 -5"},
      {Make(VT_I8, 2147483648LL), VT_INT, "overflow"},
      {Make(VT_INT, INT{-7}), VT_I8, "i8 -7"},
      {I4(-7), VT_UI4, "ui4 4294967289"},
  };
  RunCases(cases);
}

// Floating values round half to even, to integers and to currency's four
// decimals alike; currency's limits.
TEST(VariantChangeType, FloatingValuesAndCurrencyRoundHalfToEven) {
  std::vector<Case> cases = {
      {R8(-3.5), VT_I4, "i4 -4"},
      {R8(1.5), VT_I2, "i2 2"},
      {R8(2.5000001), VT_I4, "i4 3"},
      {R8(-0.4), VT_UI1, "ui1 0"},
      {R8(-0.5), VT_UI1, "ui1 0"},
      {R8(-0.6), VT_UI1, "overflow"},
      {Make(VT_R4, 2.5f), VT_I2, "i2 2"},
      {R8(2147483647.49), VT_I4, "i4 2147483647"},
      {R8(-2147483648.51), VT_I4, "overflow"},
      {R8(9007199254740993.0), VT_I8, "i8 9007199254740992"},
      {R8(kNaN), VT_I4, "overflow"},
      {R8(std::numeric_limits<double>::infinity()), VT_I2, "overflow"},
      {Date(36527.5), VT_I4, "i4 36528"},
      {R8(-1e300), VT_R4, "overflow"},
      {R8(1.23456), VT_CY, "cy 12346"},
      {R8(-1.23454), VT_CY, "cy -12345"},
      {Str(u"0.00005"), VT_CY, "cy 0"},
      {Str(u"0.00015"), VT_CY, "cy 2"},
      {Str(u"0.00025"), VT_CY, "cy 2"},
      {Str(u"-0.00035"), VT_CY, "cy -4"},
      {Str(u"922337203685477.5807"), VT_CY, "cy 9223372036854775807"},
      {Str(u"-922337203685477.5808"), VT_CY, "cy -9223372036854775808"},
      {Make(VT_I8, 922337203685477LL), VT_CY, "cy 9223372036854770000"},
      {Make(VT_I8, 922337203685478LL), VT_CY, "overflow"},
      {Make(VT_CY, LONGLONG{10000}), VT_BSTR, "bstr \"1\""},
  };
  RunCases(cases);
}

TEST(VariantChangeType, TextsAndNumbers) {
  std::vector<Case> cases = {
      {Str(u"1,000.5"), VT_R8, "r8 1000.5"},
      {Str(u"&H"), VT_I4, "mismatch"},
      {Str(u"&HG"), VT_I4, "mismatch"},
      {Str(u"$1,234.50"), VT_CY, "cy 12345000"},
      {Str(u"(5"), VT_I4, "mismatch"},
      {Str(u"-5-"), VT_I4, "mismatch"},
      {Str(std::u16string_view(u"\0"
                               u"5",
                               2)),
       VT_I4, "mismatch"},
      {Str(u"  42\t"), VT_I4, "i4 42"},
      {Str(u"2.50000000000000000001"), VT_I4, "i4 3"},
      {Str(u"9223372036854775808"), VT_I8, "overflow"},
      {Str(u"-9223372036854775808"), VT_I8, "i8 -9223372036854775808"},
      {Str(u"1e400"), VT_R8, "overflow"},
      {Str(u"1e-400"), VT_R8, "r8 0"},
      {Str(u" false "), VT_BOOL, "mismatch"},
      {Str(u" 1 "), VT_BOOL, "bool -1"},
      {Str(u"0.25"), VT_BOOL, "bool -1"},
      {Make(VT_CY, LONGLONG{1}), VT_BOOL, "bool -1"},
      {R8(1.5e-5), VT_BSTR, "bstr \"0.000015\""},
      {R8(5.6789e-5), VT_BSTR, "bstr \"0.000056789\""},
      {R8(-1e-11), VT_BSTR, "bstr \"-0.00000000001\""},
      {R8(123456789.125), VT_BSTR, "bstr \"123456789.125\""},
      {R8(-0.0), VT_BSTR, "bstr \"0\""},
      {Date(1e7), VT_BSTR, "invalid argument"},
      {Str(u"13/13/2000"), VT_DATE, "mismatch"},
      {Str(u"1/1/2000 24:00 PM"), VT_DATE, "mismatch"},
      {Str(u"1/1/200012:00"), VT_DATE, "mismatch"},
      {R8(2958466.0), VT_DATE, "overflow"},
      {R8(-657435.0), VT_DATE, "overflow"},
      {Str(std::u16string_view(u"a\0", 2)), VT_ARRAY | VT_UI1, "bytes 61 00 00 00"},
      {Bytes("AB"), VT_I4, "mismatch"},
      {I4(12), VT_ARRAY | VT_UI1, "mismatch"},
  };
  RunCases(cases);
  // A byte array of odd length makes a BSTR of that many bytes, and back.
  Var text(Bytes("ABC"));
  ASSERT_EQ(VariantChangeType(&text, &text.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(SysStringByteLen(text.v.bstrVal), 3u);
  ASSERT_EQ(VariantChangeType(&text, &text.v, 0, VT_ARRAY | VT_UI1), S_OK);
  EXPECT_EQ(Describe(text.v), "bytes 41 42 43");
}

TEST(VariantChangeType, Decimal) {
  std::vector<Case> cases = {
      {R8(1e30), VT_DECIMAL, "overflow"},
      {R8(kNaN), VT_DECIMAL, "overflow"},
      {Str(u"-1.50"), VT_DECIMAL, "dec 1 -0:15"},
      {Str(u"0.00000000000000000000000000015"), VT_DECIMAL, "dec 28 +0:2"},
      {Str(u"7.9228162514264337593543950335"), VT_DECIMAL,
       "dec 28 +4294967295:18446744073709551615"},
      {Str(u"7.92281625142643375935439503355"), VT_DECIMAL,
       "dec 27 +429496729:11068046444225730970"},  // rounding up needs a digit less
      {Dec(3, true, 0, 5), VT_BSTR, "bstr \"-0.005\""},
      {Dec(1, false, 0, 25), VT_I4, "i4 2"},
      {Dec(1, false, 0, 35), VT_I4, "i4 4"},
      {Dec(0, true, 0, 32769), VT_I2, "overflow"},
      {Dec(5, false, 0, 123456), VT_CY, "cy 12346"},
      {Dec(29, false, 0, 1), VT_BSTR, "overflow"},
  };
  RunCases(cases);

  // VariantCopy and by-reference reads: the DECIMAL fills the VARIANT.
  Var source(Dec(2, true, 7, 123));
  Var copy;
  ASSERT_EQ(VariantCopy(&copy, &source.v), S_OK);
  EXPECT_EQ(Describe(copy.v), "dec 2 -7:123");
  DECIMAL value = source.v.decVal;
  VARIANT ref = Make(VT_BYREF | VT_DECIMAL, &value);
  Var text;
  ASSERT_EQ(VariantChangeType(&text, &ref, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Describe(text.v), "bstr \"-1291272085159668614.35\"");
  ASSERT_EQ(VariantCopyInd(&copy, &ref), S_OK);
  EXPECT_EQ(Describe(copy.v), "dec 2 -7:123");
}

TEST(VariantChangeType, GermanLocale) {
  std::vector<Case> cases = {
      {Str(u"1.000,5"), VT_R8, "r8 1000.5", 0, kGerman},
      {Str(u"1,5 \u20ac"), VT_CY, "cy 15000", 0, kGerman},
      {R8(1.5), VT_BSTR, "bstr \"1,5\"", 0, kGerman},
      {Date(36526.5), VT_BSTR, "bstr \"01.01.2000 12:00:00\"", 0, kGerman},
      {Date(36526.0), VT_BSTR, "bstr \"01.01.2000\"", 0, kGerman},
      {Date(0.75), VT_BSTR, "bstr \"18:00:00\"", 0, kGerman},
      {Str(u"13.1.2000"), VT_DATE, "date 36538", 0, kGerman},
      {Str(u"2.1.2000"), VT_DATE, "date 36527", 0, kGerman},
      {Str(u"1. Januar 2000 18:00"), VT_DATE, "date 36526.75", 0, kGerman},
      {Str(u"1. M\u00e4rz 2000"), VT_DATE, "date 36586", 0, kGerman},
      {Str(u"falsch"), VT_BOOL, "bool 0", VARIANT_LOCALBOOL, kGerman},
  };
  RunCases(cases);
}

// Date texts read and printed again give the same text; without a year they
// take the current one.
TEST(VariantChangeType, DateTextsRoundTrip) {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  const std::string year = std::to_string(parts.tm_year + 1900);
  const struct {
    const char16_t* text;
    LCID lcid;
    std::string printed;  // "" when the text itself
  } rows[] = {{u"1/1/2000", 0x409, ""},
              {u"2/29/2024 12:00:01 AM", 0x409, ""},
              {u"7/4/1776 12:30:00 PM", 0x409, ""},
              {u"12:00:00 AM", 0x409, ""},
              {u"12/29/1899 6:00:00 AM", 0x409, ""},
              {u"1/1/100", 0x409, ""},
              {u"12/31/9999 11:59:59 PM", 0x409, ""},
              {u"1/2", 0x409, "1/2/" + year},
              {u"Jan 2", 0x409, "1/2/" + year},
              {u"2.1.", kGerman, "02.01." + year},
              {u"2. Januar", kGerman, "02.01." + year}};
  for (const auto& row : rows) {
    Var v(Str(row.text));
    ASSERT_EQ(VariantChangeTypeEx(&v, &v.v, row.lcid, 0, VT_DATE), S_OK) << Utf8(v.v.bstrVal);
    ASSERT_EQ(VariantChangeTypeEx(&v, &v.v, row.lcid, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Utf8(v.v.bstrVal),
              row.printed.empty() ? platform::WideToUtf8(row.text) : row.printed);
  }
}

TEST(VariantChangeType, UnsupportedTypes) {
  const auto array = [] { return Make(VT_ARRAY | VT_I4, SafeArrayCreateVector(VT_I4, 0, 1)); };
  const auto unknown = [] { return Make(VT_UNKNOWN, static_cast<IUnknown*>(new TestObject())); };
  std::vector<Case> cases = {
      {Make(15), VT_I4, "bad type"},
      {I4(1), 15, "bad type"},
      {I4(1), 0x1000 | VT_I4, "bad type"},
      {I4(1), VT_ARRAY | VT_I4, "mismatch"},
      {I4(1), VT_BYREF | VT_I4, "mismatch"},
      {I4(1), VT_ERROR, "mismatch"},
      {I4(1), VT_UNKNOWN, "mismatch"},
      {Make(VT_ERROR, SCODE{E_FAIL}), VT_I4, "mismatch"},
      {Make(VT_ERROR, SCODE{E_FAIL}), VT_EMPTY, "mismatch"},
      {array(), VT_I4, "mismatch"},
      {array(), VT_BSTR, "mismatch"},
      {unknown(), VT_I4, "mismatch"},
      {unknown(), VT_BSTR, "mismatch"},
      {unknown(), VT_DISPATCH, "no interface"},
  };
  RunCases(cases);
  // An array converts to its own type: a deep copy.
  Var source(array());
  Var copy;
  ASSERT_EQ(VariantChangeType(&copy, &source.v, 0, VT_ARRAY | VT_I4), S_OK);
  EXPECT_NE(copy.v.parray, source.v.parray);
  VARIANT one = I4(1);
  EXPECT_EQ(VariantChangeType(nullptr, &one, 0, VT_I4), E_INVALIDARG);
}

TEST(VariantChangeType, InPlaceAndByReference) {
  // dest == src: the text is freed and replaced (AddressSanitizer checks both).
  Var v(Str(u" 42 "));
  ASSERT_EQ(VariantChangeType(&v, &v.v, 0, VT_I4), S_OK);
  EXPECT_EQ(Describe(v.v), "i4 42");
  ASSERT_EQ(VariantChangeType(&v, &v.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Describe(v.v), "bstr \"42\"");
  // A failure in place leaves the value.
  ASSERT_EQ(VariantChangeType(&v, &v.v, 0, VT_DATE), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Describe(v.v), "bstr \"42\"");

  LONG number = 7;
  BSTR owned = SysAllocString(u"12");
  Var inner(R8(2.5));
  const VARIANT refNumber = Make(VT_BYREF | VT_I4, &number);
  const VARIANT refText = Make(VT_BYREF | VT_BSTR, &owned);
  const VARIANT refVariant = Make(VT_BYREF | VT_VARIANT, &inner.v);
  const VARIANT nullRef = Make(VT_BYREF | VT_I4, static_cast<LONG*>(nullptr));
  Var n;
  ASSERT_EQ(VariantChangeType(&n, &refNumber, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Describe(n.v), "bstr \"7\"");
  ASSERT_EQ(VariantChangeType(&n, &refText, 0, VT_I2), S_OK);
  EXPECT_EQ(Describe(n.v), "i2 12");
  ASSERT_EQ(VariantChangeType(&n, &refVariant, 0, VT_I4), S_OK);
  EXPECT_EQ(Describe(n.v), "i4 2");
  EXPECT_EQ(VariantChangeType(&n, &nullRef, 0, VT_I4), DISP_E_TYPEMISMATCH);
  // The same by-reference type is copied as the reference.
  Var sameRef;
  ASSERT_EQ(VariantChangeType(&sameRef, &refText, 0, VT_BYREF | VT_BSTR), S_OK);
  EXPECT_EQ(sameRef.v.pbstrVal, &owned);
  SysFreeString(owned);
}

TEST(VariantChangeType, ValueProperty) {
  auto* number = new ValueObject(Str(u"42"));
  Var object(Make(VT_DISPATCH, static_cast<IDispatch*>(number)));  // takes the first reference
  Var result;
  ASSERT_EQ(VariantChangeType(&result, &object.v, 0, VT_I4), S_OK);
  EXPECT_EQ(Describe(result.v), "i4 42");
  ASSERT_EQ(VariantChangeType(&result, &object.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Describe(result.v), "bstr \"42\"");
  EXPECT_EQ(number->invokes, 2);
  EXPECT_EQ(VariantChangeType(&result, &object.v, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(number->invokes, 2);
  // Between the interface types the object itself is kept.
  Var unknown;
  ASSERT_EQ(VariantChangeType(&unknown, &object.v, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(unknown.v.punkVal, static_cast<IUnknown*>(number));
  // A value that does not convert, and an object without the property.
  std::vector<Case> cases = {
      {Make(VT_DISPATCH, static_cast<IDispatch*>(new ValueObject(Str(u"abc")))), VT_I4, "mismatch"},
      {Make(VT_DISPATCH, static_cast<IDispatch*>(nullptr)), VT_I4, "mismatch"},
  };
  RunCases(cases);
}

// The user default locale comes from the environment of the process: a fresh
// process of this program, started with LANG=de_DE.UTF-8, reads German texts
// through VariantChangeType.
TEST(VariantChangeType, UserDefaultLocaleFromTheEnvironment) {
  if (std::getenv("VEM_LOCALE_CHILD") != nullptr) {  // the fresh process
    Var half(Str(u"1,5"));
    ASSERT_EQ(VariantChangeType(&half, &half.v, 0, VT_R8), S_OK);
    EXPECT_EQ(Describe(half.v), "r8 1.5");
    Var date(Date(36526.5));
    ASSERT_EQ(VariantChangeTypeEx(&date, &date.v, LOCALE_SYSTEM_DEFAULT, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Describe(date.v), "bstr \"01.01.2000 12:00:00\"");
    return;
  }
  vemtest::ChildProcess child([](const vemtest::ChannelEnd&) {
    unsetenv("LC_ALL");
    unsetenv("LC_NUMERIC");
    setenv("LANG", "de_DE.UTF-8", 1);
    setenv("VEM_LOCALE_CHILD", "1", 1);
    execl("/proc/self/exe", "PlatformTests", "--gtest_brief=1",
          "--gtest_filter=VariantChangeType.UserDefaultLocaleFromTheEnvironment",
          static_cast<char*>(nullptr));
    return 126;  // exec failed
  });
  EXPECT_EQ(child.Wait(), 0);
  // This process reads US English (the tests run with LANG unset or C).
  Var half(Str(u"1,5"));
  ASSERT_EQ(VariantChangeTypeEx(&half, &half.v, 0x409, 0, VT_R8), S_OK);
  EXPECT_EQ(Describe(half.v), "r8 15");
}
