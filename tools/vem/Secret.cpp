// Secrets read from files or standard input (see Secret.h).
#include "Secret.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Command.h"

namespace vemtool {

SecretBuffer::~SecretBuffer() {
  Wipe();
}

SecretBuffer::SecretBuffer(SecretBuffer&& other) noexcept
    : m_pData(std::move(other.m_pData)), m_size(other.m_size), m_capacity(other.m_capacity) {
  other.m_size = other.m_capacity = 0;
}

SecretBuffer& SecretBuffer::operator=(SecretBuffer&& other) noexcept {
  if (this != &other) {
    Wipe();
    m_pData = std::move(other.m_pData);
    m_size = other.m_size;
    m_capacity = other.m_capacity;
    other.m_size = other.m_capacity = 0;
  }
  return *this;
}

void SecretBuffer::Wipe() noexcept {
  if (m_pData) explicit_bzero(m_pData.get(), m_capacity);
  m_size = 0;
}

void SecretBuffer::Append(const char* p, std::size_t n) {
  if (m_size + n > m_capacity) {
    const std::size_t capacity = std::max<std::size_t>(64, 2 * (m_size + n));
    auto pData = std::make_unique<unsigned char[]>(capacity);
    if (m_size > 0) std::memcpy(pData.get(), m_pData.get(), m_size);
    const std::size_t size = m_size;
    Wipe();
    m_pData = std::move(pData);
    m_size = size;
    m_capacity = capacity;
  }
  std::memcpy(m_pData.get() + m_size, p, n);
  m_size += n;
}

void SecretBuffer::TrimLineEnd() {
  if (m_size > 0 && m_pData[m_size - 1] == '\n') {
    m_pData[--m_size] = 0;
    if (m_size > 0 && m_pData[m_size - 1] == '\r') m_pData[--m_size] = 0;
  }
}

std::string SecretBuffer::Text() const {
  return m_size == 0 ? std::string()
                     : std::string(reinterpret_cast<const char*>(m_pData.get()), m_size);
}

void WipeString(std::string& text) noexcept {
  if (!text.empty()) explicit_bzero(text.data(), text.size());
}

SecretBuffer ReadSecret(const std::string& source, const char* what) {
  const bool bStdin = source == "-";
  const std::string name = bStdin ? std::string("standard input") : what + (" " + source);
  // The file's descriptor, closed on every way out (standard input stays).
  struct Descriptor {
    int fd;
    bool bOwned;
    ~Descriptor() {
      if (bOwned && fd >= 0) close(fd);
    }
  } file{bStdin ? STDIN_FILENO : open(source.c_str(), O_RDONLY | O_CLOEXEC), !bStdin};
  if (file.fd < 0) throw CommandFailure("cannot open " + name + ": " + std::strerror(errno));
  SecretBuffer secret;
  char chunk[256];
  struct ChunkWipe {
    char* p;
    std::size_t n;
    ~ChunkWipe() { explicit_bzero(p, n); }
  } wipe{chunk, sizeof chunk};
  for (;;) {
    const ssize_t n = read(file.fd, chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw CommandFailure("cannot read " + name + ": " + std::strerror(errno));
    }
    secret.Append(chunk, static_cast<std::size_t>(n));
  }
  secret.TrimLineEnd();
  return secret;
}

}  // namespace vemtool
