// Tests of the MD5 routines: the RFC 1321 test suite, agreement with OpenSSL's
// MD5 over random inputs fed in random pieces, the block-boundary cases of
// Update and Final, copies of a context mid-stream, and contexts that were
// never initialised (all zero, as the field cipher's key states start out).
#include "Utility/Md5.h"

#include <gtest/gtest.h>

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Hex(const BYTE* digest) {
  return Md5DigestToHex(digest);
}

std::string OurMd5(const std::vector<BYTE>& data) {
  return Md5DigestToHex(Md5Digest(data.data(), data.size()));
}

std::string OpensslMd5(const std::vector<BYTE>& data) {
  BYTE digest[MD5_DIGEST_LENGTH];
  MD5(data.data(), data.size(), digest);
  return Hex(digest);
}

// OpenSSL's context holding the same state as ours: the chaining values, the
// bit count and the pending bytes. Lets both implementations start from any
// state, not only the initial one.
MD5_CTX ToOpenssl(const Md5Context& ctx) {
  MD5_CTX o;
  std::memset(&o, 0, sizeof(o));
  o.A = ctx.state[0];
  o.B = ctx.state[1];
  o.C = ctx.state[2];
  o.D = ctx.state[3];
  o.Nl = static_cast<MD5_LONG>(ctx.bitCount);
  o.Nh = static_cast<MD5_LONG>(ctx.bitCount >> 32);
  o.num = static_cast<unsigned>((ctx.bitCount >> 3) % 64);
  std::memcpy(o.data, ctx.buffer, o.num);  // little-endian host: bytes in order
  return o;
}

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
  for (const auto& c : kCases) {
    EXPECT_EQ(Md5DigestToHex(Md5Digest(c.input)), c.digest) << '"' << c.input << '"';

    // The same text fed one byte at a time.
    Md5Context ctx;
    Md5Init(ctx);
    for (const char* p = c.input; *p != '\0'; ++p) Md5Update(ctx, p, 1);
    BYTE digest[kMd5DigestSize];
    Md5Final(ctx, digest);
    EXPECT_EQ(Hex(digest), c.digest) << "bytewise \"" << c.input << '"';
  }
}

TEST(Md5, MillionAs) {
  const std::string chunk(1000, 'a');
  Md5Context ctx;
  Md5Init(ctx);
  for (int i = 0; i < 1000; ++i) Md5Update(ctx, chunk.data(), chunk.size());
  BYTE digest[kMd5DigestSize];
  Md5Final(ctx, digest);
  EXPECT_EQ(Hex(digest), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, AgreesWithOpensslOnRandomInputsInRandomPieces) {
  std::mt19937 rng(1321);
  for (int round = 0; round < 400; ++round) {
    const std::size_t len = rng() % (round < 300 ? 300 : 20000);
    const auto data = RandomBytes(rng, len);
    const std::string expected = OpensslMd5(data);
    ASSERT_EQ(OurMd5(data), expected) << "length " << len;

    Md5Context ctx;
    Md5Init(ctx);
    for (std::size_t pos = 0; pos < len;) {
      const std::size_t piece = std::min<std::size_t>(len - pos, rng() % 150);
      Md5Update(ctx, data.data() + pos, piece);  // pieces of 0 bytes included
      pos += piece;
    }
    BYTE digest[kMd5DigestSize];
    Md5Final(ctx, digest);
    ASSERT_EQ(Hex(digest), expected) << "pieces, length " << len;
  }
}

// Lengths around the block size and the 56-byte padding limit, each split at
// every offset.
TEST(Md5, SplitAtEveryOffsetAroundBlockBoundaries) {
  std::mt19937 rng(64);
  for (std::size_t len :
       {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 121u, 127u, 128u, 129u, 191u, 192u, 193u}) {
    const auto data = RandomBytes(rng, len);
    const std::string expected = OpensslMd5(data);
    for (std::size_t split = 0; split <= len; ++split) {
      Md5Context ctx;
      Md5Init(ctx);
      Md5Update(ctx, data.data(), split);
      Md5Update(ctx, data.data() + split, len - split);
      BYTE digest[kMd5DigestSize];
      Md5Final(ctx, digest);
      ASSERT_EQ(Hex(digest), expected) << "length " << len << " split " << split;
    }
  }
}

// The cipher's pattern: a key state after hashing a secret, copied and fed
// with different suffixes. Each copy gives the digest of prefix + its suffix,
// and finalising a copy leaves the original usable.
TEST(Md5, CopiesOfAContextMidStreamAreIndependent) {
  std::mt19937 rng(5);
  for (std::size_t prefixLen : {0u, 5u, 16u, 63u, 64u, 70u, 200u}) {
    const auto prefix = RandomBytes(rng, prefixLen);
    Md5Context keyState;
    Md5Init(keyState);
    Md5Update(keyState, prefix.data(), prefix.size());
    const Md5Context saved = keyState;

    for (std::size_t suffixLen : {0u, 12u, 59u, 64u, 100u}) {
      const auto suffix = RandomBytes(rng, suffixLen);
      Md5Context copy = keyState;
      Md5Update(copy, suffix.data(), suffix.size());
      BYTE digest[kMd5DigestSize];
      Md5Final(copy, digest);

      std::vector<BYTE> whole = prefix;
      whole.insert(whole.end(), suffix.begin(), suffix.end());
      EXPECT_EQ(Hex(digest), OpensslMd5(whole)) << prefixLen << "+" << suffixLen;
    }
    EXPECT_EQ(std::memcmp(&keyState, &saved, sizeof(saved)), 0) << "original changed";
  }
}

TEST(Md5, FinalClearsTheContext) {
  Md5Context ctx;
  Md5Init(ctx);
  Md5Update(ctx, "secret", 6);
  BYTE digest[kMd5DigestSize];
  Md5Final(ctx, digest);
  const Md5Context zero{};
  EXPECT_EQ(std::memcmp(&ctx, &zero, sizeof(ctx)), 0);
}

// A context that was never initialised is all zero (the field cipher's key
// states start out so); any state hashing as OpenSSL does is checked below.
TEST(Md5, AllZeroContextIsAWellDefinedState) {
  // Fixed values: keys of values written before a secret was set depend on them.
  Md5Context empty{};
  BYTE digest[kMd5DigestSize];
  Md5Final(empty, digest);
  EXPECT_EQ(Hex(digest), "b0e641c998cc3eae6fa2f8726d98cddd");

  Md5Context saltAndCounter{};
  Md5Update(saltAndCounter, "saltsalt", 8);
  Md5Update(saltAndCounter, "ctr1", 4);
  Md5Final(saltAndCounter, digest);
  EXPECT_EQ(Hex(digest), "9a7d7c6de9486a03ea87b69b346f6d28");
}

// Any bit pattern is a usable context (no out-of-range buffer position, no
// undefined behaviour), and it hashes as OpenSSL does from the same state,
// including a bit count about to wrap.
TEST(Md5, ArbitraryContextContentsAgreeWithOpenssl) {
  std::mt19937_64 rng(99);
  for (int round = 0; round < 200; ++round) {
    Md5Context ctx;
    for (auto& w : ctx.state) w = static_cast<std::uint32_t>(rng());
    ctx.bitCount = round % 4 == 0 ? ~std::uint64_t{0} - (rng() % 4096) : rng();
    for (auto& b : ctx.buffer) b = static_cast<BYTE>(rng());
    MD5_CTX theirs = ToOpenssl(ctx);

    std::mt19937 bytes(round);
    const auto data = RandomBytes(bytes, rng() % 200);
    Md5Update(ctx, data.data(), data.size());
    MD5_Update(&theirs, data.data(), data.size());
    BYTE digest[kMd5DigestSize], expected[MD5_DIGEST_LENGTH];
    Md5Final(ctx, digest);
    MD5_Final(expected, &theirs);
    ASSERT_EQ(Hex(digest), Hex(expected)) << "round " << round;
  }
}

}  // namespace
