// Internal helpers shared by the socket classes.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <string>

#include "QmXpl/InetAddress_t.h"
#include "QmXpl/TraceObj_t.h"
#include "XplThrow.h"

namespace QmXplNet {

using QmXplMsg::detail::ThrowArgument;
using QmXplMsg::detail::ThrowErrno;
using QmXplMsg::detail::ThrowIoError;

// Trace area of the network classes: failures that are deliberately not reported to a caller
// (an error of close(2) in a destructor, the fallback of GetLocalHost) are traced here.
QmXplTrc::TraceObj_t& NetTrace();
// Traces text at level 2 (failures and fallbacks).
void TraceFailure(const std::string& text, const char* file, int line) noexcept;

// Conversions between InetAddress_t and the system's socket addresses.
struct InetAddressAccess_t {
    // The address of a socket address (IPv4-mapped IPv6 becomes IPv4); port receives the port
    // when not null. A family other than IPv4/IPv6 gives a null address.
    static InetAddress_t FromSockaddr(const sockaddr* sa, socklen_t len, int* port = nullptr);
    // The socket address for address and port; returns its length.
    static socklen_t ToSockaddr(const InetAddress_t& address, int port, sockaddr_storage& out);
    static void SetName(InetAddress_t& address, const String_t& name) { address.name_ = name; }
    static const String_t& GetName(const InetAddress_t& address) { return address.name_; }
};

// The local host for a given host name (GetLocalHost with the name of the machine); split out
// so that the fallback for a name that does not resolve can be exercised.
InetAddress_t LocalHostFor(const std::string& hostName);

// The first non-loopback address of an interface that is up (IPv4 preferred, then a global
// IPv6 address, then a link-local one); a null address when there is none.
InetAddress_t FirstInterfaceAddress();

// A socket descriptor shared by the operations of one socket. Operations hold a Use while they
// run; Close() may come from any thread: it marks the descriptor closed and, if operations are
// running, shuts the socket down so that they wake up, leaving the close(2) to the last of them.
// So a descriptor number is never released while a call may still use it.
class SocketFd {
  public:
    explicit SocketFd(int fd) noexcept : fd_(fd) {}
    ~SocketFd();
    SocketFd(const SocketFd&) = delete;
    SocketFd& operator=(const SocketFd&) = delete;

    // Marks the descriptor closed; returns false when it was already closed.
    bool Close() noexcept;
    bool IsClosed() const;

    class Use {
      public:
        // Throws IOException_t "<what>: Socket is closed" when the descriptor is closed.
        Use(SocketFd& owner, const char* what);
        ~Use();
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;
        int Fd() const noexcept { return fd_; }

      private:
        SocketFd& owner_;
        int fd_;
    };

  private:
    void CloseNow() noexcept;
    void Release() noexcept;
    // Bit 0: closed; the rest counts the uses in progress (kUser each).
    static constexpr unsigned kClosed = 1, kUser = 2;
    std::atomic<unsigned> state_{0};
    int fd_;
};

// The system's text for errno err.
std::string ErrorText(int err);

// What a call on a closed socket is told: IOException_t "<call>: Socket is closed".
constexpr const char* kSocketClosed = "Socket is closed";

// Waits until fd is ready for events (POLLIN or POLLOUT) for at most timeoutMs (<0: forever);
// restarts after signals with the remaining time. Returns false when the time ran out.
bool WaitReady(int fd, short events, int timeoutMs, const char* what);

}  // namespace QmXplNet
