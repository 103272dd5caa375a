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

namespace {

bool IsAnsiCodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_1252;
}

std::size_t WideLength(LPCWSTR text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Latin Extended-A (U+0100..U+017F) as Windows' best fit for Windows-1252
// maps it: the letter without its marks; '?' for none (or for the few the
// code page holds itself, which never get here).
constexpr char kBestFitLatinA[] =
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIi??JjKk?LlLlLlLlLlNnNnNn???OoOoOo??RrRrRrSsSs"
    "Ss??TtTtTtUuUuUuUuUuUuWwYy?ZzZz???";
static_assert(sizeof(kBestFitLatinA) == 128 + 1);

// The best-fit byte for a UTF-16 unit the code page does not hold; -1 for none.
int BestFit1252(char16_t w) {
  if (w >= 0x0100 && w < 0x0180)
    return kBestFitLatinA[w - 0x100] == '?' ? -1 : kBestFitLatinA[w - 0x100];
  if (w >= 0xFF01 && w <= 0xFF5E) return w - 0xFEE0;  // full-width ASCII
  if ((w >= 0x2000 && w <= 0x200A) || w == 0x3000) return ' ';
  if (w >= 0x01CD && w <= 0x01DC) return "AaIiOoUuUuUuUuUu"[w - 0x01CD];
  switch (w) {
    case 0x0180:
      return 'b';
    case 0x0189:
      return 'D';
    case 0x0191:
      return 0x83;  // ƒ
    case 0x0197:
      return 'I';
    case 0x019A:
      return 'l';
    case 0x019F:
      return 'O';
    case 0x01A0:
      return 'O';
    case 0x01A1:
      return 'o';
    case 0x01AB:
      return 't';
    case 0x01AE:
      return 'T';
    case 0x01AF:
      return 'U';
    case 0x01B0:
      return 'u';
    case 0x01B6:
      return 'z';
    case 0x01C0:
      return '|';
    case 0x01C3:
      return '!';
    case 0x01DE:
      return 'A';
    case 0x01DF:
      return 'a';
    case 0x01E4:
      return 'G';
    case 0x01E5:
      return 'g';
    case 0x01E6:
      return 'G';
    case 0x01E7:
      return 'g';
    case 0x01E8:
      return 'K';
    case 0x01E9:
      return 'k';
    case 0x01EA:
      return 'O';
    case 0x01EB:
      return 'o';
    case 0x01EC:
      return 'O';
    case 0x01ED:
      return 'o';
    case 0x01F0:
      return 'j';
    case 0x0261:
      return 'g';
    case 0x02B9:
      return '\'';
    case 0x02BA:
      return '"';
    case 0x02BC:
      return '\'';
    case 0x02C4:
      return '^';
    case 0x02C8:
      return '\'';
    case 0x02CB:
      return '`';
    case 0x02CD:
      return '_';
    case 0x02DA:
      return 0xB0;  // °
    case 0x0300:
      return '`';
    case 0x0302:
      return '^';
    case 0x0303:
      return '~';
    case 0x030E:
      return '"';
    case 0x0331:
      return '_';
    case 0x0332:
      return '_';
    case 0x2010:
      return '-';
    case 0x2011:
      return '-';
    case 0x2017:
      return '=';
    case 0x2032:
      return '\'';
    case 0x2035:
      return '`';
    case 0x2044:
      return '/';
    case 0x2074:
      return '4';
    case 0x2075:
      return '5';
    case 0x2076:
      return '6';
    case 0x2077:
      return '7';
    case 0x2078:
      return '8';
    case 0x207F:
      return 'n';
    case 0x2080:
      return '0';
    case 0x2081:
      return '1';
    case 0x2082:
      return '2';
    case 0x2083:
      return '3';
    case 0x2084:
      return '4';
    case 0x2085:
      return '5';
    case 0x2086:
      return '6';
    case 0x2087:
      return '7';
    case 0x2088:
      return '8';
    case 0x2089:
      return '9';
    case 0x20A1:
      return 0xA2;  // ¢
    case 0x20A4:
      return 0xA3;  // £
    case 0x20A7:
      return 'P';
    case 0x2102:
      return 'C';
    case 0x2107:
      return 'E';
    case 0x210A:
      return 'g';
    case 0x210B:
      return 'H';
    case 0x210C:
      return 'H';
    case 0x210D:
      return 'H';
    case 0x210E:
      return 'h';
    case 0x2110:
      return 'I';
    case 0x2111:
      return 'I';
    case 0x2112:
      return 'L';
    case 0x2113:
      return 'l';
    case 0x2115:
      return 'N';
    case 0x2118:
      return 'P';
    case 0x2119:
      return 'P';
    case 0x211A:
      return 'Q';
    case 0x211B:
      return 'R';
    case 0x211C:
      return 'R';
    case 0x211D:
      return 'R';
    case 0x2124:
      return 'Z';
    case 0x2128:
      return 'Z';
    case 0x212A:
      return 'K';
    case 0x212B:
      return 0xC5;  // Å
    case 0x212C:
      return 'B';
    case 0x212D:
      return 'C';
    case 0x212E:
      return 'e';
    case 0x212F:
      return 'e';
    case 0x2130:
      return 'E';
    case 0x2131:
      return 'F';
    case 0x2133:
      return 'M';
    case 0x2134:
      return 'o';
    case 0x2205:
      return 0xD8;  // Ø
    case 0x2212:
      return '-';
    case 0x2213:
      return 0xB1;  // ±
    case 0x2215:
      return '/';
    case 0x2216:
      return '\\';
    case 0x2217:
      return '*';
    case 0x2218:
      return 0xB0;  // °
    case 0x2219:
      return 0xB7;  // ·
    case 0x221A:
      return 'v';
    case 0x221E:
      return '8';
    case 0x2223:
      return '|';
    case 0x2229:
      return 'n';
    case 0x2236:
      return ':';
    case 0x223C:
      return '~';
    case 0x2261:
      return '=';
    case 0x2264:
      return '=';
    case 0x2265:
      return '=';
    case 0x226A:
      return 0xAB;  // «
    case 0x226B:
      return 0xBB;  // »
    case 0x22C5:
      return 0xB7;  // ·
    case 0x2302:
      return 0xA6;  // ¦
    case 0x2303:
      return '^';
    case 0x2310:
      return 0xAC;  // ¬
    case 0x2320:
      return '(';
    case 0x2321:
      return ')';
    case 0x2329:
      return '<';
    case 0x232A:
      return '>';
    case 0x2500:
      return '-';
    case 0x2502:
      return 0xA6;  // ¦
    case 0x250C:
      return '+';
    case 0x2510:
      return '+';
    case 0x2514:
      return '+';
    case 0x2518:
      return '+';
    case 0x251C:
      return '+';
    case 0x2524:
      return 0xA6;  // ¦
    case 0x252C:
      return '-';
    case 0x2534:
      return '-';
    case 0x253C:
      return '+';
    case 0x2550:
      return '-';
    case 0x2551:
      return 0xA6;  // ¦
    case 0x2758:
      return '|';
    case 0x3008:
      return '<';
    case 0x3009:
      return '>';
    case 0x301A:
      return '[';
    case 0x301B:
      return ']';
    default:
      return -1;
  }
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
    const std::string one = platform::WideToAnsi(std::u16string_view(&w, 1));
    if (one != "?") {
      out += one;
      continue;
    }
    const int fit = noBestFit ? -1 : BestFit1252(w);
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
