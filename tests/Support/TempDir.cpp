#include "Support/TempDir.h"

#include <stdlib.h>

#include <stdexcept>
#include <system_error>

namespace vemtest {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vemtest-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + pattern);
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

}  // namespace vemtest
