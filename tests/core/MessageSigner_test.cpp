// The signer with its key and certificate from a node's key store: what it writes is read back
// with the openssl command and verified by it, every refusal of the constructors and of Sign,
// streams, consecutive messages and the traces.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "MessageStreams.h"
#include "MessageTestSupport.h"
#include "QmSecCore/MessageSignatureException.h"
#include "QmSecCore/MessageSigner.h"
#include "QmSecCore/MessageVerifier.h"
#include "support/Command.h"
#include "support/TraceCapture.h"

namespace {

using namespace message_test;
using qmsec_test::CommandResult;
using qmsec_test::Quote;
using qmsec_test::RunCommand;
using qmsec_test::TempDir;
using qmsec_test::TraceCapture;
using QmSecCore::MessageSignatureException;
using QmSecCore::MessageSigner;
using QmSecCore::MessageVerifier;

std::string Encoded(const MessageSignature& s) {
    CharArray_t out;
    return Str(s.GetEncoded(out));
}

// The first message of the exception that f throws, or an empty message when it throws none.
template <class E, class F>
QmXplMsg::Message_t Thrown(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.GetMessageList().Get(0);
    }
    ADD_FAILURE() << "nothing thrown";
    return QmXplMsg::Message_t();
}

bool VerifiesWith(const std::string& publicKeyPem, const CharArray_t& signature,
                  const std::string& data) {
    QmSecCore::Signature s(QmSecCore::Signature::eSHA1);
    s.InitVerify(Key(Key::eRSAPublicKey, Arr(publicKeyPem)));
    s.Update(Arr(data));
    return s.Verify(signature);
}

class MessageSignerTest : public ::testing::Test {
  protected:
    void SetUp() override { InstallHierarchy(); }
    NodeHome home_{"nodeA"};
    const Hierarchy& h_ = Hierarchy::Get();
};

TEST_F(MessageSignerTest, EncodedSignaturesReadBackWithOpensslAndVerifyThere) {
    TempDir dir;
    const std::string data = "what nodeA says, signed";
    std::string key = dir.Write("nodeA.pub", h_.nodeA.publicKeyPem);
    std::string dataFile = dir.Write("data.bin", data);
    auto opensslVerifies = [&](const std::string& signature, const std::string& file) {
        std::string sig = dir.Write("sig.bin", signature);
        CommandResult r = RunCommand("openssl dgst -sha1 -verify " + Quote(key) + " -signature " +
                                     Quote(sig) + " " + Quote(file));
        return r.status == 0 && r.output.find("Verified OK") != std::string::npos;
    };
    auto decode = [&](const std::string& text) {
        CommandResult r = RunCommand("openssl base64 -d -in " + Quote(dir.Write("sig.b64", text)));
        EXPECT_EQ(r.status, 0);
        return r.output;
    };
    std::string otherFile = dir.Write("other.bin", data + ".");

    MessageSigner signer;
    signer.Update(Arr(data));
    std::string with = decode(Encoded(signer.Sign(true)));
    // Flag, signature length, 128 signature bytes (a 1024-bit key), PEM length, the PEM text.
    ASSERT_EQ(with.size(), 1 + 4 + 128 + 4 + h_.nodeA.pem.size());
    EXPECT_EQ(with[0], '\1');
    EXPECT_EQ(with.substr(1, 4), BigEndian(128));
    EXPECT_EQ(with.substr(133, 4), BigEndian(static_cast<uint32_t>(h_.nodeA.pem.size())));
    EXPECT_EQ(with.substr(137), h_.nodeA.pem);
    EXPECT_TRUE(opensslVerifies(with.substr(5, 128), dataFile));
    EXPECT_FALSE(opensslVerifies(with.substr(5, 128), otherFile));

    signer.Update(Arr(data));
    std::string without = decode(Encoded(signer.Sign(false)));
    // Flag, signature length, the signature, the name behind its 16-bit length.
    ASSERT_EQ(without.size(), 1 + 4 + 128 + 2 + 5u);
    EXPECT_EQ(without[0], '\0');
    EXPECT_EQ(without.substr(1, 4), BigEndian(128));
    EXPECT_EQ(without.substr(133), BigEndian(5, 2) + "nodeA");
    EXPECT_TRUE(opensslVerifies(without.substr(5, 128), dataFile));
    // PKCS #1 v1.5 signatures are deterministic: both messages were signed alike.
    EXPECT_EQ(without.substr(5, 128), with.substr(5, 128));
}

TEST_F(MessageSignerTest, ConsecutiveMessagesAndStreamsAreSignedSeparately) {
    MessageSigner signer(String_t("nodeA"));
    const std::string first = "first message", second(5000, 's');
    signer.Update(Arr(first));
    CharArray_t one;
    signer.Sign(false).GetSignature(one);
    EXPECT_TRUE(VerifiesWith(h_.nodeA.publicKeyPem, one, first));

    // A stream is read to its end in reads of 256 bytes, after what came as an array.
    auto* body = new RecordingInputImpl(second.substr(10));
    QmXplIo::InputStream_t in(body);
    signer.Update(Arr(second.substr(0, 10)));
    signer.Update(in);
    CharArray_t two;
    signer.Sign(true).GetSignature(two);
    EXPECT_TRUE(VerifiesWith(h_.nodeA.publicKeyPem, two, second));
    ASSERT_FALSE(body->asked.empty());
    for (int len : body->asked) EXPECT_EQ(len, 256);

    // Nothing fed: a signature over no data.
    CharArray_t none;
    signer.Sign(false).GetSignature(none);
    EXPECT_TRUE(VerifiesWith(h_.nodeA.publicKeyPem, none, ""));
}

TEST_F(MessageSignerTest, SignerNameComesFromTheConfigurationOrIsRefused) {
    EXPECT_EQ(MessageSigner().Sign(false).GetSignerCN(), String_t("nodeA"));
    for (const char* config :
         {"[sec.other]\nKEY=value\n", "[sec.core]\nCORE_ID=\n", "[sec.core]\nOTHER=nodeA\n"}) {
        SCOPED_TRACE(config);
        home_.Config(config);
        TraceCapture capture("sec.core.base=0xffffffff");
        QmXplMsg::Message_t m = Thrown<MessageSignatureException>([] { MessageSigner(); });
        EXPECT_EQ(m.GetNumber(), 48);
        EXPECT_EQ(m.GetText(),
                  String_t("Could not create message signer. No QmCoreId is set on this system."));
        EXPECT_FALSE(capture.Contains("KeyStoreImpl:Constructor")) << "the store was opened";
    }
    home_.Config("[sec.core]\nCORE_ID=selfC\n");
    EXPECT_EQ(MessageSigner().Sign(false).GetSignerCN(), String_t("selfC"));
}

TEST_F(MessageSignerTest, SignersWithoutAUsableKeyAreRefused) {
    QmXplMsg::Message_t empty =
        Thrown<QmXplMsg::IllegalArgumentError_t>([] { MessageSigner(String_t("")); });
    EXPECT_EQ(empty.GetNumber(), 49);
    EXPECT_EQ(empty.GetText(), String_t("Signer CN must not be empty."));

    // Certificates without keys, and names the store does not know.
    for (const char* name : {"Test CA", "nodeE", "nobody"}) {
        QmXplMsg::Message_t m =
            Thrown<MessageSignatureException>([&] { MessageSigner(String_t(name)); });
        EXPECT_EQ(m.GetNumber(), 50);
        EXPECT_EQ(m.GetText(), String_t(std::string("Could not create message signer. No private "
                                                    "key for signer '") +
                                        name + "' found in keystore."));
    }

    // A key file that does not decrypt under this node's key: the store's reason is attached.
    home_.WriteStoreFile("nodeA_key.dat", std::string(64, 'k'));
    QmXplMsg::Message_t m = Thrown<MessageSignatureException>([] { MessageSigner(); });
    EXPECT_EQ(m.GetNumber(), 51);
    EXPECT_EQ(m.GetText(), String_t("Could not create message signer."));
    EXPECT_GE(m.GetDetails().GetCount(), 1);
}

TEST_F(MessageSignerTest, AMissingCertificateFailsSignButKeepsTheData) {
    KeyStore store;
    store.InstallCertificate(String_t("keyOnly"), Cert(h_.selfC2), PrivateKey(h_.selfC2), false,
                             false);
    store.RemoveCertificate(String_t("keyOnly"));
    ASSERT_TRUE(store.IsPrivateKeyEntry(String_t("keyOnly")));

    MessageSigner signer(String_t("keyOnly"));
    signer.Update(Arr("data fed before the failure"));
    QmXplMsg::Message_t m = Thrown<MessageSignatureException>([&] { signer.Sign(true); });
    EXPECT_EQ(m.GetNumber(), 54);
    EXPECT_EQ(m.GetText(), String_t("Could not sign data."));
    ASSERT_GE(m.GetDetails().GetCount(), 1);
    EXPECT_EQ(m.GetDetails().Get(0).GetNumber(), 53);
    EXPECT_EQ(m.GetDetails().Get(0).GetText(),
              String_t("No certificate for signer 'keyOnly' found in keystore."));

    // The data is still there: signed without the certificate, it verifies.
    CharArray_t bytes;
    signer.Sign(false).GetSignature(bytes);
    EXPECT_TRUE(VerifiesWith(h_.selfC2.publicKeyPem, bytes, "data fed before the failure"));
}

TEST_F(MessageSignerTest, TheCarriedNameIsTheCertificatesWhenThereIsOne) {
    KeyStore store;
    store.InstallCertificate(String_t("alias-of-nodeA"), Cert(h_.nodeA), PrivateKey(h_.nodeA),
                             false, false);
    MessageSigner signer(String_t("alias-of-nodeA"));
    EXPECT_EQ(signer.Sign(true).GetSignerCN(), String_t("nodeA"));
    EXPECT_EQ(signer.Sign(false).GetSignerCN(), String_t("alias-of-nodeA"));
}

TEST_F(MessageSignerTest, WhatTheSignerSignsTheVerifierAccepts) {
    const std::string data = "the message of nodeA";
    for (const char* name : {"nodeA", "selfC"}) {
        for (bool includeCertificate : {true, false}) {
            SCOPED_TRACE(std::string(name) + (includeCertificate ? " with" : " without"));
            MessageSigner signer{String_t(name)};
            signer.Update(QmXplIo::InputStream_t(new RecordingInputImpl(data)));
            MessageSignature signature = signer.Sign(includeCertificate);
            EXPECT_EQ(signature.ContainsCertificate(), includeCertificate);
            MessageVerifier verifier(MessageSignature(Arr(Encoded(signature))));
            verifier.Update(Arr(data));
            EXPECT_TRUE(verifier.Verify());
            verifier.Update(Arr(data + "!"));
            EXPECT_FALSE(verifier.Verify());
        }
    }
}

TEST_F(MessageSignerTest, StreamFailuresEmptyHandlesAndTraces) {
    MessageSigner signer;
    QmXplMsg::Message_t m = Thrown<MessageSignatureException>(
        [&] { signer.Update(QmXplIo::InputStream_t(new RecordingInputImpl("abc", 0))); });
    EXPECT_EQ(m.GetNumber(), 52);
    EXPECT_EQ(m.GetText(), String_t("Could not update data."));
    ASSERT_GE(m.GetDetails().GetCount(), 1);
    EXPECT_EQ(m.GetDetails().Get(0).GetText(), String_t("recording stream: disk gone"));

    // Assigning an empty Object through the base leaves the handle without a body.
    static_cast<QmSecCore::Object&>(signer) = QmSecCore::Object();
    for (auto call : std::vector<std::function<void()>>{
             [&] { signer.Update(Arr("x")); },
             [&] { signer.Update(QmXplIo::InputStream_t(new RecordingInputImpl("x"))); },
             [&] { signer.Sign(false); }}) {
        try {
            call();
            ADD_FAILURE() << "the handle has no body";
        } catch (const QmXplMsg::IllegalStateError_t& e) {
            EXPECT_EQ(e.GetMessageList().Get(0).GetText(), String_t("MessageSigner"));
        }
    }

    TraceCapture capture("sec.core.base=0xffffffff");
    {
        MessageSigner traced;
        traced.Update(Arr("x"));
        traced.Update(QmXplIo::InputStream_t(new RecordingInputImpl("y")));
        traced.Sign(true);
    }
    for (const char* line :
         {"> MessageSignerImpl Constructor",
          "MessageSignerImpl: Creating MessageSigner for signer: nodeA",
          "> MessageSignerImpl::Update(CharArray_t)", "> MessageSignerImpl::Update(InputStream_t)",
          "> MessageSignerImpl::Sign(bool)", "> MessageSignerImpl::DestroyThis()",
          "> MessageSignerImpl Destructor"}) {
        EXPECT_NE(capture.IndexOf(line), -1) << line;
    }
}

}  // namespace
