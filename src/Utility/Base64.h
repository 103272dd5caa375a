// Utility: Base64 (RFC 4648, section 4): the standard alphabet A-Z a-z 0-9 + /,
// "=" padding to a multiple of four characters, no line breaks.
//
// The field cipher stores its raw bytes as Base64 text and needs no buffer but
// the caller's, so both directions can run in place:
//   - encoding: place the n raw bytes at out + Base64InPlaceOffset(n), i.e.
//     so that they end where the text will end, and encode into out. Each
//     group of three bytes is read before its four characters are written,
//     and the text never overtakes the bytes still to be read.
//   - decoding: out may be the first byte of the text itself; three bytes are
//     written for every four characters read.
//
// Decoding is strict, so that a text decodes to bytes only if it is exactly
// the encoding of those bytes: the length must be a multiple of 4, every
// character must be in the alphabet, "=" may stand only as the last one or two
// characters, and the bits that padding leaves unused must be zero.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/WinTypes.h"

// Characters of the encoding of n bytes: 4 * ceil(n / 3).
constexpr std::size_t Base64EncodedLength(std::size_t n) {
  return (n + 2) / 3 * 4;
}

// Where n raw bytes go inside a buffer of Base64EncodedLength(n) characters
// (plus anything after) for Base64Encode to encode them into its start.
constexpr std::size_t Base64InPlaceOffset(std::size_t n) {
  return Base64EncodedLength(n) - n;
}

// Upper bound of the bytes that a text of textLen characters decodes to.
constexpr std::size_t Base64DecodedMaxLength(std::size_t textLen) {
  return textLen / 4 * 3;
}

// Writes the Base64EncodedLength(n) characters of the encoding of in[0..n) to
// out, without a terminator, and returns their number. in and out either do
// not overlap, or in == out + k with k >= Base64InPlaceOffset(n) (in place).
std::size_t Base64Encode(const BYTE* in, std::size_t n, char* out);

// The encoding of in[0..n) as a string.
std::string Base64Encode(const BYTE* in, std::size_t n);

// Decodes text into out, which must hold Base64DecodedMaxLength(text.size())
// bytes, and stores the number of bytes written in *outLen. out may be
// text.data() (in place); otherwise the two must not overlap.
// Returns false for a text that is not a strict Base64 encoding (see above);
// then *outLen is 0 and out's contents are unspecified (partly written).
bool Base64Decode(std::string_view text, BYTE* out, std::size_t* outLen);

// Decodes text into *out (resized to the decoded length; empty on failure).
bool Base64Decode(std::string_view text, std::vector<BYTE>* out);
