// The output stream body of SslSocket.
#pragma once

#include "EngineStreamBody.h"
#include "QmXpl/OutputStream_t.h"
#include "SslSocketImpl.h"

namespace QmSecSsl {

// Writes plaintext through the socket's engine. Keeps the socket's body alive.
class SocketOutStreamImpl
    : public detail::EngineStreamBody<QmXplIo::OutputStreamImpl_t, SslSocketImpl> {
  public:
    explicit SocketOutStreamImpl(SslSocketImpl* socket);
    // All len bytes or an exception: IOException_t 152 after Close, EOFException_t 153 when TLS
    // fails (the stream then closes).
    void Write(const char* buffer, int len) override;
    // IOException_t 152 after Close, 154 when the socket's input ended.
    void Flush() override;
    // The socket's ShutdownOutput; a second call does nothing.
    void Close() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kSslArea.proc, "SocketOutStreamImpl::DestroyThis()")
};

}  // namespace QmSecSsl
