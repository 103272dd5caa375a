// Platform stand-in: OLE Automation (BSTR, VARIANT, SAFEARRAY, error info).
//
// Memory rules are the Windows ones: a BSTR is allocated by SysAllocString*
// and freed by SysFreeString; a VARIANT owns what it holds and VariantClear
// frees it; a SAFEARRAY created by SafeArrayCreate* is freed by
// SafeArrayDestroy (VariantClear does that for a VT_ARRAY VARIANT).
#pragma once

#include "Unknwn.h"

extern "C" {

// ---- BSTR ------------------------------------------------------------------
// Layout: a 32-bit byte count, then the UTF-16 characters, then a NUL. The
// BSTR points at the first character. A null BSTR counts as the empty text.
BSTR SysAllocString(const OLECHAR* psz);
BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch);     // pch may be null
BSTR SysAllocStringByteLen(const char* psz, UINT cbLen);  // raw bytes
void SysFreeString(BSTR bstr);
UINT SysStringLen(BSTR bstr);      // characters; 0 for null
UINT SysStringByteLen(BSTR bstr);  // bytes; 0 for null
int SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
int SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len);

}  // extern "C"

// ---- VARTYPE ---------------------------------------------------------------

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

// ---- SAFEARRAY -------------------------------------------------------------

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];  // cDims entries; the rightmost dimension first
};

enum : USHORT {
  FADF_AUTO = 0x0001,
  FADF_STATIC = 0x0002,
  FADF_EMBEDDED = 0x0004,
  FADF_FIXEDSIZE = 0x0010,
  FADF_RECORD = 0x0020,
  FADF_HAVEIID = 0x0040,
  FADF_HAVEVARTYPE = 0x0080,
  FADF_BSTR = 0x0100,
  FADF_UNKNOWN = 0x0200,
  FADF_DISPATCH = 0x0400,
  FADF_VARIANT = 0x0800,
};

// ---- VARIANT ---------------------------------------------------------------

// A 96-bit integer scaled by a power of ten: (-1)^(sign != 0) * (Hi32:Lo64) /
// 10^scale, scale 0..28. In a VARIANT it overlays the whole VARIANT, its
// first two bytes being the vt.
inline constexpr BYTE DECIMAL_NEG = 0x80;
struct DECIMAL {
  USHORT wReserved;
  BYTE scale;
  BYTE sign;
  ULONG Hi32;
  ULONGLONG Lo64;
};
static_assert(sizeof(DECIMAL) == 16);

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
struct tagVARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        BSTR* pbstrVal;
        tagVARIANT* pvarVal;
        void* byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        // By-reference forms (VT_BYREF | type); the VARIANT does not own the target.
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        LONGLONG* pllVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        DECIMAL* pdecVal;
      };
    };
    DECIMAL decVal;  // VT_DECIMAL: decVal.wReserved is vt
  };
};
#pragma GCC diagnostic pop
using VARIANT = tagVARIANT;
using VARIANTARG = tagVARIANT;
static_assert(sizeof(VARIANT) == 16);

// IDispatch::Invoke arguments, as far as VariantChangeType reads a value
// property (DISPID_VALUE with DISPATCH_PROPERTYGET and no arguments).
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};
inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;

// Locales VariantChangeTypeEx knows: US English (0x409) and German (0x407).
// The user and system defaults are German when LC_ALL, LC_NUMERIC or LANG
// (the first one set) starts with "de", US English otherwise. Any other lcid
// reads as US English.
inline constexpr LCID LOCALE_USER_DEFAULT = 0x400;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x800;
inline constexpr LCID LOCALE_NEUTRAL = 0x0;

// Flags of VariantChangeType.
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
inline constexpr USHORT VARIANT_ALPHABOOL = 0x02;  // VT_BOOL -> VT_BSTR gives "True"/"False"
inline constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04;
inline constexpr USHORT VARIANT_LOCALBOOL = 0x10;  // "True"/"False" in the locale's language

extern "C" {

void VariantInit(VARIANT* pvarg);
HRESULT VariantClear(VARIANT* pvarg);
HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc);
// As VariantCopy, but a VT_BYREF source is copied as the value it refers to.
HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANT* pvargSrc);
// Converts among VT_EMPTY, VT_NULL, VT_I1..VT_UI4, VT_INT, VT_UINT, VT_I8,
// VT_UI8, VT_R4, VT_R8, VT_DECIMAL, VT_DATE, VT_BOOL, VT_BSTR and VT_CY, and
// between VT_BSTR and VT_ARRAY | VT_UI1 (the raw bytes). VT_NULL to a number
// or text fails with DISP_E_TYPEMISMATCH; a value out of the target's range
// fails with DISP_E_OVERFLOW (same-width signed and unsigned integers take
// each other's bits instead); a text that does not parse fails with
// DISP_E_TYPEMISMATCH. A VT_DISPATCH source converts as its value property
// (DISP_E_TYPEMISMATCH with VARIANT_NOVALUEPROP). pvargDest may equal
// pvarSrc. On failure pvargDest is left unchanged. A type the stand-in does
// not know (15, 24 and up, VT_VECTOR) is DISP_E_BADVARTYPE; a known type that
// does not convert (VT_NULL to text, an array to a scalar, ...) is
// DISP_E_TYPEMISMATCH. Floating values and texts round half to even into
// integers and VT_CY. Texts are read and written in the user default locale.
HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT wFlags, VARTYPE vt);
// As VariantChangeType, with texts in the locale lcid.
HRESULT VariantChangeTypeEx(VARIANT* pvargDest, const VARIANT* pvarSrc, LCID lcid, USHORT wFlags,
                            VARTYPE vt);

// rgsabound[0] is the leftmost dimension (dimension 1 of GetLBound and
// GetUBound); the descriptor stores them in reverse. Elements are zeroed.
// Null for an element type without storage (VT_EMPTY, VT_NULL, unknown), no
// dimensions, or a size that cannot be allocated.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
// Frees the elements (BSTRs, VARIANTs, interface references) and the array;
// DISP_E_ARRAYISLOCKED, changing nothing, while the array is locked.
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);
UINT SafeArrayGetDim(SAFEARRAY* psa);
UINT SafeArrayGetElemsize(SAFEARRAY* psa);
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
// rgIndices has one index per dimension in SafeArrayCreate's order; the first
// varies fastest in memory. DISP_E_BADINDEX when one is out of bounds.
// GetElement writes a copy the caller owns (a new BSTR, an AddRef'd interface,
// a copied VARIANT), ignoring what *pv held. PutElement takes a pointer to
// the value, except for BSTR and interface arrays, where pv is the BSTR or
// interface pointer itself; it stores a copy.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);

// ---- Error info (one slot per thread) --------------------------------------
// The object CreateErrorInfo makes answers both ICreateErrorInfo and
// IErrorInfo. A thread's slot holds one reference, released when the thread
// ends if nobody fetched it.
HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
// Replaces the thread's error info (AddRef'ing perrinfo; null clears it).
HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
// Hands the thread's error info to the caller (who Releases it) and clears the
// slot; S_FALSE and a null pointer when there is none.
HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);

}  // extern "C"
