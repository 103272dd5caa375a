// Platform stand-in: the COM compiler-support helpers (_com_error, _bstr_t,
// _variant_t, _com_issue_error[ex]) and a COM smart pointer (ComPtr).
//
// They behave as the Windows ones (comdef.h, comutil.h) with these
// differences, all for this platform's sake:
// - _com_error derives from nothing, as on Windows: catch it by its own type.
//   ErrorMessage() answers single-byte text.
// - _bstr_t owns its BSTR alone (a copy is a deep copy). A null BSTR and an
//   empty one compare equal, and operator const char* gives "" (never null)
//   for both; operator const OLECHAR* gives the BSTR itself (null stays null),
//   so it can be handed on as a BSTR. Its single-byte text is Windows-1252.
// - On this platform LONG is int and LONGLONG is long, so _variant_t(int)
//   makes a VT_I4 (Windows: VT_INT), _variant_t(unsigned int) a VT_UI4, and
//   long / long long make VT_I8.
// Failures (out of memory, a conversion that does not go) throw _com_error.
#pragma once

#include <compare>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "OleAuto.h"

class _bstr_t;
class _variant_t;

// ---- _com_error -----------------------------------------------------------

class _com_error {
 public:
  // Takes over the caller's reference to perrinfo, or adds its own when
  // fAddRef is true.
  _com_error(HRESULT hr, IErrorInfo* perrinfo = nullptr, bool fAddRef = false) noexcept;
  _com_error(const _com_error& that) noexcept;
  _com_error& operator=(const _com_error& that) noexcept;
  virtual ~_com_error();

  HRESULT Error() const noexcept { return m_hresult; }
  // The IDispatch error number of an HRESULT in 0x80040200..0x8004FFFF, else 0.
  WORD WCode() const noexcept { return HRESULTToWCode(m_hresult); }
  // An AddRef'd pointer the caller releases, or null.
  IErrorInfo* ErrorInfo() const noexcept;
  // Texts of the error information; empty without it.
  _bstr_t Description() const;
  _bstr_t Source() const;
  _bstr_t HelpFile() const;
  DWORD HelpContext() const noexcept;
  // A text for the HRESULT ("Unspecified error", "Type mismatch.", ...,
  // "IDispatch error #n", "Unknown error 0x800A0BCD"); lives as long as this
  // object.
  const char* ErrorMessage() const noexcept;

  static HRESULT WCodeToHRESULT(WORD wCode) noexcept;
  static WORD HRESULTToWCode(HRESULT hr) noexcept;

 private:
  HRESULT m_hresult;
  IErrorInfo* m_perrinfo;         // owned reference or null
  mutable std::string m_message;  // ErrorMessage's text, made on first use
};

// Throws _com_error(hr) without error information.
[[noreturn]] void _com_issue_error(HRESULT hr);
// Throws _com_error(hr) carrying the thread's error information when pUnk
// confirms, through ISupportErrorInfo, that riid reports errors that way;
// without it otherwise.
[[noreturn]] void _com_issue_errorex(HRESULT hr, IUnknown* pUnk, REFIID riid);

namespace _com_util {

// Throws _com_error(hr) when hr is a failure.
inline void CheckError(HRESULT hr) {
  if (FAILED(hr)) _com_issue_error(hr);
}

// Windows-1252 text to a new BSTR (null for null); throws on exhaustion.
BSTR ConvertStringToBSTR(const char* pSrc);
// A BSTR as new Windows-1252 text the caller frees with delete[] (null for null).
char* ConvertBSTRToString(BSTR pSrc);

}  // namespace _com_util

// ---- _bstr_t --------------------------------------------------------------

class _bstr_t {
 public:
  _bstr_t() noexcept = default;
  _bstr_t(const _bstr_t& s);
  _bstr_t(_bstr_t&& s) noexcept;
  _bstr_t(const char* s);     // Windows-1252; null gives the null BSTR
  _bstr_t(const OLECHAR* s);  // up to the NUL; null gives the null BSTR
  _bstr_t(std::u16string_view s);
  // Copies bstr (fCopy) or takes it over (!fCopy).
  _bstr_t(BSTR bstr, bool fCopy);
  ~_bstr_t();

  _bstr_t& operator=(const _bstr_t& s);
  _bstr_t& operator=(_bstr_t&& s) noexcept;
  _bstr_t& operator=(const char* s);
  _bstr_t& operator=(const OLECHAR* s);

  _bstr_t& operator+=(const _bstr_t& s);
  friend _bstr_t operator+(const _bstr_t& a, const _bstr_t& b);
  friend _bstr_t operator+(const char* a, const _bstr_t& b);
  friend _bstr_t operator+(const OLECHAR* a, const _bstr_t& b);

  // The BSTR itself (null stays null): usable wherever a BSTR is read.
  operator const OLECHAR*() const noexcept { return m_bstr; }
  operator OLECHAR*() const noexcept { return m_bstr; }
  // Windows-1252 text, never null, valid until this object changes.
  operator const char*() const;

  // True for the null BSTR (not for an allocated empty one), as on Windows.
  bool operator!() const noexcept { return m_bstr == nullptr; }

  // By UTF-16 code units; null equals empty.
  friend bool operator==(const _bstr_t& a, const _bstr_t& b) noexcept;
  friend bool operator==(const _bstr_t& a, const OLECHAR* b) noexcept;
  friend bool operator==(const _bstr_t& a, const char* b);
  friend std::strong_ordering operator<=>(const _bstr_t& a, const _bstr_t& b) noexcept;
  friend std::strong_ordering operator<=>(const _bstr_t& a, const OLECHAR* b) noexcept;
  friend std::strong_ordering operator<=>(const _bstr_t& a, const char* b);

  // A new BSTR the caller frees (fCopy), or the held one itself (!fCopy).
  BSTR copy(bool fCopy = true) const;
  unsigned int length() const noexcept { return SysStringLen(m_bstr); }
  std::u16string_view view() const noexcept { return {m_bstr ? m_bstr : u"", length()}; }

  // Replaces the text with a copy of s.
  void Assign(BSTR s);
  // The held BSTR, which the caller may replace (the old one must then be
  // freed by the caller).
  BSTR& GetBSTR() noexcept;
  BSTR GetBSTR() const noexcept { return m_bstr; }
  // Frees the held BSTR and answers where a new one is to be stored.
  BSTR* GetAddress() noexcept;
  // Takes ownership of s, freeing the held BSTR.
  void Attach(BSTR s) noexcept;
  // Gives the held BSTR to the caller; this becomes null.
  BSTR Detach() noexcept;

 private:
  BSTR m_bstr = nullptr;
  // Windows-1252 form for operator const char*, valid while m_ansiOf == m_bstr.
  mutable std::unique_ptr<std::string> m_ansi;
  mutable BSTR m_ansiOf = nullptr;
};

// ---- _variant_t -----------------------------------------------------------

class _variant_t : public tagVARIANT {
 public:
  _variant_t() noexcept;
  _variant_t(const VARIANT& varSrc);
  _variant_t(const VARIANT* pSrc);  // null throws E_POINTER
  _variant_t(const _variant_t& varSrc);
  _variant_t(_variant_t&& varSrc) noexcept;
  // Copies varSrc (fCopy), or takes over its content and leaves it VT_EMPTY.
  _variant_t(VARIANT& varSrc, bool fCopy);

  _variant_t(SHORT sSrc, VARTYPE vtSrc = VT_I2);  // VT_I2 or VT_BOOL
  _variant_t(LONG lSrc, VARTYPE vtSrc = VT_I4);   // VT_I4, VT_ERROR or VT_BOOL
  _variant_t(float fltSrc) noexcept;
  _variant_t(double dblSrc, VARTYPE vtSrc = VT_R8);  // VT_R8 or VT_DATE
  _variant_t(const CY& cySrc) noexcept;
  _variant_t(const _bstr_t& bstrSrc);
  _variant_t(const OLECHAR* pSrc);
  _variant_t(const char* pSrc);  // Windows-1252
  _variant_t(IDispatch* pSrc, bool fAddRef = true) noexcept;
  _variant_t(IUnknown* pSrc, bool fAddRef = true) noexcept;
  _variant_t(bool boolSrc) noexcept;
  _variant_t(BYTE bSrc) noexcept;
  _variant_t(char cSrc) noexcept;         // VT_I1
  _variant_t(signed char cSrc) noexcept;  // VT_I1 (std::int8_t)
  _variant_t(USHORT usSrc) noexcept;
  _variant_t(ULONG ulSrc) noexcept;  // VT_UI4
  _variant_t(long i8Src) noexcept;   // VT_I8
  _variant_t(long long i8Src) noexcept;
  _variant_t(unsigned long ui8Src) noexcept;  // VT_UI8
  _variant_t(unsigned long long ui8Src) noexcept;

  ~_variant_t();

  _variant_t& operator=(const VARIANT& varSrc);
  _variant_t& operator=(const VARIANT* pSrc);
  _variant_t& operator=(const _variant_t& varSrc);
  _variant_t& operator=(_variant_t&& varSrc) noexcept;
  _variant_t& operator=(SHORT sSrc);  // stays VT_BOOL when it is one
  _variant_t& operator=(LONG lSrc);   // stays VT_ERROR or VT_BOOL when it is one
  _variant_t& operator=(float fltSrc);
  _variant_t& operator=(double dblSrc);  // stays VT_DATE when it is one
  _variant_t& operator=(const CY& cySrc);
  _variant_t& operator=(const _bstr_t& bstrSrc);
  _variant_t& operator=(const OLECHAR* pSrc);
  _variant_t& operator=(const char* pSrc);
  _variant_t& operator=(IDispatch* pSrc);  // AddRef's
  _variant_t& operator=(IUnknown* pSrc);   // AddRef's
  _variant_t& operator=(bool boolSrc);
  _variant_t& operator=(BYTE bSrc);
  _variant_t& operator=(char cSrc);
  _variant_t& operator=(signed char cSrc);
  _variant_t& operator=(USHORT usSrc);
  _variant_t& operator=(ULONG ulSrc);
  _variant_t& operator=(long i8Src);
  _variant_t& operator=(long long i8Src);
  _variant_t& operator=(unsigned long ui8Src);
  _variant_t& operator=(unsigned long long ui8Src);

  // Extractors: the value converted with VariantChangeType; a conversion that
  // fails throws _com_error with its HRESULT (DISP_E_TYPEMISMATCH,
  // DISP_E_OVERFLOW, ...).
  operator SHORT() const;
  operator LONG() const;
  operator float() const;
  operator double() const;
  operator CY() const;
  operator _bstr_t() const;
  operator bool() const;
  operator BYTE() const;
  operator char() const;
  operator USHORT() const;
  operator ULONG() const;
  operator long() const;
  operator long long() const;
  operator unsigned long() const;
  operator unsigned long long() const;
  // AddRef'd interface pointers the caller releases (null stays null).
  operator IDispatch*() const;
  operator IUnknown*() const;

  // Converts in place, from pSrc when given; throws _com_error on failure
  // and then leaves this unchanged.
  void ChangeType(VARTYPE vartype, const _variant_t* pSrc = nullptr);
  void Clear();
  // Takes over varSrc's content (varSrc becomes VT_EMPTY).
  void Attach(VARIANT& varSrc);
  // Gives the content to the caller; this becomes VT_EMPTY.
  VARIANT Detach() noexcept;
  VARIANT& GetVARIANT() noexcept { return *this; }
  // Clears and answers where a new value is to be stored.
  VARIANT* GetAddress();
  void SetString(const char* pSrc);

 private:
  void SetBstr(BSTR bstr);  // takes ownership; throws when null came from a failed allocation
};

// ---- ComPtr ---------------------------------------------------------------

// Holds one reference to a COM interface: AddRef on copy, Release when reset
// or destroyed.
template <class T>
class ComPtr {
 public:
  using InterfaceType = T;

  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Adds a reference of its own.
  ComPtr(T* p) noexcept : m_p(p) { AddRefHeld(); }
  ComPtr(const ComPtr& other) noexcept : m_p(other.m_p) { AddRefHeld(); }
  ComPtr(ComPtr&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
  template <class U>
  requires std::is_convertible_v<U*, T*> ComPtr(const ComPtr<U>& other)
  noexcept : m_p(other.get()) { AddRefHeld(); }
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& other) noexcept {
    ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(T* p) noexcept {
    ComPtr(p).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) noexcept {
    Reset();
    return *this;
  }

  T* get() const noexcept { return m_p; }
  T* Get() const noexcept { return m_p; }
  T* operator->() const noexcept { return m_p; }
  T& operator*() const noexcept { return *m_p; }
  explicit operator bool() const noexcept { return m_p != nullptr; }

  // Releases the held reference and answers where a new one is to be stored
  // (the out parameter of a call that hands over a reference).
  T** GetAddressOf() noexcept {
    Reset();
    return &m_p;
  }
  T** ReleaseAndGetAddressOf() noexcept { return GetAddressOf(); }
  T** operator&() noexcept { return GetAddressOf(); }

  // Takes over a reference without adding one.
  void Attach(T* p) noexcept {
    if (m_p != nullptr) m_p->Release();
    m_p = p;
  }
  // Gives the reference to the caller.
  T* Detach() noexcept {
    T* p = m_p;
    m_p = nullptr;
    return p;
  }
  void Reset() noexcept {
    T* p = m_p;
    m_p = nullptr;
    if (p != nullptr) p->Release();
  }
  void reset() noexcept { Reset(); }
  void Swap(ComPtr& other) noexcept {
    T* p = m_p;
    m_p = other.m_p;
    other.m_p = p;
  }

  // Stores an AddRef'd copy in *pp.
  HRESULT CopyTo(T** pp) const noexcept {
    if (pp == nullptr) return E_POINTER;
    *pp = m_p;
    AddRefHeld();
    return S_OK;
  }

  // Asks the object for interface riid (U must be that interface).
  template <class U>
  HRESULT As(REFIID riid, ComPtr<U>* pOut) const noexcept {
    if (pOut == nullptr) return E_POINTER;
    if (m_p == nullptr) {
      pOut->Reset();
      return E_POINTER;
    }
    return m_p->QueryInterface(riid, reinterpret_cast<void**>(pOut->GetAddressOf()));
  }
  // As above; null when the object is null or lacks the interface.
  template <class U>
  ComPtr<U> As(REFIID riid) const noexcept {
    ComPtr<U> result;
    As(riid, std::addressof(result));
    return result;
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.m_p == b.m_p; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.m_p == nullptr; }
  friend bool operator==(const ComPtr& a, const T* b) noexcept { return a.m_p == b; }

 private:
  void AddRefHeld() const noexcept {
    if (m_p != nullptr) m_p->AddRef();
  }

  T* m_p = nullptr;
};
