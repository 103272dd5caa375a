// SAFEARRAY: bounds and dimension order, element sizes, locking, element
// ownership and deep copies.
#include <gtest/gtest.h>

#include <cstdint>

#include "Platform/OleAuto.h"
#include "TestObjects.h"

using platformtest::RefCount;
using platformtest::TestObject;
using platformtest::Utf8;

TEST(SafeArray, DimensionsCountFromTheLeftAndAreStoredReversed) {
  // Dimension 1: 3 elements from 1; dimension 2: 4 elements from -2.
  SAFEARRAYBOUND bounds[] = {{3, 1}, {4, -2}};
  SAFEARRAY* psa = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(psa, nullptr);
  EXPECT_EQ(SafeArrayGetDim(psa), 2u);
  // The descriptor keeps the rightmost dimension first.
  EXPECT_EQ(psa->rgsabound[0].cElements, 4u);
  EXPECT_EQ(psa->rgsabound[0].lLbound, -2);
  EXPECT_EQ(psa->rgsabound[1].cElements, 3u);

  struct Expect {
    UINT dim;
    HRESULT hr;
    LONG lower, upper;
  };
  const Expect expects[] = {
      {1, S_OK, 1, 3},
      {2, S_OK, -2, 1},
      {0, DISP_E_BADINDEX, 0, 0},
      {3, DISP_E_BADINDEX, 0, 0},
  };
  for (const Expect& e : expects) {
    LONG lower = 99, upper = 99;
    EXPECT_EQ(SafeArrayGetLBound(psa, e.dim, &lower), e.hr) << "dim " << e.dim;
    EXPECT_EQ(SafeArrayGetUBound(psa, e.dim, &upper), e.hr) << "dim " << e.dim;
    if (e.hr == S_OK) {
      EXPECT_EQ(lower, e.lower) << "dim " << e.dim;
      EXPECT_EQ(upper, e.upper) << "dim " << e.dim;
    }
  }

  // Indices in creation order; the first varies fastest in memory.
  for (LONG i = 1; i <= 3; ++i) {
    for (LONG j = -2; j <= 1; ++j) {
      LONG index[] = {i, j};
      LONG value = i * 100 + j;
      ASSERT_EQ(SafeArrayPutElement(psa, index, &value), S_OK);
    }
  }
  LONG* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(psa, reinterpret_cast<void**>(&data)), S_OK);
  for (LONG i = 1; i <= 3; ++i)
    for (LONG j = -2; j <= 1; ++j) EXPECT_EQ(data[(i - 1) + (j + 2) * 3], i * 100 + j);
  ASSERT_EQ(SafeArrayUnaccessData(psa), S_OK);

  LONG inside[] = {3, 1};
  LONG value = 0;
  ASSERT_EQ(SafeArrayGetElement(psa, inside, &value), S_OK);
  EXPECT_EQ(value, 301);
  LONG outside[][2] = {{0, 0}, {4, 0}, {1, -3}, {1, 2}};
  for (auto& index : outside) {
    EXPECT_EQ(SafeArrayGetElement(psa, index, &value), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayPutElement(psa, index, &value), DISP_E_BADINDEX);
  }
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, ElementSizesAndTypesAreTheWindowsOnes) {
  struct Row {
    VARTYPE vt;
    UINT size;
  };
  constexpr UINT kPtr = sizeof(void*);  // BSTR and the interfaces
  const Row rows[] = {{VT_I1, 1},      {VT_UI1, 1},        {VT_I2, 2},          {VT_UI2, 2},
                      {VT_BOOL, 2},    {VT_I4, 4},         {VT_UI4, 4},         {VT_INT, 4},
                      {VT_UINT, 4},    {VT_R4, 4},         {VT_ERROR, 4},       {VT_I8, 8},
                      {VT_UI8, 8},     {VT_R8, 8},         {VT_CY, 8},          {VT_DATE, 8},
                      {VT_BSTR, kPtr}, {VT_UNKNOWN, kPtr}, {VT_DISPATCH, kPtr}, {VT_VARIANT, 16},
                      {VT_DECIMAL, 16}};
  for (const Row& row : rows) {
    SAFEARRAY* psa = SafeArrayCreateVector(row.vt, 0, 2);
    ASSERT_NE(psa, nullptr) << "vt " << row.vt;
    EXPECT_EQ(SafeArrayGetElemsize(psa), row.size) << "vt " << row.vt;
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
    EXPECT_EQ(vt, row.vt);
    SafeArrayDestroy(psa);
  }
  for (VARTYPE vt : {VARTYPE{VT_EMPTY}, VARTYPE{VT_NULL}, VARTYPE{15}})
    EXPECT_EQ(SafeArrayCreateVector(vt, 0, 1), nullptr) << "vt " << vt;
}

TEST(SafeArray, CreationRefusesImpossibleShapes) {
  SAFEARRAYBOUND bound{1, 0};
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &bound), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
  // The upper bound would not fit in a LONG.
  EXPECT_EQ(SafeArrayCreateVector(VT_I4, INT32_MAX, 2), nullptr);
  // Too large to allocate.
  SAFEARRAYBOUND huge[] = {{0x7FFFFFFFu, 0}, {0x7FFFFFFFu, 0}, {0x7FFFFFFFu, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_R8, 3, huge), nullptr);  // element count overflows
  EXPECT_EQ(SafeArrayCreate(VT_R8, 2, huge), nullptr);  // byte count overflows

  // No elements is fine: the upper bound is one below the lower.
  SAFEARRAY* empty = SafeArrayCreateVector(VT_BSTR, 5, 0);
  ASSERT_NE(empty, nullptr);
  LONG upper = 0;
  EXPECT_EQ(SafeArrayGetUBound(empty, 1, &upper), S_OK);
  EXPECT_EQ(upper, 4);
  SAFEARRAY* copy = nullptr;
  EXPECT_EQ(SafeArrayCopy(empty, &copy), S_OK);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
  EXPECT_EQ(SafeArrayDestroy(empty), S_OK);
}

TEST(SafeArray, LockedArraysAreNotDestroyed) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, 16);
  ASSERT_NE(psa, nullptr);
  BYTE* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(psa, reinterpret_cast<void**>(&data)), S_OK);
  ASSERT_EQ(SafeArrayLock(psa), S_OK);
  EXPECT_EQ(psa->cLocks, 2u);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  data[15] = 7;  // still ours
  EXPECT_EQ(SafeArrayUnlock(psa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
  EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);  // not locked any more
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

// Texts and VARIANTs are copied into an array, out of it, and by a copy of
// the array; the array frees what it holds.
TEST(SafeArray, TextsAndVariantsAreCopiedInOutAndDeep) {
  SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 2);
  ASSERT_NE(texts, nullptr);
  LONG first = 0, second = 1;
  BSTR mine = SysAllocString(u"first");
  ASSERT_EQ(SafeArrayPutElement(texts, &first, mine), S_OK);
  SysFreeString(mine);                                           // the array holds its own copy
  ASSERT_EQ(SafeArrayPutElement(texts, &first, nullptr), S_OK);  // replaces (and frees) it
  mine = SysAllocString(u"again");
  ASSERT_EQ(SafeArrayPutElement(texts, &first, mine), S_OK);
  SysFreeString(mine);
  BSTR out = reinterpret_cast<BSTR>(0x1);  // garbage: ignored
  ASSERT_EQ(SafeArrayGetElement(texts, &first, &out), S_OK);
  EXPECT_EQ(Utf8(out), "again");
  SysFreeString(out);
  ASSERT_EQ(SafeArrayGetElement(texts, &second, &out), S_OK);
  EXPECT_EQ(out, nullptr);                   // never set
  EXPECT_EQ(SafeArrayDestroy(texts), S_OK);  // frees "again"

  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 1, 3);
  ASSERT_NE(psa, nullptr);
  LONG index = 2;
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"value");
  ASSERT_EQ(SafeArrayPutElement(psa, &index, &text), S_OK);
  VariantClear(&text);

  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
  VARTYPE vt = VT_EMPTY;
  EXPECT_EQ(SafeArrayGetVartype(copy, &vt), S_OK);
  EXPECT_EQ(vt, VT_VARIANT);
  LONG lower = 0;
  EXPECT_EQ(SafeArrayGetLBound(copy, 1, &lower), S_OK);
  EXPECT_EQ(lower, 1);

  VARIANT* original = nullptr;
  VARIANT* copied = nullptr;
  SafeArrayAccessData(psa, reinterpret_cast<void**>(&original));
  SafeArrayAccessData(copy, reinterpret_cast<void**>(&copied));
  EXPECT_EQ(copied[1].vt, VT_BSTR);
  EXPECT_NE(copied[1].bstrVal, original[1].bstrVal);
  EXPECT_EQ(copied[0].vt, VT_EMPTY);
  SafeArrayUnaccessData(psa);
  SafeArrayUnaccessData(copy);

  VARIANT got;
  got.vt = 0xFFFF;  // garbage: ignored
  ASSERT_EQ(SafeArrayGetElement(copy, &index, &got), S_OK);
  EXPECT_EQ(Utf8(got.bstrVal), "value");
  VariantClear(&got);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
  SAFEARRAY* none = reinterpret_cast<SAFEARRAY*>(0x1);
  EXPECT_EQ(SafeArrayCopy(nullptr, &none), S_OK);
  EXPECT_EQ(none, nullptr);
}

TEST(SafeArray, InterfaceElementsHoldReferences) {
  auto* object = new TestObject();
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UNKNOWN, 0, 2);
  ASSERT_NE(psa, nullptr);
  LONG index = 0;
  ASSERT_EQ(SafeArrayPutElement(psa, &index, static_cast<IUnknown*>(object)), S_OK);
  index = 1;
  ASSERT_EQ(SafeArrayPutElement(psa, &index, static_cast<IUnknown*>(object)), S_OK);
  EXPECT_EQ(RefCount(object), 3u);

  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
  EXPECT_EQ(RefCount(object), 5u);
  IUnknown* got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(copy, &index, &got), S_OK);
  EXPECT_EQ(got, object);
  EXPECT_EQ(RefCount(object), 6u);
  got->Release();

  ASSERT_EQ(SafeArrayPutElement(copy, &index, nullptr), S_OK);  // releases one
  EXPECT_EQ(RefCount(object), 4u);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
  EXPECT_EQ(RefCount(object), 1u);
  object->Release();
}
