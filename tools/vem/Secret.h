// Secrets and passwords for `vem`: read from a file or from standard input
// ("-"), never from the command line, held in a buffer that wipes itself.
//
// SecretBuffer owns its bytes on the heap and zeroes them (explicit_bzero,
// which the compiler may not drop) when it grows and when it is destroyed,
// so no copy of the secret is left behind in memory it frees. Callers that
// must hand the secret to an API taking std::string wipe that copy too
// (WipeString).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace vemtool {

class SecretBuffer {
 public:
  SecretBuffer() = default;
  ~SecretBuffer();
  SecretBuffer(SecretBuffer&& other) noexcept;
  SecretBuffer& operator=(SecretBuffer&& other) noexcept;
  SecretBuffer(const SecretBuffer&) = delete;
  SecretBuffer& operator=(const SecretBuffer&) = delete;

  void Append(const char* p, std::size_t n);
  // Drops one trailing line end ("\n" or "\r\n"), as an editor or `echo`
  // leaves it.
  void TrimLineEnd();

  const unsigned char* data() const { return m_pData.get(); }
  std::size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  // The bytes as text; the caller wipes the copy with WipeString.
  std::string Text() const;

 private:
  void Wipe() noexcept;
  std::unique_ptr<unsigned char[]> m_pData;
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
};

// Overwrites the string's characters with zeros.
void WipeString(std::string& text) noexcept;

// Reads the secret of file source ("-": standard input) and drops its
// trailing line end. what names it in errors ("password file"). Raises
// CommandFailure naming the file when it cannot be read.
SecretBuffer ReadSecret(const std::string& source, const char* what);

}  // namespace vemtool
