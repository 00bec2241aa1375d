// TCP client sockets.
#pragma once

#include "QmXpl/Connection_t.h"
#include "QmXpl/Export.h"
#include "QmXpl/InetAddress_t.h"

namespace QmXplNet {

class SocketImpl_t;
class ServerSocket_t;

// A connected TCP socket (IPv4 or IPv6), a Connection_t. Copies share the socket; the last
// handle closes it. A default-constructed handle is null: every operation on it throws
// IllegalStateError_t naming "Socket_t". Operations on a closed socket throw IOException_t;
// failed system calls throw IOException_t carrying the system's error text.
//
// Streams: reads block until data arrives (or the read timeout expires: SocketTimeoutException_t)
// and return -1 once the peer has shut its output down; writes send everything or throw and
// never raise SIGPIPE. Closing the input stream shuts the socket's input down, closing the
// output stream shuts its output down (the peer reads the end of the stream); the socket itself
// stays open until Close(). Each call of GetInputStream/GetOutputStream gives a new stream on the
// same socket; the streams keep the socket alive.
//
// One thread uses a socket at a time, except that Close() may come from another thread to end
// a blocked read, which then throws IOException_t.
class QMXPL_API Socket_t : public QmXplIo::Connection_t {
  public:
    Socket_t() = default;
    // Resolves host and connects to port, trying each address of the name in turn until one
    // accepts. Throws IllegalArgumentError_t for an empty host or a port outside 1..65535,
    // UnknownHostException_t when the name does not resolve, IOException_t when no address
    // accepts (the message names the last failure).
    Socket_t(const String_t& host, int port);
    // The same, giving each address at most connectTimeoutMs milliseconds (0: no limit); when
    // the last address timed out, the exception is SocketTimeoutException_t.
    Socket_t(const String_t& host, int port, int connectTimeoutMs);
    // Connects to one address.
    Socket_t(const InetAddress_t& address, int port, int connectTimeoutMs = 0);
    ~Socket_t() override;
    Socket_t(const Socket_t&) = default;
    Socket_t& operator=(const Socket_t&) = default;

    // New stream handles on the socket (see above).
    QmXplIo::InputStream_t GetInputStream() const;
    QmXplIo::OutputStream_t GetOutputStream() const;
    // Closes the socket; later operations throw IOException_t. A second call does nothing.
    void Close() const;
    bool IsClosed() const;

    // The peer's address and port.
    const InetAddress_t& GetInetAddress() const;
    int GetPort() const;
    const InetAddress_t& GetRemoteAddress() const { return GetInetAddress(); }
    int GetRemotePort() const { return GetPort(); }
    // This end's address and port.
    const InetAddress_t& GetLocalAddress() const;
    int GetLocalPort() const;

    // Options. Setters change the socket; getters read the value back from the system, which
    // may round it (the system doubles buffer sizes, for example).
    void SetKeepAlive(bool on) const;
    bool GetKeepAlive() const;
    void SetTcpNoDelay(bool on) const;
    bool GetTcpNoDelay() const;
    // Sizes in bytes, > 0 (else IllegalArgumentError_t).
    void SetReceiveBufferSize(int bytes) const;
    int GetReceiveBufferSize() const;
    void SetSendBufferSize(int bytes) const;
    int GetSendBufferSize() const;
    // With on, Close() waits up to seconds (0..65535, larger values are cut) for unsent data and
    // seconds = 0 resets the connection; without, Close() returns at once and the system sends
    // the rest. GetSoLinger gives the seconds, or -1 when lingering is off.
    void SetSoLinger(bool on, int seconds) const;
    int GetSoLinger() const;
    // Read timeout in milliseconds (>= 0; 0 waits forever). A read that waits longer throws
    // SocketTimeoutException_t and may be tried again.
    void SetSoTimeout(int milliseconds) const;
    int GetSoTimeout() const;

    // Half-closes: after ShutdownInput reads return -1; after ShutdownOutput the peer reads the
    // end of the stream and writes here throw IOException_t. Repeating one does nothing.
    void ShutdownInput() const;
    void ShutdownOutput() const;
    bool IsInputShutdown() const;
    bool IsOutputShutdown() const;

  private:
    friend class ServerSocket_t;
    explicit Socket_t(SocketImpl_t* body);
    SocketImpl_t* Impl() const;
};

}  // namespace QmXplNet
