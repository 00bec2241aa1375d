// The body of SslConnectionInputStream.
#pragma once

#include "EngineStreamBody.h"
#include "QmXpl/InputStream_t.h"
#include "SslConnectionImpl.h"
#include "Trace.h"

namespace QmSecSsl {

// Reads plaintext through the engine. Keeps the connection's body alive.
class SslConnectionInputStreamImpl
    : public detail::EngineStreamBody<QmXplIo::InputStreamImpl_t, SslConnectionImpl> {
  public:
    explicit SslConnectionInputStreamImpl(SslConnectionImpl* connection);
    // Bytes (1..len), or -1 after close_notify. EOFException_t 144 when TLS fails (the stream is
    // then closed), SecSslIOException 143 after Close, 116 when the transport ends first.
    int Read(char* buffer, int len) override;
    // Plaintext already decrypted; never waits for the network.
    int Available() override;
    void Close() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kSslArea.proc, "SslConnectionInputStreamImpl::DestroyThis()")
};

}  // namespace QmSecSsl
