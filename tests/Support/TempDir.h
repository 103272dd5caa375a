// A temporary directory for one test, removed with everything in it when the
// object goes out of scope.
#pragma once

#include <filesystem>
#include <string>

namespace vemtest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  // The absolute path of a file named `name` inside the directory.
  std::string File(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

}  // namespace vemtest
