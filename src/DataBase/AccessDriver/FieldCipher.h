// FieldCipher: the cipher state of one database and the encryption of the
// values of encrypted fields (the loaders and savers pass every such value
// through the cipher of the record's database).
//
// Stored value: a text column holding the Base64 text (standard alphabet, "="
// padding, no line breaks) of these raw bytes, integers little-endian:
//   OFFSET  SIZE  FIELD
//      0      8   salt in force when the value was written
//      8      4   value counter of this encryption
//     12      n   plain bytes, RC4-enciphered
//   12+n     16   format 1.1 only: MAC, RC4-enciphered (the stream continues
//                 from the plain bytes)
// Raw length m = n + 12 (format 1.0) or n + 28 (1.1); text length 4*ceil(m/3).
//
// Keys: K = MD5(S || salt || counter), computed by copying the key state S
// (the MD5 context after hashing the secret), feeding it salt and counter as
// stored and finishing it; K is the 16-byte RC4 key of that one value.
// MAC = MD5(S || MD5(S || plain || record name || field name || id bytes)),
// where the id bytes are the UTF-16LE code units of a VT_BSTR id value, the
// four bytes of a VT_I4 one, and nothing for any other VARIANT.
//
// Formats: the upper 16 bits of a driver version select the format, 0x0100
// for 1.0 (no MAC) and 0x0101 for 1.1 (with MAC). A database reads in the
// format of its stored version and writes in that of its target version.
//
// Salt and counter only need to be unique per value under one secret: every
// reader takes them from the stored value. Each FieldCipher therefore starts
// with a random salt and a random counter, so that two database objects with
// the same secret never encipher under the same RC4 key.
//
// Not thread-safe: the database that owns the cipher is used by one thread at
// a time. Key-derived material (per-value keys, RC4 states, deciphered
// buffers) is wiped before the operations return; the key states themselves
// are wiped by the destructor.
#pragma once

#include <string.h>  // explicit_bzero

#include <cstddef>
#include <string_view>

#include "Platform/OleAuto.h"
#include "Platform/WinTypes.h"
#include "Utility/Md5.h"

inline constexpr std::size_t kCipherSaltSize = 8;
inline constexpr std::size_t kCipherCounterSize = 4;
inline constexpr std::size_t kCipherHeaderSize = kCipherSaltSize + kCipherCounterSize;  // 12
inline constexpr std::size_t kCipherMacSize = kMd5DigestSize;                           // 16
inline constexpr std::size_t kCipherKeySize = kMd5DigestSize;                           // 16
// Characters of stored text that Decrypt converts and decodes at a time.
inline constexpr std::size_t kCipherPieceChars = 1024;

// The formats, as the upper 16 bits of a driver version.
inline constexpr ULONG kCipherFormat10 = 0x0100;
inline constexpr ULONG kCipherFormat11 = 0x0101;

// Characters of the stored text of n plain bytes in the larger format (1.1):
// 4 * ceil((n + 28) / 3). 40 for 1 or 2 bytes, 44 for 4, 48 for 8.
constexpr std::size_t EncryptedTextLength(std::size_t n) {
  return (n + kCipherHeaderSize + kCipherMacSize + 2) / 3 * 4;
}

// Bytes of the output buffer that Encrypt needs for n plain bytes in either
// format: the text of format 1.1 and its NUL.
constexpr std::size_t EncryptedBufferSize(std::size_t n) {
  return EncryptedTextLength(n) + 1;
}

// Characters of a stored text that the loaders and savers handle in fixed
// buffers on their stack (the plain bytes of such a value are fewer); longer
// values take a buffer of their size.
inline constexpr std::size_t kStackTextChars = 512;

// Overwrites len bytes at p (which may be null when len is 0) with zeros in
// a way the compiler may not drop because the memory is dead afterwards.
inline void WipeBytes(void* p, std::size_t len) {
  if (len != 0) explicit_bzero(p, len);
}

// True when every byte of text is ASCII: then its UTF-8, Windows-1252 and
// UTF-16 forms have the same characters, one byte each.
inline bool IsAsciiText(std::string_view text) {
  unsigned char any = 0;
  for (const char c : text) any = static_cast<unsigned char>(any | static_cast<unsigned char>(c));
  return any < 0x80;
}

class FieldCipher {
 public:
  // Zero key states (values are enciphered with keys derived from the
  // all-zero MD5 context until a secret is set), a random salt and a random
  // counter. Raises std::system_error when the system has no random source.
  FieldCipher();
  ~FieldCipher();

  FieldCipher(const FieldCipher&) = delete;
  FieldCipher& operator=(const FieldCipher&) = delete;

  // Sets the secret: the write key state becomes MD5-initialised and fed the
  // ulSecretLength bytes at pSecret, the read key state a copy of it. When
  // pRandom is given and ulRandomLength >= 8, its first 8 bytes become the
  // salt; otherwise the salt stays. The counter is not reset. pSecret may be
  // null when ulSecretLength is 0.
  void SetSecret(const BYTE* pSecret, ULONG ulSecretLength, const BYTE* pRandom,
                 ULONG ulRandomLength);

  // The read key state, for a change of secret: the caller keeps the old
  // one, sets the new secret, and reads with the old state while it rewrites
  // the values under the new one.
  const Md5Context& GetReadKeyState() const { return m_readKeyState; }
  void SetReadKeyState(const Md5Context& state) { m_readKeyState = state; }
  const Md5Context& GetWriteKeyState() const { return m_writeKeyState; }
  void SetWriteKeyState(const Md5Context& state) { m_writeKeyState = state; }

  // Everything a change of secret replaces: both key states and the salt.
  // The counter is not part of it: it only ever moves on, so that no
  // (salt, counter) pair is used twice under one key, even across a change
  // that was undone. The destructor wipes the copy.
  struct KeyStates {
    Md5Context write{};
    Md5Context read{};
    BYTE salt[kCipherSaltSize]{};
    KeyStates() = default;
    KeyStates(const KeyStates&) = default;
    KeyStates& operator=(const KeyStates&) = default;
    ~KeyStates();
  };
  // A copy of the key states and the salt, to put back with
  // RestoreKeyStates after a change that failed.
  KeyStates SaveKeyStates() const;
  void RestoreKeyStates(const KeyStates& states);

  // Enciphers the ulPlainLength bytes at pPlain for the field fieldName of
  // the record recordName whose first id field holds vtId, in the format of
  // ulTargetDriverVersion, and writes the NUL-terminated text to pszOut.
  // REQUIRES: pszOut holds EncryptedBufferSize(ulPlainLength) bytes and does
  // not overlap pPlain.
  // Raises vem_error (E_INVALIDARG) for a version of neither format; the
  // buffer and the counter are then untouched. Allocates nothing.
  void Encrypt(std::string_view recordName, std::string_view fieldName, const VARIANT& vtId,
               char* pszOut, const BYTE* pPlain, ULONG ulPlainLength, ULONG ulTargetDriverVersion);

  // Deciphers the stored value vtStored of the field fieldName of the record
  // recordName whose first id field holds vtId, in the format of
  // ulStoredDriverVersion, writing at most ulCapacity plain bytes to pOut.
  // Answers the number of plain bytes delivered (min(plain length,
  // ulCapacity)).
  // Format 1.1: the MAC is checked over all plain bytes, however many fit.
  // Raises vem_error with code 0 and
  //   "only BSTR types allowed as encrypted values" when vtStored is no
  //     VT_BSTR;
  //   "no MAC at all found in database" for an empty text or one too short to
  //     hold a MAC;
  //   "illegal MAC found in database" when the MAC differs, and for a text
  //     that is no Base64 or too short for its header.
  // On every error the bytes already delivered to pOut are zeroed.
  // Format 1.0: answers 0 for a non-BSTR value, a text that is no Base64 or
  // one shorter than its header. A version of neither format raises
  // vem_error (E_INVALIDARG) naming field, record and version, and leaves
  // pOut untouched. Works in fixed buffers of kCipherPieceChars; allocates
  // nothing.
  LONG Decrypt(std::string_view recordName, std::string_view fieldName, const VARIANT& vtId,
               const VARIANT& vtStored, BYTE* pOut, ULONG ulCapacity,
               ULONG ulStoredDriverVersion) const;

  // Decrypt of a stored text given in single-byte characters, one for each
  // character of the stored text (its Windows-1252 form; an ASCII text as
  // the engine keeps it), without a BSTR: the same results and errors as
  // Decrypt of a VT_BSTR holding those characters. Allocates nothing.
  LONG DecryptText(std::string_view recordName, std::string_view fieldName, const VARIANT& vtId,
                   std::string_view storedText, BYTE* pOut, ULONG ulCapacity,
                   ULONG ulStoredDriverVersion) const;

  // The MAC of n plain bytes under the key state keyState (see above).
  static void ComputeMac(const Md5Context& keyState, const BYTE* pPlain, std::size_t n,
                         std::string_view recordName, std::string_view fieldName,
                         const VARIANT& vtId, BYTE mac[kCipherMacSize]);

  // Test hook: sets the salt and the counter (the next Encrypt uses
  // ulCounter + 1), so that a test can pin the exact stored bytes.
  void TEST_SetSaltAndCounter(const BYTE salt[kCipherSaltSize], ULONG ulCounter);

 private:
  // Decrypt of length characters at text (UTF-16 units or single-byte
  // characters); bIsText false for a stored value that is no text.
  template <class Char>
  LONG DecryptChars(std::string_view recordName, std::string_view fieldName, const VARIANT& vtId,
                    const Char* text, std::size_t length, bool bIsText, BYTE* pOut,
                    ULONG ulCapacity, ULONG ulStoredDriverVersion) const;

  Md5Context m_writeKeyState;    // derives keys and MACs when writing
  Md5Context m_readKeyState;     // derives keys and checks MACs when reading
  BYTE m_salt[kCipherSaltSize];  // stored in front of every value written
  ULONG m_ulCounter;             // incremented before each encryption; wraps
};
