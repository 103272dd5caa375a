// Utility: fixed-width little-endian integers, the one encoding every byte
// layout of the server uses (the field cipher's value header, the structure
// hash input, the blob file and block headers).
//
// Every value is written and read byte by byte, least significant byte first,
// so the result does not depend on the host's byte order or on struct padding:
// never memcpy a struct or an integer to or from a stored layout, use these.
//
//   Encode...(dst, v)   writes sizeof(v) bytes at dst (dst must have room).
//   Decode...(src)      reads sizeof(v) bytes at src.
//   Put...(out, v)      appends the bytes to a std::string or byte vector.
//   Get...(in, v)       consumes the bytes from the front of *in; false (and
//                       *in, *v untouched) when fewer bytes remain.
//
// Signed fields (a blob id of -1, a LONG length) go through the unsigned
// forms: the conversions between std::int32_t and std::uint32_t are exact
// two's-complement in C++20.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "Platform/WinTypes.h"

inline constexpr std::size_t kFixed16Size = 2;
inline constexpr std::size_t kFixed32Size = 4;
inline constexpr std::size_t kFixed64Size = 8;

inline void EncodeFixed16(BYTE* dst, std::uint16_t value) {
  dst[0] = static_cast<BYTE>(value);
  dst[1] = static_cast<BYTE>(value >> 8);
}

inline void EncodeFixed32(BYTE* dst, std::uint32_t value) {
  dst[0] = static_cast<BYTE>(value);
  dst[1] = static_cast<BYTE>(value >> 8);
  dst[2] = static_cast<BYTE>(value >> 16);
  dst[3] = static_cast<BYTE>(value >> 24);
}

inline void EncodeFixed64(BYTE* dst, std::uint64_t value) {
  EncodeFixed32(dst, static_cast<std::uint32_t>(value));
  EncodeFixed32(dst + 4, static_cast<std::uint32_t>(value >> 32));
}

inline std::uint16_t DecodeFixed16(const BYTE* src) {
  return static_cast<std::uint16_t>(src[0] | (src[1] << 8));
}

inline std::uint32_t DecodeFixed32(const BYTE* src) {
  return static_cast<std::uint32_t>(src[0]) | (static_cast<std::uint32_t>(src[1]) << 8) |
         (static_cast<std::uint32_t>(src[2]) << 16) | (static_cast<std::uint32_t>(src[3]) << 24);
}

inline std::uint64_t DecodeFixed64(const BYTE* src) {
  return static_cast<std::uint64_t>(DecodeFixed32(src)) |
         (static_cast<std::uint64_t>(DecodeFixed32(src + 4)) << 32);
}

// Appending forms. std::string is the byte buffer of LevelDB-style code; the
// vector form serves buffers that are handed to byte-oriented APIs.
inline void PutFixed16(std::string* out, std::uint16_t value) {
  BYTE buf[kFixed16Size];
  EncodeFixed16(buf, value);
  out->append(reinterpret_cast<const char*>(buf), sizeof(buf));
}

inline void PutFixed32(std::string* out, std::uint32_t value) {
  BYTE buf[kFixed32Size];
  EncodeFixed32(buf, value);
  out->append(reinterpret_cast<const char*>(buf), sizeof(buf));
}

inline void PutFixed64(std::string* out, std::uint64_t value) {
  BYTE buf[kFixed64Size];
  EncodeFixed64(buf, value);
  out->append(reinterpret_cast<const char*>(buf), sizeof(buf));
}

inline void PutFixed16(std::vector<BYTE>* out, std::uint16_t value) {
  BYTE buf[kFixed16Size];
  EncodeFixed16(buf, value);
  out->insert(out->end(), buf, buf + sizeof(buf));
}

inline void PutFixed32(std::vector<BYTE>* out, std::uint32_t value) {
  BYTE buf[kFixed32Size];
  EncodeFixed32(buf, value);
  out->insert(out->end(), buf, buf + sizeof(buf));
}

inline void PutFixed64(std::vector<BYTE>* out, std::uint64_t value) {
  BYTE buf[kFixed64Size];
  EncodeFixed64(buf, value);
  out->insert(out->end(), buf, buf + sizeof(buf));
}

// Consuming forms for parsing a header out of a buffer of known length: a
// short buffer is an ordinary answer (false), never a read past its end.
inline bool GetFixed16(std::span<const BYTE>* in, std::uint16_t* value) {
  if (in->size() < kFixed16Size) return false;
  *value = DecodeFixed16(in->data());
  *in = in->subspan(kFixed16Size);
  return true;
}

inline bool GetFixed32(std::span<const BYTE>* in, std::uint32_t* value) {
  if (in->size() < kFixed32Size) return false;
  *value = DecodeFixed32(in->data());
  *in = in->subspan(kFixed32Size);
  return true;
}

inline bool GetFixed64(std::span<const BYTE>* in, std::uint64_t* value) {
  if (in->size() < kFixed64Size) return false;
  *value = DecodeFixed64(in->data());
  *in = in->subspan(kFixed64Size);
  return true;
}
