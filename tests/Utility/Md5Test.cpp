// Tests of the MD5 routines: the RFC 1321 test suite, and agreement with
// OpenSSL's MD5 from any context state (the all-zero one the field cipher
// starts from among them), over data fed in pieces and in copies of a context.
#include "Utility/Md5.h"

#include <gtest/gtest.h>

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> RandomBytes(std::mt19937& rng, std::size_t n) {
  std::vector<BYTE> v(n);
  for (auto& b : v) b = static_cast<BYTE>(rng());
  return v;
}

TEST(Md5, Rfc1321TestSuite) {
  const struct {
    const char* input;
    const char* digest;
  } kCases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : kCases) EXPECT_EQ(Md5DigestToHex(Md5Digest(c.input)), c.digest) << c.input;
}

// Any bit pattern is a usable context (no out-of-range buffer position, no
// undefined behaviour) and hashes as OpenSSL does from the same state, with
// the data fed in random pieces (empty ones included), long inputs among
// them. Round 0 is the all-zero context, a state never initialised (the field
// cipher's key states before a secret is set: keys of values written then
// depend on it); every eighth round the initial state; a quarter of the rest
// have a bit count about to wrap.
//
// Then the cipher's pattern: the state, say after hashing a secret, is copied
// and each copy fed a different suffix. Each copy gives the digest of the
// whole, finalising clears it (it holds key material), and the original stays
// as it was.
TEST(Md5, AgreesWithOpensslFromAnyStateInPiecesAndInCopies) {
  std::mt19937_64 rng(99);
  const Md5Context zero{};
  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE(round);
    Md5Context ctx{};
    if (round % 8 == 0 && round != 0) {
      Md5Init(ctx);
    } else if (round != 0) {
      for (auto& w : ctx.state) w = static_cast<std::uint32_t>(rng());
      ctx.bitCount = round % 4 == 1 ? ~std::uint64_t{0} - (rng() % 4096) : rng();
      for (auto& b : ctx.buffer) b = static_cast<BYTE>(rng());
    }
    // OpenSSL's context with the same chaining values, bit count and pending
    // bytes (a little-endian host keeps them in order).
    MD5_CTX theirs{};
    theirs.A = ctx.state[0];
    theirs.B = ctx.state[1];
    theirs.C = ctx.state[2];
    theirs.D = ctx.state[3];
    theirs.Nl = static_cast<MD5_LONG>(ctx.bitCount);
    theirs.Nh = static_cast<MD5_LONG>(ctx.bitCount >> 32);
    theirs.num = static_cast<unsigned>((ctx.bitCount >> 3) % 64);
    std::memcpy(theirs.data, ctx.buffer, theirs.num);

    std::mt19937 bytes(round);
    const auto data = RandomBytes(bytes, rng() % (round < 350 ? 300 : 20000));
    MD5_Update(&theirs, data.data(), data.size());
    for (std::size_t pos = 0; pos < data.size();) {
      const std::size_t piece = std::min<std::size_t>(data.size() - pos, rng() % 150);
      Md5Update(ctx, data.data() + pos, piece);
      pos += piece;
    }

    const Md5Context saved = ctx;
    for (std::size_t suffixLen : {0u, 12u, 59u, 64u, 100u}) {
      const auto suffix = RandomBytes(bytes, suffixLen);
      Md5Context copy = ctx;
      MD5_CTX theirCopy = theirs;
      Md5Update(copy, suffix.data(), suffix.size());
      MD5_Update(&theirCopy, suffix.data(), suffix.size());
      BYTE digest[kMd5DigestSize], expected[MD5_DIGEST_LENGTH];
      Md5Final(copy, digest);
      MD5_Final(expected, &theirCopy);
      ASSERT_EQ(Md5DigestToHex(digest), Md5DigestToHex(expected)) << "suffix " << suffixLen;
      ASSERT_EQ(std::memcmp(&copy, &zero, sizeof(copy)), 0) << "finalised copy not cleared";
    }
    ASSERT_EQ(std::memcmp(&ctx, &saved, sizeof(saved)), 0) << "original changed";
  }
}

}  // namespace
