// VARIANT life cycle: clearing, deep copies, by-reference values, bad types.
#include <gtest/gtest.h>

#include "Platform/OleAuto.h"
#include "TestObjects.h"
#include "VariantCases.h"

using platformtest::RefCount;
using platformtest::TestObject;
using platformtest::Utf8;
using platformtest::Var;
using variantcases::Make;
using variantcases::Str;

namespace {

// A VT_ARRAY | VT_VARIANT of two elements: a text and a nested BSTR array.
VARIANT NestedArray() {
  SAFEARRAY* inner = SafeArrayCreateVector(VT_BSTR, 0, 2);
  LONG index = 1;
  BSTR text = SysAllocString(u"inner");
  SafeArrayPutElement(inner, &index, text);
  SysFreeString(text);

  SAFEARRAY* outer = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  VARIANT* cells = nullptr;
  SafeArrayAccessData(outer, reinterpret_cast<void**>(&cells));
  cells[0] = Str(u"outer");
  cells[1].vt = VT_ARRAY | VT_BSTR;
  cells[1].parray = inner;
  SafeArrayUnaccessData(outer);

  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_VARIANT;
  v.parray = outer;
  return v;
}

}  // namespace

TEST(Variant, CopyDuplicatesTextsAndArraysDeeply) {
  Var source(NestedArray());
  Var copy;
  ASSERT_EQ(VariantCopy(&copy, &source.v), S_OK);
  ASSERT_EQ(copy.v.vt, VT_ARRAY | VT_VARIANT);
  ASSERT_NE(copy.v.parray, source.v.parray);

  VARIANT* src = nullptr;
  VARIANT* dst = nullptr;
  SafeArrayAccessData(source.v.parray, reinterpret_cast<void**>(&src));
  SafeArrayAccessData(copy.v.parray, reinterpret_cast<void**>(&dst));
  EXPECT_NE(dst[0].bstrVal, src[0].bstrVal);
  EXPECT_EQ(Utf8(dst[0].bstrVal), "outer");
  EXPECT_NE(dst[1].parray, src[1].parray);
  BSTR innerCopy = nullptr;
  LONG index = 1;
  ASSERT_EQ(SafeArrayGetElement(dst[1].parray, &index, &innerCopy), S_OK);
  EXPECT_EQ(Utf8(innerCopy), "inner");
  SysFreeString(innerCopy);
  // Changing the copy leaves the source alone.
  ASSERT_EQ(SysReAllocString(&dst[0].bstrVal, u"changed"), TRUE);
  EXPECT_EQ(Utf8(src[0].bstrVal), "outer");
  SafeArrayUnaccessData(source.v.parray);
  SafeArrayUnaccessData(copy.v.parray);
  // Both are cleared at scope end: a shared element would be freed twice.
}

TEST(Variant, CopyAndClearCountInterfaceReferences) {
  auto* object = new TestObject();
  {
    object->AddRef();
    Var holder(Make(VT_UNKNOWN, static_cast<IUnknown*>(object)));  // takes that reference
    Var copy;
    ASSERT_EQ(VariantCopy(&copy, &holder.v), S_OK);
    EXPECT_EQ(RefCount(object), 3u);
    ASSERT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(copy.v.vt, VT_EMPTY);
    EXPECT_EQ(RefCount(object), 2u);
  }
  EXPECT_EQ(RefCount(object), 1u);
  object->Release();
}

// Clearing a locked array, and clearing or copying a bad type, fail and leave
// the VARIANT; so does a failed copy its destination. A copy onto itself
// keeps the value.
TEST(Variant, RefusalsLeaveTheValues) {
  Var v(Make(VT_ARRAY | VT_I4, SafeArrayCreateVector(VT_I4, 0, 3)));
  ASSERT_EQ(SafeArrayLock(v.v.parray), S_OK);
  EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(v.v.vt, VT_ARRAY | VT_I4);  // unchanged
  ASSERT_EQ(SafeArrayUnlock(v.v.parray), S_OK);
  EXPECT_EQ(VariantClear(&v), S_OK);

  Var text(Str(u"self"));
  const VARTYPE bad[] = {
      15, 24, 0x1000 | VT_I4, VT_ARRAY | VT_EMPTY, VT_BYREF | VT_NULL, 0x8000 | VT_I2};
  for (VARTYPE vt : bad) {
    VARIANT raw = Make(vt);
    EXPECT_EQ(VariantClear(&raw), DISP_E_BADVARTYPE) << "vt " << vt;
    EXPECT_EQ(raw.vt, vt);
    EXPECT_EQ(VariantCopy(&text, &raw), DISP_E_BADVARTYPE) << "vt " << vt;
    EXPECT_EQ(Utf8(text.v.bstrVal), "self");
  }
  EXPECT_EQ(VariantCopy(&text, &text.v), S_OK);
  EXPECT_EQ(Utf8(text.v.bstrVal), "self");
  EXPECT_EQ(VariantCopy(nullptr, &text.v), E_INVALIDARG);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

// A by-reference VARIANT does not own its target: copying copies the
// reference and clearing leaves the target. VariantCopyInd copies the target
// (through a reference to a VARIANT too), but refuses a reference to a
// reference and a null reference, leaving the destination.
TEST(Variant, ByReferenceValuesAreNotOwned) {
  BSTR owned = SysAllocString(u"text");
  VARIANT ref = Make(VT_BYREF | VT_BSTR, &owned);
  Var copy;
  ASSERT_EQ(VariantCopy(&copy, &ref), S_OK);
  EXPECT_EQ(copy.v.pbstrVal, &owned);  // the reference, not the text
  EXPECT_EQ(VariantClear(&copy), S_OK);
  EXPECT_EQ(VariantClear(&ref), S_OK);
  EXPECT_EQ(Utf8(owned), "text");  // still alive

  ref = Make(VT_BYREF | VT_BSTR, &owned);
  ASSERT_EQ(VariantCopyInd(&copy, &ref), S_OK);
  EXPECT_EQ(copy.v.vt, VT_BSTR);
  EXPECT_NE(copy.v.bstrVal, owned);
  EXPECT_EQ(Utf8(copy.v.bstrVal), "text");

  Var inner(Str(u"inner"));
  const VARIANT refToVariant = Make(VT_BYREF | VT_VARIANT, &inner.v);
  ASSERT_EQ(VariantCopyInd(&copy, &refToVariant), S_OK);
  EXPECT_EQ(Utf8(copy.v.bstrVal), "inner");
  const VARIANT refToRef = Make(VT_BYREF | VT_VARIANT, &ref);
  EXPECT_EQ(VariantCopyInd(&copy, &refToRef), E_INVALIDARG);
  ref.pbstrVal = nullptr;
  EXPECT_EQ(VariantCopyInd(&copy, &ref), E_INVALIDARG);
  EXPECT_EQ(Utf8(copy.v.bstrVal), "inner");  // unchanged by the failures
  SysFreeString(owned);
}
