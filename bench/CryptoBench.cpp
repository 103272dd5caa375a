// crypto_bench: the field cipher's building blocks against the raw
// implementations beneath them, in one run.
//
// Workloads (each at 64 bytes, a typical encrypted value, and 4 KiB):
//   Md5/Ours, Md5/OpenSSL          one-shot digest (init, update, final)
//   Md5Key/Ours, Md5Key/OpenSSL    the cipher's key derivation: copy a key
//                                  state, add salt and counter (12 bytes), final
//   Rc4/Ours, Rc4/Textbook,        enciphering in place with a set-up state
//   Rc4/OpenSSL                    (Textbook: the plain byte loop, below)
//   Rc4Setup/Ours, Rc4Setup/OpenSSL  key setup with a 16-byte key
//   Base64Encode/Ours, /OpenSSL    EVP_EncodeBlock is OpenSSL's
//   Base64Decode/Ours, /OpenSSL    EVP_DecodeBlock (it does not check padding)
// Rates are bytes of input per second. Run a Release build:
//   cmake -S . -B build/rel -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/rel --target crypto_bench && build/rel/bench/crypto_bench
#include <benchmark/benchmark.h>

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/evp.h>
#include <openssl/md5.h>
#include <openssl/rc4.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Utility/Base64.h"
#include "Utility/Md5.h"
#include "Utility/Rc4.h"

namespace {

std::vector<BYTE> RandomBytes(std::size_t n) {
  std::mt19937 rng(static_cast<unsigned>(n));
  std::vector<BYTE> v(n);
  for (auto& b : v) b = static_cast<BYTE>(rng());
  return v;
}

const BYTE kKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// ---- MD5 ------------------------------------------------------------------

void Md5_Ours(benchmark::State& state) {
  const auto data = RandomBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto digest = Md5Digest(data.data(), data.size());
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void Md5_OpenSSL(benchmark::State& state) {
  const auto data = RandomBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    BYTE digest[MD5_DIGEST_LENGTH];
    MD5(data.data(), data.size(), digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void Md5Key_Ours(benchmark::State& state) {
  Md5Context keyState;
  Md5Init(keyState);
  Md5Update(keyState, "a client secret", 15);
  const BYTE saltAndCounter[12] = {1, 2, 3, 4, 5, 6, 7, 8, 42, 0, 0, 0};
  for (auto _ : state) {
    Md5Context ctx = keyState;
    Md5Update(ctx, saltAndCounter, sizeof(saltAndCounter));
    BYTE key[kMd5DigestSize];
    Md5Final(ctx, key);
    benchmark::DoNotOptimize(key);
  }
}

void Md5Key_OpenSSL(benchmark::State& state) {
  MD5_CTX keyState;
  MD5_Init(&keyState);
  MD5_Update(&keyState, "a client secret", 15);
  const BYTE saltAndCounter[12] = {1, 2, 3, 4, 5, 6, 7, 8, 42, 0, 0, 0};
  for (auto _ : state) {
    MD5_CTX ctx = keyState;
    MD5_Update(&ctx, saltAndCounter, sizeof(saltAndCounter));
    BYTE key[MD5_DIGEST_LENGTH];
    MD5_Final(key, &ctx);
    benchmark::DoNotOptimize(key);
  }
}

// ---- RC4 ------------------------------------------------------------------

// The textbook generator, one byte at a time, as a reference point.
struct TextbookRc4 {
  BYTE s[256];
  BYTE i = 0, j = 0;
  TextbookRc4(const BYTE* key, std::size_t keyLen) {
    for (int n = 0; n < 256; ++n) s[n] = static_cast<BYTE>(n);
    BYTE jj = 0;
    for (int n = 0; n < 256; ++n) {
      jj = static_cast<BYTE>(jj + s[n] + key[static_cast<std::size_t>(n) % keyLen]);
      std::swap(s[n], s[jj]);
    }
  }
  void Crypt(BYTE* data, std::size_t len) {
    for (std::size_t n = 0; n < len; ++n) {
      i = static_cast<BYTE>(i + 1);
      j = static_cast<BYTE>(j + s[i]);
      std::swap(s[i], s[j]);
      data[n] ^= s[static_cast<BYTE>(s[i] + s[j])];
    }
  }
};

void Rc4_Ours(benchmark::State& state) {
  auto data = RandomBytes(static_cast<std::size_t>(state.range(0)));
  Rc4State rc4;
  Rc4Init(rc4, kKey, sizeof(kKey));
  for (auto _ : state) {
    Rc4Crypt(rc4, data.data(), data.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void Rc4_Textbook(benchmark::State& state) {
  auto data = RandomBytes(static_cast<std::size_t>(state.range(0)));
  TextbookRc4 rc4(kKey, sizeof(kKey));
  for (auto _ : state) {
    rc4.Crypt(data.data(), data.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void Rc4_OpenSSL(benchmark::State& state) {
  auto data = RandomBytes(static_cast<std::size_t>(state.range(0)));
  RC4_KEY rc4;
  RC4_set_key(&rc4, sizeof(kKey), kKey);
  for (auto _ : state) {
    RC4(&rc4, data.size(), data.data(), data.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void Rc4Setup_Ours(benchmark::State& state) {
  for (auto _ : state) {
    Rc4State rc4;
    Rc4Init(rc4, kKey, sizeof(kKey));
    benchmark::DoNotOptimize(rc4);
  }
}

void Rc4Setup_OpenSSL(benchmark::State& state) {
  for (auto _ : state) {
    RC4_KEY rc4;
    RC4_set_key(&rc4, sizeof(kKey), kKey);
    benchmark::DoNotOptimize(rc4);
  }
}

// ---- Base64 ---------------------------------------------------------------

void Base64Encode_Ours(benchmark::State& state) {
  const auto data = RandomBytes(static_cast<std::size_t>(state.range(0)));
  std::vector<char> text(Base64EncodedLength(data.size()) + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Base64Encode(data.data(), data.size(), text.data()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void Base64Encode_OpenSSL(benchmark::State& state) {
  const auto data = RandomBytes(static_cast<std::size_t>(state.range(0)));
  std::vector<unsigned char> text(Base64EncodedLength(data.size()) + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        EVP_EncodeBlock(text.data(), data.data(), static_cast<int>(data.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void Base64Decode_Ours(benchmark::State& state) {
  const auto data = RandomBytes(static_cast<std::size_t>(state.range(0)));
  const std::string text = Base64Encode(data.data(), data.size());
  std::vector<BYTE> out(Base64DecodedMaxLength(text.size()));
  for (auto _ : state) {
    std::size_t n = 0;
    benchmark::DoNotOptimize(Base64Decode(text, out.data(), &n));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void Base64Decode_OpenSSL(benchmark::State& state) {
  const auto data = RandomBytes(static_cast<std::size_t>(state.range(0)));
  const std::string text = Base64Encode(data.data(), data.size());
  std::vector<BYTE> out(Base64DecodedMaxLength(text.size()) + 3);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVP_DecodeBlock(out.data(),
                                             reinterpret_cast<const unsigned char*>(text.data()),
                                             static_cast<int>(text.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

}  // namespace

BENCHMARK(Md5_Ours)->Arg(64)->Arg(4096);
BENCHMARK(Md5_OpenSSL)->Arg(64)->Arg(4096);
BENCHMARK(Md5Key_Ours);
BENCHMARK(Md5Key_OpenSSL);
BENCHMARK(Rc4_Ours)->Arg(64)->Arg(4096);
BENCHMARK(Rc4_Textbook)->Arg(64)->Arg(4096);
BENCHMARK(Rc4_OpenSSL)->Arg(64)->Arg(4096);
BENCHMARK(Rc4Setup_Ours);
BENCHMARK(Rc4Setup_OpenSSL);
BENCHMARK(Base64Encode_Ours)->Arg(64)->Arg(4096);
BENCHMARK(Base64Encode_OpenSSL)->Arg(64)->Arg(4096);
BENCHMARK(Base64Decode_Ours)->Arg(64)->Arg(4096);
BENCHMARK(Base64Decode_OpenSSL)->Arg(64)->Arg(4096);

BENCHMARK_MAIN();
