// BSTR allocation: lengths, embedded NULs, null BSTRs, reallocation.
#include <gtest/gtest.h>

#include <cstring>

#include "Platform/OleAuto.h"
#include "TestObjects.h"

using platformtest::Utf8;

TEST(Bstr, LengthsCountEmbeddedNulsAndNullIsEmpty) {
  struct Case {
    const char* name;
    BSTR bstr;
    UINT chars;
    UINT bytes;
    const void* content;  // the bytes expected, when checked
  };
  const OLECHAR text[] = {u'a', 0, u'\u20AC', 0, 0};
  const Case cases[] = {
      {"null", nullptr, 0, 0, nullptr},
      {"empty", SysAllocString(u""), 0, 0, nullptr},
      {"plain", SysAllocString(u"abc"), 3, 6, u"abc"},
      {"embedded NULs", SysAllocStringLen(text, 4), 4, 8, text},
      {"odd byte length", SysAllocStringByteLen("abc", 3), 1, 3, "abc"},
      {"uninitialised", SysAllocStringLen(nullptr, 5), 5, 10, nullptr},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SysStringLen(c.bstr), c.chars) << c.name;
    EXPECT_EQ(SysStringByteLen(c.bstr), c.bytes) << c.name;
    if (c.content != nullptr) {
      EXPECT_EQ(std::memcmp(c.bstr, c.content, c.bytes), 0) << c.name;
    }
    if (c.bstr != nullptr) {
      // Always NUL-terminated after the counted bytes.
      const auto* bytes = reinterpret_cast<const unsigned char*>(c.bstr);
      EXPECT_EQ(bytes[c.bytes], 0) << c.name;
      EXPECT_EQ(bytes[c.bytes + 1], 0) << c.name;
    }
    SysFreeString(c.bstr);
  }
}

TEST(Bstr, NullSourcesAndImpossibleSizes) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  SysFreeString(nullptr);  // harmless
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x7FFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
  BSTR b = nullptr;
  EXPECT_EQ(SysReAllocStringLen(&b, nullptr, 0x7FFFFFFFu), FALSE);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(SysReAllocString(nullptr, u"x"), FALSE);
}

// The new text may lie inside the BSTR being replaced; without a source the
// old text's prefix is kept (and a longer BSTR is zero-filled), and a null
// source makes a null BSTR.
TEST(Bstr, Reallocation) {
  BSTR b = SysAllocString(u"hello world");
  ASSERT_EQ(SysReAllocString(&b, b + 6), TRUE);
  EXPECT_EQ(Utf8(b), "world");
  ASSERT_EQ(SysReAllocStringLen(&b, b + 1, 3), TRUE);
  EXPECT_EQ(Utf8(b), "orl");
  ASSERT_EQ(SysReAllocStringLen(&b, nullptr, 5), TRUE);
  ASSERT_EQ(SysStringLen(b), 5u);
  EXPECT_EQ(std::memcmp(b, u"orl\0\0", 6 * sizeof(OLECHAR)), 0);
  ASSERT_EQ(SysReAllocStringLen(&b, nullptr, 2), TRUE);
  EXPECT_EQ(Utf8(b), "or");
  ASSERT_EQ(SysReAllocString(&b, nullptr), TRUE);
  EXPECT_EQ(b, nullptr);
  ASSERT_EQ(SysReAllocString(&b, u"new"), TRUE);  // from null
  EXPECT_EQ(Utf8(b), "new");
  SysFreeString(b);
}
