// Platform stand-in: text conversions used across the layers.
//
// The system's single-byte text is Windows-1252; COM text is UTF-16; the
// engine stores UTF-8. These helpers never fail: a character that the target
// cannot hold becomes its Windows best fit or "?" (Windows-1252, as
// WideCharToMultiByte with flags 0 narrows: "A" for U+0100, "??" for a
// surrogate pair) or U+FFFD (malformed UTF-8/UTF-16).
#pragma once

#include <string>
#include <string_view>

#include "WinTypes.h"

namespace platform {

std::u16string AnsiToWide(std::string_view ansi);  // Windows-1252 -> UTF-16
std::string WideToAnsi(std::u16string_view wide);  // UTF-16 -> Windows-1252
std::u16string Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::u16string_view wide);

}  // namespace platform
