// SAFEARRAY (OleAuto.h).
//
// Descriptor block, one malloc block per array made here:
//   OFFSET  SIZE              FIELD
//     0      16               hidden: the IID of an interface array
//                             (FADF_HAVEIID), or in its last 4 bytes the
//                             VARTYPE of any other array (FADF_HAVEVARTYPE)
//    16      24 + 8*cDims     the SAFEARRAY, with cDims bounds
// The SAFEARRAY* points at offset 16. The data is a separate zero-filled
// block of cbElements * (product of the cElements). As on Windows:
// - rgsabound holds the rightmost dimension first; dimension numbers of
//   GetLBound/GetUBound count from 1 at the left (SafeArrayCreate's order);
// - rgIndices of GetElement/PutElement are in SafeArrayCreate's order, and the
//   first index varies fastest in memory;
// - arrays flagged FADF_STATIC, FADF_AUTO or FADF_EMBEDDED belong to whoever
//   built them: Destroy releases their elements but frees no memory.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "Platform/OleAutoInternal.h"

namespace {

constexpr std::size_t kHiddenSize = 16;
constexpr USHORT kNotOwned = FADF_STATIC | FADF_AUTO | FADF_EMBEDDED;
constexpr ULONG kMaxLocks = 0xFFFF;

unsigned char* HiddenOf(SAFEARRAY* psa) {
  return reinterpret_cast<unsigned char*>(psa) - kHiddenSize;
}

SAFEARRAYBOUND* Bounds(SAFEARRAY* psa) {
  return psa->rgsabound;  // cDims entries, rightmost dimension first
}

std::size_t DescriptorSize(UINT cDims) {
  return kHiddenSize + offsetof(SAFEARRAY, rgsabound) + cDims * sizeof(SAFEARRAYBOUND);
}

// Number of elements, or false when the product does not fit in size_t.
bool CellCount(SAFEARRAY* psa, std::size_t& count) {
  count = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) {
    const std::size_t n = Bounds(psa)[i].cElements;
    if (n != 0 && count > SIZE_MAX / n) return false;
    count *= n;
  }
  return true;
}

// Features and hidden type of a new array of element type vt.
void SetType(SAFEARRAY* psa, VARTYPE vt) {
  unsigned char* hidden = HiddenOf(psa);
  std::memset(hidden, 0, kHiddenSize);
  psa->fFeatures &= static_cast<USHORT>(
      ~(FADF_HAVEIID | FADF_HAVEVARTYPE | FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT));
  switch (vt) {
    case VT_UNKNOWN:
      psa->fFeatures |= FADF_HAVEIID | FADF_UNKNOWN;
      std::memcpy(hidden, &IID_IUnknown, sizeof(IID));
      return;
    case VT_DISPATCH:
      psa->fFeatures |= FADF_HAVEIID | FADF_DISPATCH;
      std::memcpy(hidden, &IID_IDispatch, sizeof(IID));
      return;
    case VT_BSTR:
      psa->fFeatures |= FADF_BSTR;
      break;
    case VT_VARIANT:
      psa->fFeatures |= FADF_VARIANT;
      break;
    default:
      break;
  }
  psa->fFeatures |= FADF_HAVEVARTYPE;
  const DWORD stored = vt;
  std::memcpy(hidden + kHiddenSize - sizeof(DWORD), &stored, sizeof(DWORD));
}

// An empty descriptor (zeroed, cDims set), or null.
SAFEARRAY* AllocDescriptor(UINT cDims) {
  if (cDims == 0 || cDims > 0xFFFF) return nullptr;
  auto* block = static_cast<unsigned char*>(std::calloc(1, DescriptorSize(cDims)));
  if (block == nullptr) return nullptr;
  auto* psa = reinterpret_cast<SAFEARRAY*>(block + kHiddenSize);
  psa->cDims = static_cast<USHORT>(cDims);
  return psa;
}

void FreeDescriptor(SAFEARRAY* psa) {
  std::free(HiddenOf(psa));
}

// Releases what each element owns and leaves it zeroed (null BSTR, null
// interface, VT_EMPTY).
void ReleaseElements(SAFEARRAY* psa, std::size_t count) {
  if (psa->pvData == nullptr) return;
  if ((psa->fFeatures & FADF_BSTR) != 0) {
    auto* cells = static_cast<BSTR*>(psa->pvData);
    for (std::size_t i = 0; i < count; ++i) {
      SysFreeString(cells[i]);
      cells[i] = nullptr;
    }
  } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
    auto* cells = static_cast<VARIANT*>(psa->pvData);
    for (std::size_t i = 0; i < count; ++i) VariantClear(&cells[i]);
  } else if ((psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
    auto* cells = static_cast<IUnknown**>(psa->pvData);
    for (std::size_t i = 0; i < count; ++i) {
      IUnknown* punk = cells[i];
      cells[i] = nullptr;
      if (punk != nullptr) punk->Release();
    }
  }
}

// The cell that rgIndices names, or null when an index is out of bounds.
void* Cell(SAFEARRAY* psa, const LONG* rgIndices) {
  std::size_t cell = 0, stride = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) {
    const SAFEARRAYBOUND& bound = Bounds(psa)[psa->cDims - 1 - i];
    const long long offset = static_cast<long long>(rgIndices[i]) - bound.lLbound;
    if (offset < 0 || offset >= static_cast<long long>(bound.cElements)) return nullptr;
    cell += static_cast<std::size_t>(offset) * stride;
    stride *= bound.cElements;
  }
  return static_cast<unsigned char*>(psa->pvData) + cell * psa->cbElements;
}

// Deep copy of one element from `from` into the zeroed cell `to`.
HRESULT CopyElement(USHORT features, ULONG cbElements, const void* from, void* to) {
  if ((features & FADF_BSTR) != 0) {
    BSTR src = *static_cast<const BSTR*>(from);
    if (src == nullptr) return S_OK;
    BSTR copy = SysAllocStringByteLen(reinterpret_cast<const char*>(src), SysStringByteLen(src));
    if (copy == nullptr) return E_OUTOFMEMORY;
    *static_cast<BSTR*>(to) = copy;
    return S_OK;
  }
  if ((features & FADF_VARIANT) != 0) {
    auto* dest = static_cast<VARIANT*>(to);
    VariantInit(dest);
    return VariantCopy(dest, static_cast<const VARIANT*>(from));
  }
  if ((features & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
    IUnknown* punk = *static_cast<IUnknown* const*>(from);
    if (punk != nullptr) punk->AddRef();
    *static_cast<IUnknown**>(to) = punk;
    return S_OK;
  }
  std::memcpy(to, from, cbElements);
  return S_OK;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  const ULONG cbElements = platform::detail::ElementSizeOf(vt);
  if (cbElements == 0 || rgsabound == nullptr) return nullptr;
  SAFEARRAY* psa = AllocDescriptor(cDims);
  if (psa == nullptr) return nullptr;
  psa->cbElements = cbElements;
  SetType(psa, vt);
  for (UINT i = 0; i < cDims; ++i) {
    // The upper bound lLbound + cElements - 1 must be a LONG too.
    const long long upper =
        static_cast<long long>(rgsabound[i].lLbound) + rgsabound[i].cElements - 1;
    if (upper > INT32_MAX) {
      FreeDescriptor(psa);
      return nullptr;
    }
    Bounds(psa)[cDims - 1 - i] = rgsabound[i];
  }
  std::size_t count = 0;
  if (!CellCount(psa, count) || count > SIZE_MAX / cbElements) {
    FreeDescriptor(psa);
    return nullptr;
  }
  // Zero-filled: BSTRs and interfaces start null, VARIANTs VT_EMPTY. One byte
  // at least, so that an empty array still has a data pointer.
  psa->pvData = std::calloc(count == 0 ? 1 : count, cbElements);
  if (psa->pvData == nullptr) {
    FreeDescriptor(psa);
    return nullptr;
  }
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  SAFEARRAYBOUND bound{cElements, lLbound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (psa == nullptr) return S_OK;
  if (std::atomic_ref<ULONG>(psa->cLocks).load() != 0) return DISP_E_ARRAYISLOCKED;
  std::size_t count = 0;
  if (CellCount(psa, count)) ReleaseElements(psa, count);
  if ((psa->fFeatures & kNotOwned) != 0) return S_OK;
  std::free(psa->pvData);
  psa->pvData = nullptr;
  FreeDescriptor(psa);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  std::atomic_ref<ULONG> locks(psa->cLocks);
  ULONG current = locks.load();
  do {
    if (current >= kMaxLocks) return E_UNEXPECTED;
  } while (!locks.compare_exchange_weak(current, current + 1));
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  std::atomic_ref<ULONG> locks(psa->cLocks);
  ULONG current = locks.load();
  do {
    if (current == 0) return E_UNEXPECTED;
  } while (!locks.compare_exchange_weak(current, current - 1));
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (psa == nullptr || ppvData == nullptr) return E_INVALIDARG;
  HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) return hr;
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
  return SafeArrayUnlock(psa);
}

UINT SafeArrayGetDim(SAFEARRAY* psa) {
  return psa == nullptr ? 0 : psa->cDims;
}

UINT SafeArrayGetElemsize(SAFEARRAY* psa) {
  return psa == nullptr ? 0 : psa->cbElements;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (psa == nullptr || plLbound == nullptr) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  *plLbound = Bounds(psa)[psa->cDims - nDim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (psa == nullptr || plUbound == nullptr) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& bound = Bounds(psa)[psa->cDims - nDim];
  *plUbound = static_cast<LONG>(static_cast<long long>(bound.lLbound) + bound.cElements - 1);
  return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (psa == nullptr || pvt == nullptr) return E_INVALIDARG;
  if ((psa->fFeatures & FADF_HAVEIID) != 0) {
    *pvt = (psa->fFeatures & FADF_DISPATCH) != 0 ? VT_DISPATCH : VT_UNKNOWN;
  } else if ((psa->fFeatures & FADF_HAVEVARTYPE) != 0) {
    DWORD stored;
    std::memcpy(&stored, HiddenOf(psa) + kHiddenSize - sizeof(DWORD), sizeof(DWORD));
    *pvt = static_cast<VARTYPE>(stored);
  } else if ((psa->fFeatures & FADF_BSTR) != 0) {
    *pvt = VT_BSTR;
  } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
    *pvt = VT_VARIANT;
  } else if ((psa->fFeatures & FADF_UNKNOWN) != 0) {
    *pvt = VT_UNKNOWN;
  } else if ((psa->fFeatures & FADF_DISPATCH) != 0) {
    *pvt = VT_DISPATCH;
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (psa == nullptr) return S_OK;
  std::size_t count = 0;
  if (psa->cbElements == 0 || !CellCount(psa, count) || count > SIZE_MAX / psa->cbElements)
    return E_INVALIDARG;
  SAFEARRAY* copy = AllocDescriptor(psa->cDims);
  if (copy == nullptr) return E_OUTOFMEMORY;
  copy->fFeatures = static_cast<USHORT>(psa->fFeatures & ~kNotOwned);
  copy->cbElements = psa->cbElements;
  std::memcpy(Bounds(copy), Bounds(psa), psa->cDims * sizeof(SAFEARRAYBOUND));
  VARTYPE vt = VT_EMPTY;
  if (SUCCEEDED(SafeArrayGetVartype(psa, &vt))) SetType(copy, vt);
  copy->pvData = std::calloc(count == 0 ? 1 : count, psa->cbElements);
  if (copy->pvData == nullptr) {
    FreeDescriptor(copy);
    return E_OUTOFMEMORY;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t offset = i * psa->cbElements;
    HRESULT hr = CopyElement(psa->fFeatures, psa->cbElements,
                             static_cast<const unsigned char*>(psa->pvData) + offset,
                             static_cast<unsigned char*>(copy->pvData) + offset);
    if (FAILED(hr)) {
      ReleaseElements(copy, i);
      std::free(copy->pvData);
      FreeDescriptor(copy);
      return hr;
    }
  }
  *ppsaOut = copy;
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (psa == nullptr || rgIndices == nullptr || pv == nullptr) return E_INVALIDARG;
  void* cell = Cell(psa, rgIndices);
  if (cell == nullptr) return DISP_E_BADINDEX;
  HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) return hr;
  // pv's old content is ignored: it receives a new copy the caller owns.
  if ((psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH)) != 0)
    std::memset(pv, 0, psa->cbElements);
  hr = CopyElement(psa->fFeatures, psa->cbElements, cell, pv);
  SafeArrayUnlock(psa);
  return hr;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (psa == nullptr || rgIndices == nullptr) return E_INVALIDARG;
  // BSTR and interface arrays take the value itself (a null one is allowed);
  // all others take a pointer to it.
  const bool byValue = (psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH)) != 0;
  if (pv == nullptr && !byValue) return E_INVALIDARG;
  void* cell = Cell(psa, rgIndices);
  if (cell == nullptr) return DISP_E_BADINDEX;
  HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) return hr;
  if ((psa->fFeatures & FADF_BSTR) != 0) {
    auto src = static_cast<BSTR>(pv);
    BSTR copy = nullptr;
    if (src != nullptr) {
      copy = SysAllocStringByteLen(reinterpret_cast<const char*>(src), SysStringByteLen(src));
      if (copy == nullptr) hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) {
      SysFreeString(*static_cast<BSTR*>(cell));
      *static_cast<BSTR*>(cell) = copy;
    }
  } else if ((psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
    auto* punk = static_cast<IUnknown*>(pv);
    if (punk != nullptr) punk->AddRef();
    IUnknown* old = *static_cast<IUnknown**>(cell);
    *static_cast<IUnknown**>(cell) = punk;
    if (old != nullptr) old->Release();
  } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
    hr = VariantCopy(static_cast<VARIANT*>(cell), static_cast<const VARIANT*>(pv));
  } else {
    std::memmove(cell, pv, psa->cbElements);
  }
  SafeArrayUnlock(psa);
  return hr;
}
