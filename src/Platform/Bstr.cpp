// BSTR allocation (OleAuto.h).
//
// Block layout, one malloc block per BSTR:
//   OFFSET      SIZE  FIELD
//     0           4   byte count cb of the text (not counting the terminator)
//     4          cb   the text: UTF-16 code units (cb may be odd for byte BSTRs)
//     4 + cb      2   two zero bytes, so that the text reads NUL-terminated
// The BSTR points at offset 4. Embedded NULs are allowed; only the count says
// where the text ends. A null BSTR is the empty text. Every BSTR of the process
// comes from this library, so a BSTR allocated by the server may be freed by a
// client and the other way round.
#include <cstdlib>
#include <cstring>
#include <string>

#include "Platform/OleAuto.h"

namespace {

constexpr std::size_t kPrefixSize = sizeof(UINT);
// Largest byte count accepted: keeps the block size and every character
// count representable in an int, as the Windows allocator does.
constexpr UINT kMaxByteLen = 0x7FFFFFF0u;

unsigned char* BlockOf(BSTR bstr) {
  return reinterpret_cast<unsigned char*>(bstr) - kPrefixSize;
}

UINT ByteLenOf(BSTR bstr) {
  UINT cb;
  std::memcpy(&cb, BlockOf(bstr), kPrefixSize);
  return cb;
}

// Allocates a BSTR of cb bytes copied from pSrc, or zero bytes when pSrc is
// null. Null when cb is too large or memory is exhausted.
BSTR AllocBytes(const void* pSrc, UINT cb) {
  if (cb > kMaxByteLen) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefixSize + cb + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &cb, kPrefixSize);
  unsigned char* text = block + kPrefixSize;
  if (pSrc != nullptr)
    std::memcpy(text, pSrc, cb);
  else
    std::memset(text, 0, cb);
  text[cb] = 0;
  text[cb + 1] = 0;
  return reinterpret_cast<BSTR>(text);
}

// Replaces *pbstr with a new BSTR of len characters: copied from psz, or, for
// a null psz, the old text as far as it reaches and zeros after it. psz may
// point into the old BSTR: the new one is built before the old one is freed.
int Reallocate(BSTR* pbstr, const OLECHAR* psz, UINT len) {
  if (pbstr == nullptr || len > kMaxByteLen / sizeof(OLECHAR)) return FALSE;
  BSTR fresh = AllocBytes(psz, len * static_cast<UINT>(sizeof(OLECHAR)));
  if (fresh == nullptr) return FALSE;
  if (psz == nullptr && *pbstr != nullptr) {
    UINT keep = SysStringLen(*pbstr);
    if (keep > len) keep = len;
    std::memcpy(fresh, *pbstr, keep * sizeof(OLECHAR));
  }
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  std::size_t len = std::char_traits<OLECHAR>::length(psz);
  if (len > kMaxByteLen / sizeof(OLECHAR)) return nullptr;
  return AllocBytes(psz, static_cast<UINT>(len * sizeof(OLECHAR)));
}

BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) {
  if (cch > kMaxByteLen / sizeof(OLECHAR)) return nullptr;
  return AllocBytes(pch, cch * static_cast<UINT>(sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(const char* psz, UINT cbLen) {
  return AllocBytes(psz, cbLen);
}

void SysFreeString(BSTR bstr) {
  if (bstr != nullptr) std::free(BlockOf(bstr));
}

UINT SysStringLen(BSTR bstr) {
  return bstr == nullptr ? 0 : ByteLenOf(bstr) / static_cast<UINT>(sizeof(OLECHAR));
}

UINT SysStringByteLen(BSTR bstr) {
  return bstr == nullptr ? 0 : ByteLenOf(bstr);
}

int SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
  if (pbstr == nullptr) return FALSE;
  if (psz == nullptr) {
    SysFreeString(*pbstr);
    *pbstr = nullptr;
    return TRUE;
  }
  std::size_t len = std::char_traits<OLECHAR>::length(psz);
  if (len > kMaxByteLen / sizeof(OLECHAR)) return FALSE;
  return Reallocate(pbstr, psz, static_cast<UINT>(len));
}

int SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
  return Reallocate(pbstr, psz, len);
}
