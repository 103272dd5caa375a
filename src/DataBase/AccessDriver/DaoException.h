// vem_error: the one exception type of the access driver, the field cipher
// and the blob store. It carries a text (what(), may be empty) and an
// HRESULT-shaped code: 0xC004Axxx for failures the system detects itself,
// the engine's HRESULT unchanged for engine failures, 0 for the cipher's.
// Thrown by value, caught by reference; the COM layer turns it into an
// HRESULT with error info at its boundary.
//
// Engine failures arrive as _com_error (the HRESULT and, when the failing
// object supports it, its IErrorInfo). The driver turns each of them into a
// text "<source>: <description> - error code: 0x<hresult>", traces that text
// once to the model's back channel (level 4) and raises it as vem_error with
// the engine's HRESULT as code (RaiseEngineError). Operations that call the
// engine run their work inside CallEngine, which does exactly that for an
// escaping _com_error and lets a vem_error through unchanged.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

#include "Platform/ComUtil.h"
#include "Platform/Unknwn.h"
#include "Platform/WinTypes.h"

class DataModel;

class vem_error : public std::runtime_error {
 public:
  // A failure known by its code alone: what() is the empty text.
  explicit vem_error(LONG lCode) : std::runtime_error(std::string()), m_lCode(lCode) {}
  vem_error(const std::string& text, LONG lCode) : std::runtime_error(text), m_lCode(lCode) {}
  vem_error(const char* szText, LONG lCode)
      : std::runtime_error(szText != nullptr ? szText : ""), m_lCode(lCode) {}

  ~vem_error() override;

  LONG code() const noexcept { return m_lCode; }

 private:
  LONG m_lCode;
};

// Codes the driver raises itself.
inline constexpr LONG kVemErrComInitFailed = static_cast<LONG>(0xC004A800);
inline constexpr LONG kVemErrTransactionOnClosedDb = static_cast<LONG>(0xC004A817);
inline constexpr LONG kVemErrRecordMissing = static_cast<LONG>(0xC004A006);
inline constexpr LONG kVemErrRecordExists = static_cast<LONG>(0xC004A007);
// An encrypted value was to be written with a key that is not the one in
// force in the database (another client changed the secret); nothing was
// written.
inline constexpr LONG kVemErrStaleKey = static_cast<LONG>(0xC004A819);
// The database's key check value cannot be read.
inline constexpr LONG kVemErrKeyCheckDamaged = static_cast<LONG>(0xC004A81A);

// Codes of the blob store.
inline constexpr LONG kVemErrBlobNoRow = static_cast<LONG>(0xC004A802);  // no row for the id
inline constexpr LONG kVemErrBlobFileVersion =
    static_cast<LONG>(0xC004A803);  // file header version
inline constexpr LONG kVemErrBlobBlockVersion =
    static_cast<LONG>(0xC004A804);                                          // block header version
inline constexpr LONG kVemErrBlobWrite = static_cast<LONG>(0xC004A805);     // a write failed
inline constexpr LONG kVemErrBlobNotOpen = static_cast<LONG>(0xC004A806);   // no blob to open
inline constexpr LONG kVemErrBlobHeader = static_cast<LONG>(0xC004A807);    // header unreadable
inline constexpr LONG kVemErrBlobFileOpen = static_cast<LONG>(0xC004A811);  // file not opened

// The text of an engine failure: the error info's Source ("<source
// unknown>" without one), ": ", its Description ("<description unknown>"),
// " - error code: " and the HRESULT as "0x%lX" of its 32 unsigned bits.
// With a model: refreshes the model's trace level and traces the text at
// level 4 (source file DataBase\AccessDriver\DaoException, line 46).
std::string ErrorText(const _com_error& error, DataModel* pModel);

// ErrorText (traced when pModel is given), then raises vem_error(text,
// the error's HRESULT).
[[noreturn]] void RaiseEngineError(const _com_error& error, DataModel* pModel);

// For a failed raw engine call that the caller answers without raising:
// takes the thread's error info when pFailingObject confirms, through
// ISupportErrorInfo, that riid reports errors that way, and answers
// ErrorText of hr with it (traced as ErrorText does).
std::string ErrorTextFromCall(HRESULT hr, IUnknown* pFailingObject, REFIID riid, DataModel* pModel);

// Raises _com_error(hr) carrying error info with Source "VemAccessDriver"
// and the description: a failure the driver meets on the engine's side
// (no recordset open) that is to be translated like an engine failure.
[[noreturn]] void IssueDriverComError(HRESULT hr, const std::string& description);

// Runs fn (a driver operation that calls the engine) and answers its
// result. A _com_error escaping from fn is translated by RaiseEngineError
// with pModel; a vem_error (and anything else) passes through unchanged.
template <class Fn>
decltype(auto) CallEngine(DataModel* pModel, Fn&& fn) {
  try {
    return std::forward<Fn>(fn)();
  } catch (const _com_error& error) {
    RaiseEngineError(error, pModel);
  }
}
