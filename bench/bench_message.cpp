// Sealing, unsealing, signing and verifying 64 MiB against the raw EVP calls underneath, side by
// side in one run, and what building a verifier costs (its key-store reads) against reading and
// checking the same certificates with OpenSSL alone.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "KeyImpl.h"
#include "OpenSsl.h"
#include "QmSecCore/MessageSealer.h"
#include "QmSecCore/MessageSigner.h"
#include "QmSecCore/MessageUnsealer.h"
#include "QmSecCore/MessageVerifier.h"
#include "bench/support/RatioMain.h"
#include "core/MessageTestSupport.h"

namespace {

using QmSecCore::Key;
using QmXplArray::CharArray_t;
using QmXplStr::String_t;

constexpr int kMessage = 64 << 20;  // 64 MiB
constexpr int kPiece = 64 << 10;    // fed in pieces of 64 KiB, as a stream would

const CharArray_t& Message() {
    static const CharArray_t data = [] {
        CharArray_t d(kMessage);
        for (int i = 0; i < kMessage; ++i) d.GetData()[i] = static_cast<char>(i * 131 + 7);
        return d;
    }();
    return data;
}

// A node home with a key store: "Test CA" trusted, "nodeA" issued by it with its key.
struct Node {
    message_test::NodeHome home{"nodeA"};
    const message_test::Hierarchy& h = message_test::Hierarchy::Get();
    Node() { message_test::InstallHierarchy(); }
};
Node& TheNode() {
    static Node node;
    return node;
}

const EVP_CIPHER* Raw(Key::Algorithm algorithm) {
    return algorithm == Key::eDES3 ? QmSecCore::ossl::DesEde3Cbc() : QmSecCore::ossl::BlowfishCbc();
}

// --- sealing ---------------------------------------------------------------------------------

// The raw cipher alone: a random key and vector, the vector written first, then the ciphertext.
void Seal_Baseline(benchmark::State& state) {
    auto algorithm = static_cast<Key::Algorithm>(state.range(0));
    const CharArray_t& in = Message();
    std::vector<unsigned char> out(static_cast<size_t>(kMessage) + 64);
    unsigned char key[24], iv[8];
    for (auto _ : state) {
        RAND_bytes(key, sizeof key);
        RAND_bytes(iv, sizeof iv);
        QmSecCore::ossl::CipherCtx ctx(EVP_CIPHER_CTX_new());
        EVP_EncryptInit_ex(ctx.get(), Raw(algorithm), nullptr, nullptr, nullptr);
        if (algorithm != Key::eDES3) EVP_CIPHER_CTX_set_key_length(ctx.get(), 16);
        EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key, iv);
        std::memcpy(out.data(), iv, 8);
        int at = 8, n = 0;
        for (int pos = 0; pos < kMessage; pos += kPiece) {
            EVP_EncryptUpdate(ctx.get(), out.data() + at, &n,
                              reinterpret_cast<const unsigned char*>(in.GetData()) + pos, kPiece);
            at += n;
        }
        EVP_EncryptFinal_ex(ctx.get(), out.data() + at, &n);
        benchmark::DoNotOptimize(at += n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMessage);
}

void Seal_Library(benchmark::State& state) {
    auto algorithm = static_cast<Key::Algorithm>(state.range(0));
    const CharArray_t& in = Message();
    QmSecCore::X509Certificate recipient = message_test::Cert(TheNode().h.nodeA);
    CharArray_t out(kMessage + 1024);
    for (auto _ : state) {
        QmSecCore::MessageSealer sealer(recipient, algorithm);
        int at = 0;
        for (int pos = 0; pos < kMessage; pos += kPiece)
            at += sealer.Update(in.GetData() + pos, kPiece, out, at);
        benchmark::DoNotOptimize(at += sealer.DoFinal(out, at));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMessage);
}

// --- unsealing -------------------------------------------------------------------------------

struct Sealed {
    CharArray_t data;
    int length = 0;
};
const Sealed& SealedMessage(Key::Algorithm algorithm) {
    static Sealed sealed[5];
    Sealed& s = sealed[algorithm];
    if (s.length == 0) {
        QmSecCore::MessageSealer sealer(message_test::Cert(TheNode().h.nodeA), algorithm);
        s.length = sealer.DoFinal(Message(), s.data);
    }
    return s;
}

// The raw cipher alone over the same body, its vector read from the front.
void Unseal_Baseline(benchmark::State& state) {
    auto algorithm = static_cast<Key::Algorithm>(state.range(0));
    const Sealed& sealed = SealedMessage(algorithm);
    // The body was made under another key: the padding check at the end may fail, which costs
    // the same; what is measured is the decryption.
    int header = 4 + 128;
    const auto* body = reinterpret_cast<const unsigned char*>(sealed.data.GetData()) + header;
    int bodyLength = sealed.length - header;
    std::vector<unsigned char> out(static_cast<size_t>(bodyLength) + 64);
    unsigned char key[24];
    RAND_bytes(key, sizeof key);
    for (auto _ : state) {
        QmSecCore::ossl::CipherCtx ctx(EVP_CIPHER_CTX_new());
        EVP_DecryptInit_ex(ctx.get(), Raw(algorithm), nullptr, nullptr, nullptr);
        if (algorithm != Key::eDES3) EVP_CIPHER_CTX_set_key_length(ctx.get(), 16);
        EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key, body);
        int at = 0, n = 0;
        for (int pos = 8; pos < bodyLength; pos += kPiece) {
            int piece = std::min(kPiece, bodyLength - pos);
            EVP_DecryptUpdate(ctx.get(), out.data() + at, &n, body + pos, piece);
            at += n;
        }
        EVP_DecryptFinal_ex(ctx.get(), out.data() + at, &n);
        benchmark::DoNotOptimize(at += n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMessage);
}

void Unseal_Library(benchmark::State& state) {
    auto algorithm = static_cast<Key::Algorithm>(state.range(0));
    const Sealed& sealed = SealedMessage(algorithm);
    Key privateKey = message_test::PrivateKey(TheNode().h.nodeA);
    CharArray_t out(kMessage + 1024);
    for (auto _ : state) {
        QmSecCore::MessageUnsealer unsealer(privateKey);
        int at = 0;
        for (int pos = 0; pos < sealed.length; pos += kPiece)
            at += unsealer.Update(sealed.data.GetData() + pos,
                                  std::min(kPiece, sealed.length - pos), out, at);
        benchmark::DoNotOptimize(at += unsealer.DoFinal(out, at));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMessage);
}

// --- signing and verifying -------------------------------------------------------------------

EVP_PKEY* PKey(const Key& key) { return QmSecCore::RSAKey::PKeyOf(key); }

void Sign_Baseline(benchmark::State& state) {
    const CharArray_t& in = Message();
    Key key = message_test::PrivateKey(TheNode().h.nodeA);
    std::vector<unsigned char> sig(512);
    for (auto _ : state) {
        QmSecCore::ossl::MdCtx ctx(EVP_MD_CTX_new());
        size_t n = sig.size();
        EVP_DigestSignInit(ctx.get(), nullptr, QmSecCore::ossl::Sha1(), nullptr, PKey(key));
        EVP_DigestSignUpdate(ctx.get(), in.GetData(), static_cast<size_t>(in.GetSize()));
        EVP_DigestSignFinal(ctx.get(), sig.data(), &n);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMessage);
}

void Sign_Library(benchmark::State& state) {
    TheNode();
    QmSecCore::MessageSigner signer;
    for (auto _ : state) {
        signer.Update(Message());
        benchmark::DoNotOptimize(signer.Sign(false));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMessage);
}

CharArray_t MessageSignatureBytes() {
    QmSecCore::Signature s(QmSecCore::Signature::eSHA1);
    s.InitSign(message_test::PrivateKey(TheNode().h.nodeA));
    s.Update(Message());
    CharArray_t bytes;
    s.Sign(bytes);
    return bytes;
}

void Verify_Baseline(benchmark::State& state) {
    const CharArray_t& in = Message();
    CharArray_t sig = MessageSignatureBytes();
    QmSecCore::X509Certificate certificate = message_test::Cert(TheNode().h.nodeA);
    Key key = certificate.GetPublicKey();
    for (auto _ : state) {
        QmSecCore::ossl::MdCtx ctx(EVP_MD_CTX_new());
        EVP_DigestVerifyInit(ctx.get(), nullptr, QmSecCore::ossl::Sha1(), nullptr, PKey(key));
        EVP_DigestVerifyUpdate(ctx.get(), in.GetData(), static_cast<size_t>(in.GetSize()));
        if (EVP_DigestVerifyFinal(ctx.get(), reinterpret_cast<const unsigned char*>(sig.GetData()),
                                  static_cast<size_t>(sig.GetSize())) != 1)
            state.SkipWithError("did not verify");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMessage);
}

void Verify_Library(benchmark::State& state) {
    CharArray_t bytes = MessageSignatureBytes();
    QmSecCore::MessageVerifier verifier(
        QmSecCore::MessageSignature(new QmSecCore::MessageSignatureImpl(bytes, String_t("nodeA"))));
    for (auto _ : state) {
        verifier.Update(Message());
        if (!verifier.Verify()) state.SkipWithError("did not verify");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMessage);
}

// --- building a verifier ---------------------------------------------------------------------

using QmSecCore::ossl::X509Ptr;
X509Ptr ReadPem(const std::string& path) {
    QmSecCore::ossl::Bio file(BIO_new_file(path.c_str(), "r"));
    return X509Ptr(file ? PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr) : nullptr);
}

// Both certificates valid now, the issuer's signature on the signer's, verification started.
bool BaselineDecision(X509* signer, X509* issuer) {
    bool ok = signer && issuer && X509_cmp_current_time(X509_get0_notBefore(signer)) < 0 &&
              X509_cmp_current_time(X509_get0_notAfter(signer)) > 0 &&
              X509_cmp_current_time(X509_get0_notBefore(issuer)) < 0 &&
              X509_cmp_current_time(X509_get0_notAfter(issuer)) > 0 &&
              X509_verify(signer, X509_get0_pubkey(issuer)) == 1;
    QmSecCore::ossl::MdCtx ctx(EVP_MD_CTX_new());
    return ok && EVP_DigestVerifyInit(ctx.get(), nullptr, QmSecCore::ossl::Sha1(), nullptr,
                                      X509_get0_pubkey(signer)) == 1;
}

// What the decision for a name needs at the least: read the signer's and the issuer's
// certificate files, check both validities and the issuer's signature, start verification.
void BuildVerifierByName_Baseline(benchmark::State& state) {
    Node& node = TheNode();
    std::string signerFile = node.home.StoreFile("nodeA_cert.pem");
    std::string issuerFile = node.home.StoreFile("Test CA_cert.pem");
    for (auto _ : state) {
        X509Ptr signer = ReadPem(signerFile), issuer = ReadPem(issuerFile);
        if (!BaselineDecision(signer.get(), issuer.get())) state.SkipWithError("baseline failed");
    }
}

void BuildVerifierByName_Library(benchmark::State& state) {
    TheNode();
    QmSecCore::MessageSignature signature(
        new QmSecCore::MessageSignatureImpl(CharArray_t(128), String_t("nodeA")));
    for (auto _ : state) benchmark::DoNotOptimize(QmSecCore::MessageVerifier(signature));
}

// The certificate comes with the signature: only the issuer is read.
void BuildVerifierWithCertificate_Baseline(benchmark::State& state) {
    Node& node = TheNode();
    X509Ptr signer = ReadPem(node.home.StoreFile("nodeA_cert.pem"));
    std::string issuerFile = node.home.StoreFile("Test CA_cert.pem");
    for (auto _ : state) {
        X509Ptr issuer = ReadPem(issuerFile);
        if (!BaselineDecision(signer.get(), issuer.get())) state.SkipWithError("baseline failed");
    }
}

void BuildVerifierWithCertificate_Library(benchmark::State& state) {
    Node& node = TheNode();
    QmSecCore::MessageSignature signature(
        new QmSecCore::MessageSignatureImpl(CharArray_t(128), message_test::Cert(node.h.nodeA)));
    for (auto _ : state) benchmark::DoNotOptimize(QmSecCore::MessageVerifier(signature));
}

// The 64 MiB runs: three repetitions in milliseconds; the symmetric ones for both algorithms.
void LargeRun(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->Repetitions(3);
}
void LargeRunPerAlgorithm(benchmark::internal::Benchmark* b) {
    LargeRun(b->Arg(Key::eBlowfish)->Arg(Key::eDES3));
}
BENCHMARK(Seal_Baseline)->Name("Seal64MiB/Baseline")->Apply(LargeRunPerAlgorithm);
BENCHMARK(Seal_Library)->Name("Seal64MiB/Library")->Apply(LargeRunPerAlgorithm);
BENCHMARK(Unseal_Baseline)->Name("Unseal64MiB/Baseline")->Apply(LargeRunPerAlgorithm);
BENCHMARK(Unseal_Library)->Name("Unseal64MiB/Library")->Apply(LargeRunPerAlgorithm);
BENCHMARK(Sign_Baseline)->Name("Sign64MiB/Baseline")->Apply(LargeRun);
BENCHMARK(Sign_Library)->Name("Sign64MiB/Library")->Apply(LargeRun);
BENCHMARK(Verify_Baseline)->Name("Verify64MiB/Baseline")->Apply(LargeRun);
BENCHMARK(Verify_Library)->Name("Verify64MiB/Library")->Apply(LargeRun);
BENCHMARK(BuildVerifierByName_Baseline)
    ->Name("BuildVerifierByName/Baseline")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BuildVerifierByName_Library)
    ->Name("BuildVerifierByName/Library")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BuildVerifierWithCertificate_Baseline)
    ->Name("BuildVerifierWithCertificate/Baseline")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BuildVerifierWithCertificate_Library)
    ->Name("BuildVerifierWithCertificate/Library")
    ->Unit(benchmark::kMicrosecond);

}  // namespace

QMSEC_BENCHMARK_MAIN()
