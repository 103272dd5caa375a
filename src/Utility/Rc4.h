// Utility: the RC4 stream cipher.
//
// The field cipher keys one RC4 state per value (a 16-byte key, the MD5 digest
// of the secret, salt and counter) and runs one continuing key stream over the
// value's bytes: enciphering a buffer in two calls gives the same bytes as in
// one. Enciphering and deciphering are the same operation.
//
// The state is a plain value (trivially copyable); not thread-safe per state.
#pragma once

#include <cstddef>
#include <type_traits>

#include "Platform/WinTypes.h"

struct Rc4State {
  BYTE s[256];  // the permutation
  BYTE i, j;    // stream indices
};

static_assert(std::is_trivially_copyable_v<Rc4State>);

// Key setup (KSA) with keyLen bytes at key; the field cipher uses 16. Only the
// first 256 key bytes take part, as in every RC4 implementation. An empty key
// (keyLen 0, key may be null) has no RC4 meaning; it is treated as the
// one-byte key {0} so that the setup never divides by zero.
void Rc4Init(Rc4State& state, const BYTE* key, std::size_t keyLen);

// XORs the next len key-stream bytes into data, in place.
void Rc4Crypt(Rc4State& state, BYTE* data, std::size_t len);

// XORs the next len key-stream bytes into in, writing to out. in and out may
// be the same buffer; otherwise they must not overlap.
void Rc4Crypt(Rc4State& state, const BYTE* in, BYTE* out, std::size_t len);
