// Body of Socket_t (internal).
#pragma once

#include <atomic>

#include "QmXpl/Connection_t.h"
#include "QmXpl/InetAddress_t.h"
#include "net/Net.h"

namespace QmXplNet {

// A connected TCP socket. Takes ownership of a connected descriptor (blocking, close-on-exec)
// and records both ends' addresses at construction.
class SocketImpl_t : public QmXplIo::ConnectionImpl_t {
  public:
    explicit SocketImpl_t(int fd);
    ~SocketImpl_t() override;

    QmXplIo::InputStream_t GetInputStream() override;
    QmXplIo::OutputStream_t GetOutputStream() override;
    void Close() override;
    bool IsClosed() const { return fd_.IsClosed(); }

    // Up to len bytes; -1 at the end of the stream (or after ShutdownInput).
    int Read(char* buf, int len);
    // All len bytes, or throws.
    void Write(const char* buf, int len);
    int Available();

    void ShutdownInput();
    void ShutdownOutput();
    bool IsInputShutdown() const { return inputShut_.load(); }
    bool IsOutputShutdown() const { return outputShut_.load(); }

    void SetIntOption(int level, int name, int value, const char* what);
    int GetIntOption(int level, int name, const char* what);
    void SetSoLinger(bool on, int seconds);
    int GetSoLinger();
    void SetSoTimeout(int ms) { timeoutMs_.store(ms); }
    int GetSoTimeout() const { return timeoutMs_.load(); }

    const InetAddress_t& LocalAddress() const { return local_; }
    const InetAddress_t& RemoteAddress() const { return remote_; }
    int LocalPort() const { return localPort_; }
    int RemotePort() const { return remotePort_; }
    void SetRemoteName(const String_t& name) { InetAddressAccess_t::SetName(remote_, name); }

  private:
    SocketFd fd_;
    InetAddress_t local_;
    InetAddress_t remote_;
    int localPort_ = 0;
    int remotePort_ = 0;
    std::atomic<int> timeoutMs_{0};
    std::atomic<bool> inputShut_{false};
    std::atomic<bool> outputShut_{false};
};

}  // namespace QmXplNet
