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

}  // namespace QmSecSsl
