// cipher_bench: one encrypted value through FieldCipher against the raw
// cryptography beneath it, in one run.
//
// Workloads (format 1.1; values: a LONG of 4 plain bytes and a STRING of 100):
//   Encrypt/Ours       FieldCipher::Encrypt: counter, key derivation, RC4 key
//                      setup, MAC, RC4 over plain and MAC, Base64 into the
//                      caller's buffer
//   Decrypt/Ours       FieldCipher::Decrypt of the stored VARIANT (a BSTR):
//                      narrowing, Base64, key derivation, RC4, MAC check
//   Raw/OpenSSL        the same MD5 and RC4 work with OpenSSL, without Base64
//                      and text conversion: copy the key state and derive the
//                      key (12 bytes), RC4 key setup and RC4 over n + 16
//                      bytes, the MAC's two MD5s over plain, names and id
// Argument: plain bytes. Times are microseconds per value. Run a Release build:
//   cmake -S . -B build/rel -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/rel --target cipher_bench && build/rel/bench/cipher_bench
#include <benchmark/benchmark.h>

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>
#include <openssl/rc4.h>

#include <cstring>
#include <string>
#include <vector>

#include "DataBase/AccessDriver/FieldCipher.h"
#include "Platform/ComUtil.h"
#include "Platform/OleAuto.h"

namespace {

constexpr char kTable[] = "tblKunde";
constexpr char kField[] = "Bemerkung";
constexpr char kSecret[] = "ein Geheimnis";
constexpr ULONG kVersion11 = 0x01010000;

std::vector<BYTE> Plain(std::size_t n) {
  std::vector<BYTE> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<BYTE>('a' + i % 26);
  return v;
}

void SetUp(FieldCipher& cipher) {
  cipher.SetSecret(reinterpret_cast<const BYTE*>(kSecret), sizeof(kSecret) - 1, nullptr, 0);
}

void Encrypt_Ours(benchmark::State& state) {
  const auto plain = Plain(static_cast<std::size_t>(state.range(0)));
  FieldCipher cipher;
  SetUp(cipher);
  const _variant_t vtId(static_cast<LONG>(4711));
  std::vector<char> out(EncryptedBufferSize(plain.size()));
  for (auto _ : state) {
    cipher.Encrypt(kTable, kField, vtId, out.data(), plain.data(), static_cast<ULONG>(plain.size()),
                   kVersion11);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

void Decrypt_Ours(benchmark::State& state) {
  const auto plain = Plain(static_cast<std::size_t>(state.range(0)));
  FieldCipher cipher;
  SetUp(cipher);
  const _variant_t vtId(static_cast<LONG>(4711));
  std::vector<char> text(EncryptedBufferSize(plain.size()));
  cipher.Encrypt(kTable, kField, vtId, text.data(), plain.data(), static_cast<ULONG>(plain.size()),
                 kVersion11);
  const _variant_t vtStored(text.data());
  std::vector<BYTE> out(plain.size());
  for (auto _ : state) {
    LONG n = cipher.Decrypt(kTable, kField, vtId, vtStored, out.data(),
                            static_cast<ULONG>(out.size()), kVersion11);
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  if (out != plain) state.SkipWithError("Decrypt did not give the plain bytes back");
}

// The MD5 and RC4 work of one encryption (a decryption does the same work).
void Raw_OpenSSL(benchmark::State& state) {
  auto plain = Plain(static_cast<std::size_t>(state.range(0)));
  MD5_CTX keyState;
  MD5_Init(&keyState);
  MD5_Update(&keyState, kSecret, sizeof(kSecret) - 1);
  BYTE header[12] = {1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0};
  const BYTE id[4] = {0x67, 0x12, 0, 0};
  std::vector<BYTE> body(plain.size() + 16);
  std::uint32_t counter = 0;
  for (auto _ : state) {
    ++counter;
    std::memcpy(header + 8, &counter, 4);
    BYTE key[16];
    MD5_CTX ctx = keyState;
    MD5_Update(&ctx, header, sizeof(header));
    MD5_Final(key, &ctx);
    RC4_KEY rc4;
    RC4_set_key(&rc4, 16, key);

    BYTE inner[16];
    ctx = keyState;
    MD5_Update(&ctx, plain.data(), plain.size());
    MD5_Update(&ctx, kTable, sizeof(kTable) - 1);
    MD5_Update(&ctx, kField, sizeof(kField) - 1);
    MD5_Update(&ctx, id, sizeof(id));
    MD5_Final(inner, &ctx);
    ctx = keyState;
    MD5_Update(&ctx, inner, sizeof(inner));
    std::memcpy(body.data(), plain.data(), plain.size());
    MD5_Final(body.data() + plain.size(), &ctx);
    RC4(&rc4, body.size(), body.data(), body.data());
    benchmark::DoNotOptimize(body.data());
    benchmark::ClobberMemory();
  }
}

}  // namespace

BENCHMARK(Encrypt_Ours)->Name("Encrypt/Ours")->Arg(4)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK(Decrypt_Ours)->Name("Decrypt/Ours")->Arg(4)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK(Raw_OpenSSL)->Name("Raw/OpenSSL")->Arg(4)->Arg(100)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
