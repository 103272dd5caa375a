// Platform stand-in: the base COM interfaces.
//
// Interfaces are abstract classes in slot order, without virtual destructors,
// so that their virtual tables have the COM layout. Interface ids are the
// Windows ones.
#pragma once

#include "WinTypes.h"

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {00000001-0000-0000-C000-000000000046}
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {00020400-0000-0000-C000-000000000046}
inline constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {1CF2B120-547D-101B-8E65-08002B2BD119}
inline constexpr IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
// {22F03340-547D-101B-8E65-08002B2BD119}
inline constexpr IID IID_ICreateErrorInfo = {
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
// {DF0B3D60-548F-101B-8E65-08002B2BD119}
inline constexpr IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

struct IUnknown {
  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) PURE;
  STDMETHOD_(ULONG, AddRef)() PURE;
  STDMETHOD_(ULONG, Release)() PURE;
};

struct IClassFactory : IUnknown {
  STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) PURE;
  STDMETHOD(LockServer)(BOOL fLock) PURE;
};

// IDispatch keeps its four slots so that dual interfaces have the Windows
// layout. The stand-in has no type information: implementations may answer
// E_NOTIMPL, and the argument types are opaque.
struct ITypeInfo;
struct DISPPARAMS;
struct EXCEPINFO;
struct tagVARIANT;

struct IDispatch : IUnknown {
  STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) PURE;
  STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) PURE;
  STDMETHOD(GetIDsOfNames)
  (REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) PURE;
  STDMETHOD(Invoke)
  (DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
   tagVARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) PURE;
};

struct IErrorInfo : IUnknown {
  STDMETHOD(GetGUID)(GUID* pGUID) PURE;
  STDMETHOD(GetSource)(BSTR* pBstrSource) PURE;
  STDMETHOD(GetDescription)(BSTR* pBstrDescription) PURE;
  STDMETHOD(GetHelpFile)(BSTR* pBstrHelpFile) PURE;
  STDMETHOD(GetHelpContext)(DWORD* pdwHelpContext) PURE;
};

struct ICreateErrorInfo : IUnknown {
  STDMETHOD(SetGUID)(REFGUID rguid) PURE;
  STDMETHOD(SetSource)(LPOLESTR szSource) PURE;
  STDMETHOD(SetDescription)(LPOLESTR szDescription) PURE;
  STDMETHOD(SetHelpFile)(LPOLESTR szHelpFile) PURE;
  STDMETHOD(SetHelpContext)(DWORD dwHelpContext) PURE;
};

struct ISupportErrorInfo : IUnknown {
  STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) PURE;
};

#pragma GCC diagnostic pop
