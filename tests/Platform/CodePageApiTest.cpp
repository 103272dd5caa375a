// MultiByteToWideChar / WideCharToMultiByte: Windows-1252 both ways over all
// bytes, replacement of unmappable characters, UTF-8, and the Windows
// buffer rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <string>

#include "Platform/Text.h"
#include "Platform/Win32.h"

namespace {

std::u16string ToWide(UINT cp, const std::string& bytes, DWORD flags = 0) {
  int n = MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  if (n > 0) {
    EXPECT_EQ(
        MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), out.data(), n),
        n);
  }
  return out;
}

std::string ToBytes(UINT cp, const std::u16string& wide, BOOL* usedDefault = nullptr,
                    const char* defaultChar = nullptr, DWORD flags = 0) {
  int n = WideCharToMultiByte(cp, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              defaultChar, usedDefault);
  std::string out(static_cast<std::size_t>(n), '\0');
  if (n > 0) {
    EXPECT_EQ(WideCharToMultiByte(cp, flags, wide.data(), static_cast<int>(wide.size()), out.data(),
                                  n, defaultChar, usedDefault),
              n);
  }
  return out;
}

TEST(CodePageApi, Every1252ByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  for (UINT cp : {CP_ACP, CP_1252}) {
    SCOPED_TRACE(cp);
    std::u16string wide = ToWide(cp, all);
    ASSERT_EQ(wide.size(), 256u);
    EXPECT_EQ(wide[0x80], u'\u20AC');
    EXPECT_EQ(wide[0x9F], u'\u0178');
    EXPECT_EQ(wide[0x81], u'\u0081') << "an undefined byte maps to the control character";
    BOOL usedDefault = TRUE;
    EXPECT_EQ(ToBytes(cp, wide, &usedDefault), all);
    EXPECT_FALSE(usedDefault);
  }
}

TEST(CodePageApi, UnmappableCharactersGetTheirBestFitOrTheDefaultCharacter) {
  struct Case {
    std::u16string wide;
    const char* defaultChar;
    DWORD flags;
    std::string bytes;
    BOOL usedDefault;
  };
  const Case cases[] = {
      {u"A\u0100B", nullptr, 0, "AAB", FALSE},  // best fit: no used-default flag
      {u"A\u0100B", nullptr, WC_NO_BEST_FIT_CHARS, "A?B", TRUE},
      {u"A\u0100B", "#", WC_NO_BEST_FIT_CHARS, "A#B", TRUE},
      {u"what?", nullptr, 0, "what?", FALSE},  // a real question mark is no replacement
      // A surrogate pair is two characters: two replacements.
      {u"x\U0001F600y", nullptr, 0, "x??y", TRUE},
      {u"\u4E2D\u6587", "#", 0, "##", TRUE},
  };
  for (const Case& c : cases) {
    BOOL used = 2;
    EXPECT_EQ(ToBytes(CP_1252, c.wide, &used, c.defaultChar, c.flags), c.bytes);
    EXPECT_EQ(used, c.usedDefault) << c.bytes;
  }
}

TEST(CodePageApi, Utf8BothWays) {
  const std::string utf8 =
      "Gr\xC3\xBC\xC3\x9F"
      "e \xE2\x82\xAC \xF0\x9F\x98\x80";
  const std::u16string wide = u"Grüße € \U0001F600";
  EXPECT_EQ(ToWide(CP_UTF8, utf8), wide);
  EXPECT_EQ(ToBytes(CP_UTF8, wide), utf8);

  const std::string malformed = "a\xC3(b";
  EXPECT_EQ(ToWide(CP_UTF8, malformed), u"a\uFFFD(b");
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, malformed.data(), -1, nullptr, 0),
            0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), -1, nullptr, 0),
            static_cast<int>(wide.size()) + 1);

  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(ToBytes(CP_UTF8, lone),
            "a\xEF\xBF\xBD"
            "b");
  SetLastError(0);
  EXPECT_EQ(
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, nullptr, 0, nullptr, nullptr),
      0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  BOOL used = FALSE;
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, -1, nullptr, 0, nullptr, &used), 0)
      << "UTF-8 takes no default character";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(CodePageApi, WindowsBufferRules) {
  const char* text = "caf\xE9";  // 4 bytes and a NUL
  char16_t out[8];
  struct Case {
    const char* what;
    int inLength;
    int outSize;
    int result;
    DWORD lastError;  // checked when result is 0
  };
  const Case cases[] = {
      {"-1 counts the NUL", -1, 0, 5, 0},
      {"explicit length has no NUL", 4, 0, 4, 0},
      {"exact buffer with NUL", -1, 5, 5, 0},
      {"one short", -1, 4, 0, ERROR_INSUFFICIENT_BUFFER},
      {"empty input", 0, 8, 0, ERROR_INVALID_PARAMETER},
      {"length below -1", -2, 8, 0, ERROR_INVALID_PARAMETER},
      {"negative output size", -1, -1, 0, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(0);
    EXPECT_EQ(
        MultiByteToWideChar(CP_1252, 0, text, c.inLength, c.outSize > 0 ? out : nullptr, c.outSize),
        c.result);
    if (c.result == 0) {
      EXPECT_EQ(GetLastError(), c.lastError);
    }
  }
  ASSERT_EQ(MultiByteToWideChar(CP_1252, 0, text, -1, out, 8), 5);
  EXPECT_EQ(std::u16string(out), u"café");

  EXPECT_EQ(WideCharToMultiByte(CP_1252, 0, u"café", -1, nullptr, 0, nullptr, nullptr), 5);
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(437, 0, text, -1, out, 8), 0) << "no such code page here";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SetLastError(0);
  char bytes[8];
  EXPECT_EQ(WideCharToMultiByte(1200, 0, u"x", -1, bytes, 8, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace

// Every best fit of the reference table (reference/BestFit1252.txt), through
// WideCharToMultiByte and through platform::WideToAnsi.
TEST(CodePageApi, BestFitAgreesWithTheReferenceTable) {
  std::ifstream in(std::filesystem::path(VEM_REFERENCE_DIR) / "BestFit1252.txt");
  ASSERT_TRUE(in);
  unsigned unit = 0, byte = 0;
  int count = 0;
  while (in >> std::hex >> unit >> byte) {
    ++count;
    const std::u16string wide(1, static_cast<char16_t>(unit));
    BOOL used = TRUE;
    EXPECT_EQ(ToBytes(CP_1252, wide, &used), std::string(1, static_cast<char>(byte)))
        << std::hex << unit;
    EXPECT_FALSE(used);
    EXPECT_EQ(platform::WideToAnsi(wide), std::string(1, static_cast<char>(byte)));
  }
  EXPECT_GT(count, 400);
  EXPECT_EQ(platform::WideToAnsi(u"\u4E2D\U0001F600"), "???");
}
