// vem_error: the one exception type of the access driver, the field cipher
// and the blob store. It carries a text (what(), may be empty) and an
// HRESULT-shaped code: 0xC004Axxx for failures the system detects itself,
// the engine's HRESULT unchanged for engine failures, 0 for the cipher's.
// Thrown by value, caught by reference; the COM layer turns it into an
// HRESULT with error info at its boundary.
#pragma once

#include <stdexcept>
#include <string>

#include "Platform/WinTypes.h"

class vem_error : public std::runtime_error {
 public:
  // A failure known by its code alone: what() is the empty text.
  explicit vem_error(LONG lCode) : std::runtime_error(std::string()), m_lCode(lCode) {}
  vem_error(const std::string& text, LONG lCode) : std::runtime_error(text), m_lCode(lCode) {}
  vem_error(const char* szText, LONG lCode)
      : std::runtime_error(szText != nullptr ? szText : ""), m_lCode(lCode) {}

  ~vem_error() override;

  LONG code() const noexcept { return m_lCode; }

 private:
  LONG m_lCode;
};
