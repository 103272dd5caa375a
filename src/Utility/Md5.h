// Utility: the MD5 message digest (RFC 1321).
//
// The field cipher keeps the MD5 state after hashing the client's secret and
// derives every key and MAC from copies of it, so the context is a plain,
// trivially copyable value: copy it with `=`, feed the copy, finalise the copy.
//
// Any bit pattern is a valid context. In particular an all-zero context (the
// cipher's key states before a secret is set, `Md5Context ctx{}`) updates and
// finalises deterministically: it runs the same compression function from
// chaining values 0, 0, 0, 0 that RFC 1321 runs from its initial values. Such
// a digest is not "the MD5" of anything, but it is well defined and the same
// on every platform.
//
// Not thread-safe per context; distinct contexts are independent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "Platform/WinTypes.h"

inline constexpr std::size_t kMd5DigestSize = 16;
inline constexpr std::size_t kMd5BlockSize = 64;

struct Md5Context {
  std::uint32_t state[4];      // chaining values A, B, C, D
  std::uint64_t bitCount;      // message length so far in bits, modulo 2^64
  BYTE buffer[kMd5BlockSize];  // pending bytes: the first (bitCount / 8) % 64
};

static_assert(std::is_trivially_copyable_v<Md5Context>);
static_assert(std::is_standard_layout_v<Md5Context>);

// Sets the RFC 1321 initial chaining values and an empty message.
void Md5Init(Md5Context& ctx);

// Appends len bytes at data to the message. data may be null when len is 0.
void Md5Update(Md5Context& ctx, const void* data, std::size_t len);

// Pads the message, writes the 16-byte digest and clears the context (it holds
// key material in the cipher). The context is not needed afterwards; it may be
// reused only after Md5Init or assignment.
void Md5Final(Md5Context& ctx, BYTE digest[kMd5DigestSize]);

// One-shot digest of data (Init, Update, Final).
std::array<BYTE, kMd5DigestSize> Md5Digest(const void* data, std::size_t len);
inline std::array<BYTE, kMd5DigestSize> Md5Digest(std::string_view text) {
  return Md5Digest(text.data(), text.size());
}

// The digest as 32 lower-case hexadecimal digits ("d41d8cd9...").
std::string Md5DigestToHex(const BYTE digest[kMd5DigestSize]);
inline std::string Md5DigestToHex(const std::array<BYTE, kMd5DigestSize>& digest) {
  return Md5DigestToHex(digest.data());
}
