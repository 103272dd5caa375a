// ExceptionBase: an exception with an error code, a printf-formatted message
// and the source location where it was raised. Handlers catch it as
// std::exception; what() is the message.
#pragma once

#include <cstdarg>
#include <exception>
#include <string>

#include "Platform/WinTypes.h"

class ExceptionBase : public std::exception {
 public:
  // Sets the code, then the location ("File <file> at Line <line>"), then the
  // message formatted from `format` and the arguments. A null file or format
  // leaves that text empty. Each text is cut at 1023 characters.
  ExceptionBase(const char* file, int line, DWORD code, const char* format, ...)
      __attribute__((format(printf, 5, 6)));
  ~ExceptionBase() override = default;

  const char* what() const noexcept override { return m_message.c_str(); }

  // Replaces the location text; a null file changes nothing.
  virtual void setLocation(const char* file, int line);
  // Replaces the message text; a null format changes nothing.
  virtual void setMessage(const char* format, va_list args) __attribute__((format(printf, 2, 0)));

  DWORD code() const noexcept { return m_code; }
  const std::string& location() const noexcept { return m_location; }

 private:
  DWORD m_code;
  std::string m_message;
  std::string m_location;
};
