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
// 15, optionally with VT_ARRAY and/or VT_BYREF (not on
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

// ---- Locales -------------------------------------------------------------------

// What a locale changes in number, date and truth-value texts.
struct LocaleRules {
  LCID lcid;
  char16_t decimalPoint;
  char16_t thousands;
  std::u16string_view currency;
  bool dayFirst;                      // D.M.Y rather than M/D/Y
  bool germanDateForm;                // "dd.MM.yyyy HH:mm:ss" rather than "M/d/yyyy h:mm:ss tt"
  const std::u16string_view* months;  // 12 full names
  const std::u16string_view* monthShorts;  // 12 abbreviations
  std::u16string_view trueText;            // VARIANT_LOCALBOOL
  std::u16string_view falseText;
};

// 0x407 is German; LOCALE_USER_DEFAULT, LOCALE_SYSTEM_DEFAULT and
// LOCALE_NEUTRAL follow the environment (LC_ALL, LC_NUMERIC, LANG: the first
// set; "de..." is German); anything else is US English.
const LocaleRules& RulesFor(LCID lcid);

// ---- Numbers in text ----------------------------------------------------------

// A decimal number read from text: (-1)^negative * digits * 10^exponent, with
// `digits` free of leading and trailing zeros ("" is zero). A "&H"/"&O" text
// also keeps its raw bits in `radixBits` (fromRadix set); its decimal value is
// those bits as a signed 16-, 32- or 64-bit integer, the narrowest that holds
// them ("&HFFFF" is -1).
struct DecimalText {
  bool negative = false;
  std::string digits;
  long exponent = 0;
  bool fromRadix = false;
  ULONGLONG radixBits = 0;
};

// Reads a number as VarParseNumFromStr does in the locale: blanks (also the
// non-breaking space) around, a sign before or after, parentheses for a
// negative, the currency symbol, thousands separators, the decimal point, an
// exponent, or "&H" hex and "&O" octal. Nothing when the text is anything else.
std::optional<DecimalText> ParseNumber(std::u16string_view text, const LocaleRules& rules);

// Reads "[blanks][+|-]digits[.digits][(e|E)[+|-]digits][blanks]" in the "C"
// locale (at least one digit in the mantissa). Nothing when the text is
// anything else.
std::optional<DecimalText> ParseDecimal(std::u16string_view text);

// Texts as current Windows prints them: doubles with 15 significant digits,
// floats with 7, fixed notation from 1E-11 up to below 1E+15 (the precision's
// power of ten), "%G"-style exponents outside (1E+20, 1.5E-12); currency with
// up to 4 decimals and no trailing zeros. The decimal point is the locale's.
std::string FormatDouble(double value, int precision, char16_t decimalPoint = u'.');
std::string FormatCurrency(LONGLONG cyInt64, char16_t decimalPoint = u'.');

// ---- DECIMAL ------------------------------------------------------------------

// The DECIMAL nearest the number (half to even past 28 decimals or 96 bits);
// DISP_E_OVERFLOW when its integer part needs more than 96 bits.
HRESULT DecimalFromText(const DecimalText& number, DECIMAL& out);
// The exact value of a DECIMAL (DISP_E_OVERFLOW for a scale above 28).
HRESULT DecimalToText(const DECIMAL& dec, DecimalText& out);
// As VarBstrFromDec: the digits without trailing zeros.
std::string FormatDecimal(const DECIMAL& dec, char16_t decimalPoint = u'.');

// ---- Dates in text ----------------------------------------------------------

// OLE Automation dates handled here: strictly between these limits (the
// Windows ones: 1 January 100 and 31 December 9999, plus a day's fraction).
inline constexpr double kMinDate = -657435.0;
inline constexpr double kMaxDate = 2958466.0;

// The locale's form (US: "M/D/YYYY H:MM:SS AM", German "DD.MM.YYYY
// HH:MM:SS"); the date alone when the time is midnight after rounding to the
// second, the time alone on day 0 (30 December 1899). Nothing when the date
// is out of range or not a number.
std::optional<std::string> FormatDate(DATE date, const LocaleRules& rules);

// Reads a date as VarDateFromStr does: numbers separated by "/", "-", ".",
// "," or blanks in the locale's order (or year first with four digits; day
// first when the first number cannot be a month), month names and their
// abbreviations, a missing year (the current one), two-digit years in
// 1950..2049, and an optional time "H[:MM[:SS]]" with AM/PM. Nothing when the
// text is no such date or names a day that does not exist.
std::optional<DATE> ParseDate(std::u16string_view text, const LocaleRules& rules);

}  // namespace platform::detail
