// DECIMAL values and locale rules for VariantChangeType (OleAutoInternal.h).
#include <cstdlib>
#include <cstring>

#include "Platform/OleAutoInternal.h"

namespace platform::detail {

namespace {

using UInt128 = unsigned __int128;

constexpr UInt128 kMax96 = (UInt128{1} << 96) - 1;

// The digits of number.digits[0..keep) rounded half to even by the digits
// after them; `more` tells whether any of those is not zero.
UInt128 RoundedPrefix(const std::string& digits, std::size_t keep) {
  UInt128 value = 0;
  for (std::size_t k = 0; k < keep; ++k)
    value = value * 10 + static_cast<unsigned>(k < digits.size() ? digits[k] - '0' : 0);
  if (keep < digits.size()) {
    const char first = digits[keep];
    const bool more = keep + 1 < digits.size();  // no trailing zeros: the rest is non-zero
    if (first > '5' || (first == '5' && (more || value % 2 != 0))) ++value;
  }
  return value;
}

// ---- Locales --------------------------------------------------------------

constexpr std::u16string_view kEnglishMonths[12] = {
    u"january", u"february", u"march",     u"april",   u"may",      u"june",
    u"july",    u"august",   u"september", u"october", u"november", u"december"};
constexpr std::u16string_view kEnglishShort[12] = {u"jan", u"feb", u"mar", u"apr", u"may", u"jun",
                                                   u"jul", u"aug", u"sep", u"oct", u"nov", u"dec"};
constexpr std::u16string_view kGermanMonths[12] = {
    u"januar", u"februar", u"m\u00e4rz", u"april",   u"mai",      u"juni",
    u"juli",   u"august",  u"september", u"oktober", u"november", u"dezember"};
constexpr std::u16string_view kGermanShort[12] = {u"jan", u"feb", u"m\u00e4r", u"apr",
                                                  u"mai", u"jun", u"jul",      u"aug",
                                                  u"sep", u"okt", u"nov",      u"dez"};

constexpr LocaleRules kEnglish = {0x409, u'.',           u',',          u"$",    false,
                                  false, kEnglishMonths, kEnglishShort, u"True", u"False"};
constexpr LocaleRules kGerman = {0x407, u',',          u'.',         u"\u20ac", true,
                                 true,  kGermanMonths, kGermanShort, u"Wahr",   u"Falsch"};

// The user default locale, read from the environment once.
const LocaleRules& EnvironmentRules() {
  static const LocaleRules* const rules = [] {
    for (const char* name : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
      const char* value = std::getenv(name);
      if (value == nullptr || *value == '\0') continue;
      return std::strncmp(value, "de", 2) == 0 ? &kGerman : &kEnglish;
    }
    return &kEnglish;
  }();
  return *rules;
}

}  // namespace

const LocaleRules& RulesFor(LCID lcid) {
  if (lcid == LOCALE_USER_DEFAULT || lcid == LOCALE_SYSTEM_DEFAULT || lcid == LOCALE_NEUTRAL)
    return EnvironmentRules();
  return (lcid & 0x3FF) == 0x07 ? kGerman : kEnglish;  // any German sublanguage
}

// ---- DECIMAL --------------------------------------------------------------

HRESULT DecimalFromText(const DecimalText& number, DECIMAL& out) {
  std::memset(&out, 0, sizeof(out));
  if (number.digits.empty()) return S_OK;
  const long count = static_cast<long>(number.digits.size());
  // keep: digits before the point plus those kept after it.
  long scale = number.exponent < 0 ? -number.exponent : 0;
  long keep = count + (number.exponent > 0 ? number.exponent : 0);
  if (scale > 28) {
    keep -= scale - 28;
    scale = 28;
  }
  if (keep - scale > 29) return DISP_E_OVERFLOW;
  UInt128 value = keep < 0 ? 0 : RoundedPrefix(number.digits, static_cast<std::size_t>(keep));
  if (value == 0) return S_OK;  // zero has scale 0
  while (value > kMax96) {
    if (scale == 0) return DISP_E_OVERFLOW;
    --keep;
    --scale;
    value = RoundedPrefix(number.digits, static_cast<std::size_t>(keep));
  }
  out.scale = static_cast<BYTE>(scale);
  out.sign = number.negative && value != 0 ? DECIMAL_NEG : 0;
  out.Hi32 = static_cast<ULONG>(value >> 64);
  out.Lo64 = static_cast<ULONGLONG>(value);
  return S_OK;
}

HRESULT DecimalToText(const DECIMAL& dec, DecimalText& out) {
  if (dec.scale > 28) return DISP_E_OVERFLOW;
  out = DecimalText{};
  UInt128 value = (UInt128{dec.Hi32} << 64) | dec.Lo64;
  long exponent = -static_cast<long>(dec.scale);
  while (value != 0 && value % 10 == 0) {
    value /= 10;
    ++exponent;
  }
  while (value != 0) {
    out.digits.insert(out.digits.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
    value /= 10;
  }
  out.negative = (dec.sign & DECIMAL_NEG) != 0 && !out.digits.empty();
  out.exponent = out.digits.empty() ? 0 : exponent;
  return S_OK;
}

std::string FormatDecimal(const DECIMAL& dec, char16_t decimalPoint) {
  DecimalText number;
  if (FAILED(DecimalToText(dec, number)) || number.digits.empty()) return "0";
  std::string text = number.negative ? "-" : "";
  const long count = static_cast<long>(number.digits.size());
  const long integerDigits = count + number.exponent;
  if (integerDigits <= 0) {
    text += '0';
    text += static_cast<char>(decimalPoint);
    text.append(static_cast<std::size_t>(-integerDigits), '0');
    text += number.digits;
  } else if (integerDigits >= count) {
    text += number.digits;
    text.append(static_cast<std::size_t>(integerDigits - count), '0');
  } else {
    text += number.digits.substr(0, static_cast<std::size_t>(integerDigits));
    text += static_cast<char>(decimalPoint);
    text += number.digits.substr(static_cast<std::size_t>(integerDigits));
  }
  return text;
}

}  // namespace platform::detail
