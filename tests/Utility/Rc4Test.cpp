// Tests of the RC4 routines: the RFC 6229 key streams for 128-bit keys (the
// field cipher's key length) at offsets deep into the stream, the classic
// published examples, agreement with OpenSSL's RC4 for keys of every length,
// and the continuing key stream across calls.
#include "Utility/Rc4.h"

#include <gtest/gtest.h>

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/rc4.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string ToHex(const BYTE* p, std::size_t n) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    s += kHex[p[i] >> 4];
    s += kHex[p[i] & 15];
  }
  return s;
}

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
        {16, "5248c4959014126a6e8a84f11d1a9e1c"},
        {240, "065902e4b620f6cc36c8589f66432f2b"},
        {256, "d39d566bc6bce3010768151549f3873f"},
        {496, "b6d1e6c4a5e4771cad79538df295fb11"},
        {512, "c68c1d5c559a974123df1dbc52a43b89"},
        {752, "c5ecf88de897fd57fed301701b82a259"},
        {768, "eccbe13de1fcc91c11a0b26c0bc8fa4d"},
        {1008, "e7a72574f8782ae26aabcf9ebcd66065"},
        {1024, "bdf0324e6083dcc6d3cedd3ca8c53c16"},
        {1520, "b40110c4190b5622a96116b0017ed297"},
        {1536, "ffa0b514647ec04f6306b892ae661181"},
        {2032, "d03d1bc03cd33d70dff9fa5d71963ebd"},
        {2048, "8a44126411eaa78bd51e8d87a8879bf5"},
        {3056, "fabeb76028ade2d0e48722e46c4615a3"},
        {3072, "c05d88abd50357f935a63c59ee537623"},
        {4080, "ff38265c1642c1abe8d3c2fe5e572bf8"},
        {4096, "a36a4c301ae8ac13610ccbc12256cacc"}}},
      {"ebb46227c6cc8b37641910833222772a",
       {{0, "720c94b63edf44e131d950ca211a5a30"},
        {16, "c366fdeacf9ca80436be7c358424d20b"},
        {240, "b3394a40aabf75cba42282ef25a0059f"},
        {256, "4847d81da4942dbc249defc48c922b9f"},
        {496, "08128c469f275342adda202b2b58da95"},
        {512, "970dacef40ad98723bac5d6955b81761"},
        {752, "3cb89993b07b0ced93de13d2a11013ac"},
        {768, "ef2d676f1545c2c13dc680a02f4adbfe"},
        {1008, "b60595514f24bc9fe522a6cad7393644"},
        {1024, "b515a8c5011754f59003058bdb81514e"},
        {1520, "3c70047e8cbc038e3b9820db601da495"},
        {1536, "1175da6ee756de46a53e2b075660b770"},
        {2032, "00a542bba02111cc2c65b38ebdba587e"},
        {2048, "5865fdbb5b48064104e830b380f2aede"},
        {3056, "34b21ad2ad44e999db2d7f0863f0d9b6"},
        {3072, "84a9218fc36e8a5f2ccfbeae53a27d25"},
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
      EXPECT_EQ(ToHex(stream.data() + offset, 16), bytes)
          << "key " << k.key << " offset " << offset;
  }
}

TEST(Rc4, ClassicExamples) {
  const struct {
    const char* key;
    const char* plain;
    const char* cipher;
  } kCases[] = {
      {"Key", "Plaintext", "bbf316e8d940af0ad3"},
      {"Wiki", "pedia", "1021bf0420"},
      {"Secret", "Attack at dawn", "45a01f645fc35b383552544b9bf5"},
  };
  for (const auto& c : kCases) {
    Rc4State state;
    Rc4Init(state, reinterpret_cast<const BYTE*>(c.key), std::strlen(c.key));
    std::vector<BYTE> out(std::strlen(c.plain));
    Rc4Crypt(state, reinterpret_cast<const BYTE*>(c.plain), out.data(), out.size());
    EXPECT_EQ(ToHex(out.data(), out.size()), c.cipher) << c.key;
  }
}

TEST(Rc4, AgreesWithOpensslForEveryKeyLength) {
  std::mt19937 rng(6229);
  for (std::size_t keyLen = 1; keyLen <= 300; ++keyLen) {  // beyond 256 the rest is ignored
    const auto key = RandomBytes(rng, keyLen);
    const auto plain = RandomBytes(rng, rng() % 100);
    Rc4State ours;
    Rc4Init(ours, key.data(), key.size());
    std::vector<BYTE> got(plain.size());
    Rc4Crypt(ours, plain.data(), got.data(), got.size());

    RC4_KEY theirs;
    RC4_set_key(&theirs, static_cast<int>(key.size()), key.data());
    std::vector<BYTE> expected(plain.size());
    RC4(&theirs, plain.size(), plain.data(), expected.data());
    ASSERT_EQ(got, expected) << "key length " << keyLen;
  }
}

// The cipher enciphers plain bytes and MAC as one stream, and deciphers a
// value piece by piece: any split of the data gives the same bytes as one
// call, in place or not, and deciphering restores the plain bytes.
TEST(Rc4, KeyStreamContinuesAcrossCalls) {
  std::mt19937 rng(2);
  const auto key = RandomBytes(rng, 16);
  const auto plain = RandomBytes(rng, 3000);
  Rc4State oneShot;
  Rc4Init(oneShot, key.data(), key.size());
  std::vector<BYTE> expected(plain.size());
  Rc4Crypt(oneShot, plain.data(), expected.data(), expected.size());

  for (int round = 0; round < 50; ++round) {
    Rc4State state;
    Rc4Init(state, key.data(), key.size());
    std::vector<BYTE> data = plain;
    for (std::size_t pos = 0; pos < data.size();) {
      const std::size_t piece =
          std::min<std::size_t>(data.size() - pos, rng() % (round < 25 ? 20 : 1100));
      if (round % 2 == 0) {
        Rc4Crypt(state, data.data() + pos, piece);
      } else {
        std::vector<BYTE> tmp(piece);
        Rc4Crypt(state, data.data() + pos, tmp.data(), piece);
        std::copy(tmp.begin(), tmp.end(), data.begin() + static_cast<std::ptrdiff_t>(pos));
      }
      pos += piece;
    }
    ASSERT_EQ(data, expected) << "round " << round;

    Rc4State back;
    Rc4Init(back, key.data(), key.size());
    Rc4Crypt(back, data.data(), data.size());
    ASSERT_EQ(data, plain) << "round " << round;
  }
}

TEST(Rc4, EmptyKeyActsAsSingleZeroByte) {
  const BYTE zero = 0;
  Rc4State empty, one;
  Rc4Init(empty, nullptr, 0);
  Rc4Init(one, &zero, 1);
  std::vector<BYTE> a(64, 0), b(64, 0);
  Rc4Crypt(empty, a.data(), a.size());
  Rc4Crypt(one, b.data(), b.size());
  EXPECT_EQ(a, b);
}

}  // namespace
