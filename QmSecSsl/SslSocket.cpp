#include "QmSecSsl/SslSocket.h"

#include "SocketInStreamImpl.h"
#include "SocketOutStreamImpl.h"
#include "SslSocketImpl.h"

namespace QmSecSsl {

using QmXplArray::CharArray_t;

SslSocket::SslSocket(QmXplNet::Socket_t socket) : SslSocket(std::move(socket), false) {}

SslSocket::SslSocket(QmXplNet::Socket_t socket, bool server)
    : SslSocket(std::move(socket), server, SslSocketConfig(true)) {}

SslSocket::SslSocket(QmXplNet::Socket_t socket, bool server, const SslSocketConfig& config)
    : Object(new SslSocketImpl(socket, server, config)) {}

SslSocket::~SslSocket() = default;

SslSocketImpl* SslSocket::Impl() const { return GetBody<SslSocketImpl>("SslSocket", eSslArea); }
SslSocketImpl* SslSocket::operator->() const { return Impl(); }

QmXplIo::InputStream_t SslSocket::GetInputStream() {
    return QmXplIo::InputStream_t(new SocketInStreamImpl(Impl()));
}
QmXplIo::OutputStream_t SslSocket::GetOutputStream() {
    return QmXplIo::OutputStream_t(new SocketOutStreamImpl(Impl()));
}
CharArray_t SslSocket::GetOwnId() { return Impl()->GetOwnId(); }
CharArray_t SslSocket::GetPeerId() { return Impl()->GetPeerId(); }

// The socket's accessors and options, each in a block named after it on the body.
#define QMSEC_ON_SOCKET(Name, ...)                                             \
    Impl()->OnSocket("SslSocketImpl::" #Name "()",                             \
                     [&](const QmXplNet::Socket_t& socket) -> decltype(auto) { \
                         return socket.Name(__VA_ARGS__);                      \
                     })
const QmXplNet::InetAddress_t& SslSocket::GetInetAddress() const {
    return QMSEC_ON_SOCKET(GetInetAddress);
}
const QmXplNet::InetAddress_t& SslSocket::GetLocalAddress() const {
    return QMSEC_ON_SOCKET(GetLocalAddress);
}
int SslSocket::GetPort() const { return QMSEC_ON_SOCKET(GetPort); }
int SslSocket::GetLocalPort() const { return QMSEC_ON_SOCKET(GetLocalPort); }
bool SslSocket::GetKeepAlive() const { return QMSEC_ON_SOCKET(GetKeepAlive); }
bool SslSocket::GetTcpNoDelay() const { return QMSEC_ON_SOCKET(GetTcpNoDelay); }
int SslSocket::GetReceiveBufferSize() const { return QMSEC_ON_SOCKET(GetReceiveBufferSize); }
int SslSocket::GetSendBufferSize() const { return QMSEC_ON_SOCKET(GetSendBufferSize); }
int SslSocket::GetSoLinger() const { return QMSEC_ON_SOCKET(GetSoLinger); }
int SslSocket::GetSoTimeout() const { return QMSEC_ON_SOCKET(GetSoTimeout); }
void SslSocket::SetKeepAlive(bool on) const { QMSEC_ON_SOCKET(SetKeepAlive, on); }
void SslSocket::SetTcpNoDelay(bool on) const { QMSEC_ON_SOCKET(SetTcpNoDelay, on); }
void SslSocket::SetReceiveBufferSize(int bytes) const {
    QMSEC_ON_SOCKET(SetReceiveBufferSize, bytes);
}
void SslSocket::SetSendBufferSize(int bytes) const { QMSEC_ON_SOCKET(SetSendBufferSize, bytes); }
void SslSocket::SetSoTimeout(int milliseconds) const {
    QMSEC_ON_SOCKET(SetSoTimeout, milliseconds);
}
void SslSocket::SetSoLinger(bool on, int seconds) const {
    QMSEC_ON_SOCKET(SetSoLinger, on, seconds);
}
#undef QMSEC_ON_SOCKET
void SslSocket::ShutdownInput() const { Impl()->ShutdownInput(); }
void SslSocket::ShutdownOutput() const { Impl()->ShutdownOutput(); }
void SslSocket::Close() { Impl()->Close(); }

}  // namespace QmSecSsl
