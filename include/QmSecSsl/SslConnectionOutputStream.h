// The plaintext output stream of a TLS connection.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/OutputStream_t.h"

namespace QmSecSsl {

class SslConnectionOutputStreamImpl;

// Plaintext to the peer of a TLS connection. Write sends all bytes as records or throws
// EOFException_t 141; Flush pushes pending records (SecSslIOException 142 when the transport
// fails); Close sends close_notify (and keeps a client's session for resumption); a second Close
// does nothing; Write or Flush after it: SecSslIOException 140.
// The stream keeps its connection alive. One per call of the connection's GetOutputStream.
class QMSEC_API SslConnectionOutputStream : public QmXplIo::OutputStream_t {
  public:
    SslConnectionOutputStream() = default;
    // Wraps body (library internal).
    explicit SslConnectionOutputStream(SslConnectionOutputStreamImpl* body);
    ~SslConnectionOutputStream() override;
};

}  // namespace QmSecSsl
