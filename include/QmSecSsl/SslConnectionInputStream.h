// The plaintext input stream of a TLS connection.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/InputStream_t.h"

namespace QmSecSsl {

class SslConnectionInputStreamImpl;

// Plaintext from the peer of a TLS connection. Read: bytes (a record may arrive in parts), or -1
// after the peer ended the session with close_notify. A transport that ends without it is an
// error (EOFException_t 144 or SecSslIOException 116), never an end of stream, so a cut stream
// cannot pass for a complete one. SecSslIOException 143 after Close. Close only stops reading.
// The stream keeps its connection alive. One per call of the connection's GetInputStream.
class QMSEC_API SslConnectionInputStream : public QmXplIo::InputStream_t {
  public:
    SslConnectionInputStream() = default;
    // Wraps body (library internal).
    explicit SslConnectionInputStream(SslConnectionInputStreamImpl* body);
    ~SslConnectionInputStream() override;
};

}  // namespace QmSecSsl
