// COM runtime calls: GUID text both ways and per-thread CoInitialize counting.
// (The interlocked counts are the compiler's atomics; every reference count
// in these tests goes through them.)
#include <gtest/gtest.h>

#include <thread>

#include "Platform/ComBase.h"
#include "Platform/Text.h"

TEST(ComBase, GuidTextRoundTripsAndMalformedTextIsRefused) {
  const GUID odd = {0xFEDCBA98, 0x0123, 0xABCD, {0xFF, 0x00, 0x01, 0x80, 0x7F, 0x10, 0xEE, 0x02}};
  OLECHAR buffer[39];
  ASSERT_EQ(StringFromGUID2(odd, buffer, 39), 39);
  EXPECT_EQ(platform::WideToUtf8(buffer), "{FEDCBA98-0123-ABCD-FF00-01807F10EE02}");
  ASSERT_EQ(StringFromGUID2(GUID_NULL, buffer, 39), 39);
  EXPECT_EQ(platform::WideToUtf8(buffer), "{00000000-0000-0000-0000-000000000000}");
  EXPECT_EQ(StringFromGUID2(odd, buffer, 38), 0) << "no room for the terminator";
  EXPECT_EQ(StringFromGUID2(odd, nullptr, 39), 0);

  CLSID parsed = GUID_NULL;
  ASSERT_EQ(CLSIDFromString(u"{fedcba98-0123-abcd-ff00-01807f10ee02}", &parsed), S_OK);
  EXPECT_TRUE(parsed == odd);
  EXPECT_EQ(CLSIDFromString(nullptr, &parsed), S_OK);
  EXPECT_TRUE(parsed == GUID_NULL);
  EXPECT_EQ(CLSIDFromString(u"{00000000-0000-0000-0000-000000000000}", nullptr), E_INVALIDARG);

  const char16_t* bad[] = {
      u"",
      u"1CF2B120-547D-101B-8E65-08002B2BD119",     // no braces
      u"{1CF2B120-547D-101B-8E65-08002B2BD119",    // no closing brace
      u"{1CF2B120-547D-101B-8E65-08002B2BD119}x",  // text after it
      u"{1CF2B120-547D-101B-8E65-08002B2BD11}",    // one digit short
      u"{1CF2B12G-547D-101B-8E65-08002B2BD119}",   // not hex
      u"{1CF2B120-547D-101B-8E65-08002B2B-D119}",  // hyphen misplaced
  };
  for (const char16_t* text : bad) {
    SCOPED_TRACE(platform::WideToUtf8(text));
    parsed = odd;
    EXPECT_EQ(CLSIDFromString(text, &parsed), CO_E_CLASSSTRING);
    EXPECT_TRUE(parsed == GUID_NULL);
  }
}

TEST(ComBase, CoInitializeCountsPerThread) {
  CoUninitialize();  // without initialisation: harmless
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  HRESULT otherFirst = E_FAIL;
  std::thread([&] {
    otherFirst = CoInitialize(nullptr);  // another thread starts at zero
    CoUninitialize();
  }).join();
  EXPECT_EQ(otherFirst, S_OK);
  CoUninitialize();
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE) << "still once initialised";
  CoUninitialize();
  CoUninitialize();
  CoUninitialize();  // one too many: harmless
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}
