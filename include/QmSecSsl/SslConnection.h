// A TLS session over any byte connection, in the server or the client role.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/BufferedInputStream_t.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/Connection_t.h"
#include "QmXpl/String_t.h"

namespace QmSecSsl {

class SslConnectionImpl;

// A connected TLS session over another Connection_t (a socket, a pipe, a tunnel). The roles are
// SslServerConnection and SslClientConnection; their constructors run the handshake, so a
// connection that exists is connected. GetInputStream/GetOutputStream (inherited) give streams of
// plaintext (SslConnectionInputStream, SslConnectionOutputStream); Close shuts TLS down and closes
// the transport. Copies share one session. Every member but the static ones throws
// IllegalStateError_t naming "SslConnection" on a handle without a body. One thread at a time.
class QMSEC_API SslConnection : public QmXplIo::Connection_t {
  public:
    // How strongly a session encrypts. 0 passed to a setter leaves the setting as it was.
    enum EncryptionLevel : int {
        eEncryptionNone = 1,    // "NONE": integrity only (both ends must choose it)
        eEncryptionExport = 2,  // "EXPORT": no export suites exist any more; the full list is used
        eEncryptionFull = 3,    // "FULL" (default)
        eEncryptionBest = 4,    // "BEST"
    };
    // Whether the peer must present a certificate that verifies.
    enum ClientVerificationMode : int {
        eAnonymous = 1,           // "ANONYMOUS"
        eRequireCertificate = 2,  // "REQUIRECERTIFICATE" (default)
    };
    // The body shared by the roles' Options.
    class OptionsImpl;

    // An empty handle.
    SslConnection() = default;
    ~SslConnection() override;
    SslConnection(const SslConnection&) = default;
    SslConnection& operator=(const SslConnection&) = default;

    // Whether the next bytes of in start a TLS or SSL client hello. Only peeks: the bytes stay in
    // the stream. False for fewer than three bytes and when peeking fails. Never throws.
    static bool IsSsl(QmXplIo::BufferedInputStream_t& in);
    // From now on the trust anchors of every new connection come from the PEM file fileName
    // instead of the key store. SecSslException 147 when the file holds no certificate, 148 when
    // OpenSSL refuses it; the previous trust then stays.
    static void SetTrustedCertificatesFilename(const QmXplArray::CharArray_t& fileName);

    // Common name of the own certificate in use, empty when none was presented.
    QmXplStr::String_t GetOwnId() const;
    // Common name of the peer's certificate, empty when the peer presented none.
    QmXplStr::String_t GetPeerId() const;
    // The protocol version the handshake agreed on, as OpenSSL names it ("TLSv1.3", "TLSv1.2").
    QmXplStr::String_t GetProtocol() const;
    // The cipher suite in use, by its standard (RFC) name ("TLS_AES_256_GCM_SHA384"); empty when
    // none was agreed.
    QmXplStr::String_t GetCipherSuite() const;
    // Whether the handshake resumed an earlier session instead of running a full one.
    bool IsSessionReused() const;
    // Asks the client for its certificate again (TLS 1.2: a new handshake; TLS 1.3: post-handshake
    // authentication). Completes during later reads and writes; never throws for the TLS side.
    void Renegotiate() const;
    // The body (library internal).
    SslConnectionImpl* operator->() const;

  protected:
    // Takes a reference on body.
    explicit SslConnection(SslConnectionImpl* body);
    SslConnectionImpl* Impl() const;
};

}  // namespace QmSecSsl
