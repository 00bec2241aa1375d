// The TLS engine behind SslConnection: an OpenSSL session over a BIO pair, pumped to a transport.
#pragma once

#include "OpenSsl.h"
#include "OptionsImpl.h"
#include "QmSecSsl/SslConnection.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/Connection_t.h"
#include "SslBioPump.h"
#include "SslContext.h"
#include "Trace.h"

namespace QmSecSsl {

// Runs TLS over any Connection_t through an SslBioPump. The handshake runs in the constructor.
// One thread at a time.
class SslConnectionImpl : public QmXplIo::ConnectionImpl_t {
  public:
    enum eOp : int { eConnect = 0, eAccept = 1, eRead = 2, eWrite = 3, eShutdown = 4 };

    // Server role (sessionKey null) or client role; runs the handshake. Throws as documented on
    // SslServerConnection and SslClientConnection.
    SslConnectionImpl(const QmXplIo::Connection_t& transport,
                      const SslConnection::OptionsImpl& options, bool server,
                      const QmXplArray::CharArray_t* sessionKey);
    ~SslConnectionImpl() override;

    QmXplIo::InputStream_t GetInputStream() override;
    QmXplIo::OutputStream_t GetOutputStream() override;
    // Shuts TLS down (close_notify), then closes the transport's streams and the transport.
    void Close() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kSslArea.proc, "SslConnectionImpl::DestroyThis()")

    // Runs op until OpenSSL completes it, pumping records as it asks. status: 0 done, 3 failed
    // (OpenSSL's own failure; the result is then returned at once). IllegalArgumentError_t 115
    // for an unknown op; SecSslIOException 116 when the transport ends while OpenSSL waits.
    int SslOp(eOp op, const char* writeBuffer, char* readBuffer, int length, int& status);
    // Moves pending records to the transport, then feeds OpenSSL what it asked for. Returns 0, or
    // 3 when the transport's input ended. SecSslIOException 117 when the pair refuses bytes.
    int SslConnectionHandling(bool wantRead = false);
    // close_notify; a client's session goes to the session cache first. SecSslIOException 118.
    void ShutdownOutput();
    // SSL_get_error of the last OpenSSL call of SslOp: SSL_ERROR_ZERO_RETURN after the peer's
    // close_notify, which alone is a clean end of the stream.
    int LastError() const noexcept { return pump_.LastError(); }
    // Plaintext already decrypted and waiting in OpenSSL.
    int Pending() const;
    // Flushes the transport's output stream.
    void FlushTransport();

    QmXplStr::String_t GetOwnId() const;
    QmXplStr::String_t GetPeerId() const;
    void Renegotiate();
    static bool IsSsl(QmXplIo::BufferedInputStream_t& in);

    // The OpenSSL session (for tests and the tool: version, cipher, resumption).
    SSL* GetSsl() const noexcept { return pump_.Ssl(); }

  private:
    void SslConnect();
    QmSecCore::ossl::Ssl CreateSslSession();
    void LoadCertAndPrivKeyFromKeyStore(SSL* ssl);
    void LoadCertAndPrivKeyFromFile(SSL* ssl);
    void AddSessionToCache();
    // TLS 1.3 session tickets that already arrived are taken in without blocking, so that a
    // client that only wrote still leaves a session to resume.
    void TakeArrivedTickets();
    static QmXplStr::String_t ExtractId(X509* certificate);

    SslBioPump pump_{"SslConnectionImpl::SslConnectionHandling()"};
    QmXplArray::CharArray_t sessionKey_;
    SslContext::SessionTarget sessionTarget_;
    QmXplIo::Connection_t transport_;
    bool server_;
    bool shutDown_ = false;
    bool closed_ = false;
    SslConnection::OptionsImpl options_;
};

}  // namespace QmSecSsl
