// Utility: the RC4 stream cipher, see Rc4.h.
#include "Utility/Rc4.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace {

// The identity permutation the key setup starts from.
constexpr std::array<BYTE, 256> MakeIdentity() {
  std::array<BYTE, 256> s{};
  for (int n = 0; n < 256; ++n) s[static_cast<std::size_t>(n)] = static_cast<BYTE>(n);
  return s;
}
constexpr std::array<BYTE, 256> kIdentity = MakeIdentity();

// The key schedule with the key byte of step n given by keyAt(n).
template <typename KeyAt>
inline void Schedule(BYTE* s, KeyAt keyAt) {
  BYTE j = 0;
  for (int n = 0; n < 256; ++n) {
    const BYTE x = s[n];
    j = static_cast<BYTE>(j + x + keyAt(n));
    s[n] = s[j];
    s[j] = x;
  }
}

}  // namespace

void Rc4Init(Rc4State& state, const BYTE* key, std::size_t keyLen) {
  static constexpr BYTE kEmptyKey[1] = {0};
  if (keyLen == 0 || key == nullptr) {
    key = kEmptyKey;
    keyLen = 1;
  }
  BYTE* s = state.s;
  std::memcpy(s, kIdentity.data(), kIdentity.size());
  if (keyLen == 16) {
    // The field cipher's key length: sixteen steps per pass over the key,
    // with the key bytes held in locals.
    BYTE k[16];
    std::memcpy(k, key, sizeof k);
    BYTE j = 0;
    for (int n = 0; n < 256; n += 16) {
      for (int m = 0; m < 16; ++m) {
        const BYTE x = s[n + m];
        j = static_cast<BYTE>(j + x + k[m]);
        s[n + m] = s[j];
        s[j] = x;
      }
    }
  } else {
    std::size_t k = 0;
    Schedule(s, [&](int) {
      const BYTE b = key[k];
      if (++k == keyLen) k = 0;
      return b;
    });
  }
  state.i = 0;
  state.j = 0;
}

namespace {

// One step of the generator (PRGA): advances i and j, swaps, and returns the
// next key-stream byte.
inline BYTE NextByte(BYTE* s, BYTE& i, BYTE& j) {
  i = static_cast<BYTE>(i + 1);
  const BYTE x = s[i];
  j = static_cast<BYTE>(j + x);
  const BYTE y = s[j];
  s[i] = y;
  s[j] = x;
  return s[static_cast<BYTE>(x + y)];
}

}  // namespace

void Rc4Crypt(Rc4State& state, const BYTE* in, BYTE* out, std::size_t len) {
  BYTE* s = state.s;
  BYTE i = state.i;
  BYTE j = state.j;
  // Eight key-stream bytes are gathered into one word and XORed with one
  // load and one store; the word is built little-endian so that its first
  // byte meets the first data byte on any host.
  while (len >= 8) {
    std::uint64_t ks = 0;
    for (int n = 0; n < 8; ++n) ks |= static_cast<std::uint64_t>(NextByte(s, i, j)) << (8 * n);
    std::uint64_t word;
    std::memcpy(&word, in, sizeof(word));
    if constexpr (std::endian::native == std::endian::big) ks = __builtin_bswap64(ks);
    word ^= ks;
    std::memcpy(out, &word, sizeof(word));
    in += 8;
    out += 8;
    len -= 8;
  }
  for (; len > 0; --len) *out++ = static_cast<BYTE>(*in++ ^ NextByte(s, i, j));
  state.i = i;
  state.j = j;
}

void Rc4Crypt(Rc4State& state, BYTE* data, std::size_t len) {
  Rc4Crypt(state, data, data, len);
}
