// Body of MessageSignature: the value, its encoding and its parsing.
#pragma once

#include "QmSecCore/MessageSignature.h"
#include "QmSecCore/ObjectImpl.h"
#include "QmSecCore/X509Certificate.h"
#include "Trace.h"

namespace QmSecCore {

class MessageSignatureImpl : public ObjectImpl {
  public:
    // Parses length bytes of encoded text at encoded.
    MessageSignatureImpl(const char* encoded, int length);
    // A signature with the signer's certificate.
    MessageSignatureImpl(const QmXplArray::CharArray_t& signature,
                         const X509Certificate& certificate);
    // A signature with only the signer's common name.
    MessageSignatureImpl(const QmXplArray::CharArray_t& signature,
                         const QmXplStr::String_t& signerCN);
    ~MessageSignatureImpl() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kCoreArea.proc, "MessageSignatureImpl::DestroyThis()")

    bool ContainsCertificate() const;
    QmXplArray::CharArray_t& GetEncoded(QmXplArray::CharArray_t& out) const;
    QmXplArray::CharArray_t& GetSignature(QmXplArray::CharArray_t& out) const;
    X509Certificate GetCertificate() const;
    QmXplStr::String_t GetSignerCN() const;

    // The signature bytes, for the verifier (no copy).
    const QmXplArray::CharArray_t& Signature() const noexcept { return signature_; }
    // The body of a handle; IllegalStateError_t ("MessageSignature") for an empty handle.
    static MessageSignatureImpl& Of(const MessageSignature& signature);

  private:
    void Parse(const char* encoded, int length);

    QmXplArray::CharArray_t signature_;
    X509Certificate certificate_;  // empty unless containsCertificate_
    QmXplStr::String_t signerCN_;  // used only without a certificate
    bool containsCertificate_ = false;
};

}  // namespace QmSecCore
