// Tests of the fixed-width little-endian encodings: the byte order of every
// width, round trips at the limits and around every power of two, and the appending
// and consuming forms.
#include "Utility/Coding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace {

TEST(Coding, LeastSignificantByteFirst) {
  BYTE buf[8];
  EncodeFixed16(buf, 0x0201);
  EXPECT_EQ(std::vector<BYTE>(buf, buf + 2), (std::vector<BYTE>{1, 2}));
  EncodeFixed32(buf, 0x04030201u);
  EXPECT_EQ(std::vector<BYTE>(buf, buf + 4), (std::vector<BYTE>{1, 2, 3, 4}));
  EncodeFixed64(buf, 0x0807060504030201ull);
  EXPECT_EQ(std::vector<BYTE>(buf, buf + 8), (std::vector<BYTE>{1, 2, 3, 4, 5, 6, 7, 8}));
}

// Values 0, every power of two and its neighbours, and the maximum, for each
// width: Decode(Encode(v)) == v, and Encode writes exactly its width.
TEST(Coding, RoundTripsAtEveryPowerOfTwo) {
  std::vector<std::uint64_t> values = {0, std::numeric_limits<std::uint64_t>::max()};
  for (int bit = 0; bit < 64; ++bit) {
    const std::uint64_t p = std::uint64_t{1} << bit;
    values.insert(values.end(), {p - 1, p, p + 1});
  }
  for (std::uint64_t v : values) {
    BYTE buf[10];
    std::fill(std::begin(buf), std::end(buf), 0xCC);
    EncodeFixed64(buf + 1, v);
    EXPECT_EQ(DecodeFixed64(buf + 1), v);
    EXPECT_EQ(buf[0], 0xCC);
    EXPECT_EQ(buf[9], 0xCC);

    const auto v32 = static_cast<std::uint32_t>(v);
    std::fill(std::begin(buf), std::end(buf), 0xCC);
    EncodeFixed32(buf + 1, v32);
    EXPECT_EQ(DecodeFixed32(buf + 1), v32);
    EXPECT_EQ(buf[5], 0xCC);

    const auto v16 = static_cast<std::uint16_t>(v);
    std::fill(std::begin(buf), std::end(buf), 0xCC);
    EncodeFixed16(buf + 1, v16);
    EXPECT_EQ(DecodeFixed16(buf + 1), v16);
    EXPECT_EQ(buf[3], 0xCC);
  }
}

TEST(Coding, PutAppendsAndGetConsumes) {
  std::string s = "x";
  PutFixed16(&s, 0xBEEF);
  PutFixed32(&s, 0xDEADBEEFu);
  PutFixed64(&s, 0x0123456789ABCDEFull);
  ASSERT_EQ(s.size(), 1u + 2 + 4 + 8);

  std::vector<BYTE> v = {'x'};
  PutFixed16(&v, 0xBEEF);
  PutFixed32(&v, 0xDEADBEEFu);
  PutFixed64(&v, 0x0123456789ABCDEFull);
  EXPECT_EQ(std::string(v.begin(), v.end()), s);

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
}

// A header cut short: each Get refuses and leaves both the input and the
// value untouched, so a caller can report "short data" with what it had.
TEST(Coding, GetRefusesShortInput) {
  const BYTE bytes[7] = {1, 2, 3, 4, 5, 6, 7};
  for (std::size_t n = 0; n < 8; ++n) {
    const std::span<const BYTE> whole(bytes, n);
    std::span<const BYTE> in = whole;
    std::uint64_t v64 = 42;
    EXPECT_FALSE(GetFixed64(&in, &v64));
    EXPECT_EQ(v64, 42u);
    EXPECT_EQ(in.size(), n);
    if (n < 4) {
      std::uint32_t v32 = 42;
      EXPECT_FALSE(GetFixed32(&in, &v32));
      EXPECT_EQ(v32, 42u);
      EXPECT_EQ(in.size(), n);
    }
    if (n < 2) {
      std::uint16_t v16 = 42;
      EXPECT_FALSE(GetFixed16(&in, &v16));
      EXPECT_EQ(v16, 42u);
      EXPECT_EQ(in.size(), n);
    }
  }
}

}  // namespace
