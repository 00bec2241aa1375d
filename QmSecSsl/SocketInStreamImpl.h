// The input stream body of SslSocket.
#pragma once

#include "EngineStreamBody.h"
#include "QmXpl/InputStream_t.h"
#include "SslSocketImpl.h"

namespace QmSecSsl {

// Reads plaintext through the socket's engine. Keeps the socket's body alive.
class SocketInStreamImpl
    : public detail::EngineStreamBody<QmXplIo::InputStreamImpl_t, SslSocketImpl> {
  public:
    explicit SocketInStreamImpl(SslSocketImpl* socket);
    // Bytes (1..len), 0 for len <= 0, or -1 after close_notify. IOException_t 150 after Close,
    // EOFException_t 151 when TLS fails (the stream then closes).
    int Read(char* buffer, int len) override;
    // Plaintext already decrypted; never waits for the network.
    int Available() override;
    // Shuts the socket's input down; a second call does nothing.
    void Close() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kSslArea.proc, "SocketInStreamImpl::DestroyThis()")
};

}  // namespace QmSecSsl
