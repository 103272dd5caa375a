// VARIANT life cycle (OleAuto.h): initialisation, clearing, copying.
//
// Ownership: a VARIANT owns its BSTR, its SAFEARRAY and one reference of its
// interface pointer; VT_BYREF values belong to someone else. Copies are built
// completely before the destination is cleared, so a failed copy leaves the
// destination as it was and a source held inside the destination stays valid
// while it is read.
#include <cstring>

#include "Platform/OleAutoInternal.h"

namespace platform::detail {

HRESULT ValidateVariantType(VARTYPE vt) {
  if ((vt & ~(VT_ARRAY | VT_BYREF | VT_TYPEMASK)) != 0) return DISP_E_BADVARTYPE;
  const VARTYPE base = vt & VT_TYPEMASK;
  if (base > VT_UINT || base == 15) return DISP_E_BADVARTYPE;
  if ((vt & (VT_ARRAY | VT_BYREF)) != 0 && base <= VT_NULL) return DISP_E_BADVARTYPE;
  return S_OK;
}

ULONG ElementSizeOf(VARTYPE baseType) {
  switch (baseType) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
      return sizeof(BSTR);
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(IUnknown*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    default:
      return 0;
  }
}

HRESULT DerefVariant(const VARIANT& src, VARIANT& view) {
  if (src.byref == nullptr) return E_INVALIDARG;
  const VARTYPE type = src.vt & ~VT_BYREF;
  if (type == VT_VARIANT) {
    const VARIANT& inner = *src.pvarVal;
    if ((inner.vt & VT_BYREF) != 0 || FAILED(ValidateVariantType(inner.vt))) return E_INVALIDARG;
    view = inner;
    return S_OK;
  }
  if (type == VT_DECIMAL) {  // the DECIMAL fills the VARIANT, vt included
    std::memcpy(&view.decVal, src.pdecVal, sizeof(DECIMAL));
    view.vt = VT_DECIMAL;
    return S_OK;
  }
  view.vt = type;
  view.wReserved1 = view.wReserved2 = view.wReserved3 = 0;
  view.ullVal = 0;
  // Every union member starts at the same address, so the referenced value
  // lands in the member its type names.
  const ULONG size = (type & VT_ARRAY) != 0 ? sizeof(SAFEARRAY*) : ElementSizeOf(type);
  std::memcpy(&view.ullVal, src.byref, size);
  return S_OK;
}

HRESULT CopyVariantValue(const VARIANT& src, VARIANT& out) {
  out = src;
  if ((src.vt & VT_BYREF) != 0) return S_OK;
  HRESULT hr = S_OK;
  if ((src.vt & VT_ARRAY) != 0) {
    hr = SafeArrayCopy(src.parray, &out.parray);
  } else if (src.vt == VT_BSTR) {
    if (src.bstrVal != nullptr) {
      out.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(src.bstrVal),
                                          SysStringByteLen(src.bstrVal));
      if (out.bstrVal == nullptr) hr = E_OUTOFMEMORY;
    }
  } else if (src.vt == VT_UNKNOWN || src.vt == VT_DISPATCH) {
    if (src.punkVal != nullptr) src.punkVal->AddRef();
  }
  if (FAILED(hr)) {
    out.vt = VT_EMPTY;
    out.ullVal = 0;
  }
  return hr;
}

}  // namespace platform::detail

using platform::detail::CopyVariantValue;
using platform::detail::ValidateVariantType;

void VariantInit(VARIANT* pvarg) {
  if (pvarg == nullptr) return;
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
  pvarg->ullVal = 0;
}

HRESULT VariantClear(VARIANT* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  HRESULT hr = ValidateVariantType(pvarg->vt);
  if (FAILED(hr)) return hr;
  const VARTYPE vt = pvarg->vt;
  if ((vt & VT_BYREF) == 0) {
    if ((vt & VT_ARRAY) != 0) {
      // A locked array stays where it is, and so does the VARIANT.
      hr = SafeArrayDestroy(pvarg->parray);
      if (FAILED(hr)) return hr;
    } else if (vt == VT_BSTR) {
      SysFreeString(pvarg->bstrVal);
    } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
      // Empty the VARIANT before Release: the object's clean-up may look at it.
      IUnknown* punk = pvarg->punkVal;
      pvarg->vt = VT_EMPTY;
      pvarg->punkVal = nullptr;
      if (punk != nullptr) punk->Release();
      return S_OK;
    }
  }
  pvarg->vt = VT_EMPTY;
  pvarg->ullVal = 0;
  return S_OK;
}

HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  HRESULT hr = ValidateVariantType(pvargSrc->vt);
  if (FAILED(hr)) return hr;
  if (pvargDest == pvargSrc) return S_OK;
  VARIANT copy;
  hr = CopyVariantValue(*pvargSrc, copy);
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvargDest = copy;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANT* pvargSrc) {
  if (pvarDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  HRESULT hr = ValidateVariantType(pvargSrc->vt);
  if (FAILED(hr)) return hr;
  if ((pvargSrc->vt & VT_BYREF) == 0) return VariantCopy(pvarDest, pvargSrc);
  VARIANT view;
  hr = platform::detail::DerefVariant(*pvargSrc, view);
  if (FAILED(hr)) return hr;
  VARIANT copy;
  hr = CopyVariantValue(view, copy);
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvarDest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvarDest = copy;
  return S_OK;
}
