// MessageDigest and Signature against the raw EVP calls they wrap, side by side in one run.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <vector>

#include "KeyImpl.h"
#include "OpenSsl.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/MessageDigest.h"
#include "QmSecCore/Signature.h"
#include "bench/support/RatioMain.h"
#include "support/Keys.h"

namespace {

using QmXplArray::CharArray_t;

std::vector<char> Data(size_t n) {
    std::vector<char> d(n);
    for (size_t i = 0; i < n; ++i) d[i] = static_cast<char>(i * 131 + 7);
    return d;
}

// Feeding a long message in updates of state.range(0) bytes.
void Sha1Update_Baseline(benchmark::State& state) {
    auto data = Data(static_cast<size_t>(state.range(0)));
    QmSecCore::ossl::MdCtx ctx(EVP_MD_CTX_new());
    EVP_DigestInit_ex(ctx.get(), QmSecCore::ossl::Sha1(), nullptr);
    for (auto _ : state) EVP_DigestUpdate(ctx.get(), data.data(), data.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void Sha1Update_Library(benchmark::State& state) {
    auto data = Data(static_cast<size_t>(state.range(0)));
    QmSecCore::MessageDigest digest;
    for (auto _ : state) digest.Update(data.data(), static_cast<int>(data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// A 20-byte message digested by a fresh object each time.
void FreshDigest_Baseline(benchmark::State& state) {
    auto data = Data(20);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n;
    for (auto _ : state) {
        EVP_Digest(data.data(), data.size(), out, &n, EVP_sha1(), nullptr);
        benchmark::DoNotOptimize(out);
    }
}

void FreshDigest_Library(benchmark::State& state) {
    auto data = Data(20);
    CharArray_t out;
    for (auto _ : state) {
        QmSecCore::MessageDigest digest;
        benchmark::DoNotOptimize(digest.Digest(data.data(), 20, out));
    }
}

struct Keys {
    QmSecCore::Key priv, pub;
    Keys()
        : priv(QmSecCore::Key::eRSAPrivateKey, qmsec_test::TestRsaKey(2048).privatePem.data(),
               static_cast<int>(qmsec_test::TestRsaKey(2048).privatePem.size())),
          pub(QmSecCore::Key::eRSAPublicKey, qmsec_test::TestRsaKey(2048).publicPem.data(),
              static_cast<int>(qmsec_test::TestRsaKey(2048).publicPem.size())) {}
};
Keys& TheKeys() {
    static Keys keys;
    return keys;
}

void Sign_Baseline(benchmark::State& state) {
    auto data = Data(1024);
    EVP_PKEY* pkey = QmSecCore::RSAKey::PKeyOf(TheKeys().priv);
    std::vector<unsigned char> sig(256);
    for (auto _ : state) {
        QmSecCore::ossl::MdCtx ctx(EVP_MD_CTX_new());
        size_t n = sig.size();
        EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha1(), nullptr, pkey);
        EVP_DigestSign(ctx.get(), sig.data(), &n,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size());
    }
}

void Sign_Library(benchmark::State& state) {
    auto data = Data(1024);
    QmSecCore::Signature s;
    s.InitSign(TheKeys().priv);
    CharArray_t sig;
    for (auto _ : state) {
        s.Update(data.data(), static_cast<int>(data.size()));
        s.Sign(sig);
    }
}

// The library's signature over data with the test key.
template <class Bytes>
CharArray_t SignatureOf(const Bytes& data) {
    QmSecCore::Signature s;
    s.InitSign(TheKeys().priv);
    s.Update(data.data(), static_cast<int>(data.size()));
    CharArray_t sig;
    s.Sign(sig);
    return sig;
}

void Verify_Baseline(benchmark::State& state) {
    auto data = Data(1024);
    CharArray_t sig = SignatureOf(data);
    EVP_PKEY* pkey = QmSecCore::RSAKey::PKeyOf(TheKeys().pub);
    for (auto _ : state) {
        QmSecCore::ossl::MdCtx ctx(EVP_MD_CTX_new());
        EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha1(), nullptr, pkey);
        benchmark::DoNotOptimize(
            EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(sig.GetData()),
                             static_cast<size_t>(sig.GetSize()),
                             reinterpret_cast<const unsigned char*>(data.data()), data.size()));
    }
}

void Verify_Library(benchmark::State& state) {
    auto data = Data(1024);
    CharArray_t sig = SignatureOf(data);
    QmSecCore::Signature v;
    v.InitVerify(TheKeys().pub);
    for (auto _ : state) {
        v.Update(data.data(), static_cast<int>(data.size()));
        benchmark::DoNotOptimize(v.Verify(sig));
    }
}

BENCHMARK(Sha1Update_Baseline)->Name("Sha1Update/Baseline")->Arg(16384)->Arg(1 << 20);
BENCHMARK(Sha1Update_Library)->Name("Sha1Update/Library")->Arg(16384)->Arg(1 << 20);
BENCHMARK(FreshDigest_Baseline)->Name("FreshDigest20/Baseline");
BENCHMARK(FreshDigest_Library)->Name("FreshDigest20/Library");
BENCHMARK(Sign_Baseline)->Name("Sign2048/Baseline");
BENCHMARK(Sign_Library)->Name("Sign2048/Library");
BENCHMARK(Verify_Baseline)->Name("Verify2048/Baseline");
BENCHMARK(Verify_Library)->Name("Verify2048/Library");

}  // namespace

QMSEC_BENCHMARK_MAIN()
