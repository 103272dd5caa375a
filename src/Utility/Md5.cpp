// Utility: the MD5 message digest (RFC 1321), see Md5.h.
//
// The compression function is written out round by round (64 steps, constants
// inline) and processes a run of whole blocks with the chaining values kept in
// locals; Md5Update feeds whole blocks straight from the caller's data and
// only copies a partial block into the context's buffer.
#include "Utility/Md5.h"

#include <bit>
#include <cstring>

#include "Utility/Coding.h"

namespace {

// Reads the little-endian message word at p. memcpy of 4 bytes compiles to a
// single load; on a big-endian host the bytes are swapped afterwards.
inline std::uint32_t LoadWord(const BYTE* p) {
  std::uint32_t w;
  std::memcpy(&w, p, sizeof(w));
  if constexpr (std::endian::native == std::endian::big) {
    w = ((w & 0x000000FFu) << 24) | ((w & 0x0000FF00u) << 8) | ((w & 0x00FF0000u) >> 8) |
        ((w & 0xFF000000u) >> 24);
  }
  return w;
}

// The four auxiliary functions of RFC 1321, in forms with fewer operations:
// F selects y or z by x; G's two terms have no bits in common, so they are
// added (lets the compiler start the second term before the first is ready).
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

#define MD5_STEP(f, a, b, c, d, x, t, s) \
  (a) += f((b), (c), (d)) + (x) + (t);   \
  (a) = std::rotl((a), (s));             \
  (a) += (b)

#define MD5_STEP_G(a, b, c, d, x, t, s)          \
  (a) += ((c) & ~(d)) + (x) + (t) + ((b) & (d)); \
  (a) = std::rotl((a), (s));                     \
  (a) += (b)

// Runs the compression function over nBlocks consecutive 64-byte blocks.
void Md5Blocks(std::uint32_t state[4], const BYTE* p, std::size_t nBlocks) {
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; nBlocks > 0; --nBlocks, p += kMd5BlockSize) {
    const std::uint32_t x0 = LoadWord(p + 0), x1 = LoadWord(p + 4), x2 = LoadWord(p + 8),
                        x3 = LoadWord(p + 12), x4 = LoadWord(p + 16), x5 = LoadWord(p + 20),
                        x6 = LoadWord(p + 24), x7 = LoadWord(p + 28), x8 = LoadWord(p + 32),
                        x9 = LoadWord(p + 36), x10 = LoadWord(p + 40), x11 = LoadWord(p + 44),
                        x12 = LoadWord(p + 48), x13 = LoadWord(p + 52), x14 = LoadWord(p + 56),
                        x15 = LoadWord(p + 60);
    const std::uint32_t aa = a, bb = b, cc = c, dd = d;

    // Round 1
    MD5_STEP(MD5_F, a, b, c, d, x0, 0xd76aa478u, 7);
    MD5_STEP(MD5_F, d, a, b, c, x1, 0xe8c7b756u, 12);
    MD5_STEP(MD5_F, c, d, a, b, x2, 0x242070dbu, 17);
    MD5_STEP(MD5_F, b, c, d, a, x3, 0xc1bdceeeu, 22);
    MD5_STEP(MD5_F, a, b, c, d, x4, 0xf57c0fafu, 7);
    MD5_STEP(MD5_F, d, a, b, c, x5, 0x4787c62au, 12);
    MD5_STEP(MD5_F, c, d, a, b, x6, 0xa8304613u, 17);
    MD5_STEP(MD5_F, b, c, d, a, x7, 0xfd469501u, 22);
    MD5_STEP(MD5_F, a, b, c, d, x8, 0x698098d8u, 7);
    MD5_STEP(MD5_F, d, a, b, c, x9, 0x8b44f7afu, 12);
    MD5_STEP(MD5_F, c, d, a, b, x10, 0xffff5bb1u, 17);
    MD5_STEP(MD5_F, b, c, d, a, x11, 0x895cd7beu, 22);
    MD5_STEP(MD5_F, a, b, c, d, x12, 0x6b901122u, 7);
    MD5_STEP(MD5_F, d, a, b, c, x13, 0xfd987193u, 12);
    MD5_STEP(MD5_F, c, d, a, b, x14, 0xa679438eu, 17);
    MD5_STEP(MD5_F, b, c, d, a, x15, 0x49b40821u, 22);

    // Round 2
    MD5_STEP_G(a, b, c, d, x1, 0xf61e2562u, 5);
    MD5_STEP_G(d, a, b, c, x6, 0xc040b340u, 9);
    MD5_STEP_G(c, d, a, b, x11, 0x265e5a51u, 14);
    MD5_STEP_G(b, c, d, a, x0, 0xe9b6c7aau, 20);
    MD5_STEP_G(a, b, c, d, x5, 0xd62f105du, 5);
    MD5_STEP_G(d, a, b, c, x10, 0x02441453u, 9);
    MD5_STEP_G(c, d, a, b, x15, 0xd8a1e681u, 14);
    MD5_STEP_G(b, c, d, a, x4, 0xe7d3fbc8u, 20);
    MD5_STEP_G(a, b, c, d, x9, 0x21e1cde6u, 5);
    MD5_STEP_G(d, a, b, c, x14, 0xc33707d6u, 9);
    MD5_STEP_G(c, d, a, b, x3, 0xf4d50d87u, 14);
    MD5_STEP_G(b, c, d, a, x8, 0x455a14edu, 20);
    MD5_STEP_G(a, b, c, d, x13, 0xa9e3e905u, 5);
    MD5_STEP_G(d, a, b, c, x2, 0xfcefa3f8u, 9);
    MD5_STEP_G(c, d, a, b, x7, 0x676f02d9u, 14);
    MD5_STEP_G(b, c, d, a, x12, 0x8d2a4c8au, 20);

    // Round 3
    MD5_STEP(MD5_H, a, b, c, d, x5, 0xfffa3942u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x8, 0x8771f681u, 11);
    MD5_STEP(MD5_H, c, d, a, b, x11, 0x6d9d6122u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x14, 0xfde5380cu, 23);
    MD5_STEP(MD5_H, a, b, c, d, x1, 0xa4beea44u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x4, 0x4bdecfa9u, 11);
    MD5_STEP(MD5_H, c, d, a, b, x7, 0xf6bb4b60u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x10, 0xbebfbc70u, 23);
    MD5_STEP(MD5_H, a, b, c, d, x13, 0x289b7ec6u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x0, 0xeaa127fau, 11);
    MD5_STEP(MD5_H, c, d, a, b, x3, 0xd4ef3085u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x6, 0x04881d05u, 23);
    MD5_STEP(MD5_H, a, b, c, d, x9, 0xd9d4d039u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x12, 0xe6db99e5u, 11);
    MD5_STEP(MD5_H, c, d, a, b, x15, 0x1fa27cf8u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x2, 0xc4ac5665u, 23);

    // Round 4
    MD5_STEP(MD5_I, a, b, c, d, x0, 0xf4292244u, 6);
    MD5_STEP(MD5_I, d, a, b, c, x7, 0x432aff97u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x14, 0xab9423a7u, 15);
    MD5_STEP(MD5_I, b, c, d, a, x5, 0xfc93a039u, 21);
    MD5_STEP(MD5_I, a, b, c, d, x12, 0x655b59c3u, 6);
    MD5_STEP(MD5_I, d, a, b, c, x3, 0x8f0ccc92u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x10, 0xffeff47du, 15);
    MD5_STEP(MD5_I, b, c, d, a, x1, 0x85845dd1u, 21);
    MD5_STEP(MD5_I, a, b, c, d, x8, 0x6fa87e4fu, 6);
    MD5_STEP(MD5_I, d, a, b, c, x15, 0xfe2ce6e0u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x6, 0xa3014314u, 15);
    MD5_STEP(MD5_I, b, c, d, a, x13, 0x4e0811a1u, 21);
    MD5_STEP(MD5_I, a, b, c, d, x4, 0xf7537e82u, 6);
    MD5_STEP(MD5_I, d, a, b, c, x11, 0xbd3af235u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x2, 0x2ad7d2bbu, 15);
    MD5_STEP(MD5_I, b, c, d, a, x9, 0xeb86d391u, 21);

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

#undef MD5_F
#undef MD5_H
#undef MD5_I
#undef MD5_STEP
#undef MD5_STEP_G

// Clears the context in a way the compiler may not drop as a dead store: the
// context of a cipher key holds the state after hashing the client's secret.
void WipeContext(Md5Context& ctx) {
  std::memset(&ctx, 0, sizeof(ctx));
  asm volatile("" : : "r"(&ctx) : "memory");
}

}  // namespace

void Md5Init(Md5Context& ctx) {
  ctx.state[0] = 0x67452301u;
  ctx.state[1] = 0xefcdab89u;
  ctx.state[2] = 0x98badcfeu;
  ctx.state[3] = 0x10325476u;
  ctx.bitCount = 0;
  std::memset(ctx.buffer, 0, sizeof(ctx.buffer));
}

void Md5Update(Md5Context& ctx, const void* data, std::size_t len) {
  if (len == 0) return;
  const BYTE* p = static_cast<const BYTE*>(data);
  // Position in the partial block; always below 64 whatever the context held.
  std::size_t used = static_cast<std::size_t>((ctx.bitCount >> 3) & (kMd5BlockSize - 1));
  ctx.bitCount += static_cast<std::uint64_t>(len) << 3;

  if (used != 0) {
    const std::size_t room = kMd5BlockSize - used;
    if (len < room) {
      std::memcpy(ctx.buffer + used, p, len);
      return;
    }
    std::memcpy(ctx.buffer + used, p, room);
    Md5Blocks(ctx.state, ctx.buffer, 1);
    p += room;
    len -= room;
  }
  const std::size_t nBlocks = len / kMd5BlockSize;
  if (nBlocks != 0) {
    Md5Blocks(ctx.state, p, nBlocks);
    p += nBlocks * kMd5BlockSize;
    len -= nBlocks * kMd5BlockSize;
  }
  if (len != 0) std::memcpy(ctx.buffer, p, len);
}

void Md5Final(Md5Context& ctx, BYTE digest[kMd5DigestSize]) {
  // Padding: one 0x80 byte, zeros up to 56 mod 64, then the bit count of the
  // message (before padding) as 8 little-endian bytes.
  const std::uint64_t bitCount = ctx.bitCount;
  std::size_t used = static_cast<std::size_t>((bitCount >> 3) & (kMd5BlockSize - 1));
  ctx.buffer[used++] = 0x80;
  if (used > kMd5BlockSize - kFixed64Size) {
    std::memset(ctx.buffer + used, 0, kMd5BlockSize - used);
    Md5Blocks(ctx.state, ctx.buffer, 1);
    used = 0;
  }
  std::memset(ctx.buffer + used, 0, kMd5BlockSize - kFixed64Size - used);
  EncodeFixed64(ctx.buffer + kMd5BlockSize - kFixed64Size, bitCount);
  Md5Blocks(ctx.state, ctx.buffer, 1);

  for (int i = 0; i < 4; ++i) EncodeFixed32(digest + 4 * i, ctx.state[i]);
  WipeContext(ctx);
}

std::array<BYTE, kMd5DigestSize> Md5Digest(const void* data, std::size_t len) {
  Md5Context ctx;
  Md5Init(ctx);
  Md5Update(ctx, data, len);
  std::array<BYTE, kMd5DigestSize> digest;
  Md5Final(ctx, digest.data());
  return digest;
}

std::string Md5DigestToHex(const BYTE digest[kMd5DigestSize]) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex(2 * kMd5DigestSize, '\0');
  for (std::size_t i = 0; i < kMd5DigestSize; ++i) {
    hex[2 * i] = kHex[digest[i] >> 4];
    hex[2 * i + 1] = kHex[digest[i] & 0x0F];
  }
  return hex;
}
