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

const QmXplNet::InetAddress_t& SslSocket::GetInetAddress() const {
    return Impl()->GetInetAddress();
}
const QmXplNet::InetAddress_t& SslSocket::GetLocalAddress() const {
    return Impl()->GetLocalAddress();
}
int SslSocket::GetPort() const { return Impl()->GetPort(); }
int SslSocket::GetLocalPort() const { return Impl()->GetLocalPort(); }
bool SslSocket::GetKeepAlive() const { return Impl()->GetKeepAlive(); }
bool SslSocket::GetTcpNoDelay() const { return Impl()->GetTcpNoDelay(); }
int SslSocket::GetReceiveBufferSize() const { return Impl()->GetReceiveBufferSize(); }
int SslSocket::GetSendBufferSize() const { return Impl()->GetSendBufferSize(); }
int SslSocket::GetSoLinger() const { return Impl()->GetSoLinger(); }
int SslSocket::GetSoTimeout() const { return Impl()->GetSoTimeout(); }
void SslSocket::SetKeepAlive(bool on) const { Impl()->SetKeepAlive(on); }
void SslSocket::SetTcpNoDelay(bool on) const { Impl()->SetTcpNoDelay(on); }
void SslSocket::SetReceiveBufferSize(int bytes) const { Impl()->SetReceiveBufferSize(bytes); }
void SslSocket::SetSendBufferSize(int bytes) const { Impl()->SetSendBufferSize(bytes); }
void SslSocket::SetSoTimeout(int milliseconds) const { Impl()->SetSoTimeout(milliseconds); }
void SslSocket::SetSoLinger(bool on, int seconds) const { Impl()->SetSoLinger(on, seconds); }
void SslSocket::ShutdownInput() const { Impl()->ShutdownInput(); }
void SslSocket::ShutdownOutput() const { Impl()->ShutdownOutput(); }
void SslSocket::Close() { Impl()->Close(); }

}  // namespace QmSecSsl
