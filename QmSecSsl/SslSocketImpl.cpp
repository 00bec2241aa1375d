#include "SslSocketImpl.h"

#include <openssl/err.h>

#include "QmSecSsl/SslSocketDefaultConfig.h"
#include "QmXpl/IOException_t.h"
#include "SocketInStreamImpl.h"
#include "SocketOutStreamImpl.h"
#include "SslPolicy.h"
#include "SslSocketDefaultConfigImpl.h"
#include "Throw.h"

namespace QmSecSsl {

namespace ossl = QmSecCore::ossl;
using QmSecCoreTrc::kLevelOperation;
using QmSecCoreTrc::kSslArea;
using QmXplArray::CharArray_t;
using QmXplIo::IOException_t;

namespace {

// A common name as the socket gives it: UTF-8 and a zero byte; empty for none.
CharArray_t IdText(const std::string& name) {
    if (name.empty()) return {};
    return CharArray_t(name.c_str(), static_cast<int>(name.size() + 1));
}

}  // namespace

SslSocketImpl::SslSocketImpl(const QmXplNet::Socket_t& socket, bool server,
                             const SslSocketConfig& config)
    : socket_(socket), server_(server), configuration_(config) {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketImpl Constructor");
    // On failure the members free the session and the pair; the socket stays open.
    SslConnect();
}

SslSocketImpl::~SslSocketImpl() {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketImpl Destructor");
    try {
        Close();
    } catch (const std::exception& e) {
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "SslSocketImpl: Close while destroying failed: " << e.what());
    }
}

void SslSocketImpl::SslConnect() {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketImpl::SslConnect()");
    pump_.SetStreams(socket_.GetInputStream(), socket_.GetOutputStream());
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "SslSocketImpl: SSL connecting to " << socket_.GetInetAddress().GetHostName() << ":"
                                                    << socket_.GetPort());
    if (!pump_.Attach(SslSocketConfig::GetDefaultConfig()->CreateSslSession(configuration_)))
        policy::ThrowOpenSslFailure();
    int status = 0;
    int r = SslOp(server_ ? eAccept : eConnect, nullptr, nullptr, 0, status);
    // Only a completed handshake connects: a peer that ended it (0) or any other failure, even
    // with a certificate that verified, is an error.
    if (r == 1) return;
    SSL* ssl = pump_.Ssl();
    ossl::X509Ptr peer(SSL_get1_peer_certificate(ssl));
    int reason = ERR_GET_REASON(ERR_peek_error());
    bool verification = r == 0 || reason == SSL_R_CERTIFICATE_VERIFY_FAILED ||
                        reason == SSL_R_PEER_DID_NOT_RETURN_A_CERTIFICATE;
    // OpenSSL keeps the peer's certificate only once it verified: look at the result first.
    if (verification && SSL_get_verify_result(ssl) != X509_V_OK) {
        ossl::DiscardErrors();
        QMSEC_THROW_MSG(kSslArea, IOException_t, 156, );
    }
    if (verification && !peer) {
        ossl::DiscardErrors();
        QMSEC_THROW_MSG(kSslArea, IOException_t, 155, );
    }
    std::string text = ossl::ErrorQueueText();
    if (text.empty()) text = "the peer ended the handshake";
    QMSEC_THROW_MSG(kSslArea, IOException_t, 114, << text.c_str());
}

int SslSocketImpl::SslOp(int op, const char* writeBuffer, char* readBuffer, int length,
                         int& status) {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketImpl::SslOp()");
    if (op < eConnect || op > eShutdown)
        QMSEC_THROW_MSG(kSslArea, QmXplMsg::IllegalArgumentError_t, 157, );
    int r = 0;
    SslBioPump::Outcome outcome =
        pump_.Run(static_cast<SslBioPump::Op>(op), writeBuffer, readBuffer, length, r);
    if (outcome == SslBioPump::kEnded) QMSEC_THROW_MSG(kSslArea, IOException_t, 158, );
    if (outcome == SslBioPump::kRefused)
        QMSEC_THROW_MSG(kSslArea, QmXplMsg::RuntimeException_t, 117, );
    status = outcome == SslBioPump::kFailed ? 3 : 0;
    return r;
}

int SslSocketImpl::SslSocketHandling() {
    SslBioPump::Outcome outcome = pump_.Pump();
    if (outcome == SslBioPump::kRefused)
        QMSEC_THROW_MSG(kSslArea, QmXplMsg::RuntimeException_t, 117, );
    return outcome == SslBioPump::kEnded ? 3 : 0;
}

int SslSocketImpl::Pending() const { return SSL_pending(pump_.Ssl()); }

void SslSocketImpl::FlushSocket() { pump_.Output().Flush(); }

void SslSocketImpl::ShutdownOutput() {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketImpl::ShutdownOutput()");
    if (!shutDown_) {
        shutDown_ = true;
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "SslSocketImpl: SSL: Shutdown output, sending close_notify");
        int status = 0;
        int r = 0;
        std::exception_ptr failure;
        try {
            r = SslOp(eShutdown, nullptr, nullptr, 0, status);
        } catch (...) {
            failure = std::current_exception();
        }
        // The socket's output goes down whatever TLS said.
        socket_.ShutdownOutput();
        if (failure) std::rethrow_exception(failure);
        // 0: close_notify sent; 1: the peer's had arrived before. Both are a clean shutdown.
        if (status == 3 || r < 0)
            QMSEC_THROW_MSG(kSslArea, IOException_t, 118, << ossl::ErrorText().c_str());
        return;
    }
    socket_.ShutdownOutput();
}

void SslSocketImpl::ShutdownInput() {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketImpl::ShutdownInput()");
    socket_.ShutdownInput();
}

void SslSocketImpl::Close() {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketImpl::Close()");
    if (closed_) return;
    closed_ = true;
    pump_.Output().Close();
    pump_.Input().Close();
    socket_.Close();
}

CharArray_t SslSocketImpl::GetOwnId() const {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketImpl::GetOwnId()");
    SSL* ssl = pump_.Ssl();
    return ssl ? IdText(policy::CommonName(SSL_get_certificate(ssl))) : CharArray_t();
}

CharArray_t SslSocketImpl::GetPeerId() const {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketImpl::GetPeerId()");
    SSL* ssl = pump_.Ssl();
    if (!ssl) return {};
    ossl::X509Ptr peer(SSL_get1_peer_certificate(ssl));
    return IdText(policy::CommonName(peer.get()));
}

}  // namespace QmSecSsl
