// The verifier's trust decision against a real hierarchy in a node's key store: every accepted
// path with its trace lines, every refusal with its number and inserts, the store's own
// exceptions passing through, and verification over data fed in any split.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "MessageStreams.h"
#include "MessageTestSupport.h"
#include "QmSecCore/KeyStoreException.h"
#include "QmSecCore/MessageSignatureException.h"
#include "QmSecCore/MessageVerifier.h"
#include "support/Kat.h"
#include "support/TraceCapture.h"

namespace {

using namespace message_test;
using qmsec_test::MessageNumber;
using qmsec_test::TraceCapture;
using namespace std::string_literals;
using QmSecCore::KeyStoreException;
using QmSecCore::MessageSignatureException;
using QmSecCore::MessageVerifier;

const std::string kData = "a message from one node to another, with \0 bytes\xff\x01 and more"s;

class MessageVerifierTest : public ::testing::Test {
  protected:
    void SetUp() override { InstallHierarchy(); }

    // The decision lines written while a verifier for signature is built (prefix removed).
    static std::vector<std::string> Decision(const MessageSignature& signature) {
        TraceCapture capture("sec.core.base=0xffffffff");
        MessageVerifier verifier(signature);
        std::vector<std::string> lines;
        const std::string prefix = "MessageVerifierImpl: ";
        for (const auto& record : capture.Records()) {
            if (record.text.rfind(prefix, 0) != 0) continue;
            EXPECT_EQ(record.category, 7) << "operation object: " << record.text;
            EXPECT_EQ(record.level, 9u) << record.text;
            lines.push_back(record.text.substr(prefix.size()));
        }
        return lines;
    }
    // The message of the MessageSignatureException that building a verifier throws.
    static QmXplMsg::Message_t Refusal(const MessageSignature& signature) {
        try {
            MessageVerifier verifier(signature);
        } catch (const MessageSignatureException& e) {
            return e.GetMessageList().Get(0);
        }
        ADD_FAILURE() << "accepted";
        return QmXplMsg::Message_t();
    }
    static bool Verifies(const MessageSignature& signature, const std::string& data) {
        MessageVerifier verifier(signature);
        verifier.Update(Arr(data));
        return verifier.Verify();
    }

    NodeHome home_{"verifier-node"};
    const Hierarchy& h_ = Hierarchy::Get();
};

const char* const kWith = "Processing message signature with certificate";
const char* const kWithout = "Processing message signature without certificate";
const char* const kIssuerTrusted = "Issuer of signer certificate is trusted";
const char* const kVerifiedByIssuer = "Signer certificate verified with issuer certificate";

TEST_F(MessageVerifierTest, SignaturesWithACertificateIssuedByATrustedAuthority) {
    const std::vector<std::string> expected = {kWith, kIssuerTrusted, kVerifiedByIssuer,
                                               "Using public key of provided signer certificate"};
    // nodeA is in the store, nodeB is not: neither matters when the issuer is trusted.
    for (const TestCertificate* c : {&h_.nodeA, &h_.nodeB}) {
        EXPECT_EQ(Decision(WithCertificate(*c, kData)), expected);
        EXPECT_TRUE(Verifies(WithCertificate(*c, kData), kData));
    }
    // A self-signed certificate names itself as issuer: stored trusted under its name, it is
    // its own trusted issuer and verifies itself.
    EXPECT_EQ(Decision(WithCertificate(h_.selfC, kData)), expected);
    EXPECT_TRUE(Verifies(WithCertificate(h_.selfC, kData), kData));
    // The key used is the provided certificate's: nodeB's signature carrying nodeA's
    // certificate does not verify.
    MessageSignature mixed(
        new QmSecCore::MessageSignatureImpl(SignatureBytes(h_.nodeB, kData), Cert(h_.nodeA)));
    EXPECT_FALSE(Verifies(mixed, kData));
}

TEST_F(MessageVerifierTest, SignaturesWithACertificateStoredTrustedUnderItsName) {
    // nodeF's issuer is unknown to the store; nodeF itself is a trusted entry.
    EXPECT_EQ(Decision(WithCertificate(h_.nodeF, kData)),
              (std::vector<std::string>{
                  kWith, "Keystore contains trusted certificate for signer",
                  "Fingerprints of provided signer certificate and the one in the keystore are "
                  "equal",
                  "Using public key of local certificate"}));
    EXPECT_TRUE(Verifies(WithCertificate(h_.nodeF, kData), kData));

    // Its namesake under another key is refused, the reason traced at level 12.
    TraceCapture capture("sec.core.base=0xffffffff");
    QmXplMsg::Message_t refusal = Refusal(WithCertificate(h_.nodeF2, kData));
    EXPECT_EQ(refusal.GetNumber(), 61);
    EXPECT_EQ(refusal.GetText(), String_t("Signer certificate is not trusted."));
    bool traced = false;
    for (const auto& record : capture.Records()) {
        if (record.text ==
            "MessageVerifierImpl: Fingerprints of provided signer certificate and the one in the "
            "keystore are not equal") {
            traced = true;
            EXPECT_EQ(record.level, 12u);
        }
    }
    EXPECT_TRUE(traced);
}

TEST_F(MessageVerifierTest, SignaturesWithACertificateThatAreRefused) {
    struct Case {
        const TestCertificate* certificate;
        int number;
        std::string text;
    };
    const std::vector<Case> cases = {
        {&h_.expired, 58, "Provided signer certificate is not valid."},
        {&h_.future, 58, "Provided signer certificate is not valid."},
        {&h_.nodeD, 59, "Issuer certificate with common name 'Old CA' in keystore is not valid."},
        {&h_.forged, 60,
         "Signer certificate could not be verified with issuer certificate having common name "
         "'Test CA' in keystore."},
        // Self-signed with the name of a trusted entry but another key: its issuer name finds
        // the trusted entry, whose key does not verify it.
        {&h_.selfC2, 60,
         "Signer certificate could not be verified with issuer certificate having common name "
         "'selfC' in keystore."},
        {&h_.nodeE, 62, "Signer and issuer of signer certificate are not trusted."},
        {&h_.otherCa, 62, "Signer and issuer of signer certificate are not trusted."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        QmXplMsg::Message_t refusal = Refusal(WithCertificate(*c.certificate, kData));
        EXPECT_EQ(refusal.GetNumber(), c.number);
        EXPECT_EQ(refusal.GetText(), String_t(c.text));
    }
}

TEST_F(MessageVerifierTest, AnInvalidProvidedCertificateIsRefusedBeforeTheStoreIsRead) {
    for (const TestCertificate* c : {&h_.expired, &h_.future}) {
        TraceCapture capture("sec.core.base=0xffffffff");
        EXPECT_EQ(Refusal(WithCertificate(*c, kData)).GetNumber(), 58);
        EXPECT_FALSE(capture.Contains("KeyStoreImpl:Constructor"));
    }
    // The same certificates by name are read from the store.
    TraceCapture capture("sec.core.base=0xffffffff");
    EXPECT_EQ(Refusal(WithName(h_.expired, "expired", kData)).GetNumber(), 63);
    EXPECT_TRUE(capture.Contains("KeyStoreImpl:Constructor"));
}

TEST_F(MessageVerifierTest, SignaturesWithANameOfATrustedEntry) {
    const std::vector<std::string> expected = {
        kWithout, "Keystore contains certificate for signer",
        "Signer certificate in keystore is a trusted entry",
        "Using public key of trusted certificate for signer in keystore"};
    EXPECT_EQ(Decision(WithName(h_.selfC, "selfC", kData)), expected);
    EXPECT_TRUE(Verifies(WithName(h_.selfC, "selfC", kData), kData));
    EXPECT_EQ(Decision(WithName(h_.nodeF, "nodeF", kData)), expected);
    EXPECT_TRUE(Verifies(WithName(h_.nodeF, "nodeF", kData), kData));
    // The stored key decides: the namesake's signature under the trusted name does not verify.
    EXPECT_FALSE(Verifies(WithName(h_.selfC2, "selfC", kData), kData));
    EXPECT_FALSE(Verifies(WithName(h_.nodeF2, "nodeF", kData), kData));
}

TEST_F(MessageVerifierTest, SignaturesWithANameOfAPlainEntryIssuedByATrustedAuthority) {
    EXPECT_EQ(Decision(WithName(h_.nodeA, "nodeA", kData)),
              (std::vector<std::string>{kWithout, "Keystore contains certificate for signer",
                                        kIssuerTrusted, kVerifiedByIssuer,
                                        "Using public key of signer certificate in keystore"}));
    EXPECT_TRUE(Verifies(WithName(h_.nodeA, "nodeA", kData), kData));
    // Another node's signature under nodeA's name.
    EXPECT_FALSE(Verifies(WithName(h_.nodeB, "nodeA", kData), kData));
}

TEST_F(MessageVerifierTest, SignaturesWithANameThatAreRefused) {
    struct Case {
        std::string name;
        int number;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"nobody", 65,
         "No certificate for signer provided in message signature or found in "
         "keystore."},
        {"nodeB", 65,
         "No certificate for signer provided in message signature or found in "
         "keystore."},
        {"", 65, "No certificate for signer provided in message signature or found in keystore."},
        {"expired", 63, "Signer certificate in keystore is not valid."},
        {"future", 63, "Signer certificate in keystore is not valid."},
        {"nodeE", 62, "Signer and issuer of signer certificate are not trusted."},
        {"nodeD", 64, "Certificate of issuer of signer certificate in keystore is not valid."},
        {"forged", 60,
         "Signer certificate could not be verified with issuer certificate having common name "
         "'Test CA' in keystore."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QmXplMsg::Message_t refusal = Refusal(WithName(h_.nodeA, c.name, kData));
        EXPECT_EQ(refusal.GetNumber(), c.number);
        EXPECT_EQ(refusal.GetText(), String_t(c.text));
    }
}

TEST_F(MessageVerifierTest, TheStoresOwnFailuresPassThroughUnchanged) {
    home_.WriteStoreFile("nodeA_cert.pem", "not a certificate\n");
    for (const MessageSignature& s : {WithName(h_.nodeA, "nodeA", kData)}) {
        try {
            MessageVerifier verifier(s);
            ADD_FAILURE() << "accepted";
        } catch (const MessageSignatureException& e) {
            ADD_FAILURE() << "wrapped as " << MessageNumber(e);
        } catch (const KeyStoreException& e) {
            EXPECT_EQ(MessageNumber(e), 26);
        }
    }
    // A damaged trusted authority as well.
    home_.WriteStoreFile("Test CA_cert.pem", "not a certificate either\n");
    EXPECT_EQ(qmsec_test::ThrownNumber<KeyStoreException>(
                  [&] { MessageVerifier verifier(WithCertificate(h_.nodeB, kData)); }),
              26);
}

TEST_F(MessageVerifierTest, AnySplitVerifiesAndAnyChangedByteDoesNot) {
    std::mt19937 rng(7);
    std::string data(5000, '\0');
    for (char& c : data) c = static_cast<char>(rng());
    for (const MessageSignature& signature :
         {WithCertificate(h_.nodeA, data), WithName(h_.nodeA, "nodeA", data),
          WithName(h_.selfC, "selfC", data), WithCertificate(h_.nodeF, data)}) {
        // Through the encoded form, as a receiver gets it.
        CharArray_t encoded;
        MessageVerifier verifier(MessageSignature(signature.GetEncoded(encoded)));
        for (int round = 0; round < 5; ++round) {
            for (const auto& piece : qmsec_test::RandomPieces(data, rng))
                verifier.Update(Arr(piece));
            EXPECT_TRUE(verifier.Verify()) << "round " << round;
        }
        // Byte by byte, and from a stream that gives short reads.
        for (char c : data) verifier.Update(CharArray_t(&c, 1));
        EXPECT_TRUE(verifier.Verify());
        verifier.Update(QmXplIo::InputStream_t(new RecordingInputImpl(data)));
        EXPECT_TRUE(verifier.Verify());
        // Nothing fed, or less, or more.
        EXPECT_FALSE(verifier.Verify());
        verifier.Update(Arr(data.substr(0, data.size() - 1)));
        EXPECT_FALSE(verifier.Verify());
        verifier.Update(Arr(data + "x"));
        EXPECT_FALSE(verifier.Verify());
        // One changed bit anywhere.
        for (size_t at : {size_t{0}, size_t{1}, data.size() / 2, data.size() - 1}) {
            std::string changed = data;
            changed[at] ^= 0x01;
            verifier.Update(Arr(changed));
            EXPECT_FALSE(verifier.Verify()) << at;
        }
        // And the right data once more after all the mismatches.
        verifier.Update(Arr(data));
        EXPECT_TRUE(verifier.Verify());
    }
    // A changed signature byte.
    CharArray_t bytes = SignatureBytes(h_.nodeA, data);
    bytes.GetData()[10] ^= 0x40;
    EXPECT_FALSE(Verifies(
        MessageSignature(new QmSecCore::MessageSignatureImpl(bytes, String_t("nodeA"))), data));
}

TEST_F(MessageVerifierTest, StreamsAreReadIn256ByteChunksAndTheirFailuresReported) {
    auto* body = new RecordingInputImpl(kData + std::string(1000, 'z'));
    QmXplIo::InputStream_t in(body);
    MessageVerifier verifier(WithName(h_.nodeA, "nodeA", kData + std::string(1000, 'z')));
    verifier.Update(in);
    ASSERT_FALSE(body->asked.empty());
    for (int len : body->asked) EXPECT_EQ(len, 256);
    EXPECT_TRUE(verifier.Verify());

    QmXplIo::InputStream_t failing(new RecordingInputImpl(kData, 10));
    try {
        verifier.Update(failing);
        ADD_FAILURE() << "no failure";
    } catch (const MessageSignatureException& e) {
        const auto& message = e.GetMessageList().Get(0);
        EXPECT_EQ(message.GetNumber(), 52);
        EXPECT_EQ(message.GetText(), String_t("Could not update data."));
        ASSERT_GE(message.GetDetails().GetCount(), 1);
        EXPECT_EQ(message.GetDetails().Get(0).GetText(), String_t("recording stream: disk gone"));
    }
}

TEST_F(MessageVerifierTest, EmptyHandlesThrowAndTracesAreWritten) {
    MessageVerifier empty;
    for (auto call : std::vector<std::function<void()>>{
             [&] { empty.Update(Arr("x")); },
             [&] { empty.Update(QmXplIo::InputStream_t(new RecordingInputImpl("x"))); },
             [&] { empty.Verify(); }}) {
        try {
            call();
            ADD_FAILURE();
        } catch (const QmXplMsg::IllegalStateError_t& e) {
            EXPECT_EQ(e.GetMessageList().Get(0).GetText(), String_t("MessageVerifier"));
        }
    }
    TraceCapture capture("sec.core.base=9");
    {
        MessageVerifier verifier(WithName(h_.nodeA, "nodeA", kData));
        MessageVerifier copy = verifier;
        verifier.Update(Arr(kData));
        copy.Update(QmXplIo::InputStream_t(new RecordingInputImpl("")));
        EXPECT_TRUE(verifier.Verify()) << "copies share one state";
    }
    for (const char* line :
         {"> MessageVerifierImpl Constructor", "> MessageVerifierImpl::Update(CharArray_t)",
          "> MessageVerifierImpl::Update(InputStream_t)", "> MessageVerifierImpl::Verify()",
          "> MessageVerifierImpl::DestroyThis()", "> MessageVerifierImpl Destructor"}) {
        EXPECT_NE(capture.IndexOf(line), -1) << line;
    }
    TraceCapture throws("sec.core.base=2");
    EXPECT_EQ(Refusal(WithName(h_.nodeA, "nobody", kData)).GetNumber(), 65);
    EXPECT_TRUE(throws.Contains("Throwing exception 'MessageSignatureException': [sec.core 65]"));
}

}  // namespace
