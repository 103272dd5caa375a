// CBackChannel: the server side of the diagnostics back channel. Wraps the
// client's IkivBackChannel pointer, filters trace texts by the client's trace
// level and formats them ("VEM unit.cpp(12): message").
//
// Every data model owns one (module code "VEM", depth 0); the databases,
// loaders, savers and blob strategies reach it through their model.
//
// Ownership: the client pointer is held without AddRef/Release; the client
// keeps its object alive as long as the owner of this back channel lives.
// Without a client (null) every report is dropped silently.
//
// Threads: no locking. Each call runs on the caller's thread and carries that
// thread's id; a CBackChannel is used by one thread at a time, like its model.
//
// Texts are the system's single-byte (Windows-1252) texts; they are converted
// to BSTRs for the call and freed right after it. A null text becomes a null
// BSTR. Converting a text fails only for lack of memory, which raises
// _com_error(E_OUTOFMEMORY); the client's HRESULTs are ignored.
#pragma once

#include <string>
#include <vector>

#include "Platform/WinTypes.h"
#include "vem/IkivBackChannel.h"

class CBackChannel {
 public:
  // Longest piece of a trace text that one formatting step produces (the
  // file name, the formatted message); longer pieces are cut.
  static constexpr int kMaxPieceLength = 1023;
  // Most bytes that one HexDump trace text covers (10 lines of 16).
  static constexpr int kHexDumpBlockBytes = 160;

  // szModuleCode: its first 3 characters, followed by a blank, start every
  // trace text ("??? " when null or empty). lDeep: sent as lDeep with every
  // call except Data.
  explicit CBackChannel(const char* szModuleCode = nullptr, LONG lDeep = 0);
  virtual ~CBackChannel();

  CBackChannel(const CBackChannel&) = delete;
  CBackChannel& operator=(const CBackChannel&) = delete;

  // Sets the client; null drops every later report. Not AddRef'd.
  void SetClient(IkivBackChannel* pClient) { m_pClient = pClient; }
  IkivBackChannel* GetClient() const { return m_pClient; }

  // The trace level last read by RefreshTraceLevel (0 until then).
  LONG GetTraceLevel() const { return m_lTraceLevel; }
  const std::string& GetModuleCode() const { return m_moduleCode; }
  const std::string& GetSubModule() const { return m_subModule; }

  // Sets the trace level to 0, then asks the client for its lTraceLevel
  // (the client's HRESULT is ignored; a client that writes nothing leaves 0).
  void RefreshTraceLevel();

  // Error, Progress and Info reports are sent whatever the trace level. Each
  // text may be null.
  void Error(LONG lCode, const char* szText1, const char* szText2, const char* szText3);
  void Progress(LONG lCode, const char* szText1, const char* szText2, const char* szText3,
                SHORT nPercent, SHORT eAction);
  void Info(LONG lCode, const char* szText1, const char* szText2, const char* szText3);

  // Sends "<module code><sub-module><file name>(<line>): <message>" to the
  // client's Trace when (lLevel & trace level) != 0. szFile is the emitting
  // source file (the part after the last "\" or "/" is used; null gives
  // "?Modul?"). szFormat is a printf format, never data: the message is
  // cut to kMaxPieceLength characters; a null format sends no message.
  // To trace a text that comes from data (a path, a database name, an engine
  // message), use TraceText: such a text may hold "%" sequences. Users of
  // this library compile with -Wformat-security, which rejects a non-literal
  // format without arguments.
  void Trace(LONG lLevel, const char* szFile, LONG lLine, const char* szFormat, ...)
      __attribute__((format(printf, 5, 6)));

  // As Trace, with szText sent literally as the message (cut to
  // kMaxPieceLength characters; null sends no message).
  void TraceText(LONG lLevel, const char* szFile, LONG lLine, const char* szText);

  // Formats a printf text and sends it, with its terminating NUL, to the
  // client's Data as a VT_ARRAY | VT_UI1 VARIANT (lDeep 0). Nothing is sent
  // without a client or with a null or empty format. The array lives only
  // for the call.
  void Data(const char* szFormat, ...) __attribute__((format(printf, 2, 3)));

  // Traces lLength bytes at pData as a hex dump when (lLevel & trace level)
  // != 0: blocks of at most kHexDumpBlockBytes bytes, each headed by
  // "Bytes: <first>-<end>\r\n", lines of 16 bytes as "%02hx " followed by
  // two blanks and the printable characters ("." for others). Each block is
  // sent with TraceText at level 4, which applies its own level test.
  // A null pData or a length <= 0 dumps nothing but the "Bytes: 0-0" line.
  void HexDump(LONG lLevel, const BYTE* pData, LONG lLength);

  // Sets the sub-module that follows the module code in trace texts: the
  // first 8 characters of szName without trailing blanks and tabs, plus one
  // blank; null or empty clears it.
  void SetSubModule(const char* szName);

 private:
  // Level test done, message already formatted (or absent): builds the text
  // and calls the client's Trace.
  void SendTrace(LONG lLevel, const char* szFile, LONG lLine, const char* szMessage);

  IkivBackChannel* m_pClient = nullptr;  // not owned, not AddRef'd
  LONG m_lTraceLevel = 0;                // bit mask, see RefreshTraceLevel
  LONG m_lDeep;                          // sent as lDeep (except by Data)
  std::string m_moduleCode;              // 3 characters and a blank ("VEM ")
  std::string m_subModule;               // up to 8 characters and a blank, or empty
  std::vector<char> m_dataBuffer;        // Data's formatting buffer; grows, kept
};
