// The body of SslConnectionOutputStream.
#pragma once

#include "EngineStreamBody.h"
#include "QmXpl/OutputStream_t.h"
#include "SslConnectionImpl.h"
#include "Trace.h"

namespace QmSecSsl {

// Writes plaintext through the engine. Keeps the connection's body alive.
class SslConnectionOutputStreamImpl
    : public detail::EngineStreamBody<QmXplIo::OutputStreamImpl_t, SslConnectionImpl> {
  public:
    explicit SslConnectionOutputStreamImpl(SslConnectionImpl* connection);
    // All len bytes as records, or EOFException_t 141 (the stream is then closed);
    // SecSslIOException 140 after Close.
    void Write(const char* buffer, int len) override;
    // Pending records to the transport, then the transport's own flush. 140 after Close, 142
    // when the transport's input ended during a pending handshake step.
    void Flush() override;
    // close_notify (a client's session is kept for resumption); a second Close does nothing.
    void Close() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kSslArea.proc, "SslConnectionOutputStreamImpl::DestroyThis()")
};

}  // namespace QmSecSsl
