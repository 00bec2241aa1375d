// Body of MessageSigner.
#pragma once

#include "QmSecCore/MessageSigner.h"
#include "QmSecCore/ObjectImpl.h"
#include "QmSecCore/Signature.h"
#include "Trace.h"

namespace QmSecCore {

class MessageSignerImpl : public ObjectImpl {
  public:
    // The signer named by CORE_ID of "sec.core".
    MessageSignerImpl();
    explicit MessageSignerImpl(const QmXplStr::String_t& signerCN);
    ~MessageSignerImpl() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kCoreArea.proc, "MessageSignerImpl::DestroyThis()")

    void Update(const QmXplArray::CharArray_t& data);
    void Update(const QmXplIo::InputStream_t& in);
    MessageSignature Sign(bool includeCertificate);

  private:
    void Init();

    QmXplStr::String_t signerName_;
    Signature signature_;
};

namespace detail {

// Feeds signature everything in reads, in chunks of 256 bytes, until its end; an IOException_t
// becomes MessageSignatureException 52 with it as details. For the signer and the verifier.
void FeedStream(const Signature& signature, const QmXplIo::InputStream_t& in);

}  // namespace detail

}  // namespace QmSecCore
