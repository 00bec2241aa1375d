#include "SslConnectionOutputStreamImpl.h"

#include "QmSecSsl/SecSslIOException.h"
#include "QmXpl/IOException_t.h"
#include "Throw.h"

namespace QmSecSsl {

using QmSecCoreTrc::kLevelOperation;
using QmSecCoreTrc::kSslArea;

SslConnectionOutputStreamImpl::SslConnectionOutputStreamImpl(SslConnectionImpl* connection)
    : EngineStreamBody(connection) {}

void SslConnectionOutputStreamImpl::Write(const char* buffer, int len) {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionOutputStreamImpl::Write()");
    if (!open_) QMSEC_THROW_MSG(kSslArea, SecSslIOException, 140, );
    int status = 0;
    if (engine_->SslOp(SslConnectionImpl::eWrite, buffer, nullptr, len, status) == len) return;
    CloseAfterFailure("SslConnectionOutputStreamImpl: shutdown after a failed write: ");
    QMSEC_THROW_MSG(kSslArea, QmXplIo::EOFException_t, 141, );
}

void SslConnectionOutputStreamImpl::Flush() {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionOutputStreamImpl::Flush()");
    if (!open_) QMSEC_THROW_MSG(kSslArea, SecSslIOException, 140, );
    if (engine_->SslConnectionHandling() == 3) QMSEC_THROW_MSG(kSslArea, SecSslIOException, 142, );
    engine_->FlushTransport();
}

void SslConnectionOutputStreamImpl::Close() {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionOutputStreamImpl::Close()");
    if (!open_) return;
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "SslConnectionOutputStreamImpl: SSL: Closing Outputstream");
    open_ = false;
    engine_->ShutdownOutput();
}

}  // namespace QmSecSsl
