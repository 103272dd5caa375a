// COM compiler-support helpers (ComUtil.h).
#include "Platform/ComUtil.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "Platform/Text.h"

namespace {

constexpr ULONG kWCodeFirst = 0x80040200u;
constexpr ULONG kWCodeLast = 0x8004FFFFu;

// System texts of the HRESULTs this platform produces, as Windows words them.
struct HresultText {
  ULONG hr;
  const char* text;
};
constexpr HresultText kHresultTexts[] = {
    {0x00000000u, "The operation completed successfully."},
    {0x00000001u, "Incorrect function."},
    {0x80004001u, "Not implemented"},
    {0x80004002u, "No such interface supported"},
    {0x80004003u, "Invalid pointer"},
    {0x80004004u, "Operation aborted"},
    {0x80004005u, "Unspecified error"},
    {0x8000FFFFu, "Catastrophic failure"},
    {0x80020003u, "Member not found."},
    {0x80020005u, "Type mismatch."},
    {0x80020008u, "Bad variable type."},
    {0x8002000Au, "Out of present range."},
    {0x8002000Bu, "Invalid index."},
    {0x8002000Du, "Memory is locked."},
    {0x80040110u, "Class does not support aggregation (or class object is remote)"},
    {0x80040111u, "ClassFactory cannot supply requested class"},
    {0x80040154u, "Class not registered"},
    {0x800401F0u, "CoInitialize has not been called."},
    {0x800401F3u, "Invalid class string"},
    {0x80070002u, "The system cannot find the file specified."},
    {0x80070003u, "The system cannot find the path specified."},
    {0x80070005u, "Access is denied."},
    {0x80070006u, "The handle is invalid."},
    {0x80070008u, "Not enough memory resources are available to process this command."},
    {0x8007000Eu, "Not enough memory resources are available to complete this operation."},
    {0x8007001Du, "The system cannot write to the specified device."},
    {0x8007001Eu, "The system cannot read from the specified device."},
    {0x80070020u,
     "The process cannot access the file because it is being used by another process."},
    {0x80070026u, "Reached the end of the file."},
    {0x80070050u, "The file exists."},
    {0x80070057u, "The parameter is incorrect."},
    {0x80070070u, "There is not enough space on the disk."},
    {0x8007007Au, "The data area passed to a system call is too small."},
    {0x80070083u, "An attempt was made to move the file pointer before the beginning of the file."},
    {0x800700B7u, "Cannot create a file when that file already exists."},
    {0x80070103u, "No more data is available."},
    {0x80070120u, "Attempt to release mutex not owned by caller."},
    {0x80070459u,
     "No mapping for the Unicode character exists in the target multi-byte code page."},
};

BSTR AllocOrThrow(const OLECHAR* pch, std::size_t cch) {
  if (cch > 0x3FFFFFF0u) _com_issue_error(E_OUTOFMEMORY);
  BSTR bstr = SysAllocStringLen(pch, static_cast<UINT>(cch));
  if (bstr == nullptr) _com_issue_error(E_OUTOFMEMORY);
  return bstr;
}

BSTR AllocFromAnsi(const char* s) {
  if (s == nullptr) return nullptr;
  const std::u16string wide = platform::AnsiToWide(s);
  return AllocOrThrow(wide.data(), wide.size());
}

BSTR CopyBstr(BSTR s) {
  if (s == nullptr) return nullptr;
  BSTR copy = SysAllocStringByteLen(reinterpret_cast<const char*>(s), SysStringByteLen(s));
  if (copy == nullptr) _com_issue_error(E_OUTOFMEMORY);
  return copy;
}

std::u16string_view ViewOf(BSTR s) {
  return {s == nullptr ? u"" : s, SysStringLen(s)};
}

std::u16string_view ViewOf(const OLECHAR* s) {
  return s == nullptr ? std::u16string_view() : std::u16string_view(s);
}

std::strong_ordering Compare(std::u16string_view a, std::u16string_view b) {
  const int c = a.compare(b);
  return c < 0 ? std::strong_ordering::less
               : (c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal);
}

}  // namespace

// ---- _com_error -----------------------------------------------------------

_com_error::_com_error(HRESULT hr, IErrorInfo* perrinfo, bool fAddRef) noexcept
    : m_hresult(hr), m_perrinfo(perrinfo) {
  if (m_perrinfo != nullptr && fAddRef) m_perrinfo->AddRef();
}

_com_error::_com_error(const _com_error& that) noexcept
    : m_hresult(that.m_hresult), m_perrinfo(that.m_perrinfo) {
  if (m_perrinfo != nullptr) m_perrinfo->AddRef();
}

_com_error& _com_error::operator=(const _com_error& that) noexcept {
  if (this != &that) {
    if (that.m_perrinfo != nullptr) that.m_perrinfo->AddRef();
    IErrorInfo* old = std::exchange(m_perrinfo, that.m_perrinfo);
    if (old != nullptr) old->Release();
    m_hresult = that.m_hresult;
    m_message.clear();
  }
  return *this;
}

_com_error::~_com_error() {
  if (m_perrinfo != nullptr) m_perrinfo->Release();
}

IErrorInfo* _com_error::ErrorInfo() const noexcept {
  if (m_perrinfo != nullptr) m_perrinfo->AddRef();
  return m_perrinfo;
}

_bstr_t _com_error::Description() const {
  BSTR bstr = nullptr;
  if (m_perrinfo != nullptr && FAILED(m_perrinfo->GetDescription(&bstr))) bstr = nullptr;
  return _bstr_t(bstr, false);
}

_bstr_t _com_error::Source() const {
  BSTR bstr = nullptr;
  if (m_perrinfo != nullptr && FAILED(m_perrinfo->GetSource(&bstr))) bstr = nullptr;
  return _bstr_t(bstr, false);
}

_bstr_t _com_error::HelpFile() const {
  BSTR bstr = nullptr;
  if (m_perrinfo != nullptr && FAILED(m_perrinfo->GetHelpFile(&bstr))) bstr = nullptr;
  return _bstr_t(bstr, false);
}

DWORD _com_error::HelpContext() const noexcept {
  DWORD context = 0;
  if (m_perrinfo != nullptr && FAILED(m_perrinfo->GetHelpContext(&context))) context = 0;
  return context;
}

const char* _com_error::ErrorMessage() const noexcept {
  if (!m_message.empty()) return m_message.c_str();
  try {
    const auto hr = static_cast<ULONG>(m_hresult);
    for (const HresultText& entry : kHresultTexts)
      if (entry.hr == hr) return (m_message = entry.text).c_str();
    char buffer[32];
    if (const WORD wCode = WCode(); wCode != 0)
      std::snprintf(buffer, sizeof(buffer), "IDispatch error #%d", static_cast<int>(wCode));
    else
      std::snprintf(buffer, sizeof(buffer), "Unknown error 0x%X", static_cast<unsigned>(hr));
    m_message = buffer;
    return m_message.c_str();
  } catch (const std::bad_alloc&) {
    return "Unknown error";
  }
}

HRESULT _com_error::WCodeToHRESULT(WORD wCode) noexcept {
  return static_cast<HRESULT>(wCode >= 0xFE00 ? kWCodeLast : kWCodeFirst + wCode);
}

WORD _com_error::HRESULTToWCode(HRESULT hr) noexcept {
  const auto value = static_cast<ULONG>(hr);
  return value >= kWCodeFirst && value <= kWCodeLast ? static_cast<WORD>(value - kWCodeFirst) : 0;
}

void _com_issue_error(HRESULT hr) {
  throw _com_error(hr);
}

void _com_issue_errorex(HRESULT hr, IUnknown* pUnk, REFIID riid) {
  IErrorInfo* perrinfo = nullptr;
  if (pUnk != nullptr) {
    ISupportErrorInfo* psei = nullptr;
    if (SUCCEEDED(pUnk->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&psei))) &&
        psei != nullptr) {
      const HRESULT supports = psei->InterfaceSupportsErrorInfo(riid);
      psei->Release();
      if (supports == S_OK && GetErrorInfo(0, &perrinfo) != S_OK) perrinfo = nullptr;
    }
  }
  throw _com_error(hr, perrinfo);  // takes over the reference
}

namespace _com_util {

BSTR ConvertStringToBSTR(const char* pSrc) {
  return AllocFromAnsi(pSrc);
}

char* ConvertBSTRToString(BSTR pSrc) {
  if (pSrc == nullptr) return nullptr;
  const std::string ansi = platform::WideToAnsi(ViewOf(pSrc));
  char* out = new char[ansi.size() + 1];
  std::memcpy(out, ansi.c_str(), ansi.size() + 1);
  return out;
}

}  // namespace _com_util

// ---- _bstr_t --------------------------------------------------------------

_bstr_t::_bstr_t(const _bstr_t& s) : m_bstr(CopyBstr(s.m_bstr)) {}

_bstr_t::_bstr_t(_bstr_t&& s) noexcept
    : m_bstr(std::exchange(s.m_bstr, nullptr)),
      m_ansi(std::move(s.m_ansi)),
      m_ansiOf(std::exchange(s.m_ansiOf, nullptr)) {}

_bstr_t::_bstr_t(const char* s) : m_bstr(AllocFromAnsi(s)) {}

_bstr_t::_bstr_t(const OLECHAR* s)
    : m_bstr(s == nullptr ? nullptr : AllocOrThrow(s, std::char_traits<OLECHAR>::length(s))) {}

_bstr_t::_bstr_t(std::u16string_view s) : m_bstr(AllocOrThrow(s.data(), s.size())) {}

_bstr_t::_bstr_t(BSTR bstr, bool fCopy) : m_bstr(fCopy ? CopyBstr(bstr) : bstr) {}

_bstr_t::~_bstr_t() {
  SysFreeString(m_bstr);
}

_bstr_t& _bstr_t::operator=(const _bstr_t& s) {
  if (this != &s) Attach(CopyBstr(s.m_bstr));
  return *this;
}

_bstr_t& _bstr_t::operator=(_bstr_t&& s) noexcept {
  if (this != &s) {
    SysFreeString(m_bstr);
    m_bstr = std::exchange(s.m_bstr, nullptr);
    m_ansi = std::move(s.m_ansi);
    m_ansiOf = std::exchange(s.m_ansiOf, nullptr);
  }
  return *this;
}

_bstr_t& _bstr_t::operator=(const char* s) {
  Attach(AllocFromAnsi(s));
  return *this;
}

_bstr_t& _bstr_t::operator=(const OLECHAR* s) {
  // s may point into the held BSTR: the copy is made before it is freed.
  Attach(s == nullptr ? nullptr : AllocOrThrow(s, std::char_traits<OLECHAR>::length(s)));
  return *this;
}

_bstr_t& _bstr_t::operator+=(const _bstr_t& s) {
  const std::size_t length = this->length() + s.length();
  BSTR joined = AllocOrThrow(nullptr, length);
  std::memcpy(joined, view().data(), this->length() * sizeof(OLECHAR));
  std::memcpy(joined + this->length(), s.view().data(), s.length() * sizeof(OLECHAR));
  Attach(joined);
  return *this;
}

_bstr_t operator+(const _bstr_t& a, const _bstr_t& b) {
  _bstr_t result(a);
  result += b;
  return result;
}

_bstr_t operator+(const char* a, const _bstr_t& b) {
  _bstr_t result(a);
  result += b;
  return result;
}

_bstr_t operator+(const OLECHAR* a, const _bstr_t& b) {
  _bstr_t result(a);
  result += b;
  return result;
}

_bstr_t::operator const char*() const {
  if (m_ansi == nullptr || m_ansiOf != m_bstr) {
    auto ansi = std::make_unique<std::string>(platform::WideToAnsi(view()));
    m_ansi = std::move(ansi);
    m_ansiOf = m_bstr;
  }
  return m_ansi->c_str();
}

bool operator==(const _bstr_t& a, const _bstr_t& b) noexcept {
  return a.view() == b.view();
}

bool operator==(const _bstr_t& a, const OLECHAR* b) noexcept {
  return a.view() == ViewOf(b);
}

bool operator==(const _bstr_t& a, const char* b) {
  return a.view() == platform::AnsiToWide(b == nullptr ? "" : b);
}

std::strong_ordering operator<=>(const _bstr_t& a, const _bstr_t& b) noexcept {
  return Compare(a.view(), b.view());
}

std::strong_ordering operator<=>(const _bstr_t& a, const OLECHAR* b) noexcept {
  return Compare(a.view(), ViewOf(b));
}

std::strong_ordering operator<=>(const _bstr_t& a, const char* b) {
  return Compare(a.view(), platform::AnsiToWide(b == nullptr ? "" : b));
}

BSTR _bstr_t::copy(bool fCopy) const {
  return fCopy ? CopyBstr(m_bstr) : m_bstr;
}

void _bstr_t::Assign(BSTR s) {
  if (s != m_bstr) Attach(CopyBstr(s));
}

BSTR& _bstr_t::GetBSTR() noexcept {
  m_ansiOf = nullptr;  // the caller may change the text behind our back
  m_ansi.reset();
  return m_bstr;
}

BSTR* _bstr_t::GetAddress() noexcept {
  Attach(nullptr);
  return &m_bstr;
}

void _bstr_t::Attach(BSTR s) noexcept {
  if (s != m_bstr) SysFreeString(m_bstr);
  m_bstr = s;
  m_ansi.reset();
  m_ansiOf = nullptr;
}

BSTR _bstr_t::Detach() noexcept {
  m_ansi.reset();
  m_ansiOf = nullptr;
  return std::exchange(m_bstr, nullptr);
}

// ---- _variant_t -----------------------------------------------------------

namespace {

// The value of v converted to vt, as a _variant_t; throws on failure.
_variant_t Converted(const VARIANT& v, VARTYPE vt) {
  _variant_t result;
  _com_util::CheckError(VariantChangeType(&result, &v, 0, vt));
  return result;
}

}  // namespace

_variant_t::_variant_t() noexcept {
  VariantInit(this);
}

_variant_t::_variant_t(const VARIANT& varSrc) {
  VariantInit(this);
  _com_util::CheckError(VariantCopy(this, &varSrc));
}

_variant_t::_variant_t(const VARIANT* pSrc) {
  VariantInit(this);
  if (pSrc == nullptr) _com_issue_error(E_POINTER);
  _com_util::CheckError(VariantCopy(this, pSrc));
}

_variant_t::_variant_t(const _variant_t& varSrc) {
  VariantInit(this);
  _com_util::CheckError(VariantCopy(this, &varSrc));
}

_variant_t::_variant_t(_variant_t&& varSrc) noexcept {
  static_cast<VARIANT&>(*this) = static_cast<VARIANT&>(varSrc);
  VariantInit(&varSrc);
}

_variant_t::_variant_t(VARIANT& varSrc, bool fCopy) {
  VariantInit(this);
  if (fCopy) {
    _com_util::CheckError(VariantCopy(this, &varSrc));
  } else {
    static_cast<VARIANT&>(*this) = varSrc;
    VariantInit(&varSrc);
  }
}

_variant_t::_variant_t(SHORT sSrc, VARTYPE vtSrc) {
  VariantInit(this);
  if (vtSrc != VT_I2 && vtSrc != VT_BOOL) _com_issue_error(E_INVALIDARG);
  vt = vtSrc;
  if (vtSrc == VT_BOOL)
    boolVal = sSrc != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  else
    iVal = sSrc;
}

_variant_t::_variant_t(LONG lSrc, VARTYPE vtSrc) {
  VariantInit(this);
  if (vtSrc != VT_I4 && vtSrc != VT_ERROR && vtSrc != VT_BOOL) _com_issue_error(E_INVALIDARG);
  vt = vtSrc;
  if (vtSrc == VT_BOOL)
    boolVal = lSrc != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  else if (vtSrc == VT_ERROR)
    scode = lSrc;
  else
    lVal = lSrc;
}

_variant_t::_variant_t(float fltSrc) noexcept {
  VariantInit(this);
  vt = VT_R4;
  fltVal = fltSrc;
}

_variant_t::_variant_t(double dblSrc, VARTYPE vtSrc) {
  VariantInit(this);
  if (vtSrc != VT_R8 && vtSrc != VT_DATE) _com_issue_error(E_INVALIDARG);
  vt = vtSrc;
  dblVal = dblSrc;  // date shares the storage
}

_variant_t::_variant_t(const CY& cySrc) noexcept {
  VariantInit(this);
  vt = VT_CY;
  cyVal = cySrc;
}

_variant_t::_variant_t(const _bstr_t& bstrSrc) {
  VariantInit(this);
  SetBstr(bstrSrc.copy());
}

_variant_t::_variant_t(const OLECHAR* pSrc) {
  VariantInit(this);
  SetBstr(_bstr_t(pSrc).Detach());
}

_variant_t::_variant_t(const char* pSrc) {
  VariantInit(this);
  SetBstr(AllocFromAnsi(pSrc));
}

_variant_t::_variant_t(IDispatch* pSrc, bool fAddRef) noexcept {
  VariantInit(this);
  vt = VT_DISPATCH;
  pdispVal = pSrc;
  if (pSrc != nullptr && fAddRef) pSrc->AddRef();
}

_variant_t::_variant_t(IUnknown* pSrc, bool fAddRef) noexcept {
  VariantInit(this);
  vt = VT_UNKNOWN;
  punkVal = pSrc;
  if (pSrc != nullptr && fAddRef) pSrc->AddRef();
}

_variant_t::_variant_t(bool boolSrc) noexcept {
  VariantInit(this);
  vt = VT_BOOL;
  boolVal = boolSrc ? VARIANT_TRUE : VARIANT_FALSE;
}

_variant_t::_variant_t(BYTE bSrc) noexcept {
  VariantInit(this);
  vt = VT_UI1;
  bVal = bSrc;
}

_variant_t::_variant_t(char cSrc) noexcept {
  VariantInit(this);
  vt = VT_I1;
  cVal = cSrc;
}

_variant_t::_variant_t(signed char cSrc) noexcept {
  VariantInit(this);
  vt = VT_I1;
  cVal = static_cast<CHAR>(cSrc);
}

_variant_t::_variant_t(USHORT usSrc) noexcept {
  VariantInit(this);
  vt = VT_UI2;
  uiVal = usSrc;
}

_variant_t::_variant_t(ULONG ulSrc) noexcept {
  VariantInit(this);
  vt = VT_UI4;
  ulVal = ulSrc;
}

_variant_t::_variant_t(long i8Src) noexcept {
  VariantInit(this);
  vt = VT_I8;
  llVal = i8Src;
}

_variant_t::_variant_t(long long i8Src) noexcept {
  VariantInit(this);
  vt = VT_I8;
  llVal = static_cast<LONGLONG>(i8Src);
}

_variant_t::_variant_t(unsigned long ui8Src) noexcept {
  VariantInit(this);
  vt = VT_UI8;
  ullVal = ui8Src;
}

_variant_t::_variant_t(unsigned long long ui8Src) noexcept {
  VariantInit(this);
  vt = VT_UI8;
  ullVal = static_cast<ULONGLONG>(ui8Src);
}

_variant_t::~_variant_t() {
  VariantClear(this);
}

void _variant_t::SetBstr(BSTR bstr) {
  // Called on a VT_EMPTY variant; a null BSTR here is a failed allocation
  // only when the source was not null, which the callers check.
  vt = VT_BSTR;
  bstrVal = bstr;
}

_variant_t& _variant_t::operator=(const VARIANT& varSrc) {
  _com_util::CheckError(VariantCopy(this, &varSrc));
  return *this;
}

_variant_t& _variant_t::operator=(const VARIANT* pSrc) {
  if (pSrc == nullptr) _com_issue_error(E_POINTER);
  _com_util::CheckError(VariantCopy(this, pSrc));
  return *this;
}

_variant_t& _variant_t::operator=(const _variant_t& varSrc) {
  _com_util::CheckError(VariantCopy(this, &varSrc));
  return *this;
}

_variant_t& _variant_t::operator=(_variant_t&& varSrc) noexcept {
  if (this != &varSrc) {
    VariantClear(this);
    static_cast<VARIANT&>(*this) = static_cast<VARIANT&>(varSrc);
    VariantInit(&varSrc);
  }
  return *this;
}

_variant_t& _variant_t::operator=(SHORT sSrc) {
  if (vt == VT_BOOL) {
    boolVal = sSrc != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  } else {
    Clear();
    vt = VT_I2;
    iVal = sSrc;
  }
  return *this;
}

_variant_t& _variant_t::operator=(LONG lSrc) {
  if (vt == VT_BOOL) {
    boolVal = lSrc != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (vt == VT_ERROR) {
    scode = lSrc;
  } else {
    Clear();
    vt = VT_I4;
    lVal = lSrc;
  }
  return *this;
}

_variant_t& _variant_t::operator=(float fltSrc) {
  Clear();
  vt = VT_R4;
  fltVal = fltSrc;
  return *this;
}

_variant_t& _variant_t::operator=(double dblSrc) {
  if (vt == VT_DATE) {
    date = dblSrc;
  } else {
    Clear();
    vt = VT_R8;
    dblVal = dblSrc;
  }
  return *this;
}

_variant_t& _variant_t::operator=(const CY& cySrc) {
  Clear();
  vt = VT_CY;
  cyVal = cySrc;
  return *this;
}

_variant_t& _variant_t::operator=(const _bstr_t& bstrSrc) {
  BSTR copy = bstrSrc.copy();  // before Clear: bstrSrc may be this variant's text
  Clear();
  SetBstr(copy);
  return *this;
}

_variant_t& _variant_t::operator=(const OLECHAR* pSrc) {
  BSTR copy = _bstr_t(pSrc).Detach();
  Clear();
  SetBstr(copy);
  return *this;
}

_variant_t& _variant_t::operator=(const char* pSrc) {
  BSTR copy = AllocFromAnsi(pSrc);
  Clear();
  SetBstr(copy);
  return *this;
}

_variant_t& _variant_t::operator=(IDispatch* pSrc) {
  if (pSrc != nullptr) pSrc->AddRef();  // before Clear: it may hold the last reference
  Clear();
  vt = VT_DISPATCH;
  pdispVal = pSrc;
  return *this;
}

_variant_t& _variant_t::operator=(IUnknown* pSrc) {
  if (pSrc != nullptr) pSrc->AddRef();
  Clear();
  vt = VT_UNKNOWN;
  punkVal = pSrc;
  return *this;
}

_variant_t& _variant_t::operator=(bool boolSrc) {
  Clear();
  vt = VT_BOOL;
  boolVal = boolSrc ? VARIANT_TRUE : VARIANT_FALSE;
  return *this;
}

_variant_t& _variant_t::operator=(BYTE bSrc) {
  Clear();
  vt = VT_UI1;
  bVal = bSrc;
  return *this;
}

_variant_t& _variant_t::operator=(char cSrc) {
  Clear();
  vt = VT_I1;
  cVal = cSrc;
  return *this;
}

_variant_t& _variant_t::operator=(signed char cSrc) {
  Clear();
  vt = VT_I1;
  cVal = static_cast<CHAR>(cSrc);
  return *this;
}

_variant_t& _variant_t::operator=(USHORT usSrc) {
  Clear();
  vt = VT_UI2;
  uiVal = usSrc;
  return *this;
}

_variant_t& _variant_t::operator=(ULONG ulSrc) {
  Clear();
  vt = VT_UI4;
  ulVal = ulSrc;
  return *this;
}

_variant_t& _variant_t::operator=(long i8Src) {
  Clear();
  vt = VT_I8;
  llVal = i8Src;
  return *this;
}

_variant_t& _variant_t::operator=(long long i8Src) {
  Clear();
  vt = VT_I8;
  llVal = static_cast<LONGLONG>(i8Src);
  return *this;
}

_variant_t& _variant_t::operator=(unsigned long ui8Src) {
  Clear();
  vt = VT_UI8;
  ullVal = ui8Src;
  return *this;
}

_variant_t& _variant_t::operator=(unsigned long long ui8Src) {
  Clear();
  vt = VT_UI8;
  ullVal = static_cast<ULONGLONG>(ui8Src);
  return *this;
}

_variant_t::operator SHORT() const {
  return vt == VT_I2 ? iVal : Converted(*this, VT_I2).iVal;
}

_variant_t::operator LONG() const {
  return vt == VT_I4 ? lVal : Converted(*this, VT_I4).lVal;
}

_variant_t::operator float() const {
  return vt == VT_R4 ? fltVal : Converted(*this, VT_R4).fltVal;
}

_variant_t::operator double() const {
  return vt == VT_R8 ? dblVal : Converted(*this, VT_R8).dblVal;
}

_variant_t::operator CY() const {
  return vt == VT_CY ? cyVal : Converted(*this, VT_CY).cyVal;
}

_variant_t::operator _bstr_t() const {
  if (vt == VT_BSTR) return _bstr_t(bstrVal, true);
  _variant_t text = Converted(*this, VT_BSTR);
  return _bstr_t(std::exchange(text.bstrVal, nullptr), false);
}

_variant_t::operator bool() const {
  return (vt == VT_BOOL ? boolVal : Converted(*this, VT_BOOL).boolVal) != VARIANT_FALSE;
}

_variant_t::operator BYTE() const {
  return vt == VT_UI1 ? bVal : Converted(*this, VT_UI1).bVal;
}

_variant_t::operator char() const {
  return vt == VT_I1 ? cVal : Converted(*this, VT_I1).cVal;
}

_variant_t::operator USHORT() const {
  return vt == VT_UI2 ? uiVal : Converted(*this, VT_UI2).uiVal;
}

_variant_t::operator ULONG() const {
  return vt == VT_UI4 ? ulVal : Converted(*this, VT_UI4).ulVal;
}

_variant_t::operator long() const {
  return vt == VT_I8 ? llVal : Converted(*this, VT_I8).llVal;
}

_variant_t::operator long long() const {
  return vt == VT_I8 ? llVal : Converted(*this, VT_I8).llVal;
}

_variant_t::operator unsigned long() const {
  return vt == VT_UI8 ? ullVal : Converted(*this, VT_UI8).ullVal;
}

_variant_t::operator unsigned long long() const {
  return vt == VT_UI8 ? ullVal : Converted(*this, VT_UI8).ullVal;
}

_variant_t::operator IDispatch*() const {
  if (vt == VT_DISPATCH) {
    if (pdispVal != nullptr) pdispVal->AddRef();
    return pdispVal;
  }
  _variant_t converted = Converted(*this, VT_DISPATCH);
  return std::exchange(converted.pdispVal, nullptr);
}

_variant_t::operator IUnknown*() const {
  if (vt == VT_UNKNOWN) {
    if (punkVal != nullptr) punkVal->AddRef();
    return punkVal;
  }
  _variant_t converted = Converted(*this, VT_UNKNOWN);
  return std::exchange(converted.punkVal, nullptr);
}

void _variant_t::ChangeType(VARTYPE vartype, const _variant_t* pSrc) {
  const VARIANT* source = pSrc != nullptr ? static_cast<const VARIANT*>(pSrc) : this;
  _com_util::CheckError(VariantChangeType(this, source, 0, vartype));
}

void _variant_t::Clear() {
  _com_util::CheckError(VariantClear(this));
}

void _variant_t::Attach(VARIANT& varSrc) {
  Clear();
  static_cast<VARIANT&>(*this) = varSrc;
  VariantInit(&varSrc);
}

VARIANT _variant_t::Detach() noexcept {
  VARIANT result = *this;
  VariantInit(this);
  return result;
}

VARIANT* _variant_t::GetAddress() {
  Clear();
  return this;
}

void _variant_t::SetString(const char* pSrc) {
  *this = pSrc;
}
