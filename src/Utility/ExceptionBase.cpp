// ExceptionBase: formatting of its message and location texts.
#include "Utility/ExceptionBase.h"

#include <cstdio>

namespace {

// Both texts are formatted into a zero-filled buffer of this size, so a
// longer result is cut at kTextBufferSize - 1 characters and stays
// terminated.
constexpr std::size_t kTextBufferSize = 1024;

std::string FormatText(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

std::string FormatText(const char* format, va_list args) {
  char buffer[kTextBufferSize] = {};
  std::vsnprintf(buffer, sizeof buffer, format, args);
  return std::string(buffer);
}

std::string FormatTextV(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string FormatTextV(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatText(format, args);
  va_end(args);
  return text;
}

}  // namespace

ExceptionBase::ExceptionBase(const char* file, int line, DWORD code, const char* format, ...)
    : m_code(code) {
  setLocation(file, line);
  va_list args;
  va_start(args, format);
  setMessage(format, args);
  va_end(args);
}

void ExceptionBase::setLocation(const char* file, int line) {
  if (file == nullptr) return;
  m_location = FormatTextV("File %s at Line %d", file, line);
}

void ExceptionBase::setMessage(const char* format, va_list args) {
  if (format == nullptr) return;
  m_message = FormatText(format, args);
}
