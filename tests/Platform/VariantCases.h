// Building VARIANTs and running tables of VariantChangeTypeEx cases, shared
// by the VariantChangeType test files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/OleAuto.h"
#include "TestObjects.h"

namespace variantcases {

using platformtest::Utf8;
using platformtest::Var;

// ---- Building source values --------------------------------------------------

inline VARIANT Make(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}
inline VARIANT Empty() {
  return Make(VT_EMPTY);
}
inline VARIANT Null() {
  return Make(VT_NULL);
}
inline VARIANT I4(LONG x) {
  VARIANT v = Make(VT_I4);
  v.lVal = x;
  return v;
}
inline VARIANT Int(INT x) {
  VARIANT v = Make(VT_INT);
  v.intVal = x;
  return v;
}
inline VARIANT I8(LONGLONG x) {
  VARIANT v = Make(VT_I8);
  v.llVal = x;
  return v;
}
inline VARIANT R4(float x) {
  VARIANT v = Make(VT_R4);
  v.fltVal = x;
  return v;
}
inline VARIANT R8(double x) {
  VARIANT v = Make(VT_R8);
  v.dblVal = x;
  return v;
}
inline VARIANT Date(double x) {
  VARIANT v = Make(VT_DATE);
  v.date = x;
  return v;
}
inline VARIANT Dec(BYTE scale, bool negative, ULONG hi, ULONGLONG lo) {
  VARIANT v = Make(VT_EMPTY);
  v.decVal.scale = scale;
  v.decVal.sign = negative ? DECIMAL_NEG : 0;
  v.decVal.Hi32 = hi;
  v.decVal.Lo64 = lo;
  v.vt = VT_DECIMAL;
  return v;
}
inline VARIANT Cy(LONGLONG scaled) {
  VARIANT v = Make(VT_CY);
  v.cyVal.int64 = scaled;
  return v;
}
inline VARIANT Str(const char16_t* text) {
  VARIANT v = Make(VT_BSTR);
  v.bstrVal = SysAllocString(text);
  return v;
}
inline VARIANT Str(std::u16string_view text) {  // may hold NULs
  VARIANT v = Make(VT_BSTR);
  v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return v;
}
inline VARIANT Bytes(std::string_view bytes) {
  VARIANT v = Make(VT_ARRAY | VT_UI1);
  v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  std::memcpy(v.parray->pvData, bytes.data(), bytes.size());
  return v;
}

// The value of a converted VARIANT as text, for comparison and messages:
// integers in decimal, floating values with 17 digits, BSTRs in quotes.
inline std::string Describe(const VARIANT& v) {
  char buffer[64];
  switch (v.vt) {
    case VT_EMPTY:
      return "empty";
    case VT_NULL:
      return "null";
    case VT_I1:
      return "i1 " + std::to_string(static_cast<std::int8_t>(v.cVal));
    case VT_UI1:
      return "ui1 " + std::to_string(v.bVal);
    case VT_I2:
      return "i2 " + std::to_string(v.iVal);
    case VT_I4:
      return "i4 " + std::to_string(v.lVal);
    case VT_UI4:
      return "ui4 " + std::to_string(v.ulVal);
    case VT_INT:
      return "int " + std::to_string(v.intVal);
    case VT_I8:
      return "i8 " + std::to_string(v.llVal);
    case VT_R4:
      std::snprintf(buffer, sizeof(buffer), "r4 %.9g", v.fltVal);
      return buffer;
    case VT_R8:
      std::snprintf(buffer, sizeof(buffer), "r8 %.17g", v.dblVal);
      return buffer;
    case VT_DATE:
      std::snprintf(buffer, sizeof(buffer), "date %.17g", v.date);
      return buffer;
    case VT_CY:
      return "cy " + std::to_string(v.cyVal.int64);
    case VT_BOOL:
      return "bool " + std::to_string(v.boolVal);
    case VT_BSTR:
      return "bstr \"" + Utf8(v.bstrVal) + "\"";
    case VT_DECIMAL:
      return "dec " + std::to_string(v.decVal.scale) + (v.decVal.sign != 0 ? " -" : " +") +
             std::to_string(v.decVal.Hi32) + ":" + std::to_string(v.decVal.Lo64);
    case VT_ARRAY | VT_UI1: {
      std::string hex = "bytes";
      for (ULONG i = 0; i < v.parray->rgsabound[0].cElements; ++i) {
        std::snprintf(buffer, sizeof(buffer), " %02x", static_cast<BYTE*>(v.parray->pvData)[i]);
        hex += buffer;
      }
      return hex;
    }
    default:
      return "vt " + std::to_string(v.vt);
  }
}

struct Case {
  VARIANT source;  // owned by the case
  VARTYPE target;
  HRESULT expectedHr;
  std::string expected;  // Describe() of the result when expectedHr is S_OK
  USHORT flags = 0;
  LCID lcid = 0x409;
};

inline void RunCases(std::vector<Case>& cases) {
  for (Case& c : cases) {
    const std::string label = Describe(c.source) + " -> vt " + std::to_string(c.target);
    Var dest(Str(u"untouched"));
    const HRESULT hr = VariantChangeTypeEx(&dest, &c.source, c.lcid, c.flags, c.target);
    EXPECT_EQ(hr, c.expectedHr) << label;
    if (SUCCEEDED(hr) && SUCCEEDED(c.expectedHr)) {
      EXPECT_EQ(Describe(dest.v), c.expected) << label;
    } else if (FAILED(hr)) {
      EXPECT_EQ(Describe(dest.v), "bstr \"untouched\"") << label << ": destination changed";
    }
    VariantClear(&c.source);
  }
}

constexpr HRESULT kOk = S_OK;
constexpr HRESULT kMismatch = DISP_E_TYPEMISMATCH;
constexpr HRESULT kOverflow = DISP_E_OVERFLOW;

}  // namespace variantcases
