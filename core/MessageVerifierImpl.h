// Body of MessageVerifier: the trust decision and the verification.
#pragma once

#include "QmSecCore/KeyStore.h"
#include "QmSecCore/MessageVerifier.h"
#include "QmSecCore/ObjectImpl.h"
#include "QmSecCore/Signature.h"
#include "Trace.h"

namespace QmSecCore {

class MessageVerifierImpl : public ObjectImpl {
  public:
    explicit MessageVerifierImpl(const MessageSignature& signature);
    ~MessageVerifierImpl() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kCoreArea.proc, "MessageVerifierImpl::DestroyThis()")

    void Update(const QmXplArray::CharArray_t& data);
    void Update(const QmXplIo::InputStream_t& in);
    bool Verify();

  private:
    // The signature carries the signer's certificate.
    void TrustProvidedCertificate(const MessageSignature& signature);
    // The signature carries only the signer's name.
    void TrustStoredCertificate(const MessageSignature& signature);

    Signature signature_;
    QmXplArray::CharArray_t signatureBytes_;
};

}  // namespace QmSecCore
