// Sealing and unsealing: the byte layout checked with the openssl command and an independent key
// derivation, random messages with every symmetric algorithm in random splits (one byte at a
// time included), every refusal of hostile or cut sealed data, the header limit and the traces.
// The Update/DoFinal family's overloads and argument checks are in UpdateDoFinal_test.cpp.
#include <gtest/gtest.h>
#include <openssl/rsa.h>

#include <climits>
#include <random>
#include <sstream>

#include "MessageSealerImpl.h"
#include "MessageUnsealerImpl.h"
#include "QmSecCore/BadPaddingException.h"
#include "QmSecCore/Cipher.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/MessageSealer.h"
#include "QmSecCore/MessageUnsealer.h"
#include "QmSecCore/SecCoreException.h"
#include "QmSecCore/X509Certificate.h"
#include "QmXpl/IOException_t.h"
#include "support/Bytes.h"
#include "support/Certificates.h"
#include "support/Command.h"
#include "support/Kat.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace {

using QmSecCore::Cipher;
using QmSecCore::Key;
using QmSecCore::MessageSealer;
using QmSecCore::MessageUnsealer;
using QmSecCore::SecCoreException;
using QmSecCore::X509Certificate;
using QmXplArray::CharArray_t;
using QmXplMsg::IllegalArgumentError_t;
using namespace qmsec_test;

// A recipient: a certificate for an RSA key of the given size and the matching private key.
struct Recipient {
    TestCertificate test;
    X509Certificate certificate;
    Key privateKey;
    Key publicKey;
    explicit Recipient(int bits, int variant = 0) {
        const RsaKeyPair& pair = TestRsaKey(bits, variant);
        test = CertificateBuilder().CommonName("recipient").SubjectKey(pair.privatePem).Build();
        certificate = X509Certificate(Arr(test.pem));
        privateKey = Key(Key::eRSAPrivateKey, Arr(pair.privatePem));
        publicKey = Key(Key::eRSAPublicKey, Arr(pair.publicPem));
    }
};
const Recipient& Recipient2048() {
    static const Recipient r(2048);
    return r;
}

struct Algorithm {
    Key::Algorithm value;
    const char* name;
    const char* openssl;  // `openssl enc` option
    int keyLength;
};
const Algorithm kAlgorithms[] = {
    {Key::eDefault, "default", "-bf-cbc", 16},
    {Key::eBlowfish, "Blowfish", "-bf-cbc", 16},
    {Key::eDES, "DES", "-des-cbc", 8},
    {Key::eDES3, "DES3", "-des-ede3-cbc", 24},
};

// Feeds data as the given pieces through Update at the running offset, then DoFinal.
template <class Transform>
std::string Feed(Transform& t, const std::vector<std::string>& pieces) {
    CharArray_t out;
    int at = 0;
    for (const auto& p : pieces) at += t.Update(p.data(), static_cast<int>(p.size()), out, at);
    at += t.DoFinal(out, at);
    return Str(out, 0, at);
}
std::vector<std::string> Bytewise(const std::string& data) {
    std::vector<std::string> pieces;
    for (char c : data) pieces.emplace_back(1, c);
    return pieces;
}
std::string Seal(const X509Certificate& to, Key::Algorithm alg, const std::string& data) {
    MessageSealer sealer(to, alg);
    CharArray_t out;
    return Str(out, 0, sealer.DoFinal(Arr(data), out));
}
std::string Unseal(const Key& key, const std::string& sealed) {
    MessageUnsealer unsealer(key);
    CharArray_t out;
    return Str(out, 0, unsealer.DoFinal(Arr(sealed), out));
}

TEST(MessageSealerTest, LayoutReadsBackWithOpensslAndAnIndependentKeyDerivation) {
    const Recipient& r = Recipient2048();
    TempDir dir;
    std::string keyFile = dir.Write("key.pem", TestRsaKey(2048).privatePem);
    std::mt19937 rng(41);
    for (const auto& alg : kAlgorithms) {
        SCOPED_TRACE(alg.name);
        std::string data = RandomBytes(rng, 1000);
        std::string sealed = Seal(r.certificate, alg.value, data);
        // Header length: big-endian, one RSA block of the 2048-bit modulus.
        ASSERT_EQ(sealed.substr(0, 4), BigEndian(256));
        ASSERT_EQ(sealed.size(), 4 + 256 + 8 + 1000 + 8u);
        std::string header = dir.Write("header.bin", sealed.substr(4, 256));
        CommandResult block = RunCommand("openssl pkeyutl -decrypt -inkey " + Quote(keyFile) +
                                         " -pkeyopt rsa_padding_mode:pkcs1 -in " + Quote(header));
        ASSERT_EQ(block.status, 0);
        ASSERT_EQ(block.output.size(), 28u);
        std::string secret = block.output.substr(0, 24);
        EXPECT_EQ(secret.find('\0'), std::string::npos) << "no zero byte in the secret";
        EXPECT_EQ(block.output.substr(24), BigEndian(static_cast<uint32_t>(alg.value)));

        // The symmetric key is the secret's PKCS #12 derivation; the body is the vector and the
        // CBC ciphertext under it.
        CommandResult kdf =
            RunCommand("python3 " QMSEC_TEST_DATA_DIR "/../../tools/pkcs12_kdf.py " + Hex(secret));
        ASSERT_EQ(kdf.status, 0);
        std::string keyHex;
        std::istringstream lines(kdf.output);
        for (std::string line; std::getline(lines, line);) {
            auto fields = std::vector<std::string>();
            std::stringstream s(line);
            for (std::string f; std::getline(s, f, '|');) fields.push_back(Trim(f));
            if (fields.size() == 3 && std::stoi(fields[1]) == alg.keyLength) keyHex = fields[2];
        }
        ASSERT_EQ(keyHex.size(), static_cast<size_t>(alg.keyLength) * 2);
        std::string body = dir.Write("body.bin", sealed.substr(4 + 256 + 8));
        std::string provider = alg.value == Key::eDES3 ? "" : " -provider legacy -provider default";
        CommandResult plain =
            RunCommand(std::string("openssl enc -d ") + alg.openssl + provider + " -K " + keyHex +
                       " -iv " + Hex(sealed.substr(4 + 256, 8)) + " -in " + Quote(body));
        ASSERT_EQ(plain.status, 0);
        EXPECT_EQ(plain.output, data);
    }
}

TEST(MessageSealerTest, RandomMessagesWithEveryAlgorithmInRandomSplits) {
    const Recipient& r = Recipient2048();
    std::mt19937 rng(42);
    std::vector<size_t> sizes = {0, 1, 7, 8, 9, 255, 4096, 100000};
    for (int i = 0; i < 6; ++i)
        sizes.push_back(std::uniform_int_distribution<size_t>(0, 100000)(rng));
    for (const auto& alg : kAlgorithms) {
        for (size_t size : sizes) {
            SCOPED_TRACE(std::string(alg.name) + " size " + std::to_string(size));
            std::string data = RandomBytes(rng, size);

            MessageSealer sealer(r.certificate, alg.value);
            std::string sealed = Feed(sealer, RandomPieces(data, rng));
            ASSERT_EQ(sealed.size(), 4 + 256 + 8 + 8 * (size / 8 + 1));

            MessageUnsealer whole(r.privateKey);
            EXPECT_EQ(Feed(whole, {sealed}), data);
            MessageUnsealer pieces(r.privateKey);
            EXPECT_EQ(Feed(pieces, RandomPieces(sealed, rng)), data);
            // Small pieces that end inside the length field and the header.
            MessageUnsealer small(r.privateKey);
            EXPECT_EQ(Feed(small, RandomPieces(sealed, rng, 7)), data);
            MessageUnsealer bytewise(r.privateKey);
            EXPECT_EQ(Feed(bytewise, Bytewise(sealed)), data);
        }
        // Sealing one byte at a time gives a message of the same shape.
        std::string data = RandomBytes(rng, 3000);
        MessageSealer sealer(r.certificate, alg.value);
        std::string sealed = Feed(sealer, Bytewise(data));
        EXPECT_EQ(Unseal(r.privateKey, sealed), data);
    }
}

TEST(MessageSealerTest, HeaderAndLengthCallsReturnNothingUntilTheBodyBegins) {
    const Recipient& r = Recipient2048();
    std::string sealed = Seal(r.certificate, Key::eDES3, "twenty-four bytes of txt");
    ASSERT_EQ(sealed.size(), 4 + 256 + 8 + 32u);
    MessageUnsealer u(r.privateKey);
    CharArray_t out;
    for (size_t i = 0; i < 4 + 256 + 8 + 8; ++i) {
        // The length, the header, the vector and the first block (held back) give nothing.
        ASSERT_EQ(u.Update(&sealed[i], 1, out), 0) << i;
    }
    EXPECT_EQ(u.Update(sealed.data() + 276, 16, out), 16);
    EXPECT_EQ(Str(out, 0, 16), "twenty-four byte");
    EXPECT_EQ(u.Update(sealed.data() + 292, 8, out, 16), 8);
    EXPECT_EQ(u.DoFinal(out, 24), 0) << "the last block was padding only";
    EXPECT_EQ(Str(out, 0, 24), "twenty-four bytes of txt");
}

TEST(MessageSealerTest, EmptyMessagesCarryTheVectorWithOrWithoutInput) {
    const Recipient& r = Recipient2048();
    for (const auto& alg : kAlgorithms) {
        SCOPED_TRACE(alg.name);
        // A DoFinal form with input, given zero bytes.
        MessageSealer a(r.certificate, alg.value);
        CharArray_t viaInput;
        ASSERT_EQ(a.DoFinal("", 0, viaInput), 4 + 256 + 8 + 8);
        EXPECT_EQ(Unseal(r.privateKey, Str(viaInput)), "");
        // DoFinal without input and without any Update before: the vector is still written.
        MessageSealer b(r.certificate, alg.value);
        CharArray_t finalOnly;
        ASSERT_EQ(b.DoFinal(finalOnly), 4 + 256 + 8 + 8);
        EXPECT_NE(Str(finalOnly, 260, 8), Str(viaInput, 260, 8)) << "random vectors";
        EXPECT_EQ(Unseal(r.privateKey, Str(finalOnly)), "");
        // An Update of zero bytes writes the header and the vector at once.
        MessageSealer c(r.certificate, alg.value);
        CharArray_t zero;
        EXPECT_EQ(c.Update(static_cast<const char*>(nullptr), zero), 4 + 256 + 8);
        EXPECT_EQ(c.DoFinal(zero, 268), 8);
        EXPECT_EQ(Unseal(r.privateKey, Str(zero)), "");
    }
}

TEST(MessageSealerTest, EachSealerDrawsItsOwnSecretAndKeySizesSetTheHeaderLength) {
    const Recipient& r = Recipient2048();
    std::string a = Seal(r.certificate, Key::eDefault, "same");
    std::string b = Seal(r.certificate, Key::eDefault, "same");
    EXPECT_NE(a.substr(4, 256), b.substr(4, 256));
    EXPECT_NE(a.substr(260), b.substr(260));
    for (int bits : {1024, 4096}) {
        Recipient other(bits);
        std::string sealed = Seal(other.certificate, Key::eBlowfish, "data");
        EXPECT_EQ(sealed.substr(0, 4), BigEndian(static_cast<uint32_t>(bits / 8)));
        EXPECT_EQ(Unseal(other.privateKey, sealed), "data");
    }
}

TEST(MessageSealerTest, HeaderLengthsOutsideOneTo10000AreRefusedAtOnce) {
    const Recipient& r = Recipient2048();
    for (uint32_t length : {0u, 10001u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(length);
        std::string bytes = BigEndian(length) + std::string(64, 'x');
        MessageUnsealer u(r.privateKey);
        CharArray_t out;
        // Three bytes are not yet a length.
        EXPECT_EQ(u.Update(bytes.data(), 3, out), 0);
        EXPECT_EQ(ThrownNumber<SecCoreException>([&] { u.Update(bytes.data() + 3, 1, out); }), 57);
        // Nothing after a refused length can be read.
        EXPECT_EQ(ThrownNumber<SecCoreException>([&] { u.Update(bytes.data() + 4, 60, out); }), 57);
        EXPECT_EQ(ThrownNumber<SecCoreException>([&] { u.DoFinal(out); }), 56);
        // In one piece with more behind it.
        MessageUnsealer v(r.privateKey);
        EXPECT_EQ(ThrownNumber<SecCoreException>([&] { v.DoFinal(Arr(bytes), out); }), 57);
    }
    // 10000 itself is a length that may be announced: the unsealer waits for the header.
    MessageUnsealer u(r.privateKey);
    CharArray_t out;
    std::string bytes = BigEndian(10000) + std::string(9999, 'h');
    EXPECT_EQ(u.Update(Arr(bytes), out), 0);
    EXPECT_EQ(ThrownNumber<SecCoreException>([&] { u.DoFinal(out); }), 56);
}

TEST(MessageSealerTest, CutMessagesAreRefused) {
    const Recipient& r = Recipient2048();
    std::string sealed = Seal(r.certificate, Key::eDES3, "a message that gets cut short");
    // Cut inside the length field or the header: DoFinal says the data ended too early.
    for (size_t cut : {0, 1, 3, 4, 5, 100, 259}) {
        MessageUnsealer u(r.privateKey);
        CharArray_t out;
        EXPECT_EQ(u.Update(sealed.data(), static_cast<int>(cut), out), 0);
        EXPECT_EQ(ThrownNumber<SecCoreException>([&] { u.DoFinal(out); }), 56) << cut;
    }
    // Cut inside the body: the cipher's padding check fails.
    for (size_t cut : {260, 263, 268, 275, 276, 299}) {
        MessageUnsealer u(r.privateKey);
        CharArray_t out;
        EXPECT_EQ(ThrownNumber<QmSecCore::BadPaddingException>(
                      [&] { u.DoFinal(sealed.data(), static_cast<int>(cut), out); }),
                  76)
            << cut;
    }
}

TEST(MessageSealerTest, HeadersForAnotherKeyOrOfTheWrongShapeFailInTheRsaDecryption) {
    const Recipient& r = Recipient2048();
    Recipient other(2048, 1);
    std::string sealed = Seal(other.certificate, Key::eBlowfish, "for someone else");
    MessageUnsealer u(r.privateKey);
    CharArray_t out;
    EXPECT_EQ(ThrownNumber<QmXplIo::IOException_t>([&] { u.Update(Arr(sealed), out); }), 72);
    EXPECT_EQ(ThrownNumber<SecCoreException>([&] { u.Update("more", out); }), 57);
    EXPECT_EQ(Unseal(other.privateKey, sealed), "for someone else");

    // A damaged header, and headers that are not a whole number of RSA blocks.
    std::string damaged = Seal(r.certificate, Key::eBlowfish, "x");
    damaged[100] = static_cast<char>(damaged[100] ^ 1);
    EXPECT_EQ(ThrownNumber<QmXplIo::IOException_t>([&] { Unseal(r.privateKey, damaged); }), 72);
    std::string good = Seal(r.certificate, Key::eBlowfish, "x");
    for (uint32_t length : {1u, 255u, 257u, 511u}) {
        std::string shaped = BigEndian(length) +
                             (good.substr(4, 256) + good.substr(4, 256)).substr(0, length) +
                             good.substr(260);
        EXPECT_EQ(ThrownNumber<QmXplIo::IOException_t>([&] { Unseal(r.privateKey, shaped); }), 72)
            << length;
    }
}

// RSA encryption with OpenSSL alone, in the chunks a header uses (modulus length - 12 bytes of
// input per block); an empty input is one block too.
std::string RsaEncrypt(const std::string& publicPem, const std::string& data) {
    QmSecCore::ossl::Bio bio(BIO_new_mem_buf(publicPem.data(), static_cast<int>(publicPem.size())));
    QmSecCore::ossl::PKey key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    QmSecCore::ossl::PKeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1) {
        throw std::runtime_error("RSA encryption setup failed");
    }
    size_t chunk = static_cast<size_t>(EVP_PKEY_get_size(key.get())) - 12;
    std::string out;
    size_t at = 0;
    do {
        std::string piece = data.substr(at, chunk);
        at += piece.size();
        std::string block(static_cast<size_t>(EVP_PKEY_get_size(key.get())), '\0');
        size_t n = block.size();
        if (EVP_PKEY_encrypt(ctx.get(), reinterpret_cast<unsigned char*>(block.data()), &n,
                             reinterpret_cast<const unsigned char*>(piece.data()),
                             piece.size()) != 1) {
            throw std::runtime_error("RSA encryption failed");
        }
        out += block.substr(0, n);
    } while (at < data.size());
    return out;
}

// Sealed data with a key block of our own making: the secret and the algorithm field as given,
// the body encrypted under the key derived from that secret with bodyAlg.
std::string Crafted(const std::string& keyBlock, Key::Algorithm bodyAlg, const std::string& data) {
    std::string header = RsaEncrypt(TestRsaKey(2048).publicPem, keyBlock);
    std::string sealed = BigEndian(static_cast<uint32_t>(header.size())) + header;
    if (keyBlock.size() < 4) return sealed + std::string(16, 'b');
    CharArray_t secret = Arr(keyBlock.substr(0, keyBlock.size() - 4)), body;
    Cipher sym(Cipher::eEncrypt, Key(secret, bodyAlg), bodyAlg);
    return sealed + Str(body, 0, sym.DoFinal(Arr(data), body));
}

TEST(MessageSealerTest, KeyBlocksNamingNoSymmetricAlgorithmAreRefused) {
    const Recipient& r = Recipient2048();
    std::mt19937 rng(43);
    std::string secret = RandomBytes(rng, 24);
    for (uint32_t alg : {5u, 7u, 0x80000000u, 0xFFFFFFFFu}) {
        std::string sealed = Crafted(secret + BigEndian(alg), Key::eDES3, "x");
        EXPECT_EQ(ThrownNumber<SecCoreException>([&] { Unseal(r.privateKey, sealed); }), 57) << alg;
    }
    // Too short to hold the algorithm.
    for (size_t n : {0, 1, 3}) {
        ASSERT_EQ(Crafted(secret.substr(0, n), Key::eDES3, "x").substr(0, 4), BigEndian(256));
        std::string sealed = Crafted(secret.substr(0, n), Key::eDES3, "x");
        EXPECT_EQ(ThrownNumber<SecCoreException>([&] { Unseal(r.privateKey, sealed); }), 57) << n;
    }
    // eRSA is refused by the key derivation.
    std::string rsa = Crafted(secret + BigEndian(3), Key::eDES3, "x");
    EXPECT_EQ(ThrownNumber<IllegalArgumentError_t>([&] { Unseal(r.privateKey, rsa); }), 20);

    // Every other algorithm value is read as written, whatever the secret's length: the bytes
    // before the last four are the secret, over as many RSA blocks as the header holds.
    for (size_t n : {0, 4, 24, 300}) {
        for (const auto& alg : kAlgorithms) {
            std::string s = RandomBytes(rng, n);
            std::string sealed =
                Crafted(s + BigEndian(static_cast<uint32_t>(alg.value)), alg.value, "payload");
            EXPECT_EQ(Unseal(r.privateKey, sealed), "payload") << n << " " << alg.name;
        }
    }
}

TEST(MessageSealerTest, HeaderLimitRefusesLargerHeaders) {
    // 10000 bytes would take a modulus of more than 80000 bits; OpenSSL makes and uses RSA keys
    // of at most 16384 bits (a 2048-byte header), so the limit is shown with a smaller one.
    const Recipient& r = Recipient2048();
    EXPECT_EQ(ThrownNumber<IllegalArgumentError_t>(
                  [&] { QmSecCore::MessageSealerImpl(r.certificate, Key::eDefault, 255); }),
              44);
    QmSecCore::MessageSealerImpl exact(r.certificate, Key::eDefault, 256);
    CharArray_t out;
    int n = exact.DoFinal(out, 0);
    EXPECT_EQ(Unseal(r.privateKey, Str(out, 0, n)), "");
}

TEST(MessageSealerTest, AlgorithmAndKeyRules) {
    const Recipient& r = Recipient2048();
    auto number = [](auto f) { return ThrownNumber<IllegalArgumentError_t>(f); };
    EXPECT_EQ(number([&] { MessageSealer(r.certificate, Key::eRSA); }), 43);
    for (int value : {5, 7, -1, INT_MIN}) {
        EXPECT_EQ(number([&] { MessageSealer(r.certificate, static_cast<Key::Algorithm>(value)); }),
                  41)
            << value;
    }
    EXPECT_THROW(MessageSealer(X509Certificate(), Key::eDefault), QmXplMsg::IllegalStateError_t);

    EXPECT_EQ(number([&] { MessageUnsealer u(r.publicKey); }), 55);
    EXPECT_EQ(number([&] { MessageUnsealer u(Key(Key::eSecretKey, "0123456789abcdef", 16)); }), 55);
    EXPECT_EQ(number([&] { MessageUnsealer u{Key()}; }), 55);
    EXPECT_EQ(ThrownText<IllegalArgumentError_t>([&] { MessageUnsealer u(r.publicKey); }),
              "Wrong key type. Expected RSA private key.");
}

TEST(MessageSealerTest, AfterDoFinalFurtherMessagesFollowUnderTheSameSecret) {
    const Recipient& r = Recipient2048();
    MessageSealer s(r.certificate, Key::eDES3);
    CharArray_t first, second;
    int n1 = s.DoFinal("first message", first);
    int n2 = s.DoFinal("second", second);
    EXPECT_EQ(n2, 8 + 8) << "a body only: vector and one block";
    MessageUnsealer u(r.privateKey);
    CharArray_t out;
    EXPECT_EQ(Str(out, 0, u.DoFinal(first.GetData(), n1, out)), "first message");
    EXPECT_EQ(Str(out, 0, u.DoFinal(second.GetData(), n2, out)), "second");
}

TEST(MessageSealerTest, CopiesShareOneState) {
    const Recipient& r = Recipient2048();
    MessageSealer s(r.certificate, Key::eDefault);
    MessageSealer copy = s;
    EXPECT_EQ(copy, s);
    CharArray_t out;
    int n = s.Update("one ", out);
    n += copy.Update("two", 3, out, n);
    n += s.DoFinal(out, n);
    EXPECT_EQ(Unseal(r.privateKey, Str(out, 0, n)), "one two");
}

TEST(MessageSealerTest, TracesBlocksAndThrows) {
    const Recipient& r = Recipient2048();
    TraceCapture capture("sec.core.base=9");
    {
        MessageSealer s(r.certificate, Key::eDefault);
        MessageUnsealer u(r.privateKey);
        CharArray_t sealed, plain;
        int n = s.Update("x", sealed);
        n += s.DoFinal(sealed, n);
        u.Update(sealed.GetData(), n, plain);
        u.DoFinal(plain);
    }
    for (const char* name : {"MessageSealerImpl", "MessageUnsealerImpl"}) {
        std::string c = std::string(name);
        for (const std::string& line :
             {"> " + c + " Constructor", "> " + c + "::Update()", "> " + c + "::DoFinal()",
              "> " + c + "::DestroyThis()", "> " + c + " Destructor"}) {
            EXPECT_NE(capture.IndexOf(line), -1) << line;
        }
        EXPECT_LT(capture.IndexOf("> " + c + "::DestroyThis()"),
                  capture.IndexOf("> " + c + " Destructor"));
    }

    TraceCapture throws("sec.core.base=2");
    MessageUnsealer u(r.privateKey);
    CharArray_t out;
    EXPECT_THROW(u.Update(BigEndian(0).data(), 4, out), SecCoreException);
    EXPECT_TRUE(throws.Contains("Throwing exception 'SecCoreException': [sec.core 57]"));
    EXPECT_THROW(MessageSealer(r.certificate, Key::eRSA), IllegalArgumentError_t);
    EXPECT_TRUE(throws.Contains("Throwing exception 'IllegalArgumentError_t': [sec.core 43]"));
}

}  // namespace
