// OLE Automation helpers shared by the platform library's own sources
// (Variant.cpp, VariantChangeType.cpp, VariantText.cpp, SafeArray.cpp).
// Internal to src/Platform: code above the platform includes OleAuto.h only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Platform/OleAuto.h"

namespace platform::detail {

// ---- VARIANT types ----------------------------------------------------------

// S_OK when vt is a type a VARIANT may carry here: VT_EMPTY..VT_UINT except
// 15 and VT_DECIMAL, optionally with VT_ARRAY and/or VT_BYREF (not on
// VT_EMPTY or VT_NULL). DISP_E_BADVARTYPE otherwise.
HRESULT ValidateVariantType(VARTYPE vt);

// Bytes one value of the base type takes in a SAFEARRAY or behind a VT_BYREF
// pointer; 0 for types that have no storage (VT_EMPTY, VT_NULL, unknown).
ULONG ElementSizeOf(VARTYPE baseType);

// Makes `view` a shallow copy of the value a valid VT_BYREF VARIANT refers to
// (VT_BYREF | VT_VARIANT: the VARIANT it points at). Nothing is copied deeply;
// `view` is only valid while the referenced value is. E_INVALIDARG for a null
// reference or a reference to another by-reference VARIANT.
HRESULT DerefVariant(const VARIANT& src, VARIANT& view);

// Deep copy of a valid VARIANT into `out` (whose old content is ignored):
// BSTRs and arrays are duplicated, interfaces AddRef'd, by-reference values
// copied as references. On failure `out` is VT_EMPTY.
HRESULT CopyVariantValue(const VARIANT& src, VARIANT& out);

// ---- Numbers in text ----------------------------------------------------------

// A decimal number read from text: (-1)^negative * digits * 10^exponent, with
// `digits` free of leading and trailing zeros ("" is zero).
struct DecimalText {
  bool negative = false;
  std::string digits;
  long exponent = 0;
};

// Reads "[blanks][+|-]digits[.digits][(e|E)[+|-]digits][blanks]" in the "C"
// locale (at least one digit in the mantissa). Nothing when the text is
// anything else.
std::optional<DecimalText> ParseDecimal(std::u16string_view text);

// Shortest-form texts as Windows prints them: doubles with 15 significant
// digits, floats with 7 ("%.15G"/"%.7G": 0.1, 1E+20, 1.5E-05), currency with
// up to 4 decimals and no trailing zeros.
std::string FormatDouble(double value, int precision);
std::string FormatCurrency(LONGLONG cyInt64);

// ---- Dates in text ----------------------------------------------------------

// OLE Automation dates handled here: strictly between these limits (the
// Windows ones: 1 January 100 and 31 December 9999, plus a day's fraction).
inline constexpr double kMinDate = -657435.0;
inline constexpr double kMaxDate = 2958466.0;

// US English form: "M/D/YYYY H:MM:SS AM"; the date alone when the time is
// midnight, the time alone on day 0 (30 December 1899). Nothing when the date
// is out of range or not a number.
std::optional<std::string> FormatDate(DATE date);

// Reads "M/D/YYYY" (two-digit years: 00-29 are 20xx, 30-99 are 19xx) or ISO
// "YYYY-MM-DD", optionally followed by a time, or a time alone ("H:MM",
// "H:MM:SS", 24-hour or with AM/PM). Blanks around are allowed. Nothing when
// the text is no such date or names a day that does not exist.
std::optional<DATE> ParseDate(std::u16string_view text);

}  // namespace platform::detail
