// Tests of the RC4 routines: the RFC 6229 key streams for 128-bit keys (the
// field cipher's key length) deep into the stream, and agreement with
// OpenSSL's RC4 for keys of every length with the data enciphered in pieces.
#include "Utility/Rc4.h"

#include <gtest/gtest.h>

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/rc4.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<BYTE> FromHex(const std::string& hex) {
  std::vector<BYTE> v;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    v.push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return v;
}

std::vector<BYTE> RandomBytes(std::mt19937& rng, std::size_t n) {
  std::vector<BYTE> v(n);
  for (auto& b : v) b = static_cast<BYTE>(rng());
  return v;
}

// RFC 6229, section 2, key lengths of 128 bits: 16 key-stream bytes at each offset.
TEST(Rc4, Rfc6229KeyStreams) {
  const struct {
    const char* key;
    std::vector<std::pair<std::size_t, const char*>> stream;
  } kKeys[] = {
      {"0102030405060708090a0b0c0d0e0f10",
       {{0, "9ac7cc9a609d1ef7b2932899cde41b97"},
        {1536, "ffa0b514647ec04f6306b892ae661181"},
        {4080, "ff38265c1642c1abe8d3c2fe5e572bf8"},
        {4096, "a36a4c301ae8ac13610ccbc12256cacc"}}},
      {"ebb46227c6cc8b37641910833222772a",
       {{0, "720c94b63edf44e131d950ca211a5a30"},
        {1536, "1175da6ee756de46a53e2b075660b770"},
        {4080, "a2221a11b833ccb498a59540f0545f4a"},
        {4096, "5bbeb4787d59e5373fdbea6c6f75c29b"}}},
  };
  for (const auto& k : kKeys) {
    const auto key = FromHex(k.key);
    Rc4State state;
    Rc4Init(state, key.data(), key.size());
    std::vector<BYTE> stream(4112, 0);  // enciphering zeros yields the key stream
    Rc4Crypt(state, stream.data(), stream.size());
    for (const auto& [offset, bytes] : k.stream)
      EXPECT_EQ(std::vector<BYTE>(stream.begin() + offset, stream.begin() + offset + 16),
                FromHex(bytes))
          << "key " << k.key << " offset " << offset;
  }
}

// Keys of every length (beyond 256 bytes the rest is ignored; an empty key
// acts as the single byte 0). The cipher enciphers plain bytes and MAC as one
// stream and deciphers a value piece by piece: any split of the data, in place
// or not, gives OpenSSL's bytes for the whole.
TEST(Rc4, AgreesWithOpensslForEveryKeyLengthInPieces) {
  std::mt19937 rng(6229);
  const BYTE zero = 0;
  for (std::size_t keyLen = 0; keyLen <= 300; ++keyLen) {
    SCOPED_TRACE(keyLen);
    const auto key = RandomBytes(rng, keyLen);
    const auto plain = RandomBytes(rng, rng() % (keyLen % 2 == 0 ? 100 : 3000));
    RC4_KEY theirs;
    RC4_set_key(&theirs, keyLen == 0 ? 1 : static_cast<int>(keyLen),
                keyLen == 0 ? &zero : key.data());
    std::vector<BYTE> expected(plain.size());
    RC4(&theirs, plain.size(), plain.data(), expected.data());

    Rc4State ours;
    Rc4Init(ours, keyLen == 0 ? nullptr : key.data(), keyLen);
    std::vector<BYTE> data = plain;
    for (std::size_t pos = 0; pos < data.size();) {
      const std::size_t piece = std::min<std::size_t>(data.size() - pos, rng() % 40);
      if (keyLen % 3 == 0)
        Rc4Crypt(ours, data.data() + pos, piece);  // in place
      else
        Rc4Crypt(ours, plain.data() + pos, data.data() + pos, piece);
      pos += piece;
    }
    ASSERT_EQ(data, expected);
  }
}

}  // namespace
