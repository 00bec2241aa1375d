#include "SocketInStreamImpl.h"

#include "QmXpl/IOException_t.h"
#include "Throw.h"

namespace QmSecSsl {

using QmSecCoreTrc::kLevelOperation;
using QmSecCoreTrc::kSslArea;

SocketInStreamImpl::SocketInStreamImpl(SslSocketImpl* socket) : EngineStreamBody(socket) {}

int SocketInStreamImpl::Read(char* buffer, int len) {
    QMSEC_BLOCK(kSslArea.proc, "SocketInStreamImpl::Read()");
    if (!open_) QMSEC_THROW_MSG(kSslArea, QmXplIo::IOException_t, 150, );
    if (len <= 0) return 0;
    int status = 0;
    int r = engine_->SslOp(SslSocketImpl::eRead, nullptr, buffer, len, status);
    if (r > 0) return r;
    // Only the peer's close_notify ends the stream; anything else cut it short.
    if (engine_->LastError() == SSL_ERROR_ZERO_RETURN) {
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "SocketInStreamImpl: Read(" << len << "): " << -1);
        return -1;
    }
    CloseAfterFailure("SocketInStreamImpl: closing after a failed read: ");
    QMSEC_THROW_MSG(kSslArea, QmXplIo::EOFException_t, 151, );
}

int SocketInStreamImpl::Available() {
    QMSEC_BLOCK(kSslArea.proc, "SocketInStreamImpl::Available()");
    return PendingCount("SocketInStreamImpl");
}

void SocketInStreamImpl::Close() {
    QMSEC_BLOCK(kSslArea.proc, "SocketInStreamImpl::Close()");
    if (!open_) return;
    open_ = false;
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "SocketInStreamImpl: SSL: Closing Inputstream");
    engine_->ShutdownInput();
}

}  // namespace QmSecSsl
