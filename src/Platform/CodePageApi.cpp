// MultiByteToWideChar and WideCharToMultiByte over the conversions of
// Text.h, for CP_ACP and 1252 (both Windows-1252) and CP_UTF8, with the
// Windows buffer rules: a length of -1 takes the text up to and including
// its NUL, an output size of 0 asks for the size needed, and an output
// buffer too small answers 0 with ERROR_INSUFFICIENT_BUFFER (writing
// nothing).
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "Platform/Text.h"
#include "Platform/Win32.h"
#include "Platform/Win32Internal.h"

namespace {

bool IsAnsiCodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_1252;
}

std::size_t WideLength(LPCWSTR text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Windows-1252 of a UTF-16 text. A character the code page cannot hold gets
// its best fit (unless noBestFit), else defaultChar, and usedDefault tells
// whether defaultChar was used. A surrogate pair is two characters here, as
// on Windows: two defaultChars.
std::string WideTo1252(std::u16string_view wide, bool noBestFit, char defaultChar,
                       bool& usedDefault) {
  std::string out;
  out.reserve(wide.size());
  usedDefault = false;
  for (const char16_t w : wide) {
    if (w < 0x80) {
      out += static_cast<char>(w);
      continue;
    }
    const int exact = platform::detail::ExactByte1252(w);
    if (exact >= 0) {
      out += static_cast<char>(exact);
      continue;
    }
    const int fit = noBestFit ? -1 : platform::detail::BestFit1252(w);
    if (fit >= 0) {
      out += static_cast<char>(fit);
    } else {
      out += defaultChar;
      usedDefault = true;
    }
  }
  return out;
}

// Copies the converted text out under the Windows buffer rules.
template <class Char>
int Deliver(const std::basic_string<Char>& converted, Char* out, int outSize) {
  if (converted.size() > 0x7FFFFFFF) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int needed = static_cast<int>(converted.size());
  if (outSize == 0) return needed;
  if (needed > outSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, converted.data(), converted.size() * sizeof(Char));
  return needed;
}

}  // namespace

extern "C" {

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
  if ((!IsAnsiCodePage(CodePage) && CodePage != CP_UTF8) || lpMultiByteStr == nullptr ||
      cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (lpWideCharStr == nullptr && cchWideChar != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::size_t length =
      cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
  const std::string_view in(lpMultiByteStr, length);
  try {
    std::u16string wide;
    if (IsAnsiCodePage(CodePage)) {
      wide = platform::AnsiToWide(in);
    } else {
      wide = platform::Utf8ToWide(in);
      // Well-formed UTF-8 converts back to exactly the same bytes; anything
      // malformed was replaced by U+FFFD and does not.
      if ((dwFlags & MB_ERR_INVALID_CHARS) != 0 && platform::WideToUtf8(wide) != in) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
    }
    return Deliver(wide, lpWideCharStr, cchWideChar);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

// For CP_UTF8, lpDefaultChar and lpUsedDefaultChar must be null (as on
// Windows); unpaired surrogates become U+FFFD unless WC_ERR_INVALID_CHARS
// asks for failure. For Windows-1252, characters it cannot hold become their
// best fit (Windows' table: letters without their marks, full-width forms as
// ASCII, "8" for the infinity sign) unless WC_NO_BEST_FIT_CHARS, else
// *lpDefaultChar ('?' when null), and *lpUsedDefaultChar tells whether any
// did. A surrogate pair narrows to two default characters.
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        BOOL* lpUsedDefaultChar) {
  if ((!IsAnsiCodePage(CodePage) && CodePage != CP_UTF8) || lpWideCharStr == nullptr ||
      cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (lpMultiByteStr == nullptr && cbMultiByte != 0) ||
      (CodePage == CP_UTF8 && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::size_t length =
      cchWideChar == -1 ? WideLength(lpWideCharStr) + 1 : static_cast<std::size_t>(cchWideChar);
  const std::u16string_view in(lpWideCharStr, length);
  try {
    std::string bytes;
    if (IsAnsiCodePage(CodePage)) {
      bool usedDefault = false;
      bytes = WideTo1252(in, (dwFlags & WC_NO_BEST_FIT_CHARS) != 0,
                         lpDefaultChar != nullptr ? *lpDefaultChar : '?', usedDefault);
      if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    } else {
      bytes = platform::WideToUtf8(in);
      if ((dwFlags & WC_ERR_INVALID_CHARS) != 0 && platform::Utf8ToWide(bytes) != in) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
    }
    return Deliver(bytes, lpMultiByteStr, cbMultiByte);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

}  // extern "C"
