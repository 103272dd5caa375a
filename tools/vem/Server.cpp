// The server as the tool's subcommands use it (see Server.h).
#include "Server.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <utility>

#include "Command.h"
#include "Platform/Registry.h"
#include "Platform/Text.h"

namespace vemtool {

namespace {

std::string Utf8(BSTR b) {
  return platform::WideToUtf8(std::u16string_view(b != nullptr ? b : u"", SysStringLen(b)));
}

std::string Hex(LONG lCode) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(lCode));
  return text;
}

// The description of the thread's error information, or "".
std::string ErrorInfoText() {
  IErrorInfo* pInfo = nullptr;
  std::string text;
  if (GetErrorInfo(0, &pInfo) == S_OK && pInfo != nullptr) {
    BSTR bstr = nullptr;
    if (SUCCEEDED(pInfo->GetDescription(&bstr))) text = Utf8(bstr);
    SysFreeString(bstr);
    pInfo->Release();
  }
  return text;
}

// A BSTR whose characters are zeroed before it is freed.
class WipedBstr {
 public:
  explicit WipedBstr(const SecretBuffer& bytes) {
    std::u16string wide = platform::AnsiToWide(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    m_b = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    std::fill(wide.begin(), wide.end(), u'\0');
    if (m_b == nullptr) throw CommandFailure("out of memory for the password");
  }
  ~WipedBstr() {
    WipeMemory(m_b, SysStringLen(m_b) * sizeof(OLECHAR));
    SysFreeString(m_b);
  }
  WipedBstr(const WipedBstr&) = delete;
  WipedBstr& operator=(const WipedBstr&) = delete;
  BSTR get() const { return m_b; }

 private:
  static void WipeMemory(void* p, std::size_t n) {
    if (p != nullptr && n != 0) explicit_bzero(p, n);
  }
  BSTR m_b = nullptr;
};

const char* ActionName(int action) {
  switch (action) {
    case 0:
      return "database file";
    case 2:
      return "blob files";
    case 1:
      return "done";
    default:
      return "step";
  }
}

}  // namespace

std::string FailureText(HRESULT hr) {
  const std::string description = ErrorInfoText();
  return description.empty() ? "error " + Hex(hr) : description;
}

HRESULT CheckCall(HRESULT hr, const std::string& what) {
  if (SUCCEEDED(hr)) return hr;
  throw CommandFailure(what + " failed: " + FailureText(hr));
}

// ---- ToolBackChannel --------------------------------------------------------

ToolBackChannel::ToolBackChannel(std::string command)
    : m_command(std::move(command)), m_bTerminal(isatty(STDOUT_FILENO) == 1) {}

ToolBackChannel::~ToolBackChannel() {
  EndProgress();
}

void ToolBackChannel::EndProgress() {
  if (m_bBarShown) std::cout << "\n" << std::flush;
  m_bBarShown = false;
}

STDMETHODIMP ToolBackChannel::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IDispatch && riid != IID_IkivBackChannel)
    return E_NOINTERFACE;
  *ppv = this;
  return S_OK;
}

STDMETHODIMP ToolBackChannel::get_lTraceLevel(LONG* plLevel) {
  if (plLevel == nullptr) return E_POINTER;
  *plLevel = 4;  // failures: they name what failed, where
  return S_OK;
}

STDMETHODIMP ToolBackChannel::Error(LONG, LONG, LONG, LONG lCode, BSTR b1, BSTR b2, BSTR b3) {
  EndProgress();
  std::string texts;
  for (BSTR b : {b1, b2, b3}) {
    const std::string text = Utf8(b);
    if (!text.empty()) texts += (texts.empty() ? "" : ": ") + text;
  }
  if (texts.empty()) texts = m_lastFailure.empty() ? "(no text)" : m_lastFailure;
  m_lastFailure.clear();
  std::cerr << m_command << ": error " << Hex(lCode) << ": " << texts << std::endl;
  ++m_errors;
  return S_OK;
}

STDMETHODIMP ToolBackChannel::Progress(LONG, LONG, LONG, LONG, BSTR, BSTR, BSTR, SHORT nPercent,
                                       SHORT eAction) {
  // Action 1 ends the operation, reported with 0%: shown as complete.
  const int percent = eAction == 1 ? 100 : std::clamp<int>(nPercent, 0, 100);
  if (percent == m_lastPercent && eAction == m_lastAction) return S_OK;
  m_lastPercent = percent;
  m_lastAction = eAction;
  const std::string label = eAction == 1 || eAction == 0 || eAction == 2
                                ? std::string(ActionName(eAction))
                                : "step " + std::to_string(eAction);
  if (!m_bTerminal) {
    std::cout << "progress: " << percent << "% " << label << "\n";
    return S_OK;
  }
  constexpr int kWidth = 30;
  const int filled = percent * kWidth / 100;
  std::cout << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
            << std::string(static_cast<std::size_t>(kWidth - filled), ' ') << "] " << percent
            << "% " << label << "\x1b[K" << std::flush;
  m_bBarShown = true;
  return S_OK;
}

STDMETHODIMP ToolBackChannel::Trace(LONG, LONG, LONG, LONG lLevel, BSTR bstrText) {
  if ((lLevel & 4) == 0) return S_OK;
  // "VEM <file>(<line>): <message>": the message alone.
  std::string text = Utf8(bstrText);
  const std::size_t at = text.find("): ");
  if (text.rfind("VEM ", 0) == 0 && at != std::string::npos) text.erase(0, at + 3);
  m_lastFailure = text;
  return S_OK;
}

// ---- ServerSession ----------------------------------------------------------

ServerSession::ServerSession() {
  CheckCall(CoInitialize(nullptr), "CoInitialize");
  m_bInitialized = true;
}

ServerSession::~ServerSession() {
  if (!m_bInitialized) return;
  CoFreeUnusedLibraries();
  CoUninitialize();
}

ComPtr<IComDataModel> ServerSession::OpenModel(IkivBackChannel& channel, const std::string& path,
                                               const SecretBuffer& password) {
  RequireDatabaseFile(path);
  const std::string progId = platform::WideToUtf8(kServerProgId);
  const std::string hint = "; run `vem register` first";
  CLSID clsid{};
  const HRESULT hrClass = CLSIDFromProgID(kServerProgId, &clsid);
  if (hrClass == CO_E_CLASSSTRING)
    throw CommandFailure("the server " + progId + " is not registered in " +
                         platform::RegistryPath() + hint);
  if (FAILED(hrClass)) {
    const std::string why = platform::RegistryFailureText();
    throw CommandFailure(
        "looking up " + progId + " failed: " +
        (why.empty() ? FailureText(hrClass) + " in the registry " + platform::RegistryPath()
                     : why));
  }
  ComPtr<IComGenericAccessDataModel> pServer;
  const HRESULT hrCreate =
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IComGenericAccessDataModel,
                       reinterpret_cast<void**>(&pServer));
  if (FAILED(hrCreate)) {
    const std::string description = ErrorInfoText();
    throw CommandFailure("cannot create the server " + progId + " registered in " +
                         platform::RegistryPath() + ": " +
                         (description.empty() ? "error " + Hex(hrCreate) : description) + hint);
  }
  const WipedBstr bstrPassword(password);
  ComPtr<IComDataModel> pModel;
  CheckCall(pServer->CreateAccessDataModel(&channel, _bstr_t(platform::Utf8ToWide(path)),
                                           bstrPassword.get(), &pModel),
            "opening " + path);
  return pModel;
}

// ---- SecretArray ------------------------------------------------------------

SecretArray::SecretArray(const unsigned char* p, std::size_t n) {
  VariantInit(&m_v);
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(n));
  if (psa == nullptr) throw CommandFailure("out of memory for a secret");
  void* pData = nullptr;
  SafeArrayAccessData(psa, &pData);
  if (n != 0) std::memcpy(pData, p, n);
  SafeArrayUnaccessData(psa);
  m_v.vt = VT_ARRAY | VT_UI1;
  m_v.parray = psa;
}

SecretArray::~SecretArray() {
  void* pData = nullptr;
  if (SUCCEEDED(SafeArrayAccessData(m_v.parray, &pData)) && pData != nullptr) {
    LONG lUpper = -1;
    SafeArrayGetUBound(m_v.parray, 1, &lUpper);
    if (lUpper >= 0) explicit_bzero(pData, static_cast<std::size_t>(lUpper) + 1);
    SafeArrayUnaccessData(m_v.parray);
  }
  VariantClear(&m_v);
}

}  // namespace vemtool
