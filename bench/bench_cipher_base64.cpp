// Cipher, Base64 and Crypt against the raw EVP calls they make, side by side in one run.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>
#include <string>
#include <vector>

#include "OpenSsl.h"
#include "QmSecCore/Base64.h"
#include "QmSecCore/Cipher.h"
#include "QmSecCore/Crypt.h"
#include "QmSecCore/CryptImpl.h"
#include "QmSecCore/Key.h"
#include "bench/support/RatioMain.h"

namespace {

using QmSecCore::Base64;
using QmSecCore::Cipher;
using QmSecCore::Key;
using QmXplArray::CharArray_t;

std::vector<char> Data(size_t n) {
    std::vector<char> d(n);
    for (size_t i = 0; i < n; ++i) d[i] = static_cast<char>(i * 131 + 7);
    return d;
}

const char kKeyBytes[] = "0123456789abcdefFEDCBA98";  // 24 bytes, enough for every algorithm

struct Algorithm {
    Key::Algorithm value;
    const EVP_CIPHER* (*cipher)();
};
const Algorithm kBlowfish{Key::eBlowfish, QmSecCore::ossl::BlowfishCbc};
const Algorithm kDes{Key::eDES, QmSecCore::ossl::DesCbc};
const Algorithm kDes3{Key::eDES3, QmSecCore::ossl::DesEde3Cbc};

// --- symmetric encryption --------------------------------------------------------------------

// A stream of state.range(0)-byte pieces through one context: EVP_EncryptUpdate only.
void StreamBaseline(benchmark::State& state, const Algorithm& alg) {
    auto data = Data(static_cast<size_t>(state.range(0)));
    std::vector<unsigned char> out(data.size() + 16);
    unsigned char iv[8] = {};
    QmSecCore::ossl::CipherCtx ctx(EVP_CIPHER_CTX_new());
    EVP_EncryptInit_ex(ctx.get(), alg.cipher(), nullptr,
                       reinterpret_cast<const unsigned char*>(kKeyBytes), iv);
    for (auto _ : state) {
        int n = 0;
        EVP_EncryptUpdate(ctx.get(), out.data(), &n,
                          reinterpret_cast<const unsigned char*>(data.data()),
                          static_cast<int>(data.size()));
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void StreamLibrary(benchmark::State& state, const Algorithm& alg) {
    auto data = Data(static_cast<size_t>(state.range(0)));
    Cipher cipher(Cipher::eEncrypt, Key(Key::eSecretKey, kKeyBytes, 24), alg.value);
    CharArray_t out;
    cipher.Update(data.data(), 0, out);  // the vector, once
    for (auto _ : state)
        benchmark::DoNotOptimize(cipher.Update(data.data(), static_cast<int>(data.size()), out));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// One whole message per iteration on a reused context: a fresh random vector, the vector in
// front, the data, the padded last block. The raw calls the library makes for a message.
void MessageBaseline(benchmark::State& state, const Algorithm& alg) {
    auto data = Data(static_cast<size_t>(state.range(0)));
    std::vector<unsigned char> out(data.size() + 24);
    unsigned char iv[8];
    QmSecCore::ossl::CipherCtx ctx(EVP_CIPHER_CTX_new());
    EVP_EncryptInit_ex(ctx.get(), alg.cipher(), nullptr,
                       reinterpret_cast<const unsigned char*>(kKeyBytes), nullptr);
    for (auto _ : state) {
        RAND_bytes(iv, sizeof iv);
        EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, nullptr, iv);
        std::memcpy(out.data(), iv, sizeof iv);
        int n = 0, m = 0;
        EVP_EncryptUpdate(ctx.get(), out.data() + 8, &n,
                          reinterpret_cast<const unsigned char*>(data.data()),
                          static_cast<int>(data.size()));
        EVP_EncryptFinal_ex(ctx.get(), out.data() + 8 + n, &m);
        benchmark::DoNotOptimize(m);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void MessageLibrary(benchmark::State& state, const Algorithm& alg) {
    auto data = Data(static_cast<size_t>(state.range(0)));
    Cipher cipher(Cipher::eEncrypt, Key(Key::eSecretKey, kKeyBytes, 24), alg.value);
    CharArray_t out;
    for (auto _ : state)
        benchmark::DoNotOptimize(cipher.DoFinal(data.data(), static_cast<int>(data.size()), out));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// --- Base64 ------------------------------------------------------------------------------------

constexpr int kMiB = 1 << 20;

void EncodeBaseline(benchmark::State& state) {
    auto data = Data(kMiB);
    std::vector<unsigned char> out(kMiB / 48 * 65 + 200);
    QmSecCore::ossl::EncodeCtx ctx(EVP_ENCODE_CTX_new());
    for (auto _ : state) {
        int n = 0, m = 0;
        EVP_EncodeInit(ctx.get());
        EVP_EncodeUpdate(ctx.get(), out.data(), &n,
                         reinterpret_cast<const unsigned char*>(data.data()), kMiB);
        EVP_EncodeFinal(ctx.get(), out.data() + n, &m);
        benchmark::DoNotOptimize(m);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}

void EncodeLibrary(benchmark::State& state) {
    auto data = Data(kMiB);
    Base64 codec(Base64::eEncode);
    CharArray_t out;
    for (auto _ : state) benchmark::DoNotOptimize(codec.DoFinal(data.data(), kMiB, out));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}

std::string EncodedMiB() {
    auto data = Data(kMiB);
    CharArray_t out;
    int n = Base64(Base64::eEncode).DoFinal(data.data(), kMiB, out);
    return std::string(out.GetData(), static_cast<size_t>(n));
}

void DecodeBaseline(benchmark::State& state) {
    std::string text = EncodedMiB();
    std::vector<unsigned char> out(text.size());
    QmSecCore::ossl::EncodeCtx ctx(EVP_ENCODE_CTX_new());
    for (auto _ : state) {
        int n = 0, m = 0;
        EVP_DecodeInit(ctx.get());
        EVP_DecodeUpdate(ctx.get(), out.data(), &n,
                         reinterpret_cast<const unsigned char*>(text.data()),
                         static_cast<int>(text.size()));
        EVP_DecodeFinal(ctx.get(), out.data() + n, &m);
        benchmark::DoNotOptimize(m);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}

void DecodeLibrary(benchmark::State& state) {
    std::string text = EncodedMiB();
    Base64 codec(Base64::eDecode);
    CharArray_t out;
    for (auto _ : state)
        benchmark::DoNotOptimize(codec.DoFinal(text.data(), static_cast<int>(text.size()), out));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}

// --- Crypt -------------------------------------------------------------------------------------

void Provider(Key& key) { key = Key(Key::eSecretKey, kKeyBytes, 16); }

// The raw calls of one Crypt::Encrypt: a Blowfish context with its key setup, a random vector,
// the 24 bytes and the padding, then a Base64 context over vector and ciphertext.
void CryptBaseline(benchmark::State& state) {
    auto secret = Data(24);
    unsigned char sealed[40], text[128], iv[8];
    const EVP_CIPHER* bf = QmSecCore::ossl::BlowfishCbc();
    for (auto _ : state) {
        QmSecCore::ossl::CipherCtx ctx(EVP_CIPHER_CTX_new());
        EVP_EncryptInit_ex(ctx.get(), bf, nullptr,
                           reinterpret_cast<const unsigned char*>(kKeyBytes), nullptr);
        RAND_bytes(iv, sizeof iv);
        EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, nullptr, iv);
        std::memcpy(sealed, iv, sizeof iv);
        int n = 0, m = 0;
        EVP_EncryptUpdate(ctx.get(), sealed + 8, &n,
                          reinterpret_cast<const unsigned char*>(secret.data()), 24);
        EVP_EncryptFinal_ex(ctx.get(), sealed + 8 + n, &m);
        QmSecCore::ossl::EncodeCtx enc(EVP_ENCODE_CTX_new());
        int t = 0, u = 0;
        EVP_EncodeInit(enc.get());
        EVP_EncodeUpdate(enc.get(), text, &t, sealed, 8 + n + m);
        EVP_EncodeFinal(enc.get(), text + t, &u);
        benchmark::DoNotOptimize(u);
    }
}

void CryptLibrary(benchmark::State& state) {
    auto secret = Data(24);
    QmSecCore::CryptImpl::RegisterFunctionPointer(Provider);
    CharArray_t out;
    for (auto _ : state)
        benchmark::DoNotOptimize(QmSecCore::Crypt().Encrypt(secret.data(), 24, out));
    QmSecCore::CryptImpl::RegisterFunctionPointer(nullptr);
}

#define QMSEC_CIPHER_BENCH(kind, name, alg)      \
    BENCHMARK_CAPTURE(kind##Baseline, name, alg) \
        ->Name(#kind #name "/Baseline")          \
        ->Arg(64 << 10)                          \
        ->Arg(1 << 20);                          \
    BENCHMARK_CAPTURE(kind##Library, name, alg)  \
        ->Name(#kind #name "/Library")           \
        ->Arg(64 << 10)                          \
        ->Arg(1 << 20)

QMSEC_CIPHER_BENCH(Message, Blowfish, kBlowfish);
QMSEC_CIPHER_BENCH(Message, Des, kDes);
QMSEC_CIPHER_BENCH(Message, Des3, kDes3);
QMSEC_CIPHER_BENCH(Stream, Blowfish, kBlowfish);
QMSEC_CIPHER_BENCH(Stream, Des, kDes);
QMSEC_CIPHER_BENCH(Stream, Des3, kDes3);
BENCHMARK(EncodeBaseline)->Name("Base64Encode1MiB/Baseline");
BENCHMARK(EncodeLibrary)->Name("Base64Encode1MiB/Library");
BENCHMARK(DecodeBaseline)->Name("Base64Decode1MiB/Baseline");
BENCHMARK(DecodeLibrary)->Name("Base64Decode1MiB/Library");
BENCHMARK(CryptBaseline)->Name("CryptEncrypt24/Baseline");
BENCHMARK(CryptLibrary)->Name("CryptEncrypt24/Library");

}  // namespace

QMSEC_BENCHMARK_MAIN()
