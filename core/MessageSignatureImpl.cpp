#include "MessageSignatureImpl.h"

#include <cstdint>
#include <string>

#include "QmSecCore/CertificateParsingException.h"
#include "QmSecCore/MessageSignatureException.h"
#include "QmXpl/Base64InputStream_t.h"
#include "QmXpl/Base64OutputStream_t.h"
#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/CharArrayOutputStream_t.h"
#include "QmXpl/DataInputStream_t.h"
#include "QmXpl/DataOutputStream_t.h"
#include "QmXpl/IOException_t.h"
#include "Throw.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmSecCoreTrc::kLevelOperation;
using QmXplArray::CharArray_t;
using QmXplStr::String_t;

// --- handle ----------------------------------------------------------------------------------

MessageSignature::MessageSignature(const CharArray_t& encoded)
    : Object(new MessageSignatureImpl(encoded.GetData(), encoded.GetSize())) {}
MessageSignature::MessageSignature(MessageSignatureImpl* body) noexcept : Object(body) {}
MessageSignature::~MessageSignature() = default;
MessageSignatureImpl* MessageSignature::Body() const {
    return GetBody<MessageSignatureImpl>("MessageSignature");
}

bool MessageSignature::ContainsCertificate() const { return Body()->ContainsCertificate(); }
CharArray_t& MessageSignature::GetEncoded(CharArray_t& out) const {
    return Body()->GetEncoded(out);
}
CharArray_t& MessageSignature::GetSignature(CharArray_t& out) const {
    return Body()->GetSignature(out);
}
X509Certificate MessageSignature::GetCertificate() const { return Body()->GetCertificate(); }
String_t MessageSignature::GetSignerCN() const { return Body()->GetSignerCN(); }

// --- body ------------------------------------------------------------------------------------

namespace {

[[noreturn]] void ThrowUnparsable() { QMSEC_THROW_MSG(kCoreArea, MessageSignatureException, 45, ); }
[[noreturn]] void ThrowUnparsable(const QmXplMsg::Exception_t& cause) {
    QMSEC_THROW(kCoreArea, MessageSignatureException,
                detail::CatalogMessage(45).AddDetails(cause.GetMessageList()));
}

// The bytes that Base64 text encodes; never more than the text's length.
CharArray_t DecodeBase64(const char* text, int length) {
    QmXplIo::Base64InputStream_t decoder(QmXplIo::CharArrayInputStream_t(text, length));
    QmXplIo::CharArrayOutputStream_t decoded(length / 4 * 3 + 3);
    char buffer[4096];
    for (int n; (n = decoder.Read(buffer, sizeof buffer)) != -1;) decoded.Write(buffer, n);
    return decoded.ToCharArray();
}

}  // namespace

MessageSignatureImpl::MessageSignatureImpl(const char* encoded, int length) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSignatureImpl Constructor");
    Parse(encoded, length);
}

MessageSignatureImpl::MessageSignatureImpl(const CharArray_t& signature,
                                           const X509Certificate& certificate)
    : signature_(signature), certificate_(certificate), containsCertificate_(true) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSignatureImpl Constructor");
}

MessageSignatureImpl::MessageSignatureImpl(const CharArray_t& signature, const String_t& signerCN)
    : signature_(signature), signerCN_(signerCN) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSignatureImpl Constructor");
}

MessageSignatureImpl::~MessageSignatureImpl() {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSignatureImpl Destructor");
}

MessageSignatureImpl& MessageSignatureImpl::Of(const MessageSignature& signature) {
    return *signature.Body();
}

void MessageSignatureImpl::Parse(const char* encoded, int length) {
    // Text longer than any real signature is refused unread: decoding it first would let a
    // peer make the receiver hold three quarters of whatever it sends.
    if (length > MessageSignature::kMaxEncodedLength) {
        QMSEC_THROW(
            kCoreArea, MessageSignatureException,
            detail::CatalogMessage(45).AddDetail(QmXplMsg::CreateWarn_t(String_t(
                "The encoded signature has " + std::to_string(length) + " bytes; no more than " +
                std::to_string(MessageSignature::kMaxEncodedLength) + " are accepted."))));
    }
    // The record is decoded whole first: its size then bounds every length it announces, so
    // that no announced length makes the parser allocate more than the text could carry.
    CharArray_t record;
    try {
        record = DecodeBase64(encoded, length);
    } catch (const QmXplIo::IOException_t& e) {
        ThrowUnparsable(e);
    }

    QmXplIo::DataInputStream_t data{QmXplIo::CharArrayInputStream_t(record)};
    try {
        bool withCertificate = data.ReadBoolean();
        int32_t n = data.ReadInt32();
        if (n <= 0 || n > data.Available()) ThrowUnparsable();
        signature_.Resize(n);
        data.ReadFully(signature_);
        if (withCertificate) {
            int32_t m = data.ReadInt32();
            if (m <= 0 || m > data.Available()) ThrowUnparsable();
            CharArray_t pem(m);
            data.ReadFully(pem);
            certificate_ = X509Certificate(pem);
        } else {
            // The name's 16-bit byte count, checked against what is left before it is read.
            int left = data.Available();
            if (left >= 2) {
                const auto* at = reinterpret_cast<const unsigned char*>(record.GetData()) +
                                 record.GetSize() - left;
                if (((at[0] << 8) | at[1]) > left - 2) ThrowUnparsable();
            }
            signerCN_ = data.ReadJavaUTF();
        }
        containsCertificate_ = withCertificate;
        if (int rest = data.Available(); rest > 0) {
            QMSEC_TRACE(
                kCoreArea.operation, kLevelOperation,
                "MessageSignatureImpl: Ignoring " << rest << " bytes after the encoded signature");
        }
    } catch (const QmXplIo::IOException_t& e) {
        ThrowUnparsable(e);
    } catch (const CertificateParsingException& e) {
        ThrowUnparsable(e);
    }
}

bool MessageSignatureImpl::ContainsCertificate() const {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSignatureImpl::ContainsCertificate()");
    return containsCertificate_;
}

CharArray_t& MessageSignatureImpl::GetEncoded(CharArray_t& out) const {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSignatureImpl::GetEncoded(CharArray_t)");
    try {
        QmXplIo::CharArrayOutputStream_t text;
        QmXplIo::DataOutputStream_t data(QmXplIo::Base64OutputStream_t{text});
        data.WriteBoolean(containsCertificate_);
        data.WriteInt32(signature_.GetSize());
        data.Write(signature_);
        if (containsCertificate_) {
            CharArray_t pem;
            certificate_.GetEncoded(pem);
            data.WriteInt32(pem.GetSize());
            data.Write(pem);
        } else {
            data.WriteJavaUTF(signerCN_);
        }
        // Closing ends the Base64 text: its last group and line feed.
        data.Close();
        out = text.ToCharArray();
    } catch (const QmXplIo::IOException_t& e) {
        QMSEC_THROW(kCoreArea, MessageSignatureException,
                    detail::CatalogMessage(47).AddDetails(e.GetMessageList()));
    } catch (const CertificateParsingException& e) {
        QMSEC_THROW(kCoreArea, MessageSignatureException,
                    detail::CatalogMessage(47).AddDetails(e.GetMessageList()));
    }
    return out;
}

CharArray_t& MessageSignatureImpl::GetSignature(CharArray_t& out) const {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSignatureImpl::GetSignature(CharArray_t)");
    out.Copy(signature_);
    return out;
}

X509Certificate MessageSignatureImpl::GetCertificate() const {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSignatureImpl::GetCertificate()");
    if (!containsCertificate_) QMSEC_THROW_MSG(kCoreArea, MessageSignatureException, 46, );
    return certificate_;
}

String_t MessageSignatureImpl::GetSignerCN() const {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSignatureImpl::GetSignerCN()");
    return containsCertificate_ ? certificate_.GetSubjectCN() : signerCN_;
}

}  // namespace QmSecCore
