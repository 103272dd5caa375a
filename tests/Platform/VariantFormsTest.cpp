// VariantChangeType: DECIMAL, byte arrays, locales and value properties
// (cases the reference table holds are checked by VariantReferenceTest.cpp).
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

TEST(VariantChangeType, Decimal) {
  std::vector<Case> cases = {
      {I4(-42), VT_DECIMAL, kOk, "dec 0 -0:42"},
      {R8(1e30), VT_DECIMAL, kOverflow, ""},
      {R8(std::numeric_limits<double>::quiet_NaN()), VT_DECIMAL, kOverflow, ""},
      {Str(u"-1.50"), VT_DECIMAL, kOk, "dec 1 -0:15"},
      {Str(u"0.00000000000000000000000000015"), VT_DECIMAL, kOk, "dec 28 +0:2"},
      {Str(u"7.9228162514264337593543950335"), VT_DECIMAL, kOk,
       "dec 28 +4294967295:18446744073709551615"},
      {Str(u"7.92281625142643375935439503355"), VT_DECIMAL, kOk,
       "dec 27 +429496729:11068046444225730970"},  // rounding up needs a digit less
      {Dec(3, true, 0, 5), VT_BSTR, kOk, "bstr \"-0.005\""},
      {Dec(1, false, 0, 25), VT_I4, kOk, "i4 2"},
      {Dec(1, false, 0, 35), VT_I4, kOk, "i4 4"},
      {Dec(0, true, 0, 32769), VT_I2, kOverflow, ""},
      {Dec(5, false, 0, 123456), VT_CY, kOk, "cy 12346"},
      {Dec(29, false, 0, 1), VT_BSTR, kOverflow, ""},
      {Dec(2, false, 0, 150), VT_DECIMAL, kOk, "dec 2 +0:150"},
  };
  RunCases(cases);

  // VariantCopy and by-reference reads: the DECIMAL fills the VARIANT.
  Var source(Dec(2, true, 7, 123));
  Var copy;
  ASSERT_EQ(VariantCopy(&copy, &source.v), S_OK);
  EXPECT_EQ(Describe(copy.v), "dec 2 -7:123");
  DECIMAL value = source.v.decVal;
  VARIANT ref = Make(VT_BYREF | VT_DECIMAL);
  ref.pdecVal = &value;
  Var text;
  ASSERT_EQ(VariantChangeType(&text, &ref, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Describe(text.v), "bstr \"-1291272085159668614.35\"");
  Var indirect;
  ASSERT_EQ(VariantCopyInd(&indirect, &ref), S_OK);
  EXPECT_EQ(Describe(indirect.v), "dec 2 -7:123");
}

TEST(VariantChangeType, TextAndByteArrays) {
  std::vector<Case> cases = {
      {Str(std::u16string_view(u"a\0", 2)), VT_ARRAY | VT_UI1, kOk, "bytes 61 00 00 00"},
      {Bytes("AB"), VT_I4, kMismatch, ""},
      {I4(12), VT_ARRAY | VT_UI1, kMismatch, ""},
  };
  RunCases(cases);
  Var odd(Bytes("ABC"));
  Var text;
  ASSERT_EQ(VariantChangeType(&text, &odd.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(SysStringByteLen(text.v.bstrVal), 3u);
  Var back;
  ASSERT_EQ(VariantChangeType(&back, &text.v, 0, VT_ARRAY | VT_UI1), S_OK);
  EXPECT_EQ(Describe(back.v), "bytes 41 42 43");
}

TEST(VariantChangeType, GermanLocale) {
  constexpr LCID kGerman = 0x407;
  std::vector<Case> cases = {
      {Str(u"1.000,5"), VT_R8, kOk, "r8 1000.5", 0, kGerman},
      {Str(u"1,5 \u20ac"), VT_CY, kOk, "cy 15000", 0, kGerman},
      {R8(1.5), VT_BSTR, kOk, "bstr \"1,5\"", 0, kGerman},
      {Date(36526.5), VT_BSTR, kOk, "bstr \"01.01.2000 12:00:00\"", 0, kGerman},
      {Date(36526.0), VT_BSTR, kOk, "bstr \"01.01.2000\"", 0, kGerman},
      {Date(0.75), VT_BSTR, kOk, "bstr \"18:00:00\"", 0, kGerman},
      {Str(u"13.1.2000"), VT_DATE, kOk, "date 36538", 0, kGerman},
      {Str(u"2.1.2000"), VT_DATE, kOk, "date 36527", 0, kGerman},
      {Str(u"1. Januar 2000 18:00"), VT_DATE, kOk, "date 36526.75", 0, kGerman},
      {Str(u"1. M\u00e4rz 2000"), VT_DATE, kOk, "date 36586", 0, kGerman},
      {Str(u"falsch"), VT_BOOL, kOk, "bool 0", VARIANT_LOCALBOOL, kGerman},
  };
  RunCases(cases);
}

namespace {

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

TEST(VariantChangeType, ValueProperty) {
  auto* number = new ValueObject(Str(u"42"));
  Var object;
  object.v.vt = VT_DISPATCH;
  object.v.pdispVal = number;  // takes the first reference
  Var result;
  ASSERT_EQ(VariantChangeType(&result, &object.v, 0, VT_I4), S_OK);
  EXPECT_EQ(Describe(result.v), "i4 42");
  ASSERT_EQ(VariantChangeType(&result, &object.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Describe(result.v), "bstr \"42\"");
  EXPECT_EQ(number->invokes, 2);
  EXPECT_EQ(VariantChangeType(&result, &object.v, VARIANT_NOVALUEPROP, VT_I4), kMismatch);
  EXPECT_EQ(number->invokes, 2);
  // A value that does not convert, and an object without the property.
  auto* text = new ValueObject(Str(u"abc"));
  Var textObject;
  textObject.v.vt = VT_DISPATCH;
  textObject.v.pdispVal = text;
  EXPECT_EQ(VariantChangeType(&result, &textObject.v, 0, VT_I4), kMismatch);
  Var nullObject;
  nullObject.v.vt = VT_DISPATCH;
  EXPECT_EQ(VariantChangeType(&result, &nullObject.v, 0, VT_I4), kMismatch);
  EXPECT_EQ(Describe(result.v), "bstr \"42\"");
  // Between the interface types the object itself is kept.
  Var unknown;
  ASSERT_EQ(VariantChangeType(&unknown, &object.v, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(unknown.v.punkVal, static_cast<IUnknown*>(number));
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

TEST(VariantChangeType, DatesWithoutAYearTakeTheCurrentOne) {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  const std::string year = std::to_string(parts.tm_year + 1900);
  struct Row {
    const char16_t* text;
    LCID lcid;
    std::string printed;
  };
  const Row rows[] = {
      {u"1/2", 0x409, "1/2/" + year},
      {u"Jan 2", 0x409, "1/2/" + year},
      {u"2.1.", 0x407, "02.01." + year},
      {u"2. Januar", 0x407, "02.01." + year},
  };
  for (const Row& row : rows) {
    Var v(Str(row.text));
    ASSERT_EQ(VariantChangeTypeEx(&v, &v.v, row.lcid, 0, VT_DATE), S_OK) << Utf8(v.v.bstrVal);
    ASSERT_EQ(VariantChangeTypeEx(&v, &v.v, row.lcid, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Utf8(v.v.bstrVal), row.printed);
  }
}
