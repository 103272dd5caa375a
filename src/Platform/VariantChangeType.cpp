// VariantChangeType (OleAuto.h): conversions among the scalar VARIANT types
// with the Windows results.
//
// Each target type has one converter that reads any source value:
//   integers   exact from integers, DECIMAL and text (text is read as an
//              exact decimal), rounded half to even from floating values,
//              dates, currency and fractional text; DISP_E_OVERFLOW outside
//              the target's range, except between signed and unsigned
//              integers of one width, which take each other's bits, as do
//              "&H"/"&O" texts into unsigned targets. A VT_BOOL source is
//              taken as its 16-bit value cut to the target's width.
//   VT_R4/R8   from anything numeric; VT_R4 refuses magnitudes above FLT_MAX.
//   VT_DECIMAL exact from integers, currency and text; doubles and floats by
//              their 15 and 7 significant digits, as Windows takes them.
//   VT_DATE    numbers as days since 30 December 1899 within years 100..9999;
//              text as the locale's dates (VariantText.cpp).
//   VT_CY      value * 10,000 rounded half to even, within 64 bits.
//   VT_BOOL    any non-zero number is VARIANT_TRUE; text "True"/"False" (any
//              case, the locale's words too), "#TRUE#"/"#FALSE#" or a number.
//   VT_BSTR    numbers as Windows prints them in the locale, VT_BOOL as its
//              number (or "True"/"False" with VARIANT_ALPHABOOL), dates in
//              the locale's form; a VT_ARRAY | VT_UI1 source gives its bytes.
// Texts are read up to their first NUL. VT_EMPTY converts to zero, "",
// false; VT_NULL converts to nothing but VT_NULL; a VT_DISPATCH source
// converts as its value property. The result is built in a temporary and
// moved into the destination only on success, after the destination has been
// cleared, so pvargDest may be pvarSrc and a failure leaves the destination
// unchanged.
#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "Platform/OleAutoInternal.h"

namespace {

using platform::detail::DecimalText;
using platform::detail::LocaleRules;
using Int128 = __int128;

// Magnitudes at or above this are out of range for every integer target and
// for currency, and still far inside what Int128 holds.
constexpr double kIntegerLimit = 1e30;

double RoundHalfEven(double x) {
  double r = std::floor(x);
  const double diff = x - r;  // exact for every finite double
  if (diff > 0.5 || (diff == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
  return r;
}

bool IsSigned(VARTYPE vt) {
  return vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_INT || vt == VT_I8;
}

bool IsUnsigned(VARTYPE vt) {
  return vt == VT_UI1 || vt == VT_UI2 || vt == VT_UI4 || vt == VT_UINT || vt == VT_UI8;
}

bool IsInteger(VARTYPE vt) {
  return IsSigned(vt) || IsUnsigned(vt);
}

// The value of an integer VARIANT, widened.
Int128 IntegerValue(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1:
      return static_cast<std::int8_t>(v.cVal);
    case VT_UI1:
      return v.bVal;
    case VT_I2:
      return v.iVal;
    case VT_UI2:
      return v.uiVal;
    case VT_I4:
      return v.lVal;
    case VT_INT:
      return v.intVal;
    case VT_UI4:
      return v.ulVal;
    case VT_UINT:
      return v.uintVal;
    case VT_I8:
      return v.llVal;
    case VT_UI8:
      return v.ullVal;
    default:
      return 0;
  }
}

// The text of a BSTR up to its first NUL, as Windows reads it.
inline std::u16string_view TextOf(BSTR bstr) {
  if (bstr == nullptr) return {};
  std::size_t length = 0;  // up to the NUL, which also ends every BSTR
  while (bstr[length] != u'\0') ++length;
  return {bstr, std::min<std::size_t>(length, SysStringLen(bstr))};
}

// Bytes of an integer type; 0 for other types.
int IntegerWidth(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      return 4;
    case VT_I8:
    case VT_UI8:
      return 8;
    default:
      return 0;
  }
}

HRESULT DecimalOf(const VARIANT& src, DecimalText& out) {
  return platform::detail::DecimalToText(src.decVal, out);
}

// An exact decimal times 10^scale, rounded half to even to an integer.
HRESULT DecimalToInteger(const DecimalText& number, long scale, Int128& out) {
  out = 0;
  if (number.digits.empty()) return S_OK;
  const long digitCount = static_cast<long>(number.digits.size());
  const long integerDigits = digitCount + number.exponent + scale;  // before the point
  if (integerDigits > 30) return DISP_E_OVERFLOW;
  Int128 value = 0;
  for (long k = 0; k < integerDigits; ++k)
    value = value * 10 + (k < digitCount ? number.digits[k] - '0' : 0);
  if (integerDigits >= 0 && integerDigits < digitCount) {
    // The digits have no trailing zeros: anything after the first dropped
    // digit makes the rest non-zero.
    const char first = number.digits[integerDigits];
    const bool moreAfter = integerDigits + 1 < digitCount;
    if (first > '5' || (first == '5' && (moreAfter || value % 2 != 0))) ++value;
  }
  out = number.negative ? -value : value;
  return S_OK;
}

HRESULT DecimalToDouble(const DecimalText& number, double& out) {
  if (number.digits.empty()) {
    out = number.negative ? -0.0 : 0.0;
    return S_OK;
  }
  std::string text = number.negative ? "-" : "";
  text += number.digits;
  text += 'e';
  text += std::to_string(number.exponent);
  auto result = std::from_chars(text.data(), text.data() + text.size(), out);
  if (result.ec == std::errc::result_out_of_range) {
    const long magnitude = static_cast<long>(number.digits.size()) + number.exponent;
    if (magnitude > 0) return DISP_E_OVERFLOW;
    out = number.negative ? -0.0 : 0.0;  // too small for a double: zero
    return S_OK;
  }
  return result.ec == std::errc() ? S_OK : DISP_E_TYPEMISMATCH;
}

HRESULT DoubleToInteger(double x, Int128& out) {
  if (!std::isfinite(x)) return DISP_E_OVERFLOW;
  const double rounded = RoundHalfEven(x);
  if (std::fabs(rounded) >= kIntegerLimit) return DISP_E_OVERFLOW;
  out = static_cast<Int128>(rounded);
  return S_OK;
}

// x * 10,000 rounded half to even; the product in extended precision, so
// that 123456789012345.0 gives 1234567890123450000 exactly.
HRESULT ScaledToInteger(double x, Int128& out) {
  if (!std::isfinite(x)) return DISP_E_OVERFLOW;
  const long double scaled = static_cast<long double>(x) * 10000.0L;
  long double rounded = std::floor(scaled);
  const long double diff = scaled - rounded;
  if (diff > 0.5L || (diff == 0.5L && std::fmod(rounded, 2.0L) != 0.0L)) rounded += 1.0L;
  if (std::fabs(rounded) >= static_cast<long double>(kIntegerLimit)) return DISP_E_OVERFLOW;
  out = static_cast<Int128>(rounded);
  return S_OK;
}

Int128 CurrencyToInteger(LONGLONG cy) {
  Int128 quotient = cy / 10000;
  const LONGLONG remainder = cy % 10000;  // takes the sign of cy
  const LONGLONG half = remainder < 0 ? -remainder : remainder;
  if (half > 5000 || (half == 5000 && quotient % 2 != 0)) quotient += cy < 0 ? -1 : 1;
  return quotient;
}

// ---- Reading a source value ---------------------------------------------------

HRESULT ToInteger(const VARIANT& src, const LocaleRules& rules, Int128& out) {
  if (IsInteger(src.vt)) {
    out = IntegerValue(src);
    return S_OK;
  }
  switch (src.vt) {
    case VT_EMPTY:
      out = 0;
      return S_OK;
    case VT_BOOL:
      out = src.boolVal;
      return S_OK;
    case VT_R4:
      return DoubleToInteger(src.fltVal, out);
    case VT_R8:
      return DoubleToInteger(src.dblVal, out);
    case VT_DATE:
      return DoubleToInteger(src.date, out);
    case VT_CY:
      out = CurrencyToInteger(src.cyVal.int64);
      return S_OK;
    case VT_BSTR: {
      auto number = platform::detail::ParseNumber(TextOf(src.bstrVal), rules);
      if (!number) return DISP_E_TYPEMISMATCH;
      return DecimalToInteger(*number, 0, out);
    }
    case VT_DECIMAL: {
      DecimalText number;
      const HRESULT hr = DecimalOf(src, number);
      return FAILED(hr) ? hr : DecimalToInteger(number, 0, out);
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToDouble(const VARIANT& src, const LocaleRules& rules, double& out) {
  if (IsInteger(src.vt)) {
    out = static_cast<double>(IntegerValue(src));
    return S_OK;
  }
  switch (src.vt) {
    case VT_EMPTY:
      out = 0.0;
      return S_OK;
    case VT_BOOL:
      out = src.boolVal;
      return S_OK;
    case VT_R4:
      out = src.fltVal;
      return S_OK;
    case VT_R8:
      out = src.dblVal;
      return S_OK;
    case VT_DATE:
      out = src.date;
      return S_OK;
    case VT_CY:
      out = static_cast<double>(src.cyVal.int64) / 10000.0;
      return S_OK;
    case VT_BSTR: {
      auto number = platform::detail::ParseNumber(TextOf(src.bstrVal), rules);
      if (!number) return DISP_E_TYPEMISMATCH;
      return DecimalToDouble(*number, out);
    }
    case VT_DECIMAL: {
      DecimalText number;
      const HRESULT hr = DecimalOf(src, number);
      return FAILED(hr) ? hr : DecimalToDouble(number, out);
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToCurrency(const VARIANT& src, const LocaleRules& rules, LONGLONG& out) {
  Int128 scaled = 0;
  HRESULT hr = S_OK;
  if (IsInteger(src.vt)) {
    scaled = IntegerValue(src) * 10000;
  } else {
    switch (src.vt) {
      case VT_EMPTY:
        break;
      case VT_BOOL:
        scaled = Int128{src.boolVal} * 10000;
        break;
      case VT_R4:
        hr = ScaledToInteger(src.fltVal, scaled);
        break;
      case VT_R8:
        hr = ScaledToInteger(src.dblVal, scaled);
        break;
      case VT_DATE:
        hr = ScaledToInteger(src.date, scaled);
        break;
      case VT_BSTR: {
        auto number = platform::detail::ParseNumber(TextOf(src.bstrVal), rules);
        if (!number) return DISP_E_TYPEMISMATCH;
        hr = DecimalToInteger(*number, 4, scaled);
        break;
      }
      case VT_DECIMAL: {
        DecimalText number;
        hr = DecimalOf(src, number);
        if (SUCCEEDED(hr)) hr = DecimalToInteger(number, 4, scaled);
        break;
      }
      default:
        return DISP_E_TYPEMISMATCH;
    }
  }
  if (FAILED(hr)) return hr;
  if (scaled < INT64_MIN || scaled > INT64_MAX) return DISP_E_OVERFLOW;
  out = static_cast<LONGLONG>(scaled);
  return S_OK;
}

// Compares ASCII letters without case (the words here are ASCII).
bool EqualsIgnoringCase(std::u16string_view text, std::u16string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i], w = word[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (w >= u'A' && w <= u'Z') w = static_cast<char16_t>(w - u'A' + u'a');
    if (c != w) return false;
  }
  return true;
}

HRESULT ToBool(const VARIANT& src, USHORT wFlags, const LocaleRules& rules, VARIANT_BOOL& out) {
  bool value = false;
  if (IsInteger(src.vt)) {
    value = IntegerValue(src) != 0;
  } else {
    switch (src.vt) {
      case VT_EMPTY:
        break;
      case VT_BOOL:
        value = src.boolVal != 0;
        break;
      case VT_R4:
        value = src.fltVal != 0.0f;
        break;
      case VT_R8:
        value = src.dblVal != 0.0;
        break;
      case VT_DATE:
        value = src.date != 0.0;
        break;
      case VT_CY:
        value = src.cyVal.int64 != 0;
        break;
      case VT_DECIMAL:
        value = src.decVal.Hi32 != 0 || src.decVal.Lo64 != 0;
        break;
      case VT_BSTR: {
        // The words stand alone: " True " is no truth value (nor a number).
        // The locale's words count with VARIANT_LOCALBOOL.
        const std::u16string_view text = TextOf(src.bstrVal);
        const bool local = (wFlags & VARIANT_LOCALBOOL) != 0;
        if (EqualsIgnoringCase(text, u"true") || text == u"#TRUE#" ||
            (local && EqualsIgnoringCase(text, rules.trueText))) {
          value = true;
        } else if (!EqualsIgnoringCase(text, u"false") && text != u"#FALSE#" &&
                   !(local && EqualsIgnoringCase(text, rules.falseText))) {
          auto number = platform::detail::ParseNumber(text, rules);
          if (!number) return DISP_E_TYPEMISMATCH;
          value = !number->digits.empty();
        }
        break;
      }
      default:
        return DISP_E_TYPEMISMATCH;
    }
  }
  out = value ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT ToDate(const VARIANT& src, const LocaleRules& rules, DATE& out) {
  if (src.vt == VT_BSTR) {
    auto date = platform::detail::ParseDate(TextOf(src.bstrVal), rules);
    if (!date) return DISP_E_TYPEMISMATCH;
    out = *date;
    return S_OK;
  }
  double value = 0.0;
  HRESULT hr = ToDouble(src, rules, value);
  if (FAILED(hr)) return hr;
  if (!(value > platform::detail::kMinDate && value < platform::detail::kMaxDate))
    return DISP_E_OVERFLOW;
  out = value;
  return S_OK;
}

HRESULT ToText(const VARIANT& src, USHORT wFlags, const LocaleRules& rules, BSTR& out) {
  std::string text;
  const char16_t point = rules.decimalPoint;
  if (IsInteger(src.vt)) {
    const Int128 value = IntegerValue(src);
    text = value < 0 ? std::to_string(static_cast<LONGLONG>(value))
                     : std::to_string(static_cast<ULONGLONG>(value));
  } else {
    switch (src.vt) {
      case VT_EMPTY:
        break;
      case VT_BOOL:
        if ((wFlags & VARIANT_LOCALBOOL) != 0) {
          const std::u16string_view word = src.boolVal != 0 ? rules.trueText : rules.falseText;
          text.assign(word.begin(), word.end());  // ASCII words
        } else if ((wFlags & VARIANT_ALPHABOOL) != 0) {
          text = src.boolVal != 0 ? "True" : "False";
        } else {
          text = std::to_string(src.boolVal);  // 0, -1 or whatever number it holds
        }
        break;
      case VT_R4:
        text = platform::detail::FormatDouble(src.fltVal, 7, point);
        break;
      case VT_R8:
        text = platform::detail::FormatDouble(src.dblVal, 15, point);
        break;
      case VT_CY:
        text = platform::detail::FormatCurrency(src.cyVal.int64, point);
        break;
      case VT_DECIMAL:
        if (src.decVal.scale > 28) return DISP_E_OVERFLOW;
        text = platform::detail::FormatDecimal(src.decVal, point);
        break;
      case VT_DATE: {
        auto formatted = platform::detail::FormatDate(src.date, rules);
        if (!formatted) return E_INVALIDARG;  // as Windows: no such date
        text = *formatted;
        break;
      }
      default:
        return DISP_E_TYPEMISMATCH;
    }
  }
  // Every character produced above is ASCII.
  out = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
  if (out == nullptr) return E_OUTOFMEMORY;
  for (std::size_t i = 0; i < text.size(); ++i) out[i] = static_cast<OLECHAR>(text[i]);
  return S_OK;
}

HRESULT ToDecimal(const VARIANT& src, const LocaleRules& rules, DECIMAL& out) {
  DecimalText number;
  if (IsInteger(src.vt) || src.vt == VT_BOOL || src.vt == VT_EMPTY) {
    const Int128 value = IsInteger(src.vt)   ? IntegerValue(src)
                         : src.vt == VT_BOOL ? src.boolVal
                                             : 0;
    number.negative = value < 0;
    const auto magnitude = static_cast<unsigned __int128>(value < 0 ? -value : value);
    number.digits = std::to_string(static_cast<ULONGLONG>(magnitude));  // at most 64 bits
    if (magnitude == 0) number.digits.clear();
    while (!number.digits.empty() && number.digits.back() == '0') {
      number.digits.pop_back();
      ++number.exponent;
    }
    return platform::detail::DecimalFromText(number, out);
  }
  switch (src.vt) {
    case VT_R4:
    case VT_R8:
    case VT_DATE: {
      // By its leading digits (16 of a double, 7 of a float), as Windows
      // takes it: 0.1 is 0.1, not the double's binary value.
      const double value = src.vt == VT_R4 ? src.fltVal : src.vt == VT_R8 ? src.dblVal : src.date;
      if (!std::isfinite(value)) return DISP_E_OVERFLOW;
      char buffer[64];
      auto result = std::to_chars(buffer, buffer + sizeof(buffer), value,
                                  std::chars_format::scientific, src.vt == VT_R4 ? 6 : 15);
      const std::string digits(buffer, result.ptr);
      const std::u16string wide(digits.begin(), digits.end());
      auto parsed = platform::detail::ParseDecimal(wide);
      if (!parsed) return DISP_E_TYPEMISMATCH;
      return platform::detail::DecimalFromText(*parsed, out);
    }
    case VT_CY: {
      // Four decimals kept, as Windows keeps them (1.5 is 1.5000).
      std::memset(&out, 0, sizeof(out));
      const LONGLONG cy = src.cyVal.int64;
      out.scale = 4;
      out.sign = cy < 0 ? DECIMAL_NEG : 0;
      out.Lo64 = cy < 0 ? 0 - static_cast<ULONGLONG>(cy) : static_cast<ULONGLONG>(cy);
      return S_OK;
    }
    case VT_BSTR: {
      auto parsed = platform::detail::ParseNumber(TextOf(src.bstrVal), rules);
      if (!parsed) return DISP_E_TYPEMISMATCH;
      return platform::detail::DecimalFromText(*parsed, out);
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// VT_BSTR <-> VT_ARRAY | VT_UI1: the BSTR's bytes, copied as they are.
HRESULT TextToBytes(BSTR text, SAFEARRAY*& out) {
  const UINT size = SysStringByteLen(text);
  out = SafeArrayCreateVector(VT_UI1, 0, size);
  if (out == nullptr) return E_OUTOFMEMORY;
  if (size != 0) std::memcpy(out->pvData, text, size);
  return S_OK;
}

HRESULT BytesToText(SAFEARRAY* bytes, BSTR& out) {
  if (bytes == nullptr || bytes->cDims != 1 || bytes->cbElements != 1) return DISP_E_TYPEMISMATCH;
  const ULONG size = bytes->rgsabound[0].cElements;
  out = SysAllocStringByteLen(static_cast<const char*>(bytes->pvData), size);
  return out == nullptr ? E_OUTOFMEMORY : S_OK;
}

// Stores an integer in the member of `out` that vt names; the caller has
// checked the range (or wants the value cut to the width).
void StoreInteger(VARIANT& out, VARTYPE vt, Int128 value) {
  switch (vt) {
    case VT_I1:
      out.cVal = static_cast<CHAR>(static_cast<std::int8_t>(value));
      break;
    case VT_UI1:
      out.bVal = static_cast<BYTE>(value);
      break;
    case VT_I2:
      out.iVal = static_cast<SHORT>(value);
      break;
    case VT_UI2:
      out.uiVal = static_cast<USHORT>(value);
      break;
    case VT_I4:
      out.lVal = static_cast<LONG>(value);
      break;
    case VT_INT:
      out.intVal = static_cast<INT>(value);
      break;
    case VT_UI4:
      out.ulVal = static_cast<ULONG>(value);
      break;
    case VT_UINT:
      out.uintVal = static_cast<UINT>(value);
      break;
    case VT_I8:
      out.llVal = static_cast<LONGLONG>(value);
      break;
    case VT_UI8:
      out.ullVal = static_cast<ULONGLONG>(value);
      break;
    default:
      break;
  }
}

bool InRange(VARTYPE vt, Int128 value) {
  switch (vt) {
    case VT_I1:
      return value >= INT8_MIN && value <= INT8_MAX;
    case VT_UI1:
      return value >= 0 && value <= UINT8_MAX;
    case VT_I2:
      return value >= INT16_MIN && value <= INT16_MAX;
    case VT_UI2:
      return value >= 0 && value <= UINT16_MAX;
    case VT_I4:
    case VT_INT:
      return value >= INT32_MIN && value <= INT32_MAX;
    case VT_UI4:
    case VT_UINT:
      return value >= 0 && value <= UINT32_MAX;
    case VT_I8:
      return value >= INT64_MIN && value <= INT64_MAX;
    case VT_UI8:
      return value >= 0 && value <= static_cast<Int128>(UINT64_MAX);
    default:
      return false;
  }
}

// The value property (DISPID_VALUE) of a VT_DISPATCH source, into `value`
// (VT_EMPTY on entry). DISP_E_TYPEMISMATCH with VARIANT_NOVALUEPROP, for a
// null object, an object without the property, or a value that is itself an
// object or a reference.
HRESULT FetchValueProperty(const VARIANT& src, USHORT wFlags, const LocaleRules& rules,
                           VARIANT& value) {
  if ((wFlags & VARIANT_NOVALUEPROP) != 0 || src.pdispVal == nullptr) return DISP_E_TYPEMISMATCH;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  const HRESULT hr = src.pdispVal->Invoke(DISPID_VALUE, GUID_NULL, rules.lcid, DISPATCH_PROPERTYGET,
                                          &none, &value, nullptr, nullptr);
  if (FAILED(hr)) {
    VariantClear(&value);
    return DISP_E_TYPEMISMATCH;
  }
  if (value.vt == VT_DISPATCH || (value.vt & VT_BYREF) != 0) {
    VariantClear(&value);
    return DISP_E_TYPEMISMATCH;  // no chains of objects
  }
  return S_OK;
}

// Converts a non-by-reference source into `out` (VT_EMPTY on entry).
HRESULT Coerce(const VARIANT& src, USHORT wFlags, const LocaleRules& rules, VARTYPE vt,
               VARIANT& out) {
  if (src.vt == vt) return platform::detail::CopyVariantValue(src, out);
  if (src.vt == VT_BSTR && vt == (VT_ARRAY | VT_UI1)) {
    HRESULT hr = TextToBytes(src.bstrVal, out.parray);
    if (SUCCEEDED(hr)) out.vt = vt;
    return hr;
  }
  if (src.vt == (VT_ARRAY | VT_UI1) && vt == VT_BSTR) {
    HRESULT hr = BytesToText(src.parray, out.bstrVal);
    if (SUCCEEDED(hr)) out.vt = vt;
    return hr;
  }
  if (((src.vt | vt) & (VT_ARRAY | VT_BYREF)) != 0) return DISP_E_TYPEMISMATCH;
  HRESULT hr = S_OK;
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      if (src.vt == VT_ERROR || (vt == VT_EMPTY && src.vt == VT_NULL)) return DISP_E_TYPEMISMATCH;
      break;
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8: {
      Int128 value = 0;
      // Same width, other signedness: the bits as they are.
      bool cut = src.vt == VT_BOOL || IntegerWidth(src.vt) == IntegerWidth(vt);
      if (src.vt == VT_BSTR) {
        auto number = platform::detail::ParseNumber(TextOf(src.bstrVal), rules);
        if (!number) return DISP_E_TYPEMISMATCH;
        if (number->fromRadix) {
          // "&H"/"&O" text: its bits fill the target's width ("&HFFFF" is
          // -1 as VT_I2, 65535 as VT_I4).
          value = number->radixBits;
          const int width = IntegerWidth(vt);
          if (!InRange(vt, value) && (width == 8 || value >> (8 * width) != 0))
            hr = DISP_E_OVERFLOW;
          if (SUCCEEDED(hr)) StoreInteger(out, vt, value);
          break;
        }
        hr = DecimalToInteger(*number, 0, value);
      } else {
        hr = ToInteger(src, rules, value);
      }
      if (SUCCEEDED(hr) && !cut && !InRange(vt, value)) hr = DISP_E_OVERFLOW;
      if (SUCCEEDED(hr)) StoreInteger(out, vt, value);
      break;
    }
    case VT_R4: {
      double value = 0.0;
      hr = ToDouble(src, rules, value);
      if (SUCCEEDED(hr) && std::fabs(value) > FLT_MAX) hr = DISP_E_OVERFLOW;
      if (SUCCEEDED(hr)) out.fltVal = static_cast<float>(value);
      break;
    }
    case VT_R8:
      hr = ToDouble(src, rules, out.dblVal);
      break;
    case VT_DATE:
      hr = ToDate(src, rules, out.date);
      break;
    case VT_CY:
      hr = ToCurrency(src, rules, out.cyVal.int64);
      break;
    case VT_BOOL:
      hr = ToBool(src, wFlags, rules, out.boolVal);
      break;
    case VT_BSTR:
      hr = ToText(src, wFlags, rules, out.bstrVal);
      break;
    case VT_DECIMAL: {
      DECIMAL value;
      hr = ToDecimal(src, rules, value);
      if (SUCCEEDED(hr)) out.decVal = value;  // vt set below
      break;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      // Only between the two interface types: the object is asked for the
      // other interface.
      if (src.vt != VT_UNKNOWN && src.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
      out.punkVal = nullptr;
      if (src.punkVal != nullptr)
        hr = src.punkVal->QueryInterface(vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch,
                                         reinterpret_cast<void**>(&out.punkVal));
      break;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
  if (FAILED(hr)) return hr;
  out.vt = vt;
  return S_OK;
}

}  // namespace

namespace {

HRESULT ChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, const LocaleRules& rules,
                   USHORT wFlags, VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  HRESULT hr = platform::detail::ValidateVariantType(pvarSrc->vt);
  if (FAILED(hr)) return hr;
  hr = platform::detail::ValidateVariantType(vt);
  if (FAILED(hr)) return hr;

  VARIANT view = *pvarSrc;  // shallow: only read while converting
  if ((pvarSrc->vt & VT_BYREF) != 0 && pvarSrc->vt != vt) {
    if (pvarSrc->byref == nullptr) return DISP_E_TYPEMISMATCH;
    hr = platform::detail::DerefVariant(*pvarSrc, view);
    if (FAILED(hr)) return hr;
  }
  VARIANT result;
  VariantInit(&result);
  if (view.vt == VT_DISPATCH && vt != VT_DISPATCH && vt != VT_UNKNOWN && vt != VT_NULL &&
      vt != VT_EMPTY) {
    // An object converts as its value property.
    VARIANT value;
    VariantInit(&value);
    hr = FetchValueProperty(view, wFlags, rules, value);
    if (FAILED(hr)) return hr;
    hr = Coerce(value, wFlags, rules, vt, result);
    VariantClear(&value);
  } else {
    hr = Coerce(view, wFlags, rules, vt, result);
  }
  if (FAILED(hr)) return hr;
  // Clearing the destination may free the source (pvargDest == pvarSrc);
  // the result no longer depends on it.
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *pvargDest = result;
  return S_OK;
}

}  // namespace

HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT wFlags, VARTYPE vt) {
  return ChangeType(pvargDest, pvarSrc, platform::detail::RulesFor(LOCALE_USER_DEFAULT), wFlags,
                    vt);
}

HRESULT VariantChangeTypeEx(VARIANT* pvargDest, const VARIANT* pvarSrc, LCID lcid, USHORT wFlags,
                            VARTYPE vt) {
  return ChangeType(pvargDest, pvarSrc, platform::detail::RulesFor(lcid), wFlags, vt);
}
