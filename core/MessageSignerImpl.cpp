#include "MessageSignerImpl.h"

#include "MessageSignatureImpl.h"
#include "QmSecCore/CoreNames.h"
#include "QmSecCore/KeyStore.h"
#include "QmSecCore/MessageSignatureException.h"
#include "QmXpl/ConfigNamespace_t.h"
#include "QmXpl/IOException_t.h"
#include "Throw.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmSecCoreTrc::kLevelOperation;
using QmXplArray::CharArray_t;
using QmXplStr::String_t;

// --- handle ----------------------------------------------------------------------------------

MessageSigner::MessageSigner() : Object(new MessageSignerImpl()) {}
MessageSigner::MessageSigner(const String_t& signerCN) : Object(new MessageSignerImpl(signerCN)) {}
MessageSigner::~MessageSigner() = default;
MessageSignerImpl* MessageSigner::Body() const {
    return GetBody<MessageSignerImpl>("MessageSigner");
}

void MessageSigner::Update(const CharArray_t& data) const { Body()->Update(data); }
void MessageSigner::Update(const QmXplIo::InputStream_t& in) const { Body()->Update(in); }
MessageSignature MessageSigner::Sign(bool includeCertificate) {
    return Body()->Sign(includeCertificate);
}

// --- body ------------------------------------------------------------------------------------

namespace detail {

void FeedStream(const Signature& signature, const QmXplIo::InputStream_t& in) {
    try {
        char chunk[256];
        for (int n; (n = in.Read(chunk, sizeof chunk)) != -1;) signature.Update(chunk, n);
    } catch (const QmXplIo::IOException_t& e) {
        QMSEC_THROW(kCoreArea, MessageSignatureException,
                    CatalogMessage(52).AddDetails(e.GetMessageList()));
    }
}

}  // namespace detail

namespace {

// The node's own name: CORE_ID of "sec.core".
String_t CoreId() {
    String_t id = QmXplConfig::ConfigNamespace_t::Open(String_t(kCoreNamespace))
                      .GetAttrValue(String_t(kCoreIdKey));
    if (id.IsEmpty()) QMSEC_THROW_MSG(kCoreArea, MessageSignatureException, 48, );
    return id;
}

}  // namespace

MessageSignerImpl::MessageSignerImpl() {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSignerImpl Constructor");
    signerName_ = CoreId();
    Init();
}

MessageSignerImpl::MessageSignerImpl(const String_t& signerCN) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSignerImpl Constructor");
    if (signerCN.IsEmpty()) QMSEC_THROW_MSG(kCoreArea, QmXplMsg::IllegalArgumentError_t, 49, );
    signerName_ = signerCN;
    Init();
}

MessageSignerImpl::~MessageSignerImpl() {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSignerImpl Destructor");
}

void MessageSignerImpl::Init() {
    QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                "MessageSignerImpl: Creating MessageSigner for signer: " << signerName_);
    try {
        KeyStore store;
        if (!store.IsPrivateKeyEntry(signerName_))
            QMSEC_THROW_MSG(kCoreArea, MessageSignatureException, 50, << signerName_);
        Key key;
        store.GetPrivateKey(signerName_, key);
        signature_ = Signature(Signature::eSHA1);
        signature_.InitSign(key);
    } catch (const MessageSignatureException&) {
        throw;
    } catch (const SecCoreException& e) {
        // The store's failures (a missing or unreadable entry, a key file that does not decrypt
        // under this node's key) all mean the same to the caller: no signer.
        QMSEC_THROW(kCoreArea, MessageSignatureException,
                    detail::CatalogMessage(51).AddDetails(e.GetMessageList()));
    }
}

void MessageSignerImpl::Update(const CharArray_t& data) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSignerImpl::Update(CharArray_t)");
    signature_.Update(data);
}

void MessageSignerImpl::Update(const QmXplIo::InputStream_t& in) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSignerImpl::Update(InputStream_t)");
    detail::FeedStream(signature_, in);
}

MessageSignature MessageSignerImpl::Sign(bool includeCertificate) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSignerImpl::Sign(bool)");
    try {
        // The certificate is looked up before the signature is finished: finishing consumes
        // what was fed, and a signer whose certificate is missing keeps the data, so that the
        // caller can still sign it without one.
        X509Certificate certificate;
        if (includeCertificate) {
            KeyStore store;
            if (!store.IsCertEntry(signerName_))
                QMSEC_THROW_MSG(kCoreArea, MessageSignatureException, 53, << signerName_);
            store.GetCertificate(signerName_, certificate);
        }
        CharArray_t bytes;
        signature_.Sign(bytes);
        if (!includeCertificate)
            return MessageSignature(new MessageSignatureImpl(bytes, signerName_));
        return MessageSignature(new MessageSignatureImpl(bytes, certificate));
    } catch (const SecCoreException& e) {
        QMSEC_THROW(kCoreArea, MessageSignatureException,
                    detail::CatalogMessage(54).AddDetails(e.GetMessageList()));
    }
}

}  // namespace QmSecCore
