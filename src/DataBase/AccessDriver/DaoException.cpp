// vem_error and the translation of engine failures (see DaoException.h).
#include "DataBase/AccessDriver/DaoException.h"

#include <cstdio>

#include "DataBase/AccessDriver/DataModel.h"
#include "Platform/OleAuto.h"
#include "Platform/Text.h"

// Out of line so that the class's virtual table and type information live in
// this library once, and a vem_error thrown here is caught by type elsewhere.
vem_error::~vem_error() = default;

namespace {

constexpr const char* kTraceFile = "DataBase\\AccessDriver\\DaoException";
constexpr LONG kTraceLine = 46;
constexpr LONG kTraceLevel = 4;

}  // namespace

std::string ErrorText(const _com_error& error, DataModel* pModel) {
  const _bstr_t source = error.Source();
  const _bstr_t description = error.Description();
  std::string text = source.length() != 0 ? static_cast<const char*>(source) : "<source unknown>";
  text += ": ";
  text +=
      description.length() != 0 ? static_cast<const char*>(description) : "<description unknown>";
  char code[32];
  std::snprintf(code, sizeof code, "0x%lX",
                static_cast<unsigned long>(static_cast<ULONG>(error.Error())));
  text += " - error code: ";
  text += code;
  if (pModel != nullptr) {
    CBackChannel& backChannel = pModel->GetBackChannel();
    backChannel.RefreshTraceLevel();
    backChannel.TraceText(kTraceLevel, kTraceFile, kTraceLine, text.c_str());
  }
  return text;
}

void RaiseEngineError(const _com_error& error, DataModel* pModel) {
  std::string text = ErrorText(error, pModel);
  throw vem_error(text, error.Error());
}

void IssueDriverComError(HRESULT hr, const std::string& description) {
  IErrorInfo* pInfo = nullptr;
  ICreateErrorInfo* pCreate = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&pCreate)) && pCreate != nullptr) {
    std::u16string source = u"VemAccessDriver";
    std::u16string text = platform::AnsiToWide(description);
    pCreate->SetSource(source.data());
    pCreate->SetDescription(text.data());
    if (FAILED(pCreate->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&pInfo))))
      pInfo = nullptr;
    pCreate->Release();
  }
  throw _com_error(hr, pInfo);  // takes over the reference
}

std::string ErrorTextFromCall(HRESULT hr, IUnknown* pFailingObject, REFIID riid,
                              DataModel* pModel) {
  IErrorInfo* pErrorInfo = nullptr;
  if (pFailingObject != nullptr) {
    ISupportErrorInfo* pSupport = nullptr;
    if (SUCCEEDED(pFailingObject->QueryInterface(IID_ISupportErrorInfo,
                                                 reinterpret_cast<void**>(&pSupport))) &&
        pSupport != nullptr) {
      if (pSupport->InterfaceSupportsErrorInfo(riid) == S_OK &&
          GetErrorInfo(0, &pErrorInfo) != S_OK)
        pErrorInfo = nullptr;
      pSupport->Release();
    }
  }
  // The _com_error takes over the reference to the error info.
  const _com_error error(hr, pErrorInfo);
  return ErrorText(error, pModel);
}
