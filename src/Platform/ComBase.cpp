// COM runtime calls (ComBase.h): per-thread initialisation count, task
// memory, interlocked counts and GUID text.
//
// There are no apartments: CoInitialize only counts, per thread, so that the
// S_OK/S_FALSE answers and the pairing with CoUninitialize are the Windows
// ones. Task memory is the C heap of this one shared library, so memory
// allocated by the server is freed by a client and the other way round.
#include <cstdlib>

#include "Platform/ComBase.h"

namespace {

thread_local ULONG t_initCount = 0;

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Writes `digits` upper-case hex digits of value, most significant first.
OLECHAR* PutHex(OLECHAR* out, unsigned long long value, int digits) {
  for (int i = digits - 1; i >= 0; --i) *out++ = kHexDigits[(value >> (4 * i)) & 0xF];
  return out;
}

int HexValue(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

// Reads exactly `digits` hex digits at text; false on anything else.
bool GetHex(const OLECHAR*& text, int digits, unsigned long long& value) {
  value = 0;
  for (int i = 0; i < digits; ++i) {
    const int v = HexValue(text[i]);  // stops at the NUL: it is not a digit
    if (v < 0) return false;
    value = value << 4 | static_cast<unsigned>(v);
  }
  text += digits;
  return true;
}

}  // namespace

HRESULT CoInitialize(LPVOID /*pvReserved*/) {
  return t_initCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (t_initCount > 0) --t_initCount;
}

LPVOID CoTaskMemAlloc(SIZE_T cb) {
  return std::malloc(cb == 0 ? 1 : cb);  // a zero-byte block is still a block
}

void CoTaskMemFree(LPVOID pv) {
  std::free(pv);
}

LONG InterlockedIncrement(LONG volatile* plAddend) {
  return __atomic_add_fetch(plAddend, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(LONG volatile* plAddend) {
  return __atomic_sub_fetch(plAddend, 1, __ATOMIC_SEQ_CST);
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  constexpr int kLength = 39;  // "{8-4-4-4-12}" and the NUL
  if (lpsz == nullptr || cchMax < kLength) return 0;
  OLECHAR* out = lpsz;
  *out++ = u'{';
  out = PutHex(out, rguid.Data1, 8);
  *out++ = u'-';
  out = PutHex(out, rguid.Data2, 4);
  *out++ = u'-';
  out = PutHex(out, rguid.Data3, 4);
  *out++ = u'-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) *out++ = u'-';
    out = PutHex(out, rguid.Data4[i], 2);
  }
  *out++ = u'}';
  *out = u'\0';
  return kLength;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
  if (pclsid == nullptr) return E_INVALIDARG;
  *pclsid = GUID_NULL;
  if (lpsz == nullptr) return S_OK;  // as Windows: no text is the null class id
  const OLECHAR* in = lpsz;
  CLSID id{};
  unsigned long long value = 0;
  if (*in++ != u'{' || !GetHex(in, 8, value)) return CO_E_CLASSSTRING;
  id.Data1 = static_cast<ULONG>(value);
  if (*in++ != u'-' || !GetHex(in, 4, value)) return CO_E_CLASSSTRING;
  id.Data2 = static_cast<USHORT>(value);
  if (*in++ != u'-' || !GetHex(in, 4, value)) return CO_E_CLASSSTRING;
  id.Data3 = static_cast<USHORT>(value);
  if (*in++ != u'-') return CO_E_CLASSSTRING;
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && *in++ != u'-') return CO_E_CLASSSTRING;
    if (!GetHex(in, 2, value)) return CO_E_CLASSSTRING;
    id.Data4[i] = static_cast<BYTE>(value);
  }
  if (*in++ != u'}' || *in != u'\0') return CO_E_CLASSSTRING;
  *pclsid = id;
  return S_OK;
}
