// TLS over a connected TCP socket, configured by SslSocketConfig.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Object.h"
#include "QmSecSsl/SslSocketConfig.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/Socket_t.h"

namespace QmSecSsl {

class SslSocketImpl;

// A TLS session over a connected Socket_t whose sessions come from the default socket
// configuration (SslSocketConfig::GetDefaultConfig) with this socket's own configuration
// applied over it. The constructors run the handshake, so a socket that exists is connected.
// The socket's accessors and options are offered unchanged; the streams carry plaintext. Copies
// share one session. Every member but the constructors and IsNull throws IllegalStateError_t
// ("SslSocket") on a handle without a body. One thread at a time.
//
// Handshake failures (all IOException_t): 155 the peer presented no certificate, 156 its
// certificate did not verify, 114 any other failure (OpenSSL's text), 158 the socket ended
// first; RuntimeException_t when the session cannot be made (a certificate or key file the
// default configuration or this socket's names). Exceptions of the socket pass through (a read
// timeout: SocketTimeoutException_t). The socket is not closed on failure.
class QMSEC_API SslSocket : public QmSecCore::Object {
  public:
    // An empty handle.
    SslSocket() noexcept = default;
    // The client role with nothing overridden.
    explicit SslSocket(QmXplNet::Socket_t socket);
    // The given role with nothing overridden.
    SslSocket(QmXplNet::Socket_t socket, bool server);
    // The given role with config applied over the default configuration.
    SslSocket(QmXplNet::Socket_t socket, bool server, const SslSocketConfig& config);
    SslSocket(const SslSocket&) = default;
    SslSocket& operator=(const SslSocket&) = default;
    ~SslSocket() override;

    // The body (library internal).
    SslSocketImpl* operator->() const;

    // A new stream each call. Reads give plaintext, -1 after the peer's close_notify;
    // IOException_t 150 after the stream was closed, EOFException_t 151 when TLS fails (the
    // stream then closes). Closing it shuts the socket's input down.
    QmXplIo::InputStream_t GetInputStream();
    // Writes send all bytes or throw: IOException_t 152 after the stream was closed,
    // EOFException_t 153 when TLS fails (the stream then closes), IOException_t 154 when
    // flushing fails. Closing it is ShutdownOutput.
    QmXplIo::OutputStream_t GetOutputStream();
    // The common name of the own certificate in use, and of the peer's certificate: UTF-8
    // followed by a zero byte; empty when there is none.
    QmXplArray::CharArray_t GetOwnId();
    QmXplArray::CharArray_t GetPeerId();

    const QmXplNet::InetAddress_t& GetInetAddress() const;
    const QmXplNet::InetAddress_t& GetLocalAddress() const;
    int GetPort() const;
    int GetLocalPort() const;
    bool GetKeepAlive() const;
    bool GetTcpNoDelay() const;
    int GetReceiveBufferSize() const;
    int GetSendBufferSize() const;
    int GetSoLinger() const;
    int GetSoTimeout() const;
    void SetKeepAlive(bool on) const;
    void SetTcpNoDelay(bool on) const;
    void SetReceiveBufferSize(int bytes) const;
    void SetSendBufferSize(int bytes) const;
    void SetSoTimeout(int milliseconds) const;
    void SetSoLinger(bool on, int seconds) const;

    // The socket's input is shut down; the session stays.
    void ShutdownInput() const;
    // Sends close_notify (the peer reads the end of the stream), then shuts the socket's output
    // down. A second call only repeats the socket's part. IOException_t 118 when TLS fails.
    void ShutdownOutput() const;
    // Closes the socket's streams and the socket without close_notify: the peer sees the session
    // cut, not ended.
    void Close();

  private:
    SslSocketImpl* Impl() const;
};

}  // namespace QmSecSsl
