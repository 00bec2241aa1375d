#include "QmXpl/ServerSocket_t.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "QmXpl/IOException_t.h"
#include "QmXpl/Message_t.h"
#include "QmXpl/SocketTimeoutException_t.h"
#include "QmXpl/UTF8_t.h"
#include "net/Net.h"
#include "net/SocketImpl.h"

namespace QmXplNet {

using QmXplMsg::CreateError_t;

class ServerSocketImpl_t : public QmXplRef::RefCounted_t {
  public:
    ServerSocketImpl_t(int fd, const InetAddress_t& address, int port)
        : fd_(fd), address_(address), port_(port) {}

    SocketImpl_t* Accept();
    void Close() { fd_.Close(); }
    bool IsClosed() const { return fd_.IsClosed(); }

    SocketFd fd_;
    InetAddress_t address_;
    int port_;
    std::atomic<int> timeoutMs_{0};
};

namespace {

// Opens, binds and listens; returns the descriptor or -1 with err set.
int Listen(int family, const sockaddr* sa, socklen_t len, int backlog, bool dualStack, int& err) {
    int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        err = errno;
        return -1;
    }
    int on = 1;
    int off = 0;
    // A restarted server must be able to listen again while old connections are in TIME_WAIT.
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        (dualStack && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0) ||
        ::bind(fd, sa, len) != 0 || ::listen(fd, backlog) != 0) {
        err = errno;
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

SocketImpl_t* ServerSocketImpl_t::Accept() {
    SocketFd::Use use(fd_, "ServerSocket_t::Accept");
    for (;;) {
        int timeout = timeoutMs_.load();
        if (timeout > 0 && !WaitReady(use.Fd(), POLLIN, timeout, "ServerSocket_t::Accept")) {
            throw SocketTimeoutException_t(
                CreateError_t(String_t("ServerSocket_t::Accept timed out after ") +
                              String_t(std::to_string(timeout)) + " ms"));
        }
        int fd = ::accept4(use.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) return new SocketImpl_t(fd);
        int err = errno;
        if (fd_.IsClosed()) ThrowIoError("ServerSocket_t::Accept", kSocketClosed);
        // A connection that was reset before it was taken, or a signal: wait for the next one.
        if (err == EINTR || err == ECONNABORTED || err == EPROTO) continue;
        ThrowErrno(err, "ServerSocket_t::Accept");
    }
}

ServerSocket_t::ServerSocket_t() noexcept = default;

ServerSocket_t::ServerSocket_t(int port, const String_t& bindAddress, int backlog) {
    if (port < 0 || port > 65535) {
        ThrowArgument("ServerSocket_t: port outside 0..65535");
    }
    if (backlog <= 0) backlog = 50;
    int fd = -1;
    int err = 0;
    std::string what;
    if (bindAddress.IsEmpty()) {
        // Every interface: one IPv6 socket that also takes IPv4 connections; a system without
        // IPv6 gets an IPv4 socket instead.
        sockaddr_in6 in6{};
        in6.sin6_family = AF_INET6;
        in6.sin6_addr = in6addr_any;
        in6.sin6_port = htons(static_cast<uint16_t>(port));
        fd = Listen(AF_INET6, reinterpret_cast<sockaddr*>(&in6), sizeof in6, backlog, true, err);
        if (fd < 0 && (err == EAFNOSUPPORT || err == EADDRNOTAVAIL || err == EPROTONOSUPPORT)) {
            sockaddr_in in{};
            in.sin_family = AF_INET;
            in.sin_addr.s_addr = htonl(INADDR_ANY);
            in.sin_port = htons(static_cast<uint16_t>(port));
            fd = Listen(AF_INET, reinterpret_cast<sockaddr*>(&in), sizeof in, backlog, false, err);
        }
        what = "ServerSocket_t: could not listen on port " + std::to_string(port);
    } else {
        for (const auto& a : InetAddress_t::GetAllByName(bindAddress)) {
            sockaddr_storage ss;
            socklen_t len = InetAddressAccess_t::ToSockaddr(a, port, ss);
            fd = Listen(ss.ss_family, reinterpret_cast<sockaddr*>(&ss), len, backlog, false, err);
            if (fd >= 0) break;
        }
        what = "ServerSocket_t: could not listen on '" + QmXplStr::UTF8_t(bindAddress).Str() +
               "' port " + std::to_string(port);
    }
    if (fd < 0) ThrowErrno(err, what);

    sockaddr_storage ss;
    socklen_t len = sizeof ss;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) {
        err = errno;
        ::close(fd);
        ThrowErrno(err, "ServerSocket_t: getsockname");
    }
    int bound = 0;
    InetAddress_t address =
        InetAddressAccess_t::FromSockaddr(reinterpret_cast<sockaddr*>(&ss), len, &bound);
    body_ = QmXplRef::Ref_t<ServerSocketImpl_t>(new ServerSocketImpl_t(fd, address, bound));
}

ServerSocket_t::ServerSocket_t(const ServerSocket_t&) = default;
ServerSocket_t& ServerSocket_t::operator=(const ServerSocket_t&) = default;
ServerSocket_t::~ServerSocket_t() = default;

ServerSocketImpl_t* ServerSocket_t::Impl() const {
    if (!body_) {
        throw QmXplMsg::IllegalStateError_t(QmXplMsg::CreateWarn_t(String_t("ServerSocket_t")));
    }
    return body_.Get();
}

Socket_t ServerSocket_t::Accept() const { return Socket_t(Impl()->Accept()); }

int ServerSocket_t::GetLocalPort() const { return Impl()->port_; }

const InetAddress_t& ServerSocket_t::GetInetAddress() const { return Impl()->address_; }

void ServerSocket_t::SetSoTimeout(int milliseconds) const {
    ServerSocketImpl_t* s = Impl();
    if (milliseconds < 0) {
        ThrowArgument("ServerSocket_t::SetSoTimeout: negative timeout");
    }
    if (s->IsClosed()) ThrowIoError("ServerSocket_t::SetSoTimeout", kSocketClosed);
    s->timeoutMs_.store(milliseconds);
}

int ServerSocket_t::GetSoTimeout() const {
    ServerSocketImpl_t* s = Impl();
    if (s->IsClosed()) ThrowIoError("ServerSocket_t::GetSoTimeout", kSocketClosed);
    return s->timeoutMs_.load();
}

void ServerSocket_t::Close() const { Impl()->Close(); }

bool ServerSocket_t::IsClosed() const { return Impl()->IsClosed(); }

}  // namespace QmXplNet
