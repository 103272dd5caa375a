// Tests of the fixed-width little-endian encodings: the byte order of every
// width with high bits set, and the appending and consuming forms.
#include "Utility/Coding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace {

// Bytes with their top bit set catch a sign extension or a shift done in int.
TEST(Coding, LeastSignificantByteFirstInExactlyTheWidth) {
  BYTE buf[10];
  const auto written = [&](std::size_t n) { return std::vector<BYTE>(buf + 1, buf + 1 + n); };
  std::fill(buf, buf + 10, 0xCC);
  EncodeFixed16(buf + 1, 0x8281);
  EXPECT_EQ(written(3), (std::vector<BYTE>{0x81, 0x82, 0xCC}));
  EXPECT_EQ(DecodeFixed16(buf + 1), 0x8281);
  EncodeFixed32(buf + 1, 0x84838281u);
  EXPECT_EQ(written(5), (std::vector<BYTE>{0x81, 0x82, 0x83, 0x84, 0xCC}));
  EXPECT_EQ(DecodeFixed32(buf + 1), 0x84838281u);
  EncodeFixed64(buf + 1, 0x8887868584838281ull);
  EXPECT_EQ(written(8), (std::vector<BYTE>{0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88}));
  EXPECT_EQ(buf[0], 0xCC);
  EXPECT_EQ(buf[9], 0xCC);
  EXPECT_EQ(DecodeFixed64(buf + 1), 0x8887868584838281ull);
}

// Put appends to a string or a byte vector alike; Get consumes in order, and
// on input cut short refuses, leaving both the input and the value untouched
// so that a caller can report "short data" with what it had.
TEST(Coding, PutAppendsAndGetConsumesOrRefusesShortInput) {
  std::string s = "x";
  PutFixed16(&s, 0xBEEF);
  PutFixed32(&s, 0xDEADBEEFu);
  PutFixed64(&s, 0x0123456789ABCDEFull);
  std::vector<BYTE> v = {'x'};
  PutFixed16(&v, 0xBEEF);
  PutFixed32(&v, 0xDEADBEEFu);
  PutFixed64(&v, 0x0123456789ABCDEFull);
  ASSERT_EQ(std::string(v.begin(), v.end()), s);

  std::span<const BYTE> in(v.data() + 1, v.size() - 1);
  std::uint16_t a = 0;
  std::uint32_t b = 0;
  std::uint64_t c = 0;
  ASSERT_TRUE(GetFixed16(&in, &a));
  ASSERT_TRUE(GetFixed32(&in, &b));
  ASSERT_TRUE(GetFixed64(&in, &c));
  EXPECT_EQ(a, 0xBEEF);
  EXPECT_EQ(b, 0xDEADBEEFu);
  EXPECT_EQ(c, 0x0123456789ABCDEFull);
  EXPECT_TRUE(in.empty());

  for (std::size_t n = 0; n < 8; ++n) {
    std::span<const BYTE> shortIn(v.data(), n);
    a = 42, b = 42, c = 42;
    EXPECT_FALSE(GetFixed64(&shortIn, &c));
    EXPECT_FALSE(n < 4 && GetFixed32(&shortIn, &b));
    EXPECT_FALSE(n < 2 && GetFixed16(&shortIn, &a));
    EXPECT_EQ(a, 42u) << n;
    EXPECT_EQ(b, 42u) << n;
    EXPECT_EQ(c, 42u) << n;
    EXPECT_EQ(shortIn.size(), n);
  }
}

}  // namespace
