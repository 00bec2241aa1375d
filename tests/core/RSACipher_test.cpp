// The RSA cipher: chunk lengths and output sizes, interop with `openssl pkeyutl` for all four
// key and mode combinations, failures, key rules and Reset.
#include <gtest/gtest.h>

#include <random>

#include "QmSecCore/Cipher.h"
#include "QmSecCore/Key.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/Message_t.h"
#include "support/Bytes.h"
#include "support/Command.h"
#include "support/Kat.h"
#include "support/Keys.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace {

using QmSecCore::Cipher;
using QmSecCore::Key;
using QmXplArray::CharArray_t;
using QmXplMsg::IllegalArgumentError_t;
using namespace qmsec_test;

struct Rsa : ::testing::Test {
    Key priv1024{Key::eRSAPrivateKey, Arr(TestRsaKey(1024).privatePem)};
    Key pub1024{Key::eRSAPublicKey, Arr(TestRsaKey(1024).publicPem)};
    Key priv2048{Key::eRSAPrivateKey, Arr(TestRsaKey(2048).privatePem)};
    Key pub2048{Key::eRSAPublicKey, Arr(TestRsaKey(2048).publicPem)};
    std::mt19937 rng{77};

    // Feeds data in random pieces, then DoFinal; returns everything written.
    std::string Run(const Cipher& c, const std::string& data) {
        CharArray_t out;
        int at = 0;
        for (const auto& p : RandomPieces(data, rng))
            at += c.Update(p.data(), static_cast<int>(p.size()), out, at);
        at += c.DoFinal(out, at);
        return Str(out, 0, at);
    }
};
using RSACipherTest = Rsa;

TEST_F(RSACipherTest, ChunkLengthsAndOutputSizesOfA1024BitKey) {
    Cipher enc(Cipher::eEncrypt, pub1024, Key::eRSA);
    EXPECT_EQ(enc.GetAlgorithm(), Key::eRSA);
    EXPECT_EQ(enc.GetOutputSize(116), 256);
    EXPECT_EQ(enc.GetOutputSize(115), 128);
    EXPECT_EQ(enc.GetOutputSize(0), 128);
    CharArray_t out;
    std::string data = RandomBytes(rng, 116);
    EXPECT_EQ(enc.Update(Arr(data), out), 128) << "a full chunk is encrypted at once";
    EXPECT_EQ(enc.DoFinal(out, 128), 0) << "nothing left for DoFinal";
    EXPECT_EQ(enc.Update(data.data(), 115, out), 0);
    EXPECT_EQ(enc.DoFinal(out), 128) << "the shorter last chunk";
    for (int n : {0, 1, 115, 116, 117, 232, 233, 1000}) {
        std::string d = RandomBytes(rng, static_cast<size_t>(n));
        std::string sealed = Run(enc, d);
        EXPECT_EQ(sealed.size(), static_cast<size_t>((n + 115) / 116 * 128)) << n;
        EXPECT_LE(sealed.size(), static_cast<size_t>(enc.GetOutputSize(n)));
        Cipher dec(Cipher::eDecrypt, priv1024, Key::eRSA);
        EXPECT_EQ(dec.GetOutputSize(static_cast<int>(sealed.size())),
                  static_cast<int>(sealed.size()));
        EXPECT_EQ(Run(dec, sealed), d);
    }
}

TEST_F(RSACipherTest, OutputSizeCountsBytesAlreadyBuffered) {
    // Encrypting: 100 bytes wait in the chunk; 16 more complete it.
    Cipher enc(Cipher::eEncrypt, pub1024, Key::eRSA);
    CharArray_t out;
    ASSERT_EQ(enc.Update(RandomBytes(rng, 100).data(), 100, out), 0);
    int bound = enc.GetOutputSize(16);
    int n = enc.Update(RandomBytes(rng, 16).data(), 16, out);
    n += enc.DoFinal(out, n);
    EXPECT_EQ(n, 128);
    EXPECT_LE(n, bound);
    // Decrypting: 127 bytes of a block wait; one more byte yields up to 117.
    std::string sealed = Run(enc, RandomBytes(rng, 116));
    Cipher dec(Cipher::eDecrypt, priv1024, Key::eRSA);
    ASSERT_EQ(dec.Update(sealed.data(), 127, out), 0);
    bound = dec.GetOutputSize(1);
    EXPECT_EQ(dec.Update(sealed.data() + 127, 1, out), 116);
    EXPECT_GE(bound, 116);
    EXPECT_EQ(ThrownNumber<IllegalArgumentError_t>([&] { dec.GetOutputSize(-1); }), 40);
}

TEST_F(RSACipherTest, OpensslDecryptsOurPublicKeyChunksAndWeDecryptItsOwn) {
    TempDir dir;
    std::string keyPath = dir.Write("key.pem", TestRsaKey(2048).privatePem);
    std::string pubPath = dir.Write("pub.pem", TestRsaKey(2048).publicPem);
    std::string data = RandomBytes(rng, 600);  // chunks of 244: 244, 244, 112
    std::string sealed = Run(Cipher(Cipher::eEncrypt, pub2048, Key::eRSA), data);
    ASSERT_EQ(sealed.size(), 3u * 256);
    std::string recovered;
    for (size_t at = 0; at < sealed.size(); at += 256) {
        std::string path = dir.Write("chunk.bin", sealed.substr(at, 256));
        CommandResult r = RunCommand("openssl pkeyutl -decrypt -inkey " + Quote(keyPath) +
                                     " -pkeyopt rsa_padding_mode:pkcs1 -in " + Quote(path));
        ASSERT_EQ(r.status, 0);
        recovered += r.output;
    }
    EXPECT_EQ(recovered, data);

    std::string theirs;
    for (size_t at = 0; at < data.size(); at += 244) {
        std::string path = dir.Write("plain.bin", data.substr(at, 244));
        CommandResult r = RunCommand("openssl pkeyutl -encrypt -pubin -inkey " + Quote(pubPath) +
                                     " -pkeyopt rsa_padding_mode:pkcs1 -in " + Quote(path));
        ASSERT_EQ(r.status, 0);
        ASSERT_EQ(r.output.size(), 256u);
        theirs += r.output;
    }
    EXPECT_EQ(Run(Cipher(Cipher::eDecrypt, priv2048, Key::eRSA), theirs), data);
}

TEST_F(RSACipherTest, PrivateKeyEncryptionIsRecoveredWithThePublicKeyBothWays) {
    TempDir dir;
    std::string keyPath = dir.Write("key.pem", TestRsaKey(2048).privatePem);
    std::string pubPath = dir.Write("pub.pem", TestRsaKey(2048).publicPem);
    std::string data = RandomBytes(rng, 300);  // 244 + 56
    std::string sealed = Run(Cipher(Cipher::eEncrypt, priv2048, Key::eRSA), data);
    ASSERT_EQ(sealed.size(), 512u);
    std::string recovered;
    for (size_t at = 0; at < sealed.size(); at += 256) {
        std::string path = dir.Write("chunk.bin", sealed.substr(at, 256));
        CommandResult r =
            RunCommand("openssl pkeyutl -verifyrecover -pubin -inkey " + Quote(pubPath) +
                       " -pkeyopt rsa_padding_mode:pkcs1 -in " + Quote(path));
        ASSERT_EQ(r.status, 0);
        recovered += r.output;
    }
    // PKCS #1 type 1 padding is deterministic: openssl's raw signature of the last chunk is the
    // same block (the command signs raw input of up to 64 bytes only).
    std::string plainPath = dir.Write("plain.bin", data.substr(244));
    CommandResult sig = RunCommand("openssl pkeyutl -sign -inkey " + Quote(keyPath) +
                                   " -pkeyopt rsa_padding_mode:pkcs1 -in " + Quote(plainPath));
    ASSERT_EQ(sig.status, 0);
    EXPECT_EQ(Hex(sig.output), Hex(sealed.substr(256)));
    std::string theirs = sig.output;
    EXPECT_EQ(recovered, data);
    EXPECT_EQ(Run(Cipher(Cipher::eDecrypt, pub2048, Key::eRSA), sealed), data);
    EXPECT_EQ(Run(Cipher(Cipher::eDecrypt, pub2048, Key::eRSA), theirs), data.substr(244));
}

TEST_F(RSACipherTest, WrongKeysAndDamagedBlocksFailWithMessage72) {
    std::string data = RandomBytes(rng, 200);
    std::string sealed = Run(Cipher(Cipher::eEncrypt, pub2048, Key::eRSA), data);
    Key otherPriv(Key::eRSAPrivateKey, Arr(TestRsaKey(2048, 1).privatePem));
    auto ioNumber = [](auto f) { return ThrownNumber<QmXplIo::IOException_t>(f); };
    Cipher wrong(Cipher::eDecrypt, otherPriv, Key::eRSA);
    CharArray_t out;
    EXPECT_EQ(ioNumber([&] { wrong.DoFinal(Arr(sealed), out); }), 72);
    // What the public key encrypted cannot be "recovered" with the public key.
    Cipher recover(Cipher::eDecrypt, pub2048, Key::eRSA);
    EXPECT_EQ(ioNumber([&] { recover.DoFinal(Arr(sealed), out); }), 72);
    // A truncated block fails in DoFinal; a damaged one where it completes.
    Cipher dec(Cipher::eDecrypt, priv2048, Key::eRSA);
    EXPECT_EQ(dec.Update(sealed.data(), 255, out), 0);
    EXPECT_EQ(ioNumber([&] { dec.DoFinal(out); }), 72);
    std::string damaged = sealed;
    damaged[0] = static_cast<char>(damaged[0] ^ 0x80);
    EXPECT_EQ(ioNumber([&] { dec.Update(Arr(damaged), out); }), 72);
    // The failed chunk is gone: the same object decrypts the next message.
    EXPECT_EQ(Str(out, 0, dec.DoFinal(Arr(sealed), out)), data);
    std::string text = ThrownText<QmXplIo::IOException_t>([&] { wrong.DoFinal(Arr(sealed), out); });
    EXPECT_EQ(text.rfind("Error during decryption operation (error:", 0), 0u) << text;
}

// Every block this cipher writes has the modulus length. OpenSSL reads a shorter one as a
// number with its leading zero bytes left out and may decrypt it; the cipher refuses it, so a
// truncated ciphertext never yields plaintext (found by the decryption fuzz target).
TEST_F(RSACipherTest, AShortLastBlockIsRefusedEvenWhereOpensslWouldDecryptIt) {
    Cipher enc(Cipher::eEncrypt, pub1024, Key::eRSA);
    std::string block;
    for (int i = 0; i < 20000 && (block.empty() || block[0] != 0); ++i) block = Run(enc, "short");
    ASSERT_EQ(block[0], 0) << "a block that starts with a zero byte";
    Cipher dec(Cipher::eDecrypt, priv1024, Key::eRSA);
    EXPECT_EQ(Run(dec, block), "short");
    CharArray_t out;
    EXPECT_EQ(dec.Update(block.data() + 1, 127, out), 0);
    EXPECT_EQ(ThrownNumber<QmXplIo::IOException_t>([&] { dec.DoFinal(out); }), 72);
    EXPECT_EQ(Run(dec, block), "short") << "the refused block is gone";
}

TEST_F(RSACipherTest, KeyRulesResetAndDoFinalOffsets) {
    auto number = [](auto f) { return ThrownNumber<IllegalArgumentError_t>(f); };
    Key secret(Key::eSecretKey, std::string(24, 's').data(), 24);
    EXPECT_EQ(number([&] { Cipher(Cipher::eEncrypt, secret, Key::eRSA); }), 71);
    EXPECT_EQ(number([&] { Cipher(Cipher::eEncrypt, Key(), Key::eRSA); }), 71);
    EXPECT_EQ(number([&] { Cipher(Cipher::eEncrypt, pub1024, Key::eDES3); }), 71);

    Cipher c(Cipher::eEncrypt, pub1024, Key::eRSA);
    CharArray_t out(10);
    c.Update("abc", out);
    EXPECT_EQ(number([&] { c.Reset(Cipher::eDecrypt, secret); }), 71);
    // The failed reset left the cipher encrypting with its buffered "abc".
    int n = c.DoFinal(out, 10);
    EXPECT_EQ(n, 128);
    Cipher dec(Cipher::eDecrypt, priv1024, Key::eRSA);
    CharArray_t plain;
    EXPECT_EQ(Str(plain, 0, dec.DoFinal(out, 10, n, plain, 0)), "abc");
    // Reset switches the same object to decryption with the private key.
    c.Reset(Cipher::eDecrypt, priv1024);
    EXPECT_EQ(Str(plain, 0, c.DoFinal(out, 10, n, plain, 0)), "abc");
    EXPECT_EQ(Str(out, 0, 10), std::string(10, '\0')) << "what lies before the offset stays";
}

TEST_F(RSACipherTest, Traces) {
    TraceCapture capture("sec.core.base=9");
    Cipher enc(Cipher::eEncrypt, pub1024, Key::eRSA);
    CharArray_t out;
    EXPECT_EQ(enc.DoFinal("traced", out), 128);
    for (const char* line : {"> RSACipher Constructor", "> RSACipher::Init()",
                             "> RSACipher::Update()", "> RSACipher::DoFinal()"}) {
        EXPECT_NE(capture.IndexOf(line), -1) << line;
    }
}

}  // namespace

#include "QmSecCore/X509Certificate.h"
#include "support/Certificates.h"

namespace {

TEST(CipherCertificateTest, EncryptsForTheCertificatesKey) {
    qmsec_test::TestCertificate cert =
        qmsec_test::CertificateBuilder().CommonName("recipient").Build();
    QmSecCore::X509Certificate x509(cert.pem.data(), static_cast<int>(cert.pem.size()));
    QmSecCore::Cipher enc(QmSecCore::Cipher::eEncrypt, x509, QmSecCore::Key::eRSA);
    EXPECT_EQ(enc.GetAlgorithm(), QmSecCore::Key::eRSA);
    QmXplArray::CharArray_t sealed, plain;
    enc.DoFinal("a secret for the certificate's owner", sealed);
    QmSecCore::Key priv(QmSecCore::Key::eRSAPrivateKey, cert.privateKeyPem.data(),
                        static_cast<int>(cert.privateKeyPem.size()));
    QmSecCore::Cipher dec(QmSecCore::Cipher::eDecrypt, priv, QmSecCore::Key::eRSA);
    int n = dec.DoFinal(sealed, plain);
    EXPECT_EQ(std::string(plain.GetData(), static_cast<size_t>(n)),
              "a secret for the certificate's owner");
    // A symmetric algorithm with a certificate's (RSA) key does not fit.
    EXPECT_THROW(QmSecCore::Cipher(QmSecCore::Cipher::eEncrypt, x509, QmSecCore::Key::eBlowfish),
                 QmXplMsg::IllegalArgumentError_t);
}

}  // namespace
