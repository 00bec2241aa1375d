// Crypt: the provider rules, round trips, the printable format checked with the openssl command,
// errors passed through, and many threads encrypting while the provider is replaced.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "QmSecCore/BadPaddingException.h"
#include "QmSecCore/Crypt.h"
#include "QmSecCore/CryptImpl.h"
#include "QmSecCore/QmSecCore.h"
#include "QmXpl/Message_t.h"
#include "support/Bytes.h"
#include "support/Command.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace {

using QmSecCore::Crypt;
using QmSecCore::CryptImpl;
using QmSecCore::Key;
using QmXplArray::CharArray_t;
using namespace qmsec_test;

const std::string kKey = "node key, 24 bytes long!";
const std::string kOtherKey = "another key of 24 bytes.";
void Provider(Key& key) { key = Key(Key::eSecretKey, kKey.data(), static_cast<int>(kKey.size())); }
// Delivers the same key through another function, for swapping providers under load.
void SameKeyProvider(Key& key) {
    key = Key(Key::eSecretKey, kKey.data(), static_cast<int>(kKey.size()));
}
void OtherProvider(Key& key) {
    key = Key(Key::eSecretKey, kOtherKey.data(), static_cast<int>(kOtherKey.size()));
}
void EmptyProvider(Key&) {}
void ShortProvider(Key& key) { key = Key(Key::eSecretKey, kKey.data(), 8); }

struct CryptTest : ::testing::Test {
    void TearDown() override { CryptImpl::RegisterFunctionPointer(nullptr); }
};

TEST_F(CryptTest, WithoutAProviderNothingIsDone) {
    Crypt crypt;
    CharArray_t out("untouched", 9);
    for (int round = 0; round < 2; ++round) {
        try {
            crypt.Encrypt("secret", out);
            FAIL();
        } catch (const QmXplMsg::IllegalStateError_t& e) {
            const QmXplMsg::Message_t& m = e.GetMessageList().Get(0);
            EXPECT_EQ(m.GetText(), QmXplStr::String_t("Encryption function not registered. You "
                                                      "have to link against the provided security "
                                                      "library."));
            EXPECT_EQ(m.GetNumber(), 0) << "a plain text, not a catalog message";
            EXPECT_EQ(m.GetSeverity(), QmXplMsg::Severity_t::eWarning);
        }
        try {
            crypt.Decrypt("c2VjcmV0\n", out);
            FAIL();
        } catch (const QmXplMsg::IllegalStateError_t& e) {
            EXPECT_EQ(e.GetMessageList().Get(0).GetText(),
                      QmXplStr::String_t("Decryption function not registered. You have to link "
                                         "against the provided security library."));
        }
        EXPECT_EQ(Str(out), "untouched");
        // Registering and unregistering again gives the same state.
        CryptImpl::RegisterFunctionPointer(Provider);
        CryptImpl::RegisterFunctionPointer(nullptr);
    }
}

TEST_F(CryptTest, RoundTripsWithFreshVectors) {
    CryptImpl::RegisterFunctionPointer(Provider);
    Crypt crypt;
    std::mt19937 rng(41);
    for (int n = 0; n <= 100; ++n) {
        std::string data(static_cast<size_t>(n), '\0');
        for (auto& c : data) c = static_cast<char>(rng());
        CharArray_t a, b, plain(500);
        int length = crypt.Encrypt(Arr(data), a);
        EXPECT_EQ(length, a.GetSize());
        int other = crypt.Encrypt(data.data(), n, b);
        EXPECT_EQ(other, b.GetSize());
        EXPECT_NE(a, b) << "every encryption draws its own vector";
        EXPECT_EQ(crypt.Decrypt(a, plain), n);
        EXPECT_EQ(plain.GetSize(), n) << "resized to exactly the result";
        EXPECT_EQ(Str(plain), data);
        EXPECT_EQ(crypt.Decrypt(b.GetData(), b.GetSize(), plain), n);
        EXPECT_EQ(Str(plain), data);
    }
    CharArray_t text, plain;
    crypt.Encrypt("zero-terminated", text);
    std::string encoded = Str(text);
    EXPECT_EQ(crypt.Decrypt(encoded.c_str(), plain), 15);
    EXPECT_EQ(Str(plain), "zero-terminated");
    crypt.Encrypt(static_cast<const char*>(nullptr), text);
    EXPECT_EQ(crypt.Decrypt(text, plain), 0);
    // A null text is the empty text, which is no ciphertext (even the empty message has a
    // vector and a padding block).
    EXPECT_EQ(ThrownNumber<QmSecCore::BadPaddingException>(
                  [&] { crypt.Decrypt(static_cast<const char*>(nullptr), plain); }),
              76);
}

TEST_F(CryptTest, PrintableFormatIsBase64OfTheVectorAndBlowfishCbcCiphertext) {
    CryptImpl::RegisterFunctionPointer(Provider);
    TempDir dir;
    std::string secret = "the 24-byte node secret!";
    CharArray_t text;
    int n = Crypt().Encrypt(secret.data(), static_cast<int>(secret.size()), text);
    // 8 + 32 bytes: one 54-character line and its line feed.
    EXPECT_EQ(n, 57);
    EXPECT_EQ(Str(text).back(), '\n');
    EXPECT_EQ(Str(text).find('\n'), 56u);
    std::string textPath = dir.Write("text.b64", Str(text));
    CommandResult raw = RunCommand("openssl base64 -d -in " + Quote(textPath));
    ASSERT_EQ(raw.status, 0);
    ASSERT_EQ(raw.output.size(), 40u);
    std::string ctPath = dir.Write("ct.bin", raw.output.substr(8));
    CommandResult r = RunCommand("openssl enc -d -bf-cbc -provider legacy -provider default -K " +
                                 Hex(kKey.substr(0, 16)) + " -iv " + Hex(raw.output.substr(0, 8)) +
                                 " -in " + Quote(ctPath));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.output, secret);
}

TEST_F(CryptTest, ErrorsOfKeyCipherAndCodecPassThrough) {
    Crypt crypt;
    CharArray_t text, plain("keep", 4);
    CryptImpl::RegisterFunctionPointer(Provider);
    // Several texts: a wrong key ends in valid padding about once in 256 times.
    int badPadding = 0;
    std::vector<CharArray_t> texts(20);
    for (auto& t : texts) crypt.Encrypt("a secret of some length", t);
    CryptImpl::RegisterFunctionPointer(OtherProvider);
    for (const auto& t : texts) {
        plain = Arr("keep");
        try {
            crypt.Decrypt(t, plain);
            EXPECT_NE(Str(plain), "a secret of some length");
        } catch (const QmSecCore::BadPaddingException& e) {
            EXPECT_EQ(e.GetMessageList().Get(0).GetNumber(), 76);
            EXPECT_EQ(Str(plain), "keep") << "nothing of a failed decryption reaches out";
            ++badPadding;
        }
    }
    EXPECT_GE(badPadding, 15);

    CryptImpl::RegisterFunctionPointer(EmptyProvider);
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalArgumentError_t>([&] { crypt.Encrypt("x", text); }),
              71);
    CryptImpl::RegisterFunctionPointer(ShortProvider);
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalArgumentError_t>([&] { crypt.Encrypt("x", text); }),
              74);
    CryptImpl::RegisterFunctionPointer(Provider);
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalArgumentError_t>([&] { crypt.Encrypt("x", -1, text); }),
              9);
    EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalArgumentError_t>([&] { crypt.Decrypt("x", -1, text); }),
              9);
    EXPECT_EQ(ThrownNumber<QmXplMsg::Exception_t>([&] { crypt.Decrypt("not: base64!", text); }),
              10);
    EXPECT_EQ(ThrownNumber<QmXplMsg::Exception_t>([&] { crypt.Decrypt("YWJ", text); }), 13);
    EXPECT_EQ(ThrownNumber<QmSecCore::BadPaddingException>([&] { crypt.Decrypt("YWJj", text); }),
              76)
        << "three bytes are no ciphertext";
}

TEST_F(CryptTest, ManyThreadsWhileTheProviderIsReplaced) {
    CryptImpl::RegisterFunctionPointer(Provider);
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::thread swapper([&] {
        while (!stop.load()) {
            CryptImpl::RegisterFunctionPointer(SameKeyProvider);
            CryptImpl::RegisterFunctionPointer(Provider);
        }
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < 8; ++t) {
        workers.emplace_back([&, t] {
            Crypt crypt;  // one per thread; calls on one shared Crypt are fine too
            std::mt19937 rng(static_cast<unsigned>(100 + t));
            for (int i = 0; i < 150; ++i) {
                std::string data(rng() % 64, '\0');
                for (auto& c : data) c = static_cast<char>(rng());
                CharArray_t text, plain;
                try {
                    crypt.Encrypt(Arr(data), text);
                    crypt.Decrypt(text, plain);
                    if (Str(plain) != data) ++failures;
                } catch (...) {
                    ++failures;
                }
            }
        });
    }
    for (auto& w : workers) w.join();
    stop = true;
    swapper.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(CryptTest, HandleBodyAndTraces) {
    CryptImpl::RegisterFunctionPointer(Provider);
    TraceCapture capture("sec.core.base=9");
    Crypt crypt;
    EXPECT_NE(crypt.operator->(), nullptr);
    CharArray_t text, plain;
    int n = crypt->Encrypt("through the body", 16, text);
    EXPECT_EQ(crypt->Decrypt(text.GetData(), n, plain), 16);
    EXPECT_EQ(Str(plain), "through the body");
    for (const char* line :
         {"> CryptImpl Constructor", "> CryptImpl::Encrypt()", "> CryptImpl::Decrypt()",
          "> SecretKeyCipher Constructor", "> Base64Impl Constructor"}) {
        EXPECT_NE(capture.IndexOf(line), -1) << line;
    }
    CryptImpl::RegisterFunctionPointer(nullptr);
    EXPECT_NE(capture.IndexOf("CryptImpl: Key provider unregistered"), -1);

    Crypt copy = crypt;
    static_cast<QmSecCore::Object&>(copy) = QmSecCore::Object();
    EXPECT_EQ(copy.operator->(), nullptr);
    try {
        copy.Encrypt("x", text);
        FAIL();
    } catch (const QmXplMsg::IllegalStateError_t& e) {
        EXPECT_EQ(e.GetMessageList().Get(0).GetText(), QmXplStr::String_t("Crypt"));
    }
}

}  // namespace
