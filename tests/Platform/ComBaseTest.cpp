// COM runtime calls: GUID text, per-thread CoInitialize counting and
// interlocked counts.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Platform/ComBase.h"
#include "Platform/Text.h"

namespace {

std::string GuidText(const GUID& id) {
  OLECHAR buffer[39];
  EXPECT_EQ(StringFromGUID2(id, buffer, 39), 39);
  return platform::WideToUtf8(buffer);
}

}  // namespace

TEST(ComBase, GuidTextRoundTrips) {
  EXPECT_EQ(GuidText(IID_IErrorInfo), "{1CF2B120-547D-101B-8E65-08002B2BD119}");
  EXPECT_EQ(GuidText(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");
  const GUID odd = {0xFEDCBA98, 0x0123, 0xABCD, {0xFF, 0x00, 0x01, 0x80, 0x7F, 0x10, 0xEE, 0x02}};
  EXPECT_EQ(GuidText(odd), "{FEDCBA98-0123-ABCD-FF00-01807F10EE02}");

  CLSID parsed = GUID_NULL;
  ASSERT_EQ(CLSIDFromString(u"{fedcba98-0123-abcd-ff00-01807f10ee02}", &parsed), S_OK);
  EXPECT_TRUE(parsed == odd);

  OLECHAR small[38];
  EXPECT_EQ(StringFromGUID2(odd, small, 38), 0);
  EXPECT_EQ(StringFromGUID2(odd, nullptr, 39), 0);
}

TEST(ComBase, MalformedGuidTextIsRefused) {
  const char16_t* bad[] = {
      u"",
      u"1CF2B120-547D-101B-8E65-08002B2BD119",     // no braces
      u"{1CF2B120-547D-101B-8E65-08002B2BD119",    // no closing brace
      u"{1CF2B120-547D-101B-8E65-08002B2BD119}x",  // text after it
      u"{1CF2B120-547D-101B-8E65-08002B2BD11}",    // one digit short
      u"{1CF2B120-547D-101B-8E65-08002B2BD1199}",  // one digit too many
      u"{1CF2B12G-547D-101B-8E65-08002B2BD119}",   // not hex
      u"{1CF2B120-547D-101B-8E6508002B2BD119}",    // hyphen missing
      u"{1CF2B120-547D-101B-8E65-08002B2B-D119}",  // hyphen misplaced
      u"{ 1CF2B120-547D-101B-8E65-08002B2BD119}",  // blank
      u"{1CF2B120-547D-101B-8E65-08002B2BD119 }",  // blank
      u"{",
  };
  for (const char16_t* text : bad) {
    CLSID parsed = IID_IErrorInfo;
    EXPECT_EQ(CLSIDFromString(text, &parsed), CO_E_CLASSSTRING) << platform::WideToUtf8(text);
    EXPECT_TRUE(parsed == GUID_NULL) << platform::WideToUtf8(text);
  }
  CLSID parsed = IID_IErrorInfo;
  EXPECT_EQ(CLSIDFromString(nullptr, &parsed), S_OK);
  EXPECT_TRUE(parsed == GUID_NULL);
  EXPECT_EQ(CLSIDFromString(u"{00000000-0000-0000-0000-000000000000}", nullptr), E_INVALIDARG);
}

TEST(ComBase, CoInitializeCountsPerThread) {
  CoUninitialize();  // without initialisation: harmless
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);

  HRESULT otherFirst = E_FAIL, otherSecond = E_FAIL;
  std::thread other([&] {
    otherFirst = CoInitialize(nullptr);
    otherSecond = CoInitialize(nullptr);
    CoUninitialize();
    CoUninitialize();
  });
  other.join();
  EXPECT_EQ(otherFirst, S_OK);  // another thread starts at zero
  EXPECT_EQ(otherSecond, S_FALSE);

  CoUninitialize();
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);  // still once initialised
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(CoInitialize(nullptr), S_OK);  // back to zero before this call
  CoUninitialize();
  CoUninitialize();  // one too many: harmless
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}

TEST(ComBase, InterlockedCountsAreAtomic) {
  LONG volatile count = 0;
  EXPECT_EQ(InterlockedIncrement(&count), 1);
  EXPECT_EQ(InterlockedDecrement(&count), 0);
  EXPECT_EQ(InterlockedDecrement(&count), -1);
  InterlockedIncrement(&count);

  constexpr int kThreads = 4, kRounds = 100000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        InterlockedIncrement(&count);
        InterlockedIncrement(&count);
        InterlockedDecrement(&count);
      }
    });
  for (auto& thread : threads) thread.join();
  const LONG total = count;
  EXPECT_EQ(total, kThreads * kRounds);
}
