// What the subcommands that work through the server share: creating
// ComVemServer by its ProgID through the registry, deriving the data model
// of a database, turning a failed call into a CommandFailure with the error
// information the server left, and a back channel that shows progress and
// error reports as they arrive.
//
// A ServerSession initialises the COM runtime for its life; the model it
// hands out must be released before the session ends (declare the session
// first). The back channel must outlive the model: the server holds it
// without a reference.
#pragma once

#include <cstddef>
#include <string>

#include "Platform/ComUtil.h"
#include "Secret.h"
#include "vem/vem.h"

namespace vemtool {

// The ProgID by which the tool creates the server.
inline constexpr char16_t kServerProgId[] = u"VemComServer.ComVemServer";

// Raises CommandFailure "<what> failed: <description>" when hr failed; the
// description is the thread's error information, else the HRESULT in hex.
// Answers hr otherwise.
HRESULT CheckCall(HRESULT hr, const std::string& what);
// The description of a failed call: the thread's error information, else
// the HRESULT in hex.
std::string FailureText(HRESULT hr);

// A back channel for long operations: Progress reports drive a bar on a
// terminal (plain "progress" lines otherwise), Error reports are written to
// stderr as they arrive and counted. Trace texts of failures (level 4) are
// kept, so that an Error report that carries no text of its own is shown
// with the failure that led to it (such as the blob file that failed its
// check).
class ToolBackChannel : public IkivBackChannel {
 public:
  // command names the subcommand in the lines written ("vem check").
  explicit ToolBackChannel(std::string command);
  ~ToolBackChannel();
  ToolBackChannel(const ToolBackChannel&) = delete;
  ToolBackChannel& operator=(const ToolBackChannel&) = delete;

  std::size_t ErrorCount() const { return m_errors; }
  // Ends a progress bar that is still on its line.
  void EndProgress();

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return 1; }  // lives on the caller's stack
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP get_lTraceLevel(LONG* plLevel) override;
  STDMETHODIMP put_lTraceLevel(LONG) override { return S_OK; }
  STDMETHODIMP Error(LONG, LONG, LONG, LONG lCode, BSTR b1, BSTR b2, BSTR b3) override;
  STDMETHODIMP Progress(LONG, LONG, LONG, LONG, BSTR, BSTR, BSTR, SHORT nPercent,
                        SHORT eAction) override;
  STDMETHODIMP Info(LONG, LONG, LONG, LONG, BSTR, BSTR, BSTR) override { return S_OK; }
  STDMETHODIMP Trace(LONG, LONG, LONG, LONG lLevel, BSTR bstrText) override;
  STDMETHODIMP Data(LONG, LONG, LONG, VARIANT*) override { return S_OK; }

 private:
  std::string m_command;
  bool m_bTerminal;
  bool m_bBarShown = false;
  int m_lastPercent = -1;
  int m_lastAction = -1;
  std::size_t m_errors = 0;
  std::string m_lastFailure;  // the latest level-4 trace, without its source position
};

// The COM runtime for the life of the object; the server created by ProgID.
class ServerSession {
 public:
  ServerSession();
  ~ServerSession();
  ServerSession(const ServerSession&) = delete;
  ServerSession& operator=(const ServerSession&) = delete;

  // The data model of the database at path, opened with password. Raises
  // CommandFailure when the server is not registered (with the hint to run
  // `vem register`) or when the model cannot be derived (the server's text).
  ComPtr<IComDataModel> OpenModel(IkivBackChannel& channel, const std::string& path,
                                  const SecretBuffer& password);

 private:
  bool m_bInitialized = false;
};

// A VT_ARRAY | VT_UI1 VARIANT holding a copy of a secret; the copy is wiped
// before the array is freed.
class SecretArray {
 public:
  SecretArray(const unsigned char* p, std::size_t n);
  ~SecretArray();
  SecretArray(const SecretArray&) = delete;
  SecretArray& operator=(const SecretArray&) = delete;
  const VARIANT& get() const { return m_v; }

 private:
  VARIANT m_v;
};

}  // namespace vemtool
