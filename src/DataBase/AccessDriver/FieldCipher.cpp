// FieldCipher: salted RC4 under MD5-derived keys, with a MAC over value,
// record, field and id, stored as Base64 text (layout in FieldCipher.h).
#include "DataBase/AccessDriver/FieldCipher.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "DataBase/AccessDriver/DaoException.h"
#include "Platform/Random.h"
#include "Utility/Base64.h"
#include "Utility/Coding.h"
#include "Utility/Rc4.h"

namespace {

constexpr char kOnlyBstrText[] = "only BSTR types allowed as encrypted values";
constexpr char kNoMacText[] = "no MAC at all found in database";
constexpr char kIllegalMacText[] = "illegal MAC found in database";

// Overwrites len bytes at p with zeros in a way the compiler may not drop
// because the memory is dead afterwards.
void SecureWipe(void* p, std::size_t len) {
  WipeBytes(p, len);
}

// Wipes one object (key, RC4 state, MD5 context, buffer) on every way out of
// the scope that declares it.
template <typename T>
class WipeOnExit {
 public:
  explicit WipeOnExit(T& obj) : m_obj(obj) {}
  ~WipeOnExit() { SecureWipe(&m_obj, sizeof(T)); }
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;

 private:
  T& m_obj;
};

// Wipes the first `used` bytes of a buffer on exit, `used` read at that time,
// for a large buffer of which only a part may have been written.
class WipeRangeOnExit {
 public:
  WipeRangeOnExit(BYTE* pBuffer, const std::size_t& used) : m_pBuffer(pBuffer), m_used(used) {}
  ~WipeRangeOnExit() { SecureWipe(m_pBuffer, m_used); }
  WipeRangeOnExit(const WipeRangeOnExit&) = delete;
  WipeRangeOnExit& operator=(const WipeRangeOnExit&) = delete;

 private:
  BYTE* m_pBuffer;
  const std::size_t& m_used;
};

// 0x0100, 0x0101 or anything else: the format named by a driver version.
ULONG FormatOf(ULONG ulDriverVersion) {
  return ulDriverVersion >> 16;
}

// K = MD5(keyState || salt || counter) as the RC4 state of one value.
void InitValueCipher(const Md5Context& keyState, const BYTE* pSaltAndCounter, Rc4State& rc4) {
  Md5Context ctx = keyState;
  WipeOnExit wipeCtx(ctx);
  Md5Update(ctx, pSaltAndCounter, kCipherHeaderSize);
  BYTE key[kCipherKeySize];
  WipeOnExit wipeKey(key);
  Md5Final(ctx, key);
  Rc4Init(rc4, key, kCipherKeySize);
}

// Feeds the id bytes of vtId: UTF-16LE code units of a VT_BSTR, the four
// bytes of a VT_I4, nothing otherwise.
void UpdateWithId(Md5Context& ctx, const VARIANT& vtId) {
  if (vtId.vt == VT_BSTR) {
    const BSTR bstr = vtId.bstrVal;
    const std::size_t units = SysStringLen(bstr);
    BYTE chunk[256];
    for (std::size_t done = 0; done < units;) {
      const std::size_t count = std::min(units - done, sizeof(chunk) / 2);
      for (std::size_t i = 0; i < count; ++i)
        EncodeFixed16(chunk + 2 * i, static_cast<std::uint16_t>(bstr[done + i]));
      Md5Update(ctx, chunk, 2 * count);
      done += count;
    }
  } else if (vtId.vt == VT_I4) {
    BYTE bytes[kFixed32Size];
    EncodeFixed32(bytes, static_cast<std::uint32_t>(vtId.lVal));
    Md5Update(ctx, bytes, sizeof(bytes));
  }
}

// Completes a MAC whose inner context (a copy of keyState) has already been
// fed the plain bytes: adds names and id, finishes, and hashes the inner
// digest under keyState again. Clears inner.
void FinishMac(Md5Context& inner, const Md5Context& keyState, std::string_view recordName,
               std::string_view fieldName, const VARIANT& vtId, BYTE mac[kCipherMacSize]) {
  Md5Update(inner, recordName.data(), recordName.size());
  Md5Update(inner, fieldName.data(), fieldName.size());
  UpdateWithId(inner, vtId);
  BYTE digest[kMd5DigestSize];
  WipeOnExit wipeDigest(digest);
  Md5Final(inner, digest);
  Md5Context outer = keyState;
  WipeOnExit wipeOuter(outer);
  Md5Update(outer, digest, sizeof(digest));
  Md5Final(outer, mac);
}

// Compares two MACs in time independent of where they differ.
bool MacsEqual(const BYTE* a, const BYTE* b) {
  volatile BYTE diff = 0;
  for (std::size_t i = 0; i < kCipherMacSize; ++i) diff = diff | static_cast<BYTE>(a[i] ^ b[i]);
  return diff == 0;
}

// Receives the deciphered bytes after the header, in order, and delivers them
// to the caller's buffer while room remains. With a MAC (format 1.1) it holds
// back the last 16 bytes seen, since only the end of the stream tells which
// bytes are the MAC, and feeds every byte it lets go to the MAC's inner
// context: the MAC covers all plain bytes even when the buffer holds fewer.
class PlainSink {
 public:
  PlainSink(BYTE* pOut, std::size_t capacity, Md5Context* pInnerMac)
      : m_pOut(pOut), m_capacity(pOut != nullptr ? capacity : 0), m_pInnerMac(pInnerMac) {}
  ~PlainSink() { SecureWipe(m_tail, sizeof(m_tail)); }

  PlainSink(const PlainSink&) = delete;
  PlainSink& operator=(const PlainSink&) = delete;

  void Put(const BYTE* p, std::size_t n) {
    if (m_pInnerMac == nullptr) {
      Release(p, n);
    } else if (n >= kCipherMacSize) {
      Release(m_tail, m_tailLen);
      Release(p, n - kCipherMacSize);
      std::memcpy(m_tail, p + n - kCipherMacSize, kCipherMacSize);
      m_tailLen = kCipherMacSize;
    } else if (n > 0) {
      const std::size_t spill = m_tailLen + n > kCipherMacSize ? m_tailLen + n - kCipherMacSize : 0;
      Release(m_tail, spill);
      std::memmove(m_tail, m_tail + spill, m_tailLen - spill);
      m_tailLen -= spill;
      std::memcpy(m_tail + m_tailLen, p, n);
      m_tailLen += n;
    }
  }

  // Bytes deciphered after the header (plain bytes and, in 1.1, the MAC).
  std::size_t StreamLength() const { return m_released + m_tailLen; }
  std::size_t Delivered() const { return m_delivered; }
  // The held-back bytes: the MAC once the stream is complete and at least 16
  // bytes long.
  const BYTE* Tail() const { return m_tail; }
  // Zeroes what was delivered, so that a value that failed its check leaves
  // no unauthenticated bytes in the caller's buffer.
  void WipeDelivered() {
    if (m_delivered > 0) SecureWipe(m_pOut, m_delivered);
  }

 private:
  void Release(const BYTE* p, std::size_t n) {
    if (n == 0) return;
    if (m_pInnerMac != nullptr) Md5Update(*m_pInnerMac, p, n);
    const std::size_t copy = std::min(n, m_capacity - m_delivered);
    if (copy > 0) std::memcpy(m_pOut + m_delivered, p, copy);
    m_delivered += copy;
    m_released += n;
  }

  BYTE* m_pOut;  // caller's buffer, m_capacity bytes
  std::size_t m_capacity;
  Md5Context* m_pInnerMac;  // null in format 1.0
  std::size_t m_delivered = 0;
  std::size_t m_released = 0;
  BYTE m_tail[kCipherMacSize] = {};
  std::size_t m_tailLen = 0;
};

enum class DecodeResult { kOk, kNotBase64, kShortHeader };

// The single-byte form of one character of the stored text. Only ASCII
// characters can be Base64 digits, and no other character has an ASCII
// byte in Windows-1252, so every other character becomes "?", which the
// decoder rejects as any other non-alphabet byte.
inline BYTE NarrowChar(char16_t c) {
  return c < 0x80 ? static_cast<BYTE>(c) : static_cast<BYTE>('?');
}
inline BYTE NarrowChar(char c) {
  return static_cast<unsigned char>(c) < 0x80 ? static_cast<BYTE>(c) : static_cast<BYTE>('?');
}

// Converts, decodes and deciphers the stored text (length characters at
// text, UTF-16 units or single-byte characters) piece by piece into sink.
// The text's pieces of kCipherPieceChars characters are decoded separately
// (as they always have been), so a piece other than the last one must not
// carry padding: Base64Decode accepts "=" at the end of whatever it is given.
template <class Char>
DecodeResult DecodeStoredText(const Md5Context& readKeyState, const Char* text, std::size_t length,
                              PlainSink& sink) {
  BYTE piece[kCipherPieceChars];
  std::size_t pieceUsed = 0;  // bytes of piece written so far; wiped on exit
  WipeRangeOnExit wipePiece(piece, pieceUsed);
  Rc4State rc4;
  WipeOnExit wipeRc4(rc4);
  for (std::size_t pos = 0; pos < length;) {
    const std::size_t chars = std::min(kCipherPieceChars, length - pos);
    pieceUsed = std::max(pieceUsed, chars);
    for (std::size_t i = 0; i < chars; ++i) piece[i] = NarrowChar(text[pos + i]);
    const bool first = pos == 0;
    pos += chars;
    if (pos < length && piece[chars - 1] == '=') return DecodeResult::kNotBase64;
    std::size_t decoded = 0;
    if (!Base64Decode(std::string_view(reinterpret_cast<const char*>(piece), chars), piece,
                      &decoded)) {
      return DecodeResult::kNotBase64;
    }
    BYTE* pData = piece;
    if (first) {
      if (decoded < kCipherHeaderSize) return DecodeResult::kShortHeader;
      InitValueCipher(readKeyState, piece, rc4);
      pData += kCipherHeaderSize;
      decoded -= kCipherHeaderSize;
    }
    Rc4Crypt(rc4, pData, decoded);
    sink.Put(pData, decoded);
  }
  return DecodeResult::kOk;
}

// A driver version whose upper 16 bits name neither format: reading the
// value with a guessed format would give garbage (or nothing) silently.
[[noreturn]] void ThrowUnknownFormat(const char* szWhat, std::string_view recordName,
                                     std::string_view fieldName, ULONG ulDriverVersion) {
  char szVersion[16];
  std::snprintf(szVersion, sizeof(szVersion), "0x%08X", ulDriverVersion);
  throw vem_error("cannot " + std::string(szWhat) + " the value of field '" +
                      std::string(fieldName) + "' of table '" + std::string(recordName) +
                      "': driver version " + szVersion +
                      " names no format of encrypted values that this driver knows (0x0100 or "
                      "0x0101 expected in its upper 16 bits)",
                  E_INVALIDARG);
}

LONG ClampToLong(std::size_t n) {
  return static_cast<LONG>(std::min<std::size_t>(n, 0x7FFFFFFF));
}

}  // namespace

FieldCipher::FieldCipher() : m_writeKeyState{}, m_readKeyState{}, m_salt{}, m_ulCounter(0) {
  BYTE random[kCipherSaltSize + kCipherCounterSize];
  platform::RandomBytes(random, sizeof(random));
  std::memcpy(m_salt, random, kCipherSaltSize);
  m_ulCounter = DecodeFixed32(random + kCipherSaltSize);
  SecureWipe(random, sizeof(random));
}

FieldCipher::~FieldCipher() {
  SecureWipe(&m_writeKeyState, sizeof(m_writeKeyState));
  SecureWipe(&m_readKeyState, sizeof(m_readKeyState));
}

FieldCipher::KeyStates::~KeyStates() {
  SecureWipe(this, sizeof(*this));
}

FieldCipher::KeyStates FieldCipher::SaveKeyStates() const {
  KeyStates states;
  states.write = m_writeKeyState;
  states.read = m_readKeyState;
  std::memcpy(states.salt, m_salt, kCipherSaltSize);
  return states;
}

void FieldCipher::RestoreKeyStates(const KeyStates& states) {
  m_writeKeyState = states.write;
  m_readKeyState = states.read;
  std::memcpy(m_salt, states.salt, kCipherSaltSize);
}

void FieldCipher::SetSecret(const BYTE* pSecret, ULONG ulSecretLength, const BYTE* pRandom,
                            ULONG ulRandomLength) {
  if (pRandom != nullptr && ulRandomLength >= kCipherSaltSize)
    std::memcpy(m_salt, pRandom, kCipherSaltSize);
  SecureWipe(&m_writeKeyState, sizeof(m_writeKeyState));
  Md5Init(m_writeKeyState);
  Md5Update(m_writeKeyState, pSecret, pSecret != nullptr ? ulSecretLength : 0);
  m_readKeyState = m_writeKeyState;
}

void FieldCipher::Encrypt(std::string_view recordName, std::string_view fieldName,
                          const VARIANT& vtId, char* pszOut, const BYTE* pPlain,
                          ULONG ulPlainLength, ULONG ulTargetDriverVersion) {
  const ULONG ulFormat = FormatOf(ulTargetDriverVersion);
  if (ulFormat != kCipherFormat10 && ulFormat != kCipherFormat11)
    ThrowUnknownFormat("encrypt", recordName, fieldName, ulTargetDriverVersion);
  const bool bWithMac = ulFormat == kCipherFormat11;
  const std::size_t n = ulPlainLength;
  const std::size_t m = kCipherHeaderSize + n + (bWithMac ? kCipherMacSize : 0);

  // The raw bytes are assembled where in-place encoding wants them: ending
  // exactly where the text ends (Base64InPlaceOffset), inside the caller's
  // buffer.
  BYTE* pRaw = reinterpret_cast<BYTE*>(pszOut) + Base64InPlaceOffset(m);
  ++m_ulCounter;
  std::memcpy(pRaw, m_salt, kCipherSaltSize);
  EncodeFixed32(pRaw + kCipherSaltSize, m_ulCounter);
  BYTE* pBody = pRaw + kCipherHeaderSize;
  if (n > 0) std::memcpy(pBody, pPlain, n);

  Rc4State rc4;
  WipeOnExit wipeRc4(rc4);
  InitValueCipher(m_writeKeyState, pRaw, rc4);
  if (bWithMac) ComputeMac(m_writeKeyState, pBody, n, recordName, fieldName, vtId, pBody + n);
  Rc4Crypt(rc4, pBody, m - kCipherHeaderSize);

  const std::size_t textLength = Base64Encode(pRaw, m, pszOut);
  pszOut[textLength] = '\0';
}

LONG FieldCipher::Decrypt(std::string_view recordName, std::string_view fieldName,
                          const VARIANT& vtId, const VARIANT& vtStored, BYTE* pOut,
                          ULONG ulCapacity, ULONG ulStoredDriverVersion) const {
  if (vtStored.vt != VT_BSTR) {
    return DecryptChars<char16_t>(recordName, fieldName, vtId, nullptr, 0, false, pOut, ulCapacity,
                                  ulStoredDriverVersion);
  }
  return DecryptChars(recordName, fieldName, vtId, vtStored.bstrVal, SysStringLen(vtStored.bstrVal),
                      true, pOut, ulCapacity, ulStoredDriverVersion);
}

LONG FieldCipher::DecryptText(std::string_view recordName, std::string_view fieldName,
                              const VARIANT& vtId, std::string_view storedText, BYTE* pOut,
                              ULONG ulCapacity, ULONG ulStoredDriverVersion) const {
  return DecryptChars(recordName, fieldName, vtId, storedText.data(), storedText.size(), true, pOut,
                      ulCapacity, ulStoredDriverVersion);
}

template <class Char>
LONG FieldCipher::DecryptChars(std::string_view recordName, std::string_view fieldName,
                               const VARIANT& vtId, const Char* text, std::size_t length,
                               bool bIsText, BYTE* pOut, ULONG ulCapacity,
                               ULONG ulStoredDriverVersion) const {
  const ULONG ulFormat = FormatOf(ulStoredDriverVersion);
  if (ulFormat == kCipherFormat10) {
    if (!bIsText) return 0;
    PlainSink sink(pOut, ulCapacity, nullptr);
    if (DecodeStoredText(m_readKeyState, text, length, sink) != DecodeResult::kOk) return 0;
    return ClampToLong(sink.Delivered());
  }
  if (ulFormat != kCipherFormat11)
    ThrowUnknownFormat("decrypt", recordName, fieldName, ulStoredDriverVersion);

  if (!bIsText) throw vem_error(kOnlyBstrText, 0);
  Md5Context inner = m_readKeyState;
  WipeOnExit wipeInner(inner);
  PlainSink sink(pOut, ulCapacity, &inner);
  if (DecodeStoredText(m_readKeyState, text, length, sink) != DecodeResult::kOk) {
    // Format 1.1 authenticates every value: a text that cannot even be
    // decoded is as forged as one whose MAC differs.
    sink.WipeDelivered();
    throw vem_error(kIllegalMacText, 0);
  }
  if (sink.StreamLength() < kCipherMacSize) {
    sink.WipeDelivered();
    throw vem_error(kNoMacText, 0);
  }
  BYTE mac[kCipherMacSize];
  WipeOnExit wipeMac(mac);
  FinishMac(inner, m_readKeyState, recordName, fieldName, vtId, mac);
  if (!MacsEqual(mac, sink.Tail())) {
    sink.WipeDelivered();
    throw vem_error(kIllegalMacText, 0);
  }
  return ClampToLong(sink.Delivered());
}

void FieldCipher::ComputeMac(const Md5Context& keyState, const BYTE* pPlain, std::size_t n,
                             std::string_view recordName, std::string_view fieldName,
                             const VARIANT& vtId, BYTE mac[kCipherMacSize]) {
  Md5Context inner = keyState;
  WipeOnExit wipeInner(inner);
  Md5Update(inner, pPlain, n);
  FinishMac(inner, keyState, recordName, fieldName, vtId, mac);
}

void FieldCipher::TEST_SetSaltAndCounter(const BYTE salt[kCipherSaltSize], ULONG ulCounter) {
  std::memcpy(m_salt, salt, kCipherSaltSize);
  m_ulCounter = ulCounter;
}
