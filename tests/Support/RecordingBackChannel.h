// A client back channel for tests: implements IkivBackChannel and records
// every call the server makes (kind, thread id, time, depth, code or level,
// texts, percent and action, and Data's array shape and bytes, copied during
// the call). Its trace level is set by the test.
//
// The object is meant to live on the test's stack or in a fixture: AddRef and
// Release count (RefCount() shows whether anyone kept a reference) but
// Release never deletes. Calls may arrive from several threads; recording is
// guarded by a mutex.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "vem/IkivBackChannel.h"

namespace vemtest {

enum class BackChannelCallKind { Error, Progress, Info, Trace, Data };

struct BackChannelCall {
  BackChannelCallKind kind = BackChannelCallKind::Trace;
  LONG lThreadId = 0;
  LONG lTime = 0;
  LONG lDeep = 0;
  LONG lCode = 0;  // Error: error code; Progress, Info: text code; Trace: level
  // Windows-1252 forms of the BSTR arguments; nullopt for a null BSTR. Trace
  // puts its text into text1.
  std::optional<std::string> text1, text2, text3;
  SHORT nPercent = 0;  // Progress only
  SHORT eAction = 0;   // Progress only
  // Data only: the VARIANT and its array as received (zero when absent).
  VARTYPE vt = VT_EMPTY;
  USHORT cDims = 0;
  USHORT fFeatures = 0;
  ULONG cbElements = 0;
  LONG lLbound = 0;
  ULONG cElements = 0;
  std::vector<BYTE> bytes;
};

class RecordingBackChannel : public IkivBackChannel {
 public:
  explicit RecordingBackChannel(LONG lTraceLevel = 0) : m_lTraceLevel(lTraceLevel) {}
  virtual ~RecordingBackChannel() = default;
  RecordingBackChannel(const RecordingBackChannel&) = delete;
  RecordingBackChannel& operator=(const RecordingBackChannel&) = delete;

  void SetTraceLevel(LONG lTraceLevel) { m_lTraceLevel = lTraceLevel; }

  // A copy of every call so far, in arrival order.
  std::vector<BackChannelCall> Calls() const;
  std::vector<BackChannelCall> Calls(BackChannelCallKind kind) const;
  // The texts of the Trace calls, in order.
  std::vector<std::string> TraceTexts() const;
  void Clear();
  ULONG RefCount() const { return m_cRef.load(); }
  // Times the server asked for the trace level.
  int TraceLevelReads() const { return m_traceLevelReads.load(); }

  // IUnknown: answers IUnknown, IDispatch and IkivBackChannel.
  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  // IDispatch: no type information; every slot answers E_NOTIMPL.
  STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override;
  STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  STDMETHOD(GetIDsOfNames)
  (REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
  STDMETHOD(Invoke)
  (DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

  // IkivBackChannel
  STDMETHOD(get_lTraceLevel)(LONG* plTraceLevel) override;
  STDMETHOD(put_lTraceLevel)(LONG lTraceLevel) override;
  STDMETHOD(Error)
  (LONG lTreadId, LONG lTime, LONG lDeep, LONG lErrorCode, BSTR bstrText1, BSTR bstrText2,
   BSTR bstrText3) override;
  STDMETHOD(Progress)
  (LONG lTreadId, LONG lTime, LONG lDeep, LONG lTextCode, BSTR bstrText1, BSTR bstrText2,
   BSTR bstrText3, SHORT nPercent, SHORT eAction) override;
  STDMETHOD(Info)
  (LONG lTreadId, LONG lTime, LONG lDeep, LONG lTextCode, BSTR bstrText1, BSTR bstrText2,
   BSTR bstrText3) override;
  STDMETHOD(Trace)(LONG lTreadId, LONG lTime, LONG lDeep, LONG lLevel, BSTR bstrText) override;
  STDMETHOD(Data)(LONG lTreadId, LONG lTime, LONG lDeep, VARIANT* varData) override;

 private:
  void Record(BackChannelCall call);

  std::atomic<LONG> m_lTraceLevel;
  std::atomic<ULONG> m_cRef{0};
  std::atomic<int> m_traceLevelReads{0};
  mutable std::mutex m_mutex;
  std::vector<BackChannelCall> m_calls;  // guarded by m_mutex
};

}  // namespace vemtest
