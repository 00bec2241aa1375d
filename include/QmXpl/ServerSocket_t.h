// TCP listening sockets.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/InetAddress_t.h"
#include "QmXpl/RefCounted_t.h"
#include "QmXpl/Socket_t.h"

namespace QmXplNet {

class ServerSocketImpl_t;

// A listening TCP socket. Copies share it; the last handle closes it. A default-constructed
// handle is null: every operation on it throws IllegalStateError_t naming "ServerSocket_t".
// Accept may block in one thread while another calls Close(); the blocked Accept then throws
// IOException_t.
class QMXPL_API ServerSocket_t {
  public:
    ServerSocket_t() noexcept;
    // Listens on port (0 picks a free one, see GetLocalPort) of bindAddress (a name or numeric
    // address; null or empty: every interface, IPv4 and IPv6 at once when the system has IPv6).
    // backlog <= 0 takes 50. The address may be reused at once after an earlier listener ended.
    // Throws IllegalArgumentError_t for a port outside 0..65535, UnknownHostException_t for a
    // bind address that does not resolve, IOException_t when the system refuses (port in use).
    explicit ServerSocket_t(int port, const String_t& bindAddress = String_t(), int backlog = 50);
    ServerSocket_t(const ServerSocket_t&);
    ServerSocket_t& operator=(const ServerSocket_t&);
    ~ServerSocket_t();

    // Waits for the next connection (at most the accept timeout, else SocketTimeoutException_t)
    // and returns it as a connected socket.
    Socket_t Accept() const;
    // The port it listens on.
    int GetLocalPort() const;
    // The address it listens on (the wildcard address for every interface).
    const InetAddress_t& GetInetAddress() const;
    // Accept timeout in milliseconds (>= 0; 0 waits forever).
    void SetSoTimeout(int milliseconds) const;
    int GetSoTimeout() const;
    // Stops listening; a second call does nothing.
    void Close() const;
    bool IsClosed() const;

    bool IsNull() const noexcept { return !body_; }

  private:
    ServerSocketImpl_t* Impl() const;
    QmXplRef::Ref_t<ServerSocketImpl_t> body_;
};

}  // namespace QmXplNet
