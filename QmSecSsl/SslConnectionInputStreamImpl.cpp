#include "SslConnectionInputStreamImpl.h"

#include "OpenSsl.h"
#include "QmSecSsl/SecSslIOException.h"
#include "QmXpl/IOException_t.h"
#include "Throw.h"

namespace QmSecSsl {

using QmSecCoreTrc::kLevelOperation;
using QmSecCoreTrc::kSslArea;

SslConnectionInputStreamImpl::SslConnectionInputStreamImpl(SslConnectionImpl* connection)
    : EngineStreamBody(connection) {}

int SslConnectionInputStreamImpl::Read(char* buffer, int len) {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionInputStreamImpl::Read()");
    if (!open_) QMSEC_THROW_MSG(kSslArea, SecSslIOException, 143, );
    int status = 0;
    int r = engine_->SslOp(SslConnectionImpl::eRead, nullptr, buffer, len, status);
    if (r > 0) return r;
    // Only the peer's close_notify ends the stream; anything else cut it short.
    if (engine_->LastError() == SSL_ERROR_ZERO_RETURN) return -1;
    open_ = false;
    // The peer's alert (a refused certificate, say) says why: attached as a detail.
    QmXplMsg::Message_t message = QmSecCore::detail::CatalogMessage(144);
    std::string reason = QmSecCore::ossl::ErrorQueueText();
    if (!reason.empty())
        message.AddDetail(
            QmXplMsg::Message_t(QmXplStr::String_t(reason), QmXplMsg::Severity_t::eError));
    QMSEC_THROW(kSslArea, QmXplIo::EOFException_t, message);
}

int SslConnectionInputStreamImpl::Available() {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionInputStreamImpl::Available()");
    return PendingCount("SslConnectionInputStreamImpl");
}

void SslConnectionInputStreamImpl::Close() {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionInputStreamImpl::Close()");
    if (!open_) return;
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "SslConnectionInputStreamImpl: SSL: Closing Inputstream");
    open_ = false;
}

}  // namespace QmSecSsl
