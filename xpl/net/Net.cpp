#include "net/Net.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "QmXpl/IOException_t.h"
#include "QmXpl/Message_t.h"

namespace QmXplNet {

namespace {
QmXplTrc::TraceWrapper_t netTrace("qmxpl.net", 8);
}  // namespace

QmXplTrc::TraceObj_t& NetTrace() { return netTrace; }

void TraceFailure(const std::string& text, const char* file, int line) noexcept {
    QmXplTrc::TraceObj_t& t = netTrace;
    if (t.IsOn(2)) t.DoTrace(2, text.c_str(), file, line);
}

std::string ErrorText(int err) {
    char buf[256];
    return strerror_r(err, buf, sizeof buf);  // GNU variant returns the text
}

// --- SocketFd ---------------------------------------------------------------------------------

SocketFd::~SocketFd() {
    // The last handle is gone, so nothing can be using the descriptor any more.
    if (fd_ >= 0) CloseNow();
}

void SocketFd::CloseNow() noexcept {
    // close(2) releases the descriptor even when it reports an error (EINTR included), so it
    // is never repeated; the error can only be traced, as nobody is left to receive it.
    if (::close(fd_) != 0)
        TraceFailure("close of a socket failed: " + ErrorText(errno), __FILE__, __LINE__);
    fd_ = -1;
}

bool SocketFd::Close() noexcept {
    // Closing takes a use of its own, so the descriptor stays valid for the shutdown below.
    unsigned state = state_.load(std::memory_order_acquire);
    do {
        if (state & kClosed) return false;
    } while (!state_.compare_exchange_weak(state, (state + kUser) | kClosed,
                                           std::memory_order_acq_rel, std::memory_order_acquire));
    if (state >= kUser) {
        // Wake the calls that block on the socket; the last of them closes the descriptor.
        // A plain close would keep them blocked, and the number could be reused under them.
        if (::shutdown(fd_, SHUT_RDWR) != 0 && errno != ENOTCONN)
            TraceFailure("shutdown of a socket in use failed: " + ErrorText(errno), __FILE__,
                         __LINE__);
    }
    Release();
    return true;
}

bool SocketFd::IsClosed() const { return state_.load(std::memory_order_acquire) & kClosed; }

void SocketFd::Release() noexcept {
    // Whoever ends the last use of a closed descriptor releases it, exactly once.
    if (state_.fetch_sub(kUser, std::memory_order_acq_rel) == (kUser | kClosed)) CloseNow();
}

// Every socket call passes here twice: a counter, not a lock, keeps that cheap.
SocketFd::Use::Use(SocketFd& owner, const char* what) : owner_(owner) {
    unsigned state = owner_.state_.load(std::memory_order_acquire);
    do {
        if (state & kClosed) ThrowIoError(what, kSocketClosed);
    } while (!owner_.state_.compare_exchange_weak(state, state + kUser, std::memory_order_acq_rel,
                                                  std::memory_order_acquire));
    fd_ = owner_.fd_;
}

SocketFd::Use::~Use() { owner_.Release(); }

// --- waiting ----------------------------------------------------------------------------------

bool WaitReady(int fd, short events, int timeoutMs, const char* what) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int wait = timeoutMs;
    for (;;) {
        pollfd p{fd, events, 0};
        int rc = ::poll(&p, 1, wait);
        if (rc > 0) return true;  // ready, or an error/hang-up that the next call reports
        if (rc == 0) return false;
        if (errno != EINTR) ThrowErrno(errno, what);
        if (timeoutMs >= 0) {
            // Rounded up, so that a wait never ends before its time.
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
    }
}

}  // namespace QmXplNet
