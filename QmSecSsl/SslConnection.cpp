#include "QmSecSsl/SslConnection.h"

#include "SslConnectionImpl.h"
#include "SslContext.h"

namespace QmSecSsl {

SslConnection::SslConnection(SslConnectionImpl* body) : Connection_t(body) {}

SslConnection::~SslConnection() = default;

SslConnectionImpl* SslConnection::Impl() const {
    return static_cast<SslConnectionImpl*>(Body("SslConnection"));
}

SslConnectionImpl* SslConnection::operator->() const { return Impl(); }

bool SslConnection::IsSsl(QmXplIo::BufferedInputStream_t& in) {
    return SslConnectionImpl::IsSsl(in);
}

void SslConnection::SetTrustedCertificatesFilename(const QmXplArray::CharArray_t& fileName) {
    SslContext::GetInstance().LoadTrustedCertificates(fileName);
}

QmXplStr::String_t SslConnection::GetOwnId() const { return Impl()->GetOwnId(); }
QmXplStr::String_t SslConnection::GetPeerId() const { return Impl()->GetPeerId(); }
void SslConnection::Renegotiate() const { Impl()->Renegotiate(); }

QmXplStr::String_t SslConnection::GetProtocol() const {
    return QmXplStr::String_t(SSL_get_version(Impl()->GetSsl()));
}

QmXplStr::String_t SslConnection::GetCipherSuite() const {
    const SSL_CIPHER* cipher = SSL_get_current_cipher(Impl()->GetSsl());
    const char* name = cipher ? SSL_CIPHER_standard_name(cipher) : nullptr;
    return QmXplStr::String_t(name ? name : "");
}

bool SslConnection::IsSessionReused() const { return SSL_session_reused(Impl()->GetSsl()) == 1; }

}  // namespace QmSecSsl
