#include "VemComServer/ComSupport.h"

#include <string_view>

#include "DataBase/AccessDriver/DaoException.h"
#include "Platform/Text.h"

namespace vemserver {

std::string NarrowBstr(BSTR bstr) {
  if (bstr == nullptr) return std::string();
  return platform::WideToAnsi(std::u16string_view(bstr, SysStringLen(bstr)));
}

void RequirePointer(const void* p, const char* szMethod, const char* szParameter) {
  if (p == nullptr)
    throw vem_error(std::string(szMethod) + ": " + szParameter + " is null", E_POINTER);
}

}  // namespace vemserver
