// A minimal client of the installed server: creates ComVemServer by its
// ProgID (the server must be registered, say by `vem register`), derives the
// generic data model of a database and prints the driver version it reports.
//
// Usage: vem_client DB [PASSWORD-FILE]
// The password, if the database has one, comes from the file's first line.
#include <cstdio>
#include <fstream>
#include <string>

#include <vem/Platform/ComBase.h>
#include <vem/Platform/ComUtil.h>
#include <vem/Platform/Text.h>
#include <vem/vem.h>

namespace {

// Prints what failed, with the error info the server left, and gives the
// exit status.
int Failed(const char* szWhat, HRESULT hr) {
  std::string description;
  IErrorInfo* pInfo = nullptr;
  if (GetErrorInfo(0, &pInfo) == S_OK && pInfo != nullptr) {
    BSTR bstr = nullptr;
    if (SUCCEEDED(pInfo->GetDescription(&bstr)) && bstr != nullptr)
      description = platform::WideToUtf8(std::u16string_view(bstr, SysStringLen(bstr)));
    SysFreeString(bstr);
    pInfo->Release();
  }
  std::fprintf(stderr, "vem_client: %s failed with 0x%08X%s%s\n", szWhat, static_cast<unsigned>(hr),
               description.empty() ? "" : ": ", description.c_str());
  return 1;
}

int Run(const std::string& database, const std::string& password) {
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(u"VemComServer.ComVemServer", &clsid);
  if (FAILED(hr)) return Failed("CLSIDFromProgID(VemComServer.ComVemServer)", hr);
  ComPtr<IComGenericAccessDataModel> pServer;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IComGenericAccessDataModel,
                        reinterpret_cast<void**>(&pServer));
  if (FAILED(hr)) return Failed("CoCreateInstance", hr);

  ComPtr<IComDataModel> pModel;
  hr = pServer->CreateAccessDataModel(nullptr, _bstr_t(database.c_str()), _bstr_t(password.c_str()),
                                      &pModel);
  if (FAILED(hr)) return Failed("CreateAccessDataModel", hr);
  ComPtr<IComDataModelExt> pModelExt;
  hr = pModel->QueryInterface(IID_IComDataModelExt, reinterpret_cast<void**>(&pModelExt));
  if (FAILED(hr)) return Failed("QueryInterface(IComDataModelExt)", hr);
  ULONG ulVersion = 0;
  hr = pModelExt->GetDriverVersion(&ulVersion);
  if (FAILED(hr)) return Failed("GetDriverVersion", hr);
  std::printf("%s: driver version 0x%08X\n", database.c_str(), static_cast<unsigned>(ulVersion));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: vem_client DB [PASSWORD-FILE]\n");
    return 2;
  }
  std::string password;
  if (argc == 3) {
    std::ifstream file(argv[2]);
    if (!file || !std::getline(file, password)) {
      std::fprintf(stderr, "vem_client: cannot read the password from %s\n", argv[2]);
      return 2;
    }
  }
  if (FAILED(CoInitialize(nullptr))) return Failed("CoInitialize", E_FAIL);
  const int status = Run(argv[1], password);
  CoUninitialize();
  return status;
}
