// The TLS engine behind SslSocket.
#pragma once

#include "QmSecCore/ObjectImpl.h"
#include "QmSecSsl/SslSocketConfig.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/Socket_t.h"
#include "SslBioPump.h"
#include "Trace.h"

namespace QmSecSsl {

// Runs TLS over a connected socket through an SslBioPump, with a session from the default
// socket configuration. The handshake runs in the constructor. One thread at a time.
class SslSocketImpl : public QmSecCore::ObjectImpl {
  public:
    enum SslOpCode : int { eConnect = 0, eAccept = 1, eRead = 2, eWrite = 3, eShutdown = 4 };

    // Throws as documented on SslSocket; the socket then stays open.
    SslSocketImpl(const QmXplNet::Socket_t& socket, bool server, const SslSocketConfig& config);
    ~SslSocketImpl() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kSslArea.proc, "SslSocketImpl::DestroyThis()")

    // Runs op until OpenSSL completes it. status: 0 done, 3 OpenSSL failed (the result is then
    // returned at once). IllegalArgumentError_t 157 for an unknown op, IOException_t 158 when the
    // socket ends while OpenSSL waits, RuntimeException_t 117 when the pair refuses bytes.
    int SslOp(int op, const char* writeBuffer, char* readBuffer, int length, int& status);
    // One pump step: 0, or 3 when the socket's input ended. RuntimeException_t 117.
    int SslSocketHandling();
    // SSL_get_error of the last OpenSSL call of SslOp.
    int LastError() const noexcept { return pump_.LastError(); }
    int Pending() const;
    void FlushSocket();

    QmXplArray::CharArray_t GetOwnId() const;
    QmXplArray::CharArray_t GetPeerId() const;
    void ShutdownInput();
    // close_notify once, then the socket's output. IOException_t 118 when TLS fails.
    void ShutdownOutput();
    // The socket's streams and the socket, without close_notify. A second call does nothing.
    void Close();

    // Runs call(socket) inside a block named name ("SslSocketImpl::GetKeepAlive()"): how the
    // handle reaches the socket's accessors and options.
    template <class Call>
    decltype(auto) OnSocket(const char* name, Call&& call) const {
        QMSEC_BLOCK(QmSecCoreTrc::kSslArea.proc, name);
        return call(socket_);
    }

    // The OpenSSL session (for tests: version, cipher).
    SSL* GetSsl() const noexcept { return pump_.Ssl(); }

  private:
    void SslConnect();

    QmXplNet::Socket_t socket_;
    bool server_;
    SslSocketConfig configuration_;
    SslBioPump pump_{"SslSocketImpl::SslSocketHandling()"};
    bool shutDown_ = false;
    bool closed_ = false;
};

}  // namespace QmSecSsl
