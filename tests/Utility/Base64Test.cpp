// Tests of the Base64 routines: the RFC 4648 vectors, strict rejection of
// texts that are not an encoding (length, characters, padding, unused bits),
// round trips at every length, and the in-place layouts the field cipher uses
// (bytes at the end of the text buffer when encoding, the text's own buffer
// when decoding).
#include "Utility/Base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> Bytes(std::string_view s) {
  return {s.begin(), s.end()};
}

std::vector<BYTE> RandomBytes(std::mt19937& rng, std::size_t n) {
  std::vector<BYTE> v(n);
  for (auto& b : v) b = static_cast<BYTE>(rng());
  return v;
}

TEST(Base64, Rfc4648Vectors) {
  const struct {
    const char* plain;
    const char* text;
  } kCases[] = {{"", ""},
                {"f", "Zg=="},
                {"fo", "Zm8="},
                {"foo", "Zm9v"},
                {"foob", "Zm9vYg=="},
                {"fooba", "Zm9vYmE="},
                {"foobar", "Zm9vYmFy"}};
  for (const auto& c : kCases) {
    const auto plain = Bytes(c.plain);
    EXPECT_EQ(Base64Encode(plain.data(), plain.size()), c.text);
    EXPECT_EQ(Base64EncodedLength(plain.size()), std::strlen(c.text));
    std::vector<BYTE> decoded;
    EXPECT_TRUE(Base64Decode(c.text, &decoded)) << c.text;
    EXPECT_EQ(decoded, plain) << c.text;
  }
}

// Every character of the alphabet at every position of a group, with '+' and
// '/' (not the URL-safe '-' and '_').
TEST(Base64, WholeAlphabet) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t shift = 0; shift < 4; ++shift) {
    const std::string text = alphabet.substr(shift) + alphabet.substr(0, shift);
    std::vector<BYTE> decoded;
    ASSERT_TRUE(Base64Decode(text, &decoded)) << text;
    ASSERT_EQ(decoded.size(), 48u);
    EXPECT_EQ(Base64Encode(decoded.data(), decoded.size()), text);
  }
  const BYTE ff[3] = {0xFB, 0xFF, 0xBF};
  EXPECT_EQ(Base64Encode(ff, 3), "+/+/");
}

TEST(Base64, RejectsTextsThatAreNoEncoding) {
  using namespace std::string_view_literals;
  const std::string_view kBad[] = {
      "Z"sv,        "Zg"sv,         "Zg="sv,       "Zm9vY"sv,  // length not a multiple of 4
      "Zm9v!A=="sv, "Zm 9"sv,       "Zm9\nYg=="sv, "Zm9-"sv,   // characters outside the
      "Zm9_"sv,     "\xC3\xA4QQ"sv, "Zm\0v"sv,                 // alphabet (URL-safe, 8-bit, NUL)
      "=Zg="sv,     "Z==="sv,       "===="sv,      "Zg=a"sv,   // padding misplaced
      "Zg=/"sv,     "Zg==Zg=="sv,   "Zm8=Zm9v"sv,  "Zm9v=m9v"sv,
      "A=AA"sv,     "Zh=="sv,       "QR=="sv,      "Zm9="sv,  // unused bits not zero
  };
  for (const std::string_view text : kBad) {
    const std::string bad(text);
    std::vector<BYTE> out(16, 0xAA);
    std::size_t outLen = 99;
    EXPECT_FALSE(Base64Decode(text, out.data(), &outLen)) << '"' << bad << '"';
    EXPECT_EQ(outLen, 0u) << '"' << bad << '"';
    std::vector<BYTE> vec{1, 2, 3};
    EXPECT_FALSE(Base64Decode(text, &vec));
    EXPECT_TRUE(vec.empty());
  }
}

// A stored value must not read as the same bytes after one of its characters
// was changed: with strict decoding every other character either breaks the
// text or changes the bytes.
TEST(Base64, EveryOneCharacterChangeIsDetected) {
  std::mt19937 rng(4648);
  for (std::size_t n : {1u, 2u, 3u, 29u, 36u}) {
    const auto plain = RandomBytes(rng, n);
    const std::string text = Base64Encode(plain.data(), plain.size());
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
      for (int c = 0; c < 256; ++c) {
        if (static_cast<char>(c) == text[pos]) continue;
        std::string changed = text;
        changed[pos] = static_cast<char>(c);
        std::vector<BYTE> decoded;
        if (Base64Decode(changed, &decoded)) {
          ASSERT_NE(decoded, plain) << "length " << n << " position " << pos << " char " << c;
        }
      }
    }
  }
}

TEST(Base64, RoundTripAtEveryLength) {
  std::mt19937 rng(300);
  for (std::size_t n = 0; n <= 300; ++n) {
    const auto plain = RandomBytes(rng, n);
    const std::string text = Base64Encode(plain.data(), plain.size());
    ASSERT_EQ(text.size(), Base64EncodedLength(n));
    ASSERT_EQ(text.find('='), n % 3 == 0 ? std::string::npos : text.size() - (3 - n % 3));

    std::vector<BYTE> out(Base64DecodedMaxLength(text.size()) + 1, 0xEE);
    std::size_t outLen = 0;
    ASSERT_TRUE(Base64Decode(text, out.data(), &outLen)) << n;
    ASSERT_EQ(outLen, n);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), out.begin())) << n;
    EXPECT_EQ(out[Base64DecodedMaxLength(text.size())], 0xEE) << "wrote past the bound, " << n;
  }
}

// The cipher's layout: the n raw bytes sit at the end of the buffer that
// receives the text plus a NUL, and are encoded into its start.
TEST(Base64, EncodesInPlaceFromTheEndOfTheBuffer) {
  std::mt19937 rng(31);
  for (std::size_t n = 0; n <= 300; ++n) {
    const auto plain = RandomBytes(rng, n);
    const std::size_t textLen = Base64EncodedLength(n);
    std::vector<char> buf(textLen + 1, '#');
    BYTE* raw = reinterpret_cast<BYTE*>(buf.data()) + Base64InPlaceOffset(n);
    std::copy(plain.begin(), plain.end(), raw);
    ASSERT_EQ(raw + n, reinterpret_cast<BYTE*>(buf.data()) + textLen);
    ASSERT_EQ(Base64Encode(raw, n, buf.data()), textLen);
    EXPECT_EQ(std::string(buf.data(), textLen), Base64Encode(plain.data(), n)) << n;
    EXPECT_EQ(buf[textLen], '#') << n;
  }
}

// The cipher decodes each piece of text into the buffer that holds it.
TEST(Base64, DecodesInPlace) {
  std::mt19937 rng(1024);
  for (std::size_t n = 0; n <= 768; n += (n < 40 ? 1 : 37)) {
    const auto plain = RandomBytes(rng, n);
    std::string text = Base64Encode(plain.data(), plain.size());
    std::size_t outLen = 0;
    ASSERT_TRUE(Base64Decode(text, reinterpret_cast<BYTE*>(text.data()), &outLen)) << n;
    ASSERT_EQ(outLen, n);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), reinterpret_cast<BYTE*>(text.data()))) << n;
  }
}

}  // namespace
