#include "MessageVerifierImpl.h"

#include "MessageSignerImpl.h"
#include "QmSecCore/MessageSignatureException.h"
#include "Throw.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmSecCoreTrc::kLevelProc;
using QmXplArray::CharArray_t;
using QmXplStr::String_t;

// --- handle ----------------------------------------------------------------------------------

MessageVerifier::MessageVerifier(const MessageSignature& signature)
    : Object(new MessageVerifierImpl(signature)) {}
MessageVerifier::~MessageVerifier() = default;
MessageVerifierImpl* MessageVerifier::Body() const {
    return GetBody<MessageVerifierImpl>("MessageVerifier");
}

void MessageVerifier::Update(const CharArray_t& data) const { Body()->Update(data); }
void MessageVerifier::Update(const QmXplIo::InputStream_t& in) const { Body()->Update(in); }
bool MessageVerifier::Verify() const { return Body()->Verify(); }

// --- body ------------------------------------------------------------------------------------

namespace {

// The decision's lines; the one that tells why a signer is refused has a level of its own.
constexpr uint32_t kLevelDecision = kLevelProc;
constexpr uint32_t kLevelMismatch = 12;

#define QMSEC_DECISION(text) QMSEC_TRACE(kCoreArea.operation, kLevelDecision, text)

[[noreturn]] void Refuse(int number) {
    QMSEC_THROW_MSG(kCoreArea, MessageSignatureException, number, );
}
[[noreturn]] void Refuse(int number, const String_t& insert) {
    QMSEC_THROW_MSG(kCoreArea, MessageSignatureException, number, << insert);
}

X509Certificate Stored(const KeyStore& store, const String_t& alias) {
    X509Certificate certificate;
    store.GetCertificate(alias, certificate);
    return certificate;
}

}  // namespace

MessageVerifierImpl::MessageVerifierImpl(const MessageSignature& signature)
    : signature_(Signature::eSHA1) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageVerifierImpl Constructor");
    signature.GetSignature(signatureBytes_);
    if (signature.ContainsCertificate()) {
        QMSEC_DECISION("MessageVerifierImpl: Processing message signature with certificate");
        TrustProvidedCertificate(signature);
    } else {
        QMSEC_DECISION("MessageVerifierImpl: Processing message signature without certificate");
        TrustStoredCertificate(signature);
    }
}

MessageVerifierImpl::~MessageVerifierImpl() {
    QMSEC_BLOCK(kCoreArea.proc, "MessageVerifierImpl Destructor");
}

void MessageVerifierImpl::TrustProvidedCertificate(const MessageSignature& signature) {
    X509Certificate provided = signature.GetCertificate();
    String_t signer = signature.GetSignerCN();
    // Before the store is consulted: an expired or not yet valid certificate is refused
    // whoever issued it.
    if (!provided.CheckValidity()) Refuse(58);
    KeyStore store;
    String_t issuerName = provided.GetIssuerCN();
    if (store.IsTrustedCertEntry(issuerName)) {
        QMSEC_DECISION("MessageVerifierImpl: Issuer of signer certificate is trusted");
        X509Certificate issuer = Stored(store, issuerName);
        if (!issuer.CheckValidity()) Refuse(59, issuer.GetSubjectCN());
        if (!provided.Verify(issuer.GetPublicKey())) Refuse(60, issuer.GetSubjectCN());
        QMSEC_DECISION("MessageVerifierImpl: Signer certificate verified with issuer certificate");
        QMSEC_DECISION("MessageVerifierImpl: Using public key of provided signer certificate");
        signature_.InitVerify(provided.GetPublicKey());
        return;
    }
    if (!store.IsTrustedCertEntry(signer)) Refuse(62);
    QMSEC_DECISION("MessageVerifierImpl: Keystore contains trusted certificate for signer");
    X509Certificate local = Stored(store, signer);
    if (provided.GetFingerprint() != local.GetFingerprint()) {
        QMSEC_TRACE(kCoreArea.operation, kLevelMismatch,
                    "MessageVerifierImpl: Fingerprints of provided signer certificate and the "
                    "one in the keystore are not equal");
        Refuse(61);
    }
    QMSEC_DECISION(
        "MessageVerifierImpl: Fingerprints of provided signer certificate and the one in the "
        "keystore are equal");
    QMSEC_DECISION("MessageVerifierImpl: Using public key of local certificate");
    signature_.InitVerify(local.GetPublicKey());
}

void MessageVerifierImpl::TrustStoredCertificate(const MessageSignature& signature) {
    String_t signer = signature.GetSignerCN();
    KeyStore store;
    if (!store.IsCertEntry(signer)) Refuse(65);
    QMSEC_DECISION("MessageVerifierImpl: Keystore contains certificate for signer");
    X509Certificate stored = Stored(store, signer);
    if (!stored.CheckValidity()) Refuse(63);
    if (store.IsTrustedCertEntry(signer)) {
        QMSEC_DECISION("MessageVerifierImpl: Signer certificate in keystore is a trusted entry");
        QMSEC_DECISION(
            "MessageVerifierImpl: Using public key of trusted certificate for signer in keystore");
        signature_.InitVerify(stored.GetPublicKey());
        return;
    }
    String_t issuerName = stored.GetIssuerCN();
    if (!store.IsTrustedCertEntry(issuerName)) Refuse(62);
    QMSEC_DECISION("MessageVerifierImpl: Issuer of signer certificate is trusted");
    X509Certificate issuer = Stored(store, issuerName);
    if (!issuer.CheckValidity()) Refuse(64);
    if (!stored.Verify(issuer.GetPublicKey())) Refuse(60, issuer.GetSubjectCN());
    QMSEC_DECISION("MessageVerifierImpl: Signer certificate verified with issuer certificate");
    QMSEC_DECISION("MessageVerifierImpl: Using public key of signer certificate in keystore");
    signature_.InitVerify(stored.GetPublicKey());
}

void MessageVerifierImpl::Update(const CharArray_t& data) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageVerifierImpl::Update(CharArray_t)");
    signature_.Update(data);
}

void MessageVerifierImpl::Update(const QmXplIo::InputStream_t& in) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageVerifierImpl::Update(InputStream_t)");
    detail::FeedStream(signature_, in);
}

bool MessageVerifierImpl::Verify() {
    QMSEC_BLOCK(kCoreArea.proc, "MessageVerifierImpl::Verify()");
    return signature_.Verify(signatureBytes_);
}

#undef QMSEC_DECISION

}  // namespace QmSecCore
