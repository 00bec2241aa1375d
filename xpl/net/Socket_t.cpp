#include "QmXpl/Socket_t.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "QmXpl/IOException_t.h"
#include "QmXpl/Message_t.h"
#include "QmXpl/SocketTimeoutException_t.h"
#include "QmXpl/UTF8_t.h"
#include "net/SocketImpl.h"

namespace QmXplNet {

using QmXplIo::InputStream_t;
using QmXplIo::OutputStream_t;
using QmXplMsg::CreateError_t;
using QmXplMsg::IllegalArgumentError_t;

namespace {

// --- streams ----------------------------------------------------------------------------------

// The streams hold the socket body, so a stream outlives the handles it came from.
class SocketInputStreamImpl_t : public QmXplIo::InputStreamImpl_t {
  public:
    explicit SocketInputStreamImpl_t(SocketImpl_t* socket) : socket_(socket) {}
    int Read(char* buf, int len) override { return socket_->Read(buf, len); }
    int Available() override { return socket_->Available(); }
    // Shuts the input down; on a socket that is closed already there is nothing left to do.
    void Close() override {
        if (!socket_->IsClosed()) socket_->ShutdownInput();
    }

  private:
    QmXplRef::Ref_t<SocketImpl_t> socket_;
};

class SocketOutputStreamImpl_t : public QmXplIo::OutputStreamImpl_t {
  public:
    explicit SocketOutputStreamImpl_t(SocketImpl_t* socket) : socket_(socket) {}
    void Write(const char* buf, int len) override { socket_->Write(buf, len); }
    void Close() override {
        if (!socket_->IsClosed()) socket_->ShutdownOutput();
    }

  private:
    QmXplRef::Ref_t<SocketImpl_t> socket_;
};

// --- connecting -------------------------------------------------------------------------------

// A connected descriptor for address:port, or -1 with err set (ETIMEDOUT when the time ran out).
int ConnectOne(const InetAddress_t& address, int port, int timeoutMs, int& err) {
    sockaddr_storage ss;
    socklen_t len = InetAddressAccess_t::ToSockaddr(address, port, ss);
    // A bounded wait needs a non-blocking connect; an unbounded one blocks in connect itself,
    // which spares the poll and the mode switches of every connection.
    const bool bounded = timeoutMs > 0;
    int fd = ::socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC | (bounded ? SOCK_NONBLOCK : 0),
                      IPPROTO_TCP);
    if (fd < 0) {
        err = errno;
        return -1;
    }
    // Still in progress (bounded), or interrupted by a signal (the kernel goes on making the
    // connection): wait for the outcome and ask it, so that no connection is left half made.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&ss), len) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            err = errno;
            ::close(fd);
            return -1;
        }
        try {
            if (!WaitReady(fd, POLLOUT, bounded ? timeoutMs : -1, "connect")) {
                err = ETIMEDOUT;
                ::close(fd);
                return -1;
            }
        } catch (...) {
            ::close(fd);
            throw;
        }
        int soError = 0;
        socklen_t slen = sizeof soError;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &slen) != 0) soError = errno;
        if (soError != 0) {
            err = soError;
            ::close(fd);
            return -1;
        }
    }
    if (!bounded) return fd;
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        err = errno;
        ::close(fd);
        return -1;
    }
    return fd;
}

SocketImpl_t* Connect(const std::vector<InetAddress_t>& addresses, const String_t& host, int port,
                      int timeoutMs) {
    if (port < 1 || port > 65535) ThrowArgument("Socket_t: port outside 1..65535");
    if (timeoutMs < 0) ThrowArgument("Socket_t: negative connect timeout");
    int err = 0;
    const InetAddress_t* last = nullptr;
    for (const auto& a : addresses) {
        last = &a;
        int fd = ConnectOne(a, port, timeoutMs, err);
        if (fd >= 0) {
            auto* body = new SocketImpl_t(fd);
            if (!InetAddressAccess_t::GetName(a).IsEmpty())
                body->SetRemoteName(InetAddressAccess_t::GetName(a));
            return body;
        }
    }
    String_t what =
        String_t("Could not connect to '") + host + "' port " + String_t(std::to_string(port));
    if (last) what = what + " (address " + last->GetHostAddress() + ")";
    if (err == ETIMEDOUT) throw SocketTimeoutException_t(QmXplMsg::CreateSystemError_t(err, what));
    ThrowErrno(err, QmXplStr::UTF8_t(what).Str());
}

}  // namespace

// --- SocketImpl_t -----------------------------------------------------------------------------

SocketImpl_t::SocketImpl_t(int fd) : fd_(fd) {
    sockaddr_storage ss;
    socklen_t len = sizeof ss;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) == 0)
        local_ =
            InetAddressAccess_t::FromSockaddr(reinterpret_cast<sockaddr*>(&ss), len, &localPort_);
    len = sizeof ss;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&ss), &len) == 0)
        remote_ =
            InetAddressAccess_t::FromSockaddr(reinterpret_cast<sockaddr*>(&ss), len, &remotePort_);
}

SocketImpl_t::~SocketImpl_t() = default;

InputStream_t SocketImpl_t::GetInputStream() {
    if (IsClosed()) ThrowIoError("Socket_t::GetInputStream", kSocketClosed);
    return InputStream_t(new SocketInputStreamImpl_t(this));
}

OutputStream_t SocketImpl_t::GetOutputStream() {
    if (IsClosed()) ThrowIoError("Socket_t::GetOutputStream", kSocketClosed);
    return OutputStream_t(new SocketOutputStreamImpl_t(this));
}

void SocketImpl_t::Close() { fd_.Close(); }

int SocketImpl_t::Read(char* buf, int len) {
    SocketFd::Use use(fd_, "Socket_t read");
    if (inputShut_.load()) return -1;
    int timeout = timeoutMs_.load();
    if (timeout > 0 && !WaitReady(use.Fd(), POLLIN, timeout, "Socket_t read")) {
        throw SocketTimeoutException_t(CreateError_t(String_t("Socket_t read timed out after ") +
                                                     String_t(std::to_string(timeout)) + " ms"));
    }
    for (;;) {
        ssize_t n = ::recv(use.Fd(), buf, static_cast<size_t>(len), 0);
        if (n > 0) return static_cast<int>(n);
        int err = errno;
        // A Close() from another thread wakes the read through a shutdown; report the close,
        // not an end of stream that the peer never sent.
        if (fd_.IsClosed()) ThrowIoError("Socket_t read", kSocketClosed);
        if (n == 0) return -1;
        if (err != EINTR) ThrowErrno(err, "Socket_t read");
    }
}

void SocketImpl_t::Write(const char* buf, int len) {
    SocketFd::Use use(fd_, "Socket_t write");
    if (outputShut_.load()) {
        throw QmXplIo::IOException_t(
            CreateError_t(String_t("Socket_t write: the output is shut down")));
    }
    while (len > 0) {
        // MSG_NOSIGNAL: a peer that went away is an error to report, not a reason to end the
        // process with SIGPIPE.
        ssize_t n = ::send(use.Fd(), buf, static_cast<size_t>(len), MSG_NOSIGNAL);
        if (n < 0) {
            int err = errno;
            if (fd_.IsClosed()) ThrowIoError("Socket_t write", kSocketClosed);
            if (err == EINTR) continue;
            ThrowErrno(err, "Socket_t write");
        }
        buf += n;
        len -= static_cast<int>(n);
    }
}

int SocketImpl_t::Available() {
    SocketFd::Use use(fd_, "Socket_t available");
    if (inputShut_.load()) return 0;
    int n = 0;
    if (::ioctl(use.Fd(), FIONREAD, &n) != 0) ThrowErrno(errno, "Socket_t available");
    return n;
}

void SocketImpl_t::ShutdownInput() {
    SocketFd::Use use(fd_, "Socket_t::ShutdownInput");
    if (inputShut_.exchange(true)) return;
    // ENOTCONN: the connection is already gone, so the input is down as asked.
    if (::shutdown(use.Fd(), SHUT_RD) != 0 && errno != ENOTCONN) {
        int err = errno;
        inputShut_.store(false);
        ThrowErrno(err, "Socket_t::ShutdownInput");
    }
}

void SocketImpl_t::ShutdownOutput() {
    SocketFd::Use use(fd_, "Socket_t::ShutdownOutput");
    if (outputShut_.exchange(true)) return;
    if (::shutdown(use.Fd(), SHUT_WR) != 0 && errno != ENOTCONN) {
        int err = errno;
        outputShut_.store(false);
        ThrowErrno(err, "Socket_t::ShutdownOutput");
    }
}

void SocketImpl_t::SetIntOption(int level, int name, int value, const char* what) {
    SocketFd::Use use(fd_, what);
    if (::setsockopt(use.Fd(), level, name, &value, sizeof value) != 0) ThrowErrno(errno, what);
}

int SocketImpl_t::GetIntOption(int level, int name, const char* what) {
    SocketFd::Use use(fd_, what);
    int value = 0;
    socklen_t len = sizeof value;
    if (::getsockopt(use.Fd(), level, name, &value, &len) != 0) ThrowErrno(errno, what);
    return value;
}

void SocketImpl_t::SetSoLinger(bool on, int seconds) {
    SocketFd::Use use(fd_, "Socket_t::SetSoLinger");
    linger l{};
    l.l_onoff = on ? 1 : 0;
    l.l_linger = on ? (seconds > 65535 ? 65535 : seconds) : 0;
    if (::setsockopt(use.Fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0)
        ThrowErrno(errno, "Socket_t::SetSoLinger");
}

int SocketImpl_t::GetSoLinger() {
    SocketFd::Use use(fd_, "Socket_t::GetSoLinger");
    linger l{};
    socklen_t len = sizeof l;
    if (::getsockopt(use.Fd(), SOL_SOCKET, SO_LINGER, &l, &len) != 0)
        ThrowErrno(errno, "Socket_t::GetSoLinger");
    return l.l_onoff ? l.l_linger : -1;
}

// --- Socket_t ---------------------------------------------------------------------------------

Socket_t::Socket_t(const String_t& host, int port) : Socket_t(host, port, 0) {}

Socket_t::Socket_t(const String_t& host, int port, int connectTimeoutMs) {
    if (host.IsEmpty()) ThrowArgument("Socket_t: empty host name");
    if (port < 1 || port > 65535) ThrowArgument("Socket_t: port outside 1..65535");
    body_ = QmXplRef::Ref_t<QmXplIo::ConnectionImpl_t>(
        Connect(InetAddress_t::GetAllByName(host), host, port, connectTimeoutMs));
}

Socket_t::Socket_t(const InetAddress_t& address, int port, int connectTimeoutMs) {
    if (address.IsNull()) ThrowArgument("Socket_t: null address");
    body_ = QmXplRef::Ref_t<QmXplIo::ConnectionImpl_t>(
        Connect({address}, address.GetHostAddress(), port, connectTimeoutMs));
}

Socket_t::Socket_t(SocketImpl_t* body) : Connection_t(body) {}

Socket_t::~Socket_t() = default;

SocketImpl_t* Socket_t::Impl() const { return static_cast<SocketImpl_t*>(Body("Socket_t")); }

InputStream_t Socket_t::GetInputStream() const { return Impl()->GetInputStream(); }
OutputStream_t Socket_t::GetOutputStream() const { return Impl()->GetOutputStream(); }
void Socket_t::Close() const { Impl()->Close(); }
bool Socket_t::IsClosed() const { return Impl()->IsClosed(); }

const InetAddress_t& Socket_t::GetInetAddress() const { return Impl()->RemoteAddress(); }
int Socket_t::GetPort() const { return Impl()->RemotePort(); }
const InetAddress_t& Socket_t::GetLocalAddress() const { return Impl()->LocalAddress(); }
int Socket_t::GetLocalPort() const { return Impl()->LocalPort(); }

void Socket_t::SetKeepAlive(bool on) const {
    Impl()->SetIntOption(SOL_SOCKET, SO_KEEPALIVE, on ? 1 : 0, "Socket_t::SetKeepAlive");
}
bool Socket_t::GetKeepAlive() const {
    return Impl()->GetIntOption(SOL_SOCKET, SO_KEEPALIVE, "Socket_t::GetKeepAlive") != 0;
}
void Socket_t::SetTcpNoDelay(bool on) const {
    Impl()->SetIntOption(IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0, "Socket_t::SetTcpNoDelay");
}
bool Socket_t::GetTcpNoDelay() const {
    return Impl()->GetIntOption(IPPROTO_TCP, TCP_NODELAY, "Socket_t::GetTcpNoDelay") != 0;
}
void Socket_t::SetReceiveBufferSize(int bytes) const {
    SocketImpl_t* s = Impl();
    if (bytes <= 0) ThrowArgument("Socket_t::SetReceiveBufferSize: size must be positive");
    s->SetIntOption(SOL_SOCKET, SO_RCVBUF, bytes, "Socket_t::SetReceiveBufferSize");
}
int Socket_t::GetReceiveBufferSize() const {
    return Impl()->GetIntOption(SOL_SOCKET, SO_RCVBUF, "Socket_t::GetReceiveBufferSize");
}
void Socket_t::SetSendBufferSize(int bytes) const {
    SocketImpl_t* s = Impl();
    if (bytes <= 0) ThrowArgument("Socket_t::SetSendBufferSize: size must be positive");
    s->SetIntOption(SOL_SOCKET, SO_SNDBUF, bytes, "Socket_t::SetSendBufferSize");
}
int Socket_t::GetSendBufferSize() const {
    return Impl()->GetIntOption(SOL_SOCKET, SO_SNDBUF, "Socket_t::GetSendBufferSize");
}
void Socket_t::SetSoLinger(bool on, int seconds) const {
    SocketImpl_t* s = Impl();
    if (on && seconds < 0) ThrowArgument("Socket_t::SetSoLinger: negative time");
    s->SetSoLinger(on, seconds);
}
int Socket_t::GetSoLinger() const { return Impl()->GetSoLinger(); }
void Socket_t::SetSoTimeout(int milliseconds) const {
    SocketImpl_t* s = Impl();
    if (milliseconds < 0) ThrowArgument("Socket_t::SetSoTimeout: negative timeout");
    if (s->IsClosed()) ThrowIoError("Socket_t::SetSoTimeout", kSocketClosed);
    s->SetSoTimeout(milliseconds);
}
int Socket_t::GetSoTimeout() const {
    SocketImpl_t* s = Impl();
    if (s->IsClosed()) ThrowIoError("Socket_t::GetSoTimeout", kSocketClosed);
    return s->GetSoTimeout();
}

void Socket_t::ShutdownInput() const { Impl()->ShutdownInput(); }
void Socket_t::ShutdownOutput() const { Impl()->ShutdownOutput(); }
bool Socket_t::IsInputShutdown() const { return Impl()->IsInputShutdown(); }
bool Socket_t::IsOutputShutdown() const { return Impl()->IsOutputShutdown(); }

}  // namespace QmXplNet
