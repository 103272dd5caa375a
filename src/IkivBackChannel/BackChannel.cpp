// CBackChannel: trace filtering, text formats and the calls to the client's
// IkivBackChannel. See BackChannel.h for the contract.
#include "IkivBackChannel/BackChannel.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "Platform/ComUtil.h"
#include "Platform/OleAuto.h"
#include "Platform/Win32.h"

namespace {

LONG CurrentThreadId() {
  return static_cast<LONG>(GetCurrentThreadId());
}

// Seconds since 1970-01-01 UTC, as the 32-bit value the interface carries.
LONG CurrentTime() {
  return static_cast<LONG>(std::time(nullptr));
}

// The part of a source file path after the last "\" or "/".
std::string_view ModuleName(const char* szFile) {
  if (szFile == nullptr) return "?Modul?";
  std::string_view file(szFile);
  const std::size_t slash = file.find_last_of("\\/");
  if (slash != std::string_view::npos) file.remove_prefix(slash + 1);
  return file.substr(0, CBackChannel::kMaxPieceLength);
}

// vsnprintf into a piece of at most kMaxPieceLength characters.
std::string FormatPiece(const char* szFormat, va_list args) {
  char buffer[CBackChannel::kMaxPieceLength + 1];
  const int n = std::vsnprintf(buffer, sizeof buffer, szFormat, args);
  if (n < 0) return std::string();
  return std::string(buffer, std::min(n, CBackChannel::kMaxPieceLength));
}

}  // namespace

CBackChannel::CBackChannel(const char* szModuleCode, LONG lDeep) : m_lDeep(lDeep) {
  if (szModuleCode == nullptr || *szModuleCode == '\0') {
    m_moduleCode = "???";
  } else {
    m_moduleCode.assign(szModuleCode, strnlen(szModuleCode, 3));
  }
  m_moduleCode += ' ';
}

CBackChannel::~CBackChannel() = default;

void CBackChannel::RefreshTraceLevel() {
  m_lTraceLevel = 0;
  if (m_pClient == nullptr) return;
  LONG lLevel = 0;
  m_pClient->get_lTraceLevel(&lLevel);  // result ignored: a failing client leaves 0
  m_lTraceLevel = lLevel;
}

void CBackChannel::Error(LONG lCode, const char* szText1, const char* szText2,
                         const char* szText3) {
  if (m_pClient == nullptr) return;
  const _bstr_t text1(szText1), text2(szText2), text3(szText3);
  m_pClient->Error(CurrentThreadId(), CurrentTime(), m_lDeep, lCode, text1, text2, text3);
}

void CBackChannel::Progress(LONG lCode, const char* szText1, const char* szText2,
                            const char* szText3, SHORT nPercent, SHORT eAction) {
  if (m_pClient == nullptr) return;
  const _bstr_t text1(szText1), text2(szText2), text3(szText3);
  m_pClient->Progress(CurrentThreadId(), CurrentTime(), m_lDeep, lCode, text1, text2, text3,
                      nPercent, eAction);
}

void CBackChannel::Info(LONG lCode, const char* szText1, const char* szText2, const char* szText3) {
  if (m_pClient == nullptr) return;
  const _bstr_t text1(szText1), text2(szText2), text3(szText3);
  m_pClient->Info(CurrentThreadId(), CurrentTime(), m_lDeep, lCode, text1, text2, text3);
}

void CBackChannel::Trace(LONG lLevel, const char* szFile, LONG lLine, const char* szFormat, ...) {
  if (m_pClient == nullptr || (lLevel & m_lTraceLevel) == 0) return;
  if (szFormat == nullptr) {
    SendTrace(lLevel, szFile, lLine, nullptr);
    return;
  }
  va_list args;
  va_start(args, szFormat);
  const std::string message = FormatPiece(szFormat, args);
  va_end(args);
  SendTrace(lLevel, szFile, lLine, message.c_str());
}

void CBackChannel::TraceText(LONG lLevel, const char* szFile, LONG lLine, const char* szText) {
  if (m_pClient == nullptr || (lLevel & m_lTraceLevel) == 0) return;
  if (szText == nullptr) {
    SendTrace(lLevel, szFile, lLine, nullptr);
    return;
  }
  const std::string message(szText, strnlen(szText, kMaxPieceLength));
  SendTrace(lLevel, szFile, lLine, message.c_str());
}

void CBackChannel::SendTrace(LONG lLevel, const char* szFile, LONG lLine, const char* szMessage) {
  std::string text = m_moduleCode;
  text += m_subModule;
  text += ModuleName(szFile);
  char line[32];
  std::snprintf(line, sizeof line, "(%d): ", static_cast<int>(lLine));
  text += line;
  if (szMessage != nullptr) text += szMessage;
  const _bstr_t bstrText(text.c_str());
  m_pClient->Trace(CurrentThreadId(), CurrentTime(), m_lDeep, lLevel, bstrText);
}

void CBackChannel::Data(const char* szFormat, ...) {
  if (m_pClient == nullptr || szFormat == nullptr || *szFormat == '\0') return;

  // Format into the kept buffer; when it is absent or too small, replace it
  // by a larger one (first 4095 bytes or the format's length + 2047, then
  // doubling) and format again.
  int n = -1;
  for (;;) {
    if (!m_dataBuffer.empty()) {
      va_list args;
      va_start(args, szFormat);
      n = std::vsnprintf(m_dataBuffer.data(), m_dataBuffer.size(), szFormat, args);
      va_end(args);
      if (n < 0) return;  // an encoding error: nothing sensible to send
      if (static_cast<std::size_t>(n) < m_dataBuffer.size()) break;
    }
    std::size_t size = m_dataBuffer.size() * 2;
    if (m_dataBuffer.empty()) size = std::max<std::size_t>(4095, std::strlen(szFormat) + 2047);
    m_dataBuffer.assign(size, '\0');
  }

  // A one-dimensional byte array over the buffer, text and terminator; it
  // lives on this stack frame only for the call.
  SAFEARRAY array{};
  array.cDims = 1;
  array.fFeatures = FADF_AUTO | FADF_FIXEDSIZE;
  array.cbElements = 1;
  array.cLocks = 0;
  array.pvData = m_dataBuffer.data();
  array.rgsabound[0].cElements = static_cast<ULONG>(n) + 1;
  array.rgsabound[0].lLbound = 0;
  VARIANT var;
  var.vt = VT_ARRAY | VT_UI1;
  var.wReserved1 = var.wReserved2 = var.wReserved3 = 0;
  var.parray = &array;
  m_pClient->Data(CurrentThreadId(), CurrentTime(), 0, &var);
}

void CBackChannel::HexDump(LONG lLevel, const BYTE* pData, LONG lLength) {
  if (m_pClient == nullptr || (lLevel & m_lTraceLevel) == 0) return;
  const int length = pData == nullptr ? 0 : std::max<LONG>(lLength, 0);

  auto blockHeader = [length](int first) {
    char header[48];
    std::snprintf(header, sizeof header, "Bytes: %d-%d\r\n", first,
                  std::min(length, first + kHexDumpBlockBytes));
    return std::string(header);
  };

  std::string text = blockHeader(0);
  std::string chars;  // the text column of the current line
  int lines = 0;      // complete lines so far
  for (int i = 0; i < length; ++i) {
    const BYTE b = pData[i];
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02hx ", static_cast<unsigned short>(b));
    text += hex;
    chars += (b >= 0x20 && b <= 0x7F) ? static_cast<char>(b) : '.';
    if ((i + 1) % 16 == 0 && i + 1 < length) {
      text += "  ";
      text += chars;
      chars.clear();
      if (++lines % 10 == 0) {
        TraceText(4, __FILE__, __LINE__, text.c_str());
        text = blockHeader(i + 1);
      } else {
        text += "\r\n";
      }
    }
  }
  if (!chars.empty()) {
    for (std::size_t missing = 16 - chars.size(); missing > 0; --missing) text += "   ";
    text += "  ";
    text += chars;
  }
  TraceText(4, __FILE__, __LINE__, text.c_str());
}

void CBackChannel::SetSubModule(const char* szName) {
  m_subModule.clear();
  if (szName == nullptr || *szName == '\0') return;
  m_subModule.assign(szName, strnlen(szName, 8));
  while (!m_subModule.empty() && (m_subModule.back() == ' ' || m_subModule.back() == '\t'))
    m_subModule.pop_back();
  m_subModule += ' ';
}
