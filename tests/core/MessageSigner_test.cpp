// Signer and verifier together: what a node signs with its key from the store, a peer with the
// matching trust verifies.
#include <gtest/gtest.h>

#include "MessageTestSupport.h"
#include "QmSecCore/MessageSignatureException.h"
#include "QmSecCore/MessageSigner.h"
#include "QmSecCore/MessageVerifier.h"

namespace {

using namespace message_test;
using QmSecCore::MessageSignatureException;
using QmSecCore::MessageSigner;
using QmSecCore::MessageVerifier;

class MessageSignerTest : public ::testing::Test {
  protected:
    void SetUp() override { InstallHierarchy(); }
    NodeHome home_{"nodeA"};
};

TEST_F(MessageSignerTest, SignedWithAndWithoutCertificateVerifies) {
    const std::string data = "the message of nodeA";
    for (bool includeCertificate : {true, false}) {
        MessageSigner signer;
        signer.Update(Arr(data));
        MessageSignature signature = signer.Sign(includeCertificate);
        EXPECT_EQ(signature.ContainsCertificate(), includeCertificate);
        EXPECT_EQ(signature.GetSignerCN().ToUtf8(), "nodeA");

        CharArray_t encoded;
        MessageVerifier verifier(MessageSignature(signature.GetEncoded(encoded)));
        verifier.Update(Arr(data));
        EXPECT_TRUE(verifier.Verify());
        verifier.Update(Arr(data + "!"));
        EXPECT_FALSE(verifier.Verify());
    }
}

}  // namespace
