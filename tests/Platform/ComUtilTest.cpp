// Compiler-support helpers: _com_error, _com_issue_errorex, _bstr_t,
// _variant_t, ComPtr.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "Platform/ComUtil.h"
#include "TestObjects.h"

using platformtest::RefCount;
using platformtest::TestObject;
using platformtest::Utf8;

namespace {

// Puts error information with `description` into the thread's slot.
void SetThreadError(const char16_t* description) {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.GetAddressOf()), S_OK);
  create->SetSource(const_cast<LPOLESTR>(u"DAO.Recordset"));
  create->SetDescription(const_cast<LPOLESTR>(description));
  ComPtr<IErrorInfo> info = create.As<IErrorInfo>(IID_IErrorInfo);
  ASSERT_TRUE(info);
  ASSERT_EQ(SetErrorInfo(0, info.get()), S_OK);
}

bool ThreadHasError() {
  ComPtr<IErrorInfo> info;
  return GetErrorInfo(0, info.GetAddressOf()) == S_OK;
}

// Runs _com_issue_errorex and answers the error it throws.
_com_error IssueEx(HRESULT hr, IUnknown* pUnk, REFIID riid) {
  try {
    _com_issue_errorex(hr, pUnk, riid);
  } catch (const _com_error& e) {
    return e;
  }
  ADD_FAILURE() << "_com_issue_errorex returned";
  return _com_error(E_UNEXPECTED);
}

// {5B3E1E8A-0000-4000-8000-00000000A11E}: the interface the test object
// reports errors for.
constexpr IID kReportingIid = {
    0x5B3E1E8A, 0x0000, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA1, 0x1E}};

}  // namespace

TEST(ComIssueErrorEx, TakesErrorInfoOnlyWhenTheObjectConfirmsIt) {
  ComPtr<IUnknown> reporting;
  reporting.Attach(new TestObject(true, kReportingIid));
  ComPtr<IUnknown> silent;
  silent.Attach(new TestObject(false));

  // Confirmed for the interface: the error carries the thread's error info.
  SetThreadError(u"no current record");
  _com_error confirmed = IssueEx(static_cast<HRESULT>(0x800A0BCD), reporting.get(), kReportingIid);
  EXPECT_EQ(confirmed.Error(), static_cast<HRESULT>(0x800A0BCD));
  EXPECT_EQ(Utf8(confirmed.Description().GetBSTR()), "no current record");
  EXPECT_EQ(Utf8(confirmed.Source().GetBSTR()), "DAO.Recordset");
  EXPECT_FALSE(ThreadHasError());  // taken from the slot

  // Another interface of the same object: none, and the slot keeps it.
  SetThreadError(u"unrelated");
  _com_error otherInterface = IssueEx(E_FAIL, reporting.get(), IID_IDispatch);
  EXPECT_EQ(otherInterface.ErrorInfo(), nullptr);
  EXPECT_EQ(otherInterface.Description().length(), 0u);
  EXPECT_TRUE(ThreadHasError());

  // No ISupportErrorInfo, or no object: none.
  SetThreadError(u"unrelated");
  EXPECT_EQ(IssueEx(E_FAIL, silent.get(), kReportingIid).ErrorInfo(), nullptr);
  EXPECT_EQ(IssueEx(E_POINTER, nullptr, kReportingIid).ErrorInfo(), nullptr);
  EXPECT_TRUE(ThreadHasError());

  // Confirmed, but the slot is empty: no error info, no failure.
  EXPECT_EQ(IssueEx(E_FAIL, reporting.get(), kReportingIid).ErrorInfo(), nullptr);
  EXPECT_EQ(RefCount(reporting.get()), 1u);  // the QueryInterface was released
}

TEST(ComError, CopiesShareTheErrorInfoByReference) {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.GetAddressOf()), S_OK);
  ComPtr<IErrorInfo> info = create.As<IErrorInfo>(IID_IErrorInfo);
  EXPECT_EQ(RefCount(info.get()), 2u);
  {
    _com_error added(E_FAIL, info.get(), true);  // AddRef's
    EXPECT_EQ(RefCount(info.get()), 3u);
    _com_error copy(added);
    EXPECT_EQ(RefCount(info.get()), 4u);
    _com_error assigned(E_INVALIDARG);
    assigned = copy;
    EXPECT_EQ(assigned.Error(), E_FAIL);
    EXPECT_EQ(RefCount(info.get()), 5u);
    IErrorInfo* got = assigned.ErrorInfo();  // AddRef'd for us
    EXPECT_EQ(got, info.get());
    got->Release();
  }
  EXPECT_EQ(RefCount(info.get()), 2u);
  {
    IErrorInfo* handed = nullptr;
    info.CopyTo(&handed);
    _com_error owning(E_FAIL, handed);  // takes the reference over
    EXPECT_EQ(RefCount(info.get()), 3u);
  }
  EXPECT_EQ(RefCount(info.get()), 2u);
}

TEST(ComError, MessagesForHresults) {
  struct Row {
    ULONG hr;
    const char* message;
  };
  const Row rows[] = {
      {0x80004005u, "Unspecified error"},
      {0x80070057u, "The parameter is incorrect."},
      {0x8002000Au, "Out of present range."},
      {0x8007000Eu, "Not enough memory resources are available to complete this operation."},
      {0x80040205u, "IDispatch error #5"},
      {0x800A0BCDu, "Unknown error 0x800A0BCD"},
  };
  for (const Row& row : rows) {
    _com_error e(static_cast<HRESULT>(row.hr));
    EXPECT_STREQ(e.ErrorMessage(), row.message);
    EXPECT_EQ(e.ErrorMessage(), e.ErrorMessage());  // one text per object
  }
  EXPECT_EQ(_com_error(static_cast<HRESULT>(0x80040205u)).WCode(), 5);
  EXPECT_EQ(_com_error::WCodeToHRESULT(5), static_cast<HRESULT>(0x80040205u));
  EXPECT_EQ(_com_error(E_FAIL).WCode(), 0);
  EXPECT_EQ(_com_error(E_FAIL).Source().length(), 0u);
  EXPECT_THROW(_com_issue_error(E_OUTOFMEMORY), _com_error);
}

TEST(BstrT, ConstructionAndSingleByteText) {
  _bstr_t none;
  EXPECT_TRUE(!none);
  EXPECT_EQ(none.length(), 0u);
  EXPECT_STREQ(static_cast<const char*>(none), "");  // never null
  EXPECT_EQ(static_cast<const OLECHAR*>(none), nullptr);

  _bstr_t euro("Pr\x80is");  // Windows-1252: 0x80 is the euro sign
  EXPECT_EQ(euro.length(), 5u);
  EXPECT_EQ(static_cast<const OLECHAR*>(euro)[2], u'\u20AC');
  EXPECT_STREQ(static_cast<const char*>(euro), "Pr\x80is");
  const char* first = euro;
  EXPECT_EQ(first, static_cast<const char*>(euro));  // cached while unchanged

  _bstr_t wide(u"caf\u00E9 \u4E2D");  // a character without a 1252 byte becomes "?"
  EXPECT_STREQ(static_cast<const char*>(wide), "caf\xE9 ?");

  const OLECHAR withNul[] = {u'a', 0, u'b'};
  _bstr_t embedded(std::u16string_view(withNul, 3));
  EXPECT_EQ(embedded.length(), 3u);
  _bstr_t copy(embedded);
  EXPECT_EQ(copy.length(), 3u);
  EXPECT_NE(copy.GetBSTR(), embedded.GetBSTR());  // a deep copy
  EXPECT_TRUE(copy == embedded);
}

TEST(BstrT, OwnershipTransfers) {
  BSTR raw = SysAllocString(u"attached");
  _bstr_t attached(raw, false);
  EXPECT_EQ(attached.GetBSTR(), raw);
  _bstr_t copied(raw, true);
  EXPECT_NE(copied.GetBSTR(), raw);

  BSTR detached = attached.Detach();
  EXPECT_EQ(detached, raw);
  EXPECT_TRUE(!attached);
  attached.Attach(detached);  // owned again

  BSTR fresh = copied.copy();
  EXPECT_EQ(Utf8(fresh), "attached");
  SysFreeString(fresh);

  BSTR* slot = copied.GetAddress();  // frees "attached"
  EXPECT_EQ(*slot, nullptr);
  *slot = SysAllocString(u"from a call");
  EXPECT_STREQ(static_cast<const char*>(copied), "from a call");

  copied.Assign(attached.GetBSTR());
  EXPECT_STREQ(static_cast<const char*>(copied), "attached");
}

TEST(BstrT, ComparisonAndConcatenation) {
  _bstr_t null, empty(""), abc("abc"), abd(u"abd");
  EXPECT_TRUE(null == empty);  // a null BSTR is the empty text
  EXPECT_FALSE(!empty);        // but only the null one answers !
  EXPECT_TRUE(abc == "abc");
  EXPECT_TRUE("abc" == abc);
  EXPECT_TRUE(abc == u"abc");
  EXPECT_TRUE(abc != abd);
  EXPECT_TRUE(abc < abd);
  EXPECT_TRUE(abd > "abc");
  EXPECT_TRUE(null < abc);

  _bstr_t joined = abc + " " + abd;
  EXPECT_STREQ(static_cast<const char*>(joined), "abc abd");
  joined += null;
  joined += u"!";
  EXPECT_EQ(joined, "abc abd!");
  EXPECT_EQ("x" + abc, "xabc");
  EXPECT_EQ(null + null, "");
}

TEST(VariantT, ConstructorsMakeTheWindowsTypes) {
  CY cy;
  cy.int64 = 15000;
  struct Row {
    _variant_t value;
    VARTYPE vt;
  };
  const Row rows[] = {
      {_variant_t(SHORT{5}), VT_I2},
      {_variant_t(SHORT{5}, VT_BOOL), VT_BOOL},
      {_variant_t(LONG{5}), VT_I4},
      {_variant_t(LONG{5}, VT_ERROR), VT_ERROR},
      {_variant_t(1.5f), VT_R4},
      {_variant_t(1.5), VT_R8},
      {_variant_t(36526.0, VT_DATE), VT_DATE},
      {_variant_t(true), VT_BOOL},
      {_variant_t(BYTE{200}), VT_UI1},
      {_variant_t('c'), VT_I1},
      {_variant_t(std::int8_t{-56}), VT_I1},
      {_variant_t(USHORT{5}), VT_UI2},
      {_variant_t(ULONG{5}), VT_UI4},
      {_variant_t(LONGLONG{5}), VT_I8},
      {_variant_t(5LL), VT_I8},  // long long, not LONGLONG
      {_variant_t(ULONGLONG{5}), VT_UI8},
      {_variant_t(cy), VT_CY},
      {_variant_t("text"), VT_BSTR},
      {_variant_t(u"text"), VT_BSTR},
      {_variant_t(_bstr_t("text")), VT_BSTR},
  };
  for (const Row& row : rows) EXPECT_EQ(row.value.vt, row.vt);
  EXPECT_EQ(_variant_t(true).boolVal, VARIANT_TRUE);
  EXPECT_EQ(_variant_t(SHORT{7}, VT_BOOL).boolVal, VARIANT_TRUE);
  EXPECT_THROW(_variant_t(1.0, VT_I4), _com_error);
}

TEST(VariantT, ExtractorsConvertOrThrow) {
  EXPECT_EQ(static_cast<LONG>(_variant_t("  42 ")), 42);
  EXPECT_EQ(static_cast<LONG>(_variant_t(2.5)), 2);
  EXPECT_EQ(static_cast<LONG>(_variant_t(3.5)), 4);
  EXPECT_EQ(static_cast<double>(_variant_t("1.25")), 1.25);
  EXPECT_TRUE(static_cast<bool>(_variant_t("True")));
  EXPECT_FALSE(static_cast<bool>(_variant_t(LONG{0})));
  EXPECT_EQ(static_cast<_bstr_t>(_variant_t(1.5)), "1.5");
  EXPECT_EQ(static_cast<_bstr_t>(_variant_t(true)), "-1");
  EXPECT_EQ(static_cast<BYTE>(_variant_t(LONG{255})), 255);
  EXPECT_EQ(static_cast<LONGLONG>(_variant_t("9223372036854775807")), INT64_MAX);
  CY cy = _variant_t("1.23456");
  EXPECT_EQ(cy.int64, 12346);

  struct Failure {
    _variant_t value;
    HRESULT hr;
  };
  VARIANT null;
  VariantInit(&null);
  null.vt = VT_NULL;
  const Failure failures[] = {
      {_variant_t("12x"), DISP_E_TYPEMISMATCH},
      {_variant_t(null), DISP_E_TYPEMISMATCH},
      {_variant_t(LONG{32768}), DISP_E_OVERFLOW},
  };
  for (const Failure& f : failures) {
    try {
      SHORT s = f.value;
      ADD_FAILURE() << "converted to " << s;
    } catch (const _com_error& e) {
      EXPECT_EQ(e.Error(), f.hr);
    }
  }
}

TEST(VariantT, ChangeTypeAssignmentAndOwnership) {
  _variant_t v("17");
  v.ChangeType(VT_I4);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 17);
  try {
    v.ChangeType(VT_UNKNOWN, nullptr);
    ADD_FAILURE() << "17 became an interface";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), DISP_E_TYPEMISMATCH);
  }
  EXPECT_EQ(v.vt, VT_I4);  // unchanged
  _variant_t text(u"3.5");
  v.ChangeType(VT_R8, &text);
  EXPECT_EQ(v.dblVal, 3.5);

  // Assignments keep VT_BOOL, VT_ERROR and VT_DATE as Windows does.
  _variant_t flag(true);
  flag = SHORT{0};
  EXPECT_EQ(flag.vt, VT_BOOL);
  EXPECT_EQ(flag.boolVal, VARIANT_FALSE);
  _variant_t date(1.0, VT_DATE);
  date = 2.0;
  EXPECT_EQ(date.vt, VT_DATE);
  _variant_t number(LONG{1});
  number = "now text";
  EXPECT_EQ(number.vt, VT_BSTR);
  number = number;  // self-assignment keeps the text
  EXPECT_EQ(static_cast<_bstr_t>(number), "now text");
  number = static_cast<_bstr_t>(number);
  EXPECT_EQ(static_cast<_bstr_t>(number), "now text");

  // Copies are deep; Detach hands the content over.
  _variant_t copy(number);
  EXPECT_NE(copy.bstrVal, number.bstrVal);
  VARIANT raw = copy.Detach();
  EXPECT_EQ(copy.vt, VT_EMPTY);
  EXPECT_EQ(Utf8(raw.bstrVal), "now text");
  _variant_t adopted;
  adopted.Attach(raw);
  EXPECT_EQ(raw.vt, VT_EMPTY);
  EXPECT_EQ(adopted.vt, VT_BSTR);
  VariantClear(adopted.GetAddress());
  EXPECT_EQ(adopted.vt, VT_EMPTY);
}

TEST(VariantT, InterfacesAreCounted) {
  auto* object = new TestObject();
  {
    _variant_t held(static_cast<IUnknown*>(object));
    EXPECT_EQ(RefCount(object), 2u);
    _variant_t copy = held;
    EXPECT_EQ(RefCount(object), 3u);
    IUnknown* extracted = held;  // AddRef'd for us
    EXPECT_EQ(extracted, object);
    extracted->Release();
    copy = LONG{1};  // releases the copy's reference
    EXPECT_EQ(RefCount(object), 2u);
  }
  EXPECT_EQ(RefCount(object), 1u);
  object->Release();
}

TEST(ComPtrTest, ReferencesFollowTheSmartPointer) {
  auto* object = new TestObject(true, IID_IDispatch);
  ComPtr<IUnknown> first;
  first.Attach(object);  // takes the initial reference
  EXPECT_EQ(RefCount(object), 1u);
  {
    ComPtr<IUnknown> second = first;
    EXPECT_EQ(RefCount(object), 2u);
    ComPtr<IUnknown> moved = std::move(second);
    EXPECT_FALSE(second);
    EXPECT_EQ(RefCount(object), 2u);
    ComPtr<ISupportErrorInfo> support = first.As<ISupportErrorInfo>(IID_ISupportErrorInfo);
    ASSERT_TRUE(support);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_OK);
    EXPECT_EQ(RefCount(object), 3u);
    EXPECT_FALSE(first.As<IErrorInfo>(IID_IErrorInfo));
  }
  EXPECT_EQ(RefCount(object), 1u);

  ComPtr<IUnknown> other(object);  // AddRef's
  EXPECT_EQ(RefCount(object), 2u);
  EXPECT_TRUE(other == first);
  IUnknown** slot = &other;  // releases what it held
  EXPECT_EQ(*slot, nullptr);
  EXPECT_EQ(RefCount(object), 1u);
  EXPECT_TRUE(other == nullptr);

  IUnknown* raw = first.Detach();
  EXPECT_FALSE(first);
  EXPECT_EQ(raw->Release(), 0u);
}
