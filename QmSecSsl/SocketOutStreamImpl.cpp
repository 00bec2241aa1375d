#include "SocketOutStreamImpl.h"

#include "QmXpl/IOException_t.h"
#include "Throw.h"

namespace QmSecSsl {

using QmSecCoreTrc::kLevelOperation;
using QmSecCoreTrc::kSslArea;

SocketOutStreamImpl::SocketOutStreamImpl(SslSocketImpl* socket) : EngineStreamBody(socket) {}

void SocketOutStreamImpl::Write(const char* buffer, int len) {
    QMSEC_BLOCK(kSslArea.proc, "SocketOutStreamImpl::Write()");
    if (!open_) QMSEC_THROW_MSG(kSslArea, QmXplIo::IOException_t, 152, );
    // The count only: the plaintext is what TLS keeps out of files that others read.
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "SocketOutStreamImpl: SSL: WriteNB(" << len << ")");
    if (len <= 0) return;
    int status = 0;
    if (engine_->SslOp(SslSocketImpl::eWrite, buffer, nullptr, len, status) == len) return;
    CloseAfterFailure("SocketOutStreamImpl: shutdown after a failed write: ");
    QMSEC_THROW_MSG(kSslArea, QmXplIo::EOFException_t, 153, );
}

void SocketOutStreamImpl::Flush() {
    QMSEC_BLOCK(kSslArea.proc, "SocketOutStreamImpl::Flush()");
    if (!open_) QMSEC_THROW_MSG(kSslArea, QmXplIo::IOException_t, 152, );
    if (engine_->SslSocketHandling() == 3) QMSEC_THROW_MSG(kSslArea, QmXplIo::IOException_t, 154, );
    engine_->FlushSocket();
    QMSEC_TRACE(kSslArea.operation, kLevelOperation, "SocketOutStreamImpl: SSL: Flushed");
}

void SocketOutStreamImpl::Close() {
    QMSEC_BLOCK(kSslArea.proc, "SocketOutStreamImpl::Close()");
    if (!open_) return;
    open_ = false;
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "SocketOutStreamImpl: SSL: Closing Outputstream");
    engine_->ShutdownOutput();
}

}  // namespace QmSecSsl
