// Building VARIANTs and running tables of VariantChangeTypeEx cases, shared
// by the VariantChangeType test files.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/OleAuto.h"
#include "TestObjects.h"

namespace variantcases {

using platformtest::Utf8;
using platformtest::Var;

// ---- Building source values and describing results --------------------------

inline VARIANT Make(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}
// A VARIANT of type vt holding x: every scalar member of the value union
// starts at its first byte, and a narrower member reads the low bytes.
template <class T>
VARIANT Make(VARTYPE vt, T x) {
  static_assert(sizeof(T) <= sizeof(LONGLONG) && std::endian::native == std::endian::little);
  VARIANT v = Make(vt);
  std::memcpy(&v.llVal, &x, sizeof x);
  return v;
}
inline VARIANT Null() {
  return Make(VT_NULL);
}
inline VARIANT I4(LONG x) {
  return Make(VT_I4, x);
}
inline VARIANT R8(double x) {
  return Make(VT_R8, x);
}
inline VARIANT Date(double x) {
  return Make(VT_DATE, x);
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

// The integer types: name, width in bytes, signed.
struct IntegerType {
  VARTYPE vt;
  const char* name;
  std::size_t bytes;
  bool isSigned;
};
inline constexpr IntegerType kIntegerTypes[] = {
    {VT_I1, "i1", 1, true},    {VT_UI1, "ui1", 1, false},  {VT_I2, "i2", 2, true},
    {VT_UI2, "ui2", 2, false}, {VT_BOOL, "bool", 2, true}, {VT_I4, "i4", 4, true},
    {VT_UI4, "ui4", 4, false}, {VT_INT, "int", 4, true},   {VT_UINT, "uint", 4, false},
    {VT_I8, "i8", 8, true},    {VT_UI8, "ui8", 8, false},  {VT_CY, "cy", 8, true}};

inline const IntegerType* FindIntegerType(VARTYPE vt) {
  for (const IntegerType& t : kIntegerTypes)
    if (t.vt == vt) return &t;
  return nullptr;
}

// The value of a VARIANT of an integer type in decimal.
inline std::string IntegerText(const VARIANT& v) {
  const IntegerType& t = *FindIntegerType(v.vt);
  ULONGLONG bits = 0;
  std::memcpy(&bits, &v.llVal, t.bytes);
  const unsigned shift = 64 - 8 * static_cast<unsigned>(t.bytes);
  if (!t.isSigned) return std::to_string(bits);
  return std::to_string(static_cast<LONGLONG>(bits << shift) >> shift);  // sign-extended
}

// The value of a converted VARIANT as text, for comparison and messages:
// integers in decimal, floating values with 17 digits, BSTRs in quotes.
inline std::string Describe(const VARIANT& v) {
  char buffer[64] = "";
  if (const IntegerType* t = FindIntegerType(v.vt)) return t->name + (" " + IntegerText(v));
  switch (v.vt) {
    case VT_EMPTY:
      return "empty";
    case VT_NULL:
      return "null";
    case VT_R4:
      std::snprintf(buffer, sizeof(buffer), "r4 %.9g", v.fltVal);
      return buffer;
    case VT_R8:
    case VT_DATE:
      std::snprintf(buffer, sizeof(buffer), "%s %.17g", v.vt == VT_R8 ? "r8" : "date", v.dblVal);
      return buffer;
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

// A conversion and its expected result: Describe() of the value, or the
// failure ("mismatch", "overflow", "bad type", "invalid argument", "no interface").
struct Case {
  VARIANT source;  // owned by the case
  VARTYPE target;
  std::string expected;
  USHORT flags = 0;
  LCID lcid = 0x409;
};

inline std::string Failure(HRESULT hr) {
  switch (hr) {
    case DISP_E_TYPEMISMATCH:
      return "mismatch";
    case DISP_E_OVERFLOW:
      return "overflow";
    case DISP_E_BADVARTYPE:
      return "bad type";
    case E_INVALIDARG:
      return "invalid argument";
    case E_NOINTERFACE:
      return "no interface";
    default:
      return "hr " + std::to_string(hr);
  }
}

// Runs each case into a destination holding a text; a failure must leave it.
inline void RunCases(std::vector<Case>& cases) {
  for (Case& c : cases) {
    SCOPED_TRACE(Describe(c.source) + " -> vt " + std::to_string(c.target));
    Var dest(Str(u"untouched"));
    const HRESULT hr = VariantChangeTypeEx(&dest, &c.source, c.lcid, c.flags, c.target);
    EXPECT_EQ(SUCCEEDED(hr) ? Describe(dest.v) : Failure(hr), c.expected);
    if (FAILED(hr)) {
      EXPECT_EQ(Describe(dest.v), "bstr \"untouched\"") << "destination changed";
    }
    VariantClear(&c.source);
  }
}

}  // namespace variantcases
