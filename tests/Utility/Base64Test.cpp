// Tests of the Base64 routines: the RFC 4648 vectors, strict rejection of
// texts that are not an encoding (length, characters, padding, unused bits),
// round trips at every length, and the in-place layouts the field cipher uses
// (bytes at the end of the text buffer when encoding, the text's own buffer
// when decoding).
#include "Utility/Base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> RandomBytes(std::mt19937& rng, std::size_t n) {
  std::vector<BYTE> v(n);
  for (auto& b : v) b = static_cast<BYTE>(rng());
  return v;
}

TEST(Base64, Rfc4648Vectors) {
  const struct {
    std::string plain;
    std::string text;
  } kCases[] = {{"", ""},
                {"f", "Zg=="},
                {"fo", "Zm8="},
                {"foo", "Zm9v"},
                {"foob", "Zm9vYg=="},
                {"fooba", "Zm9vYmE="},
                {"foobar", "Zm9vYmFy"},
                {"\xFB\xFF\xBF", "+/+/"}};  // the standard alphabet, not the URL-safe one
  for (const auto& c : kCases) {
    const std::vector<BYTE> plain(c.plain.begin(), c.plain.end());
    EXPECT_EQ(Base64Encode(plain.data(), plain.size()), c.text);
    std::vector<BYTE> decoded;
    EXPECT_TRUE(Base64Decode(c.text, &decoded)) << c.text;
    EXPECT_EQ(decoded, plain) << c.text;
  }
}

TEST(Base64, RejectsTextsThatAreNoEncodingAndDetectsEveryChange) {
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
    SCOPED_TRACE('"' + std::string(text) + '"');
    std::vector<BYTE> out(16, 0xAA);
    std::size_t outLen = 99;
    EXPECT_FALSE(Base64Decode(text, out.data(), &outLen));
    EXPECT_EQ(outLen, 0u);
    std::vector<BYTE> vec{1, 2, 3};
    EXPECT_FALSE(Base64Decode(text, &vec));
    EXPECT_TRUE(vec.empty());
  }

  // A stored value must not read as the same bytes after one of its
  // characters was changed: every other character breaks the text or changes
  // the bytes.
  std::mt19937 rng(4648);
  for (std::size_t n : {1u, 2u, 3u, 29u}) {
    const auto plain = RandomBytes(rng, n);
    const std::string text = Base64Encode(plain.data(), plain.size());
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
      for (int c = 0; c < 256; ++c) {
        std::string changed = text;
        changed[pos] = static_cast<char>(c);
        std::vector<BYTE> decoded;
        if (changed != text && Base64Decode(changed, &decoded)) {
          ASSERT_NE(decoded, plain) << "length " << n << " position " << pos << " char " << c;
        }
      }
    }
  }
}

// Every length from 0 to 300: the encoded length and padding, decoding within
// Base64DecodedMaxLength, and both in-place layouts: the n raw bytes at the end
// of the buffer that receives the text plus a NUL, and the text decoded into
// its own buffer.
TEST(Base64, RoundTripsAtEveryLengthAndInPlace) {
  std::mt19937 rng(300);
  for (std::size_t n = 0; n <= 300; ++n) {
    SCOPED_TRACE(n);
    const auto plain = RandomBytes(rng, n);
    const std::string text = Base64Encode(plain.data(), plain.size());
    ASSERT_EQ(text.size(), Base64EncodedLength(n));
    ASSERT_EQ(text.find('='), n % 3 == 0 ? std::string::npos : text.size() - (3 - n % 3));

    std::vector<BYTE> out(Base64DecodedMaxLength(text.size()) + 1, 0xEE);
    std::size_t outLen = 0;
    ASSERT_TRUE(Base64Decode(text, out.data(), &outLen));
    ASSERT_EQ(outLen, n);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), out.begin()));
    EXPECT_EQ(out.back(), 0xEE) << "wrote past the bound";

    std::vector<char> buf(text.size() + 1, '#');
    BYTE* raw = reinterpret_cast<BYTE*>(buf.data()) + Base64InPlaceOffset(n);
    std::copy(plain.begin(), plain.end(), raw);
    ASSERT_EQ(Base64Encode(raw, n, buf.data()), text.size());
    EXPECT_EQ(std::string(buf.data(), text.size()), text);
    EXPECT_EQ(buf[text.size()], '#');

    raw = reinterpret_cast<BYTE*>(buf.data());
    ASSERT_TRUE(Base64Decode({buf.data(), text.size()}, raw, &outLen));
    ASSERT_EQ(outLen, n);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), raw));
  }
}

}  // namespace
