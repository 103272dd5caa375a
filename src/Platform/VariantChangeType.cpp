// VariantChangeType (OleAuto.h): conversions among the scalar VARIANT types
// with the Windows results.
//
// Each target type has one converter that reads any source value:
//   integers   exact from integers and text (text is read as an exact
//              decimal), rounded half to even from floating values, dates,
//              currency and fractional text; DISP_E_OVERFLOW outside the
//              target's range. A VT_BOOL source is taken as its 16-bit value
//              cut to the target's width (VARIANT_TRUE gives 255 as VT_UI1).
//   VT_R4/R8   from anything numeric; text in the "C" locale; VT_R4 refuses
//              magnitudes above FLT_MAX.
//   VT_DATE    numbers as days since 30 December 1899 within years 100..9999;
//              text as a US or ISO date (VariantText.cpp).
//   VT_CY      value * 10,000 rounded half to even, within 64 bits.
//   VT_BOOL    any non-zero number is VARIANT_TRUE; text "True"/"False"
//              (any case) or a number.
//   VT_BSTR    numbers as Windows prints them, VT_BOOL as "-1"/"0" (or
//              "True"/"False" with VARIANT_ALPHABOOL), dates in US form.
// VT_EMPTY converts to zero, "", false; VT_NULL converts to nothing but
// VT_NULL. The result is built in a temporary and moved into the destination
// only on success, after the destination has been cleared, so pvargDest may
// be pvarSrc and a failure leaves the destination unchanged.
#include <cfloat>
#include <charconv>
#include <cmath>
#include <string>

#include "Platform/OleAutoInternal.h"

namespace {

using platform::detail::DecimalText;
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

std::u16string_view TextOf(BSTR bstr) {
  return {bstr == nullptr ? u"" : bstr, SysStringLen(bstr)};
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

Int128 CurrencyToInteger(LONGLONG cy) {
  Int128 quotient = cy / 10000;
  const LONGLONG remainder = cy % 10000;  // takes the sign of cy
  const LONGLONG half = remainder < 0 ? -remainder : remainder;
  if (half > 5000 || (half == 5000 && quotient % 2 != 0)) quotient += cy < 0 ? -1 : 1;
  return quotient;
}

// ---- Reading a source value ---------------------------------------------------

HRESULT ToInteger(const VARIANT& src, Int128& out) {
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
      auto number = platform::detail::ParseDecimal(TextOf(src.bstrVal));
      if (!number) return DISP_E_TYPEMISMATCH;
      return DecimalToInteger(*number, 0, out);
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToDouble(const VARIANT& src, double& out) {
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
      auto number = platform::detail::ParseDecimal(TextOf(src.bstrVal));
      if (!number) return DISP_E_TYPEMISMATCH;
      return DecimalToDouble(*number, out);
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToCurrency(const VARIANT& src, LONGLONG& out) {
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
        hr = DoubleToInteger(static_cast<double>(src.fltVal) * 10000.0, scaled);
        break;
      case VT_R8:
        hr = DoubleToInteger(src.dblVal * 10000.0, scaled);
        break;
      case VT_DATE:
        hr = DoubleToInteger(src.date * 10000.0, scaled);
        break;
      case VT_BSTR: {
        auto number = platform::detail::ParseDecimal(TextOf(src.bstrVal));
        if (!number) return DISP_E_TYPEMISMATCH;
        hr = DecimalToInteger(*number, 4, scaled);
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

bool EqualsIgnoringCase(std::u16string_view text, std::u16string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != word[i]) return false;
  }
  return true;
}

HRESULT ToBool(const VARIANT& src, VARIANT_BOOL& out) {
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
      case VT_BSTR: {
        std::u16string_view text = TextOf(src.bstrVal);
        while (!text.empty() && (text.front() == u' ' || text.front() == u'\t'))
          text.remove_prefix(1);
        while (!text.empty() && (text.back() == u' ' || text.back() == u'\t'))
          text.remove_suffix(1);
        if (EqualsIgnoringCase(text, u"true")) {
          value = true;
        } else if (!EqualsIgnoringCase(text, u"false")) {
          auto number = platform::detail::ParseDecimal(text);
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

HRESULT ToDate(const VARIANT& src, DATE& out) {
  if (src.vt == VT_BSTR) {
    auto date = platform::detail::ParseDate(TextOf(src.bstrVal));
    if (!date) return DISP_E_TYPEMISMATCH;
    out = *date;
    return S_OK;
  }
  double value = 0.0;
  HRESULT hr = ToDouble(src, value);
  if (FAILED(hr)) return hr;
  if (!(value > platform::detail::kMinDate && value < platform::detail::kMaxDate))
    return DISP_E_OVERFLOW;
  out = value;
  return S_OK;
}

HRESULT ToText(const VARIANT& src, USHORT wFlags, BSTR& out) {
  std::string text;
  if (IsInteger(src.vt)) {
    const Int128 value = IntegerValue(src);
    text = value < 0 ? std::to_string(static_cast<LONGLONG>(value))
                     : std::to_string(static_cast<ULONGLONG>(value));
  } else {
    switch (src.vt) {
      case VT_EMPTY:
        break;
      case VT_BOOL:
        if ((wFlags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) != 0)
          text = src.boolVal != 0 ? "True" : "False";
        else
          text = src.boolVal != 0 ? "-1" : "0";
        break;
      case VT_R4:
        text = platform::detail::FormatDouble(src.fltVal, 7);
        break;
      case VT_R8:
        text = platform::detail::FormatDouble(src.dblVal, 15);
        break;
      case VT_CY:
        text = platform::detail::FormatCurrency(src.cyVal.int64);
        break;
      case VT_DATE: {
        auto formatted = platform::detail::FormatDate(src.date);
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

// Converts a non-by-reference source into `out` (VT_EMPTY on entry).
HRESULT Coerce(const VARIANT& src, USHORT wFlags, VARTYPE vt, VARIANT& out) {
  if (src.vt == vt) return platform::detail::CopyVariantValue(src, out);
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
      hr = ToInteger(src, value);
      if (SUCCEEDED(hr) && src.vt != VT_BOOL && !InRange(vt, value)) hr = DISP_E_OVERFLOW;
      if (SUCCEEDED(hr)) StoreInteger(out, vt, value);
      break;
    }
    case VT_R4: {
      double value = 0.0;
      hr = ToDouble(src, value);
      if (SUCCEEDED(hr) && std::fabs(value) > FLT_MAX) hr = DISP_E_OVERFLOW;
      if (SUCCEEDED(hr)) out.fltVal = static_cast<float>(value);
      break;
    }
    case VT_R8:
      hr = ToDouble(src, out.dblVal);
      break;
    case VT_DATE:
      hr = ToDate(src, out.date);
      break;
    case VT_CY:
      hr = ToCurrency(src, out.cyVal.int64);
      break;
    case VT_BOOL:
      hr = ToBool(src, out.boolVal);
      break;
    case VT_BSTR:
      hr = ToText(src, wFlags, out.bstrVal);
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      // Only between the two interface types: the object is asked for the
      // other interface. No value property is read from an IDispatch here.
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

HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT wFlags, VARTYPE vt) {
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
  hr = Coerce(view, wFlags, vt, result);
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
