// Utility: Base64 (RFC 4648), see Base64.h.
#include "Utility/Base64.h"

#include <array>
#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// 12-bit value -> its two characters: halves the table look-ups of encoding.
constexpr auto kPairs = [] {
  std::array<std::array<char, 2>, 4096> pairs{};
  for (int n = 0; n < 4096; ++n) pairs[n] = {kAlphabet[n >> 6], kAlphabet[n & 0x3F]};
  return pairs;
}();

// Character -> its 6-bit value, or kInvalid for anything outside the alphabet
// ("=" included: padding is handled separately at the end of the text).
constexpr BYTE kInvalid = 0xFF;
constexpr std::array<BYTE, 256> kDecodeTable = [] {
  std::array<BYTE, 256> table{};
  for (auto& v : table) v = kInvalid;
  for (int n = 0; n < 64; ++n)
    table[static_cast<unsigned char>(kAlphabet[n])] = static_cast<BYTE>(n);
  return table;
}();

inline BYTE Value(char c) {
  return kDecodeTable[static_cast<unsigned char>(c)];
}

}  // namespace

std::size_t Base64Encode(const BYTE* in, std::size_t n, char* out) {
  char* const start = out;
  // Every group's bytes are loaded before its characters are stored: that is
  // what makes the in-place layout safe (see Base64.h).
  for (; n >= 3; n -= 3, in += 3, out += 4) {
    const std::uint32_t group = (static_cast<std::uint32_t>(in[0]) << 16) |
                                (static_cast<std::uint32_t>(in[1]) << 8) | in[2];
    const char* hi = kPairs[group >> 12].data();
    const char* lo = kPairs[group & 0xFFF].data();
    out[0] = hi[0];
    out[1] = hi[1];
    out[2] = lo[0];
    out[3] = lo[1];
  }
  if (n == 1) {
    const std::uint32_t group = static_cast<std::uint32_t>(in[0]) << 16;
    out[0] = kAlphabet[group >> 18];
    out[1] = kAlphabet[(group >> 12) & 0x3F];
    out[2] = '=';
    out[3] = '=';
    out += 4;
  } else if (n == 2) {
    const std::uint32_t group =
        (static_cast<std::uint32_t>(in[0]) << 16) | (static_cast<std::uint32_t>(in[1]) << 8);
    out[0] = kAlphabet[group >> 18];
    out[1] = kAlphabet[(group >> 12) & 0x3F];
    out[2] = kAlphabet[(group >> 6) & 0x3F];
    out[3] = '=';
    out += 4;
  }
  return static_cast<std::size_t>(out - start);
}

std::string Base64Encode(const BYTE* in, std::size_t n) {
  std::string text(Base64EncodedLength(n), '\0');
  Base64Encode(in, n, text.data());
  return text;
}

bool Base64Decode(std::string_view text, BYTE* out, std::size_t* outLen) {
  *outLen = 0;
  const std::size_t len = text.size();
  if (len % 4 != 0) return false;
  if (len == 0) return true;

  const char* p = text.data();
  BYTE* const start = out;
  // All groups but the last hold four alphabet characters. Each group's
  // characters are read before its bytes are written (in-place decoding).
  for (const char* const lastGroup = p + len - 4; p != lastGroup; p += 4, out += 3) {
    const BYTE a = Value(p[0]), b = Value(p[1]), c = Value(p[2]), d = Value(p[3]);
    if ((a | b | c | d) & 0x80) return false;
    const std::uint32_t group = (static_cast<std::uint32_t>(a) << 18) |
                                (static_cast<std::uint32_t>(b) << 12) |
                                (static_cast<std::uint32_t>(c) << 6) | d;
    out[0] = static_cast<BYTE>(group >> 16);
    out[1] = static_cast<BYTE>(group >> 8);
    out[2] = static_cast<BYTE>(group);
  }

  // The last group: "xyzw", "xyz=" or "xy==", with the unused bits zero.
  const char c2 = p[2], c3 = p[3];
  const BYTE a = Value(p[0]), b = Value(p[1]);
  if ((a | b) & 0x80) return false;
  if (c3 != '=') {
    const BYTE c = Value(c2), d = Value(c3);
    if ((c | d) & 0x80) return false;
    const std::uint32_t group = (static_cast<std::uint32_t>(a) << 18) |
                                (static_cast<std::uint32_t>(b) << 12) |
                                (static_cast<std::uint32_t>(c) << 6) | d;
    out[0] = static_cast<BYTE>(group >> 16);
    out[1] = static_cast<BYTE>(group >> 8);
    out[2] = static_cast<BYTE>(group);
    out += 3;
  } else if (c2 != '=') {
    const BYTE c = Value(c2);
    if ((c & 0x80) || (c & 0x03) != 0) return false;
    out[0] = static_cast<BYTE>((a << 2) | (b >> 4));
    out[1] = static_cast<BYTE>((b << 4) | (c >> 2));
    out += 2;
  } else {
    if ((b & 0x0F) != 0) return false;
    out[0] = static_cast<BYTE>((a << 2) | (b >> 4));
    out += 1;
  }
  *outLen = static_cast<std::size_t>(out - start);
  return true;
}

bool Base64Decode(std::string_view text, std::vector<BYTE>* out) {
  out->resize(Base64DecodedMaxLength(text.size()));
  std::size_t n = 0;
  const bool ok = Base64Decode(text, out->data(), &n);
  out->resize(n);
  return ok;
}
