// Signatures: interop with `openssl dgst -sign/-verify`, the mode machine, and the edge cases.
#include <gtest/gtest.h>

#include <random>

#include "QmSecCore/InvalidKeyException.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/Signature.h"
#include "QmSecCore/SignatureException.h"
#include "QmXpl/Message_t.h"
#include "support/Bytes.h"
#include "support/Command.h"
#include "support/Kat.h"
#include "support/Keys.h"
#include "support/TempDir.h"

namespace {

using QmSecCore::Key;
using QmSecCore::Signature;
using QmXplArray::CharArray_t;
using namespace qmsec_test;

struct KeyFixture : ::testing::Test {
    Key priv{Key::eRSAPrivateKey, Arr(TestRsaKey(2048).privatePem)};
    Key pub{Key::eRSAPublicKey, Arr(TestRsaKey(2048).publicPem)};
};

using SignatureTest = KeyFixture;

TEST_F(SignatureTest, OpensslVerifiesOurSignaturesAndWeVerifyOpensslsForBothHashes) {
    TempDir dir;
    std::string keyPath = dir.Write("key.pem", TestRsaKey(2048).privatePem);
    std::string pubPath = dir.Write("pub.pem", TestRsaKey(2048).publicPem);
    std::mt19937 rng(5);
    for (auto [alg, name] :
         {std::pair{Signature::eSHA1, "-sha1"}, std::pair{Signature::eMD5, "-md5"},
          std::pair{Signature::eDefault, "-sha1"}}) {
        for (int size : {0, 1, 1000, 70000}) {
            std::string data(static_cast<size_t>(size), '\0');
            for (auto& c : data) c = static_cast<char>(rng());
            std::string dataPath = dir.Write("data.bin", data);

            Signature signer(alg);
            signer.InitSign(priv);
            for (const auto& p : RandomPieces(data, rng))
                signer.Update(p.data(), static_cast<int>(p.size()));
            CharArray_t sig;
            EXPECT_EQ(signer.Sign(sig), 256);
            std::string sigPath = dir.Write("sig.bin", Str(sig));
            CommandResult ok =
                RunCommand("openssl dgst " + std::string(name) + " -verify " + Quote(pubPath) +
                           " -signature " + Quote(sigPath) + " " + Quote(dataPath));
            EXPECT_EQ(ok.status, 0) << ok.output << " size " << size << name;

            CommandResult theirs = RunCommand("openssl dgst " + std::string(name) + " -sign " +
                                              Quote(keyPath) + " -binary " + Quote(dataPath));
            ASSERT_EQ(theirs.status, 0);
            EXPECT_EQ(theirs.output, Str(sig)) << "PKCS #1 v1.5 signatures are deterministic";
            Signature verifier(alg);
            verifier.InitVerify(pub);
            verifier.Update(Arr(data));
            EXPECT_TRUE(verifier.Verify(Arr(theirs.output)));
        }
    }
}

TEST_F(SignatureTest, AChangedByteOfDataOrSignatureDoesNotVerify) {
    Signature s;
    s.InitSign(priv);
    s.Update("the message");
    CharArray_t sig;
    s.Sign(sig);
    Signature v;
    v.InitVerify(pub);
    v.Update("the message");
    EXPECT_TRUE(v.Verify(sig));
    v.Update("the messagf");
    EXPECT_FALSE(v.Verify(sig));
    CharArray_t bad(sig);
    bad[100] = static_cast<char>(bad[100] ^ 1);
    v.Update("the message");
    EXPECT_FALSE(v.Verify(bad));
    // Wrong lengths are no match either, never an exception for untrusted input.
    v.Update("the message");
    EXPECT_FALSE(v.Verify(sig.GetData(), 255));
    v.Update("the message");
    EXPECT_FALSE(v.Verify(sig.GetData(), 0));
    // The verifier still works after the failures.
    v.Update("the message");
    EXPECT_TRUE(v.Verify(sig));
}

TEST_F(SignatureTest, Md5SignatureDoesNotVerifyAsSha1) {
    Signature md5(Signature::eMD5);
    md5.InitSign(priv);
    md5.Update("data");
    CharArray_t sig;
    md5.Sign(sig);
    Signature sha(Signature::eSHA1);
    sha.InitVerify(pub);
    sha.Update("data");
    EXPECT_FALSE(sha.Verify(sig));
}

TEST_F(SignatureTest, ConsecutiveSignsWithoutUpdateSignTheEmptyMessage) {
    Signature s;
    s.InitSign(priv);
    s.Update("first");
    CharArray_t first, second, empty;
    s.Sign(first);
    s.Sign(second);
    Signature e;
    e.InitSign(priv);
    e.Sign(empty);
    EXPECT_EQ(second, empty);
    EXPECT_NE(first, second);
}

TEST_F(SignatureTest, OneObjectSwitchesModesAndKeys) {
    Signature s;
    s.InitSign(priv);
    s.Update("x");
    CharArray_t sig;
    s.Sign(sig);
    s.InitVerify(pub);
    s.Update("x");
    EXPECT_TRUE(s.Verify(sig));
    s.Update("garbage");
    s.InitVerify(pub);  // restarts the hash
    s.Update("x");
    EXPECT_TRUE(s.Verify(sig));
}

TEST_F(SignatureTest, ModeMachineMessages) {
    Signature s;
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalStateError_t>([&] { s.Update("x"); }), 78);
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalStateError_t>([&] { s.Update('x'); }), 78);
    CharArray_t sig;
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalStateError_t>([&] { s.Sign(sig); }), 83);
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalStateError_t>([&] { s.Verify(sig); }), 81);
    s.InitVerify(pub);
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalStateError_t>([&] { s.Sign(sig); }), 83);
    s.InitSign(priv);
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalStateError_t>([&] { s.Verify(sig); }), 81);
}

TEST_F(SignatureTest, WrongKeysAreInvalidKeyExceptions) {
    Signature s;
    Key secret(Key::eSecretKey, "0123456789abcdef", 16);
    EXPECT_EQ(ThrownNumber<QmSecCore::InvalidKeyException>([&] { s.InitSign(pub); }), 79);
    EXPECT_EQ(ThrownNumber<QmSecCore::InvalidKeyException>([&] { s.InitSign(secret); }), 79);
    EXPECT_EQ(ThrownNumber<QmSecCore::InvalidKeyException>([&] { s.InitSign(Key()); }), 79);
    EXPECT_EQ(ThrownNumber<QmSecCore::InvalidKeyException>([&] { s.InitVerify(secret); }), 80);
    EXPECT_EQ(ThrownNumber<QmSecCore::InvalidKeyException>([&] { s.InitVerify(priv); }), 80);
}

TEST_F(SignatureTest, UnknownAlgorithmAndArgumentRanges) {
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalArgumentError_t>(
                  [] { Signature(static_cast<Signature::Algorithm>(3)); }),
              77);
    Signature s;
    s.InitSign(priv);
    CharArray_t data("abcdef", 6);
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalArgumentError_t>([&] { s.Update("x", -1); }), 40);
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalArgumentError_t>([&] { s.Update(data, 4, 3); }), 42);
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalArgumentError_t>([&] { s.Update(data, -1, 1); }), 42);
    s.Update(data, 6, 0);
    s.Update(data, 2, 2);  // "cd"
    CharArray_t sig;
    s.Sign(sig);
    Signature v;
    v.InitVerify(pub);
    v.Update("cd");
    EXPECT_TRUE(v.Verify(sig));
}

TEST(SignatureSizeTest, A1024BitKeyGives128Bytes) {
    Key priv(Key::eRSAPrivateKey, Arr(TestRsaKey(1024).privatePem));
    Signature s;
    s.InitSign(priv);
    CharArray_t sig(3);
    EXPECT_EQ(s.Sign(sig), 128);
    EXPECT_EQ(sig.GetSize(), 128);
}

}  // namespace
