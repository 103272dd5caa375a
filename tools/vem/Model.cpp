// Opening a database for `vem inspect` and `vem dump` (see Model.h).
#include "Model.h"

#include "Command.h"
#include "DataBase/AccessDriver/DaoException.h"

namespace vemtool {

namespace {

// DAO error 3031, "Not a valid password."
constexpr HRESULT kWrongPassword = static_cast<HRESULT>(0x800A0BD7);

[[noreturn]] void FailOpen(const std::string& path, HRESULT hr, const std::string& what) {
  if (hr == kWrongPassword)
    throw CommandFailure("wrong password for " + path +
                         " (give the database password with --password-file)");
  throw CommandFailure("cannot open " + path + ": " + what);
}

}  // namespace

std::string EngineMessage(const _com_error& error) {
  const std::string description = dao::Utf8(error.Description());
  return description.empty() ? error.ErrorMessage() : description;
}

dao::DatabasePtr OpenRaw(const std::string& path, const SecretBuffer& password) {
  RequireDatabaseFile(path);
  std::string connect = ";PWD=" + password.Text();
  _bstr_t bstrConnect(connect.c_str());
  WipeString(connect);
  try {
    return dao::CreateDBEngine()->OpenDatabase(dao::Bstr(path), _variant_t(false), _variant_t(true),
                                               _variant_t(bstrConnect));
  } catch (const _com_error& e) {
    FailOpen(path, e.Error(), EngineMessage(e));
  }
}

std::unique_ptr<GADM> OpenModel(const std::string& path, const SecretBuffer& password) {
  RequireDatabaseFile(path);
  std::string text = password.Text();
  try {
    auto pModel = std::make_unique<GADM>(nullptr, path, text);
    WipeString(text);
    return pModel;
  } catch (const vem_error& e) {
    WipeString(text);
    if (e.code() == static_cast<LONG>(kWrongPassword)) FailOpen(path, e.code(), e.what());
    throw CommandFailure("cannot derive the model of " + path + ": " + e.what());
  } catch (const _com_error& e) {
    WipeString(text);
    FailOpen(path, e.Error(), EngineMessage(e));
  }
}

}  // namespace vemtool
