// IkivBackChannel: the diagnostics interface that a client implements and
// hands to the server when it creates a data model.
//
// The server writes no log of its own. Error reports, progress of long
// operations, trace texts and data dumps all arrive here. The server holds
// the client's pointer without AddRef for the whole life of the data model,
// so the client's object must outlive every data model it was given to.
//
// Calling conventions shared by every method:
// - Calls arrive on whichever thread is using the data model at that moment
//   (the server does no locking and no marshalling); lTreadId is that
//   thread's id, lTime the current time in seconds since 1970-01-01 UTC.
// - Every BSTR and VARIANT argument is owned by the server and valid only for
//   the duration of the call; the client copies what it keeps and never frees
//   them. A BSTR argument may be null, which counts as the empty text.
// - The server never looks at the returned HRESULT; a client should still
//   answer S_OK.
//
// A dual interface derived from IDispatch; the server calls it through its
// virtual table only, so an implementation may answer E_NOTIMPL for the four
// IDispatch slots. Dispatch ids 1 (lTraceLevel) to 6 (Data) in slot order.
#pragma once

#include "Platform/OleAuto.h"
#include "Platform/Unknwn.h"
#include "Platform/WinTypes.h"

// {DE465130-3BAD-4205-AFC8-7AC9D55E0AF4}
inline constexpr IID IID_IkivBackChannel = {
    0xDE465130, 0x3BAD, 0x4205, {0xAF, 0xC8, 0x7A, 0xC9, 0xD5, 0x5E, 0x0A, 0xF4}};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

struct IkivBackChannel : IDispatch {
  // Slot 7. Answers the client's trace level, a bit mask, into
  // *plTraceLevel. The server asks for it at the start of model opening, of
  // blob operations and before reporting engine failures; a trace text of
  // level L reaches Trace only when (L & level) != 0. Bits in use: 4 notes
  // and failures, 2 unreadable or unwritable blob headers, 1 the blob-file
  // check's own lines. plTraceLevel is never null when the server calls.
  STDMETHOD(get_lTraceLevel)(LONG* plTraceLevel) PURE;

  // Slot 8. Sets the trace level; the server itself never calls it (it is
  // there for clients that configure their object through the interface).
  STDMETHOD(put_lTraceLevel)(LONG lTraceLevel) PURE;

  // Slot 9. An error report, always sent whatever the trace level.
  // lErrorCode: an errno value, a Win32 error code or an HRESULT.
  // bstrText1..3: up to three texts (a path, an operation, ...), each may be
  // null. lDeep: the nesting depth of the reporting object (0 for models).
  STDMETHOD(Error)
  (LONG lTreadId, LONG lTime, LONG lDeep, LONG lErrorCode, BSTR bstrText1, BSTR bstrText2,
   BSTR bstrText3) PURE;

  // Slot 10. Progress of a long operation (check, compaction), always sent.
  // lTextCode is -1 and the texts are null for the server's own reports;
  // nPercent is 0..100; eAction an action code that the client interprets.
  STDMETHOD(Progress)
  (LONG lTreadId, LONG lTime, LONG lDeep, LONG lTextCode, BSTR bstrText1, BSTR bstrText2,
   BSTR bstrText3, SHORT nPercent, SHORT eAction) PURE;

  // Slot 11. An informational report, shaped like Error; always sent.
  STDMETHOD(Info)
  (LONG lTreadId, LONG lTime, LONG lDeep, LONG lTextCode, BSTR bstrText1, BSTR bstrText2,
   BSTR bstrText3) PURE;

  // Slot 12. A trace text of level lLevel, sent only when lLevel has a bit in
  // common with the client's trace level. bstrText reads "VEM ", the emitting
  // source file's name, "(" line "): " and the message.
  STDMETHOD(Trace)(LONG lTreadId, LONG lTime, LONG lDeep, LONG lLevel, BSTR bstrText) PURE;

  // Slot 13. A block of data: varData points at a VARIANT of type
  // VT_ARRAY | VT_UI1 whose one-dimensional array (lower bound 0) holds the
  // bytes including a terminating NUL. lDeep is always 0. The array and the
  // VARIANT belong to the server and live only for the call: copy the bytes,
  // never VariantClear or destroy them.
  STDMETHOD(Data)(LONG lTreadId, LONG lTime, LONG lDeep, VARIANT* varData) PURE;
};

#pragma GCC diagnostic pop
