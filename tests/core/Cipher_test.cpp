// Symmetric ciphers: published CBC vectors through the public interface (whole, in random pieces,
// byte by byte, after a reset), interop with `openssl enc` both ways, the vector layout, message
// after message on one object, and the key rules (the Update/DoFinal argument rules are in
// UpdateDoFinal_test.cpp).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <functional>
#include <random>

#include "QmSecCore/BadPaddingException.h"
#include "QmSecCore/Base64.h"
#include "QmSecCore/Cipher.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/MessageDigest.h"
#include "QmSecCore/Signature.h"
#include "QmSecCore/X509Certificate.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/Message_t.h"
#include "SecretKeyCipher.h"
#include "support/Bytes.h"
#include "support/Command.h"
#include "support/Kat.h"
#include "support/Keys.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace {

using QmSecCore::BadPaddingException;
using QmSecCore::Cipher;
using QmSecCore::Key;
using QmXplArray::CharArray_t;
using QmXplMsg::IllegalArgumentError_t;
using namespace qmsec_test;

Key SecretKey(const std::string& bytes) { return Key(Key::eSecretKey, Arr(bytes)); }

struct Algorithm {
    Key::Algorithm value;
    const char* name;     // as in the vector file
    const char* openssl;  // `openssl enc` cipher option
    int keyLength;
};
const Algorithm kAlgorithms[] = {
    {Key::eBlowfish, "BF", "-bf-cbc", 16},
    {Key::eDES, "DES", "-des-cbc", 8},
    {Key::eDES3, "DES3", "-des-ede3-cbc", 24},
};
const Algorithm& ByName(const std::string& name) {
    for (const auto& a : kAlgorithms) {
        if (name == a.name) return a;
    }
    throw std::runtime_error("unknown algorithm " + name);
}
// Blowfish and DES live in OpenSSL's legacy provider; the command needs it named.
std::string OpensslEnc(const Algorithm& a) {
    return std::string("openssl enc ") + a.openssl +
           (a.value == Key::eDES3 ? "" : " -provider legacy -provider default");
}

// Decrypts ciphertext fed as the given pieces; returns the plaintext.
std::string DecryptPieces(const Cipher& c, const std::vector<std::string>& pieces) {
    CharArray_t out;
    int at = 0;
    for (const auto& p : pieces) at += c.Update(p.data(), static_cast<int>(p.size()), out, at);
    at += c.DoFinal(out, at);
    return Str(out, 0, at);
}

TEST(CipherTest, PublishedVectorsEncryptAndDecryptWholeInPiecesBytewiseAndAfterReset) {
    std::mt19937 rng(20261209);
    for (const auto& v : ReadKatFile(QMSEC_TEST_DATA_DIR "/cipher_kat.txt")) {
        ASSERT_EQ(v.size(), 5u);
        const Algorithm& alg = ByName(v[0]);
        Key key = SecretKey(KatBytes(v[1]));
        std::string iv = KatBytes(v[2]), plain = KatBytes(v[3]), expected = KatBytes(v[4]);
        SCOPED_TRACE(v[0] + " " + v[1] + " " + v[3]);
        ASSERT_EQ(plain.size(), expected.size());

        // Encryption: the random vector comes out first, even for an Update of 0 bytes. Feeding
        // the first block xored with (published vector ^ drawn vector) puts the published
        // vector's chain into the cipher, so the published ciphertext must follow.
        Cipher enc(Cipher::eEncrypt, key, alg.value);
        CharArray_t out;
        ASSERT_EQ(enc.Update(static_cast<const char*>(nullptr), 0, out), 8);
        std::string drawn = Str(out, 0, 8);
        std::string fed = plain;
        for (int i = 0; i < 8; ++i)
            fed[static_cast<size_t>(i)] ^=
                static_cast<char>(iv[static_cast<size_t>(i)] ^ drawn[static_cast<size_t>(i)]);
        int at = 8;
        for (const auto& p : RandomPieces(fed, rng))
            at += enc.Update(p.data(), static_cast<int>(p.size()), out, at);
        at += enc.DoFinal(out, at);
        ASSERT_EQ(at, static_cast<int>(8 + plain.size() + 8)) << "whole blocks get a padding block";
        EXPECT_EQ(Hex(Str(out, 8, static_cast<int>(expected.size()))), Hex(expected));
        std::string padded = expected + Str(out, 8 + static_cast<int>(expected.size()), 8);

        // Decryption of the published vector and ciphertext (with that padding block).
        std::string sealed = iv + padded;
        Cipher dec(Cipher::eDecrypt, key, alg.value);
        CharArray_t plainOut;
        EXPECT_EQ(Str(plainOut, 0, dec.DoFinal(Arr(sealed), plainOut)), plain);
        EXPECT_EQ(DecryptPieces(dec, RandomPieces(sealed, rng)), plain);
        // Byte by byte: nothing for the vector's 8 bytes, then block after block.
        CharArray_t bytewise;
        int got = 0;
        for (size_t i = 0; i < sealed.size(); ++i) {
            int n = dec.Update(&sealed[i], 1, bytewise, got);
            if (i < 8) {
                EXPECT_EQ(n, 0) << i;
            }
            got += n;
        }
        got += dec.DoFinal(bytewise, got);
        EXPECT_EQ(Str(bytewise, 0, got), plain);
        // A reset in the middle of a message discards it.
        dec.Update(sealed.data(), 13, bytewise);
        dec.Reset(Cipher::eDecrypt, key);
        EXPECT_EQ(DecryptPieces(dec, {sealed}), plain);
    }
}

TEST(CipherTest, OpensslDecryptsOurCiphertextsWithTheLeadingVector) {
    TempDir dir;
    std::mt19937 rng(11);
    for (const auto& alg : kAlgorithms) {
        std::string keyBytes = RandomBytes(rng, static_cast<size_t>(alg.keyLength));
        Cipher enc(Cipher::eEncrypt, SecretKey(keyBytes), alg.value);
        // One object, message after message: each gets a vector of its own.
        std::string previousVector;
        for (int size : {0, 1, 7, 8, 9, 15, 16, 17, 100, 1000, 65537}) {
            SCOPED_TRACE(std::string(alg.name) + " size " + std::to_string(size));
            std::string data = RandomBytes(rng, static_cast<size_t>(size));
            CharArray_t out;
            int n = 0;
            for (const auto& p : RandomPieces(data, rng))
                n += enc.Update(p.data(), static_cast<int>(p.size()), out, n);
            n += enc.DoFinal(out, n);
            ASSERT_EQ(n, 8 + 8 * (size / 8 + 1));
            EXPECT_NE(Str(out, 0, 8), previousVector);
            previousVector = Str(out, 0, 8);
            std::string path = dir.Write("ct.bin", Str(out, 8, n - 8));
            CommandResult r = RunCommand(OpensslEnc(alg) + " -d -K " + Hex(keyBytes) + " -iv " +
                                         Hex(Str(out, 0, 8)) + " -in " + Quote(path));
            ASSERT_EQ(r.status, 0);
            EXPECT_EQ(r.output, data);
        }
    }
}

TEST(CipherTest, WeDecryptOpensslCiphertextsWithTheVectorPutInFront) {
    TempDir dir;
    std::mt19937 rng(12);
    for (const auto& alg : kAlgorithms) {
        std::string keyBytes = RandomBytes(rng, static_cast<size_t>(alg.keyLength));
        Cipher dec(Cipher::eDecrypt, SecretKey(keyBytes), alg.value);
        for (int size : {0, 1, 8, 31, 4096, 70001}) {
            SCOPED_TRACE(std::string(alg.name) + " size " + std::to_string(size));
            std::string data = RandomBytes(rng, static_cast<size_t>(size));
            std::string iv = RandomBytes(rng, 8);
            std::string path = dir.Write("pt.bin", data);
            CommandResult r = RunCommand(OpensslEnc(alg) + " -e -K " + Hex(keyBytes) + " -iv " +
                                         Hex(iv) + " -in " + Quote(path));
            ASSERT_EQ(r.status, 0);
            EXPECT_EQ(DecryptPieces(dec, RandomPieces(iv + r.output, rng)), data);
        }
    }
}

TEST(CipherTest, OutputLengthsRoundTripAndFreshVectors) {
    std::mt19937 rng(3);
    Key key = SecretKey(RandomBytes(rng, 16));
    Cipher enc(Cipher::eEncrypt, key, Key::eBlowfish);
    Cipher dec(Cipher::eDecrypt, key, Key::eBlowfish);
    for (int n = 0; n <= 40; ++n) {
        std::string data = RandomBytes(rng, static_cast<size_t>(n));
        CharArray_t a, b, plain;
        int sealed = enc.DoFinal(Arr(data), a);
        EXPECT_EQ(sealed, 8 + 8 * (n / 8 + 1));
        EXPECT_EQ(enc.DoFinal(Arr(data), b), sealed);
        EXPECT_NE(Str(a, 0, sealed), Str(b, 0, sealed)) << "a new vector for every message";
        EXPECT_EQ(dec.DoFinal(a.GetData(), sealed, plain), n);
        EXPECT_EQ(Str(plain, 0, n), data);
    }
}

TEST(CipherTest, EmptyMessageIsAVectorAndOnePaddingBlockEvenWithoutUpdate) {
    TempDir dir;
    std::mt19937 rng(4);
    for (const auto& alg : kAlgorithms) {
        std::string keyBytes = RandomBytes(rng, static_cast<size_t>(alg.keyLength));
        Key key = SecretKey(keyBytes);
        Cipher enc(Cipher::eEncrypt, key, alg.value);
        Cipher dec(Cipher::eDecrypt, key, alg.value);
        CharArray_t viaInput, viaFinalOnly, plain;
        EXPECT_EQ(enc.DoFinal("", viaInput), 16);
        // DoFinal with no Update before it still writes the vector first.
        EXPECT_EQ(enc.DoFinal(viaFinalOnly), 16);
        EXPECT_EQ(enc.DoFinal(viaFinalOnly), 16) << "and again for the next empty message";
        EXPECT_NE(Str(viaFinalOnly, 0, 8), Str(viaInput, 0, 8));
        EXPECT_EQ(dec.DoFinal(viaInput.GetData(), 16, plain), 0);
        EXPECT_EQ(dec.DoFinal(viaFinalOnly.GetData(), 16, plain), 0);
        std::string path = dir.Write("ct.bin", Str(viaFinalOnly, 8, 8));
        CommandResult r = RunCommand(OpensslEnc(alg) + " -d -K " + Hex(keyBytes) + " -iv " +
                                     Hex(Str(viaFinalOnly, 0, 8)) + " -in " + Quote(path));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.output, "");
    }
}

TEST(CipherTest, DecryptionHoldsBackTheLastBlockUntilDoFinal) {
    std::mt19937 rng(5);
    Key key = SecretKey(RandomBytes(rng, 24));
    Cipher enc(Cipher::eEncrypt, key, Key::eDES3);
    std::string data = RandomBytes(rng, 24);
    CharArray_t sealed;
    ASSERT_EQ(enc.DoFinal(Arr(data), sealed), 40);
    Cipher dec(Cipher::eDecrypt, key, Key::eDES3);
    CharArray_t out;
    EXPECT_EQ(dec.Update(sealed.GetData(), 8, out), 0);      // the vector
    EXPECT_EQ(dec.Update(sealed.GetData() + 8, 8, out), 0);  // held back: may be the last
    EXPECT_EQ(dec.Update(sealed.GetData() + 16, 24, out), 24);
    EXPECT_EQ(Str(out, 0, 24), data);
    EXPECT_EQ(dec.DoFinal(out), 0) << "the last block was padding only";
}

TEST(CipherTest, WrongKeysAndDamagedDataFailThePaddingAndTheCipherGoesOn) {
    std::mt19937 rng(6);
    for (const auto& alg : kAlgorithms) {
        Key right = SecretKey(RandomBytes(rng, static_cast<size_t>(alg.keyLength)));
        Cipher enc(Cipher::eEncrypt, right, alg.value);
        Cipher dec(Cipher::eDecrypt, right, alg.value);
        std::string data = RandomBytes(rng, 100);
        int failures = 0;
        for (int i = 0; i < 50; ++i) {
            CharArray_t sealed, out;
            int n = enc.DoFinal(Arr(data), sealed);
            Cipher wrong(Cipher::eDecrypt,
                         SecretKey(RandomBytes(rng, static_cast<size_t>(alg.keyLength))),
                         alg.value);
            // Rarely (about 1 in 256) a wrong key ends in valid padding; never in the data.
            try {
                int m = wrong.DoFinal(sealed.GetData(), n, out);
                EXPECT_NE(Str(out, 0, m), data);
            } catch (const BadPaddingException& e) {
                EXPECT_EQ(e.GetMessageList().Get(0).GetNumber(), 76);
                ++failures;
            }
            // A damaged last block; then the same object decrypts the next message correctly.
            sealed[n - 1] = static_cast<char>(sealed[n - 1] ^ 0x5a);
            try {
                dec.DoFinal(sealed.GetData(), n, out);
            } catch (const BadPaddingException&) {
            }
            sealed[n - 1] = static_cast<char>(sealed[n - 1] ^ 0x5a);
            EXPECT_EQ(Str(out, 0, dec.DoFinal(sealed.GetData(), n, out)), data);
        }
        EXPECT_GE(failures, 40) << alg.name;
    }
}

TEST(CipherTest, TruncatedCiphertextsFailThePaddingInDoFinal) {
    std::mt19937 rng(7);
    Key key = SecretKey(RandomBytes(rng, 16));
    Cipher enc(Cipher::eEncrypt, key, Key::eDefault);
    Cipher dec(Cipher::eDecrypt, key, Key::eDefault);
    CharArray_t sealed, out;
    int n = enc.DoFinal("some data", sealed);
    ASSERT_EQ(n, 24);
    for (int cut : {0, 1, 7, 8, 9, 15, 16, 23}) {
        EXPECT_EQ(
            ThrownNumber<BadPaddingException>([&] { dec.DoFinal(sealed.GetData(), cut, out); }), 76)
            << cut;
    }
    EXPECT_EQ(Str(out, 0, dec.DoFinal(sealed.GetData(), n, out)), "some data");
}

TEST(CipherTest, KeyRules) {
    std::mt19937 rng(8);
    auto number = [](auto f) { return ThrownNumber<IllegalArgumentError_t>(f); };
    EXPECT_EQ(
        number([&] { Cipher(Cipher::eEncrypt, SecretKey(RandomBytes(rng, 16)), Key::eDES3); }), 74);
    EXPECT_EQ(
        number([&] { Cipher(Cipher::eEncrypt, SecretKey(RandomBytes(rng, 15)), Key::eBlowfish); }),
        74);
    EXPECT_EQ(number([&] { Cipher(Cipher::eDecrypt, SecretKey(RandomBytes(rng, 7)), Key::eDES); }),
              74);
    EXPECT_EQ(number([&] { Cipher(Cipher::eEncrypt, SecretKey(""), Key::eDefault); }), 74);
    EXPECT_EQ(ThrownText<IllegalArgumentError_t>(
                  [&] { Cipher(Cipher::eEncrypt, SecretKey(RandomBytes(rng, 16)), Key::eDES3); }),
              "Key is not long enough for selected algorithm. Expected length is 24.");
    EXPECT_EQ(number([&] {
                  Cipher(Cipher::eEncrypt, SecretKey(RandomBytes(rng, 24)),
                         static_cast<Key::Algorithm>(5));
              }),
              41);
    for (int value : {5, 7, 100, -1}) {
        EXPECT_EQ(number([&] {
                      Cipher(Cipher::eEncrypt, SecretKey(RandomBytes(rng, 24)),
                             static_cast<Key::Algorithm>(value));
                  }),
                  41)
            << value;
    }
    EXPECT_EQ(number([&] { Cipher(Cipher::eEncrypt, Key(), Key::eBlowfish); }), 71);
    EXPECT_EQ(number([&] { Cipher(Cipher::eEncrypt, Key(), Key::eRSA); }), 71);
    EXPECT_EQ(number([&] { Cipher(Cipher::eEncrypt, SecretKey(RandomBytes(rng, 24)), Key::eRSA); }),
              71);

    // Longer keys use their first bytes: DES with 24 bytes is DES with the first 8.
    std::string long24 = RandomBytes(rng, 24);
    CharArray_t sealed, out;
    int n = Cipher(Cipher::eEncrypt, SecretKey(long24), Key::eDES).DoFinal("data", sealed);
    Cipher first8(Cipher::eDecrypt, SecretKey(long24.substr(0, 8)), Key::eDES);
    EXPECT_EQ(Str(out, 0, first8.DoFinal(sealed.GetData(), n, out)), "data");
}

TEST(CipherTest, ModeValuesOtherThanZeroDecrypt) {
    std::mt19937 rng(9);
    Key key = SecretKey(RandomBytes(rng, 16));
    CharArray_t sealed, out;
    int n = Cipher(Cipher::eEncrypt, key, Key::eBlowfish).DoFinal("x", sealed);
    for (int value : {1, 7, -1}) {
        Cipher odd(static_cast<Cipher::OpMode>(value), key, Key::eBlowfish);
        EXPECT_EQ(Str(out, 0, odd.DoFinal(sealed.GetData(), n, out)), "x") << value;
    }
}

TEST(CipherTest, GetAlgorithmAndGetOutputSize) {
    std::mt19937 rng(10);
    Key key = SecretKey(RandomBytes(rng, 24));
    EXPECT_EQ(Cipher(Cipher::eEncrypt, key, Key::eDefault).GetAlgorithm(), Key::eDefault);
    EXPECT_EQ(Cipher(Cipher::eEncrypt, key, Key::eDES3).GetAlgorithm(), Key::eDES3);

    for (Cipher::OpMode mode : {Cipher::eEncrypt, Cipher::eDecrypt}) {
        Cipher c(mode, key, Key::eDES);
        EXPECT_EQ(c.GetOutputSize(0), 16);  // the vector is still to come
        EXPECT_EQ(c.GetOutputSize(100), 116);
        CharArray_t out;
        c.Update(std::string(8, 'v').data(), 8, out);
        EXPECT_EQ(c.GetOutputSize(100), 108) << "the vector is done";
        EXPECT_EQ(c.GetOutputSize(INT_MAX), INT_MAX) << "saturates";
        EXPECT_EQ(ThrownNumber<IllegalArgumentError_t>([&] { c.GetOutputSize(-1); }), 40);
        c.Reset(mode, key);
        EXPECT_EQ(c.GetOutputSize(100), 116);
    }

    // The bound holds for every split of real messages.
    Cipher enc(Cipher::eEncrypt, key, Key::eBlowfish);
    Cipher dec(Cipher::eDecrypt, key, Key::eBlowfish);
    for (int n = 0; n < 50; ++n) {
        std::string data = RandomBytes(rng, static_cast<size_t>(n));
        CharArray_t sealed;
        int bound = enc.GetOutputSize(n);
        int m = enc.Update(Arr(data), sealed);
        m += enc.DoFinal(sealed, m);
        EXPECT_LE(m, bound);
        CharArray_t out;
        bound = dec.GetOutputSize(m);
        EXPECT_LE(dec.DoFinal(sealed.GetData(), m, out), bound);
    }
}

// A null pointer with bytes to read is refused by every class that takes input as pointer and
// length, before anything is read: 40 for the digest, signature and key parsers (the
// Update/DoFinal family has its own typed test). Without the check each of these reads address 0.
TEST(CipherTest, NullInputWithAPositiveLengthIsRefusedByEveryClass) {
    const RsaKeyPair& pair = TestRsaKey(1024);
    Key priv(Key::eRSAPrivateKey, Arr(pair.privatePem));
    Key pub(Key::eRSAPublicKey, Arr(pair.publicPem));
    QmSecCore::MessageDigest digest;
    QmSecCore::Signature signer, verifier;
    signer.InitSign(priv);
    verifier.InitVerify(pub);
    const char* none = nullptr;
    struct Case {
        const char* name;
        int number;
        std::function<void()> call;
    };
    const Case cases[] = {
        {"digest", 40, [&] { digest.Update(none, 5); }},
        {"signature update", 40, [&] { signer.Update(none, 5); }},
        {"signature verify", 40, [&] { verifier.Verify(none, 5); }},
        {"key", 40, [&] { Key(Key::eRSAPublicKey, none, 5); }},
        {"certificate", 40, [&] { QmSecCore::X509Certificate(none, 5); }},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ThrownNumber<IllegalArgumentError_t>(c.call), c.number) << c.name;
    // Nothing to read: a null pointer is no input.
    digest.Update(none, 0);
}

TEST(CipherTest, ResetSwitchesModeAndKeyAndAFailedResetChangesNothing) {
    std::mt19937 rng(15);
    Key k1 = SecretKey(RandomBytes(rng, 16)), k2 = SecretKey(RandomBytes(rng, 16));
    Cipher c(Cipher::eEncrypt, k1, Key::eBlowfish);
    CharArray_t sealed, out;
    c.Update("pending input that the reset discards", sealed);
    c.Reset(Cipher::eEncrypt, k2);
    int n = c.DoFinal("fresh", sealed);
    c.Reset(Cipher::eDecrypt, k2);
    EXPECT_EQ(Str(out, 0, c.DoFinal(sealed.GetData(), n, out)), "fresh");
    EXPECT_EQ(ThrownNumber<IllegalArgumentError_t>(
                  [&] { c.Reset(Cipher::eEncrypt, SecretKey(RandomBytes(rng, 4))); }),
              74);
    EXPECT_EQ(ThrownNumber<IllegalArgumentError_t>([&] { c.Reset(Cipher::eEncrypt, Key()); }), 71);
    EXPECT_EQ(Str(out, 0, c.DoFinal(sealed.GetData(), n, out)), "fresh")
        << "still decrypting with k2";
}

TEST(CipherTest, CopiesShareOneCipherAndEmptyHandlesThrow) {
    std::mt19937 rng(16);
    Key key = SecretKey(RandomBytes(rng, 16));
    Cipher enc(Cipher::eEncrypt, key, Key::eBlowfish);
    Cipher copy = enc;
    EXPECT_EQ(copy, enc);
    CharArray_t out;
    int n = enc.Update("first half, ", out);
    n += copy.Update("second half", 11, out, n);
    n += enc.DoFinal(out, n);
    CharArray_t plain;
    Cipher dec(Cipher::eDecrypt, key, Key::eBlowfish);
    EXPECT_EQ(Str(plain, 0, dec.DoFinal(out.GetData(), n, plain)), "first half, second half");

    Cipher empty;
    try {
        empty.GetAlgorithm();
        FAIL();
    } catch (const QmXplMsg::IllegalStateError_t& e) {
        EXPECT_EQ(e.GetMessageList().Get(0).GetText(), QmXplStr::String_t("Cipher"));
    }
    EXPECT_THROW(empty.Reset(Cipher::eEncrypt, key), QmXplMsg::IllegalStateError_t);
}

TEST(CipherTest, TracesSelectionModeAndBlocks) {
    std::mt19937 rng(17);
    Key key = SecretKey(RandomBytes(rng, 24));
    TraceCapture capture("sec.core.base=9");
    Cipher def(Cipher::eEncrypt, key, Key::eDefault);
    Cipher bf(Cipher::eDecrypt, key, Key::eBlowfish);
    Cipher des(Cipher::eEncrypt, key, Key::eDES);
    Cipher des3(Cipher::eEncrypt, key, Key::eDES3);
    CharArray_t out;
    des3.DoFinal("x", out);
    for (const char* line :
         {"> SecretKeyCipher Constructor", "> SecretKeyCipher::Init() ",
          "SecretKeyCipher: Using Default cipher (Blowfish)",
          "SecretKeyCipher: Using Blowfish cipher", "SecretKeyCipher: Using DES cipher",
          "SecretKeyCipher: Using DES3 cipher", "SecretKeyCipher: Operating in Encryption mode",
          "SecretKeyCipher: Operating in Decryption mode", "> SecretKeyCipher::Update()",
          "> SecretKeyCipher::DoFinal()"}) {
        EXPECT_NE(capture.IndexOf(line), -1) << line;
    }
    EXPECT_LT(capture.IndexOf("> SecretKeyCipher::Init() "),
              capture.IndexOf("SecretKeyCipher: Using Default cipher (Blowfish)"));
    capture.Clear();
    { Cipher gone(Cipher::eEncrypt, key, Key::eDES); }
    EXPECT_LT(capture.IndexOf("> SecretKeyCipher::DestroyThis()"),
              capture.IndexOf("> SecretKeyCipher Destructor"));
    EXPECT_NE(capture.IndexOf("> SecretKeyCipher::DestroyThis()"), -1);

    TraceCapture throws("sec.core.base=2");
    EXPECT_THROW(Cipher(Cipher::eEncrypt, Key(), Key::eDES), IllegalArgumentError_t);
    EXPECT_TRUE(throws.Contains("Throwing exception 'IllegalArgumentError_t': [sec.core 71]"));
}

// Without OpenSSL's legacy provider Blowfish and DES do not exist: the cipher says so instead of
// failing later, and Triple-DES still works. Needs a process where nothing is initialised yet.
[[noreturn]] void ChildWithoutLegacyProvider() {
    setenv("OPENSSL_MODULES", "/nonexistent-module-directory", 1);
    Key key(Key::eSecretKey, std::string(24, 'k').data(), 24);
    int bf = ThrownNumber<QmXplIo::IOException_t>(
        [&] { Cipher(Cipher::eEncrypt, key, Key::eBlowfish); });
    int des =
        ThrownNumber<QmXplIo::IOException_t>([&] { Cipher(Cipher::eDecrypt, key, Key::eDES); });
    CharArray_t out;
    int des3 = Cipher(Cipher::eEncrypt, key, Key::eDES3).DoFinal("x", out);
    if (bf != 75 || des != 75 || des3 != 16) {
        fprintf(stderr, "bf %d des %d des3 %d\n", bf, des, des3);
        _exit(1);
    }
    _exit(0);
}

TEST(CipherDeathTest, WithoutTheLegacyProviderBlowfishAndDesFailClearly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ChildWithoutLegacyProvider(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
