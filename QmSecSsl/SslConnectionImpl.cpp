#include "SslConnectionImpl.h"

#include <openssl/err.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "QmSecCore/KeyStore.h"
#include "QmSecSsl/SecSslException.h"
#include "QmSecSsl/SecSslIOException.h"
#include "QmSecSsl/SslConnectionInputStream.h"
#include "QmSecSsl/SslConnectionOutputStream.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/Mutex_t.h"
#include "SslCertificateCache.h"
#include "SslConnectionInputStreamImpl.h"
#include "SslConnectionOutputStreamImpl.h"
#include "SslContext.h"
#include "SslPolicy.h"
#include "SslSessionCache.h"
#include "Throw.h"

namespace QmSecSsl {

namespace ossl = QmSecCore::ossl;
using QmSecCore::detail::CatalogMessage;
using QmSecCoreTrc::kLevelOperation;
using QmSecCoreTrc::kSslArea;
using QmXplArray::CharArray_t;
using QmXplStr::String_t;

SslConnectionImpl::SslConnectionImpl(const QmXplIo::Connection_t& transport,
                                     const SslConnection::OptionsImpl& options, bool server,
                                     const CharArray_t* sessionKey)
    : transport_(transport), server_(server), options_(options) {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionImpl Constructor");
    if (sessionKey) sessionKey_ = *sessionKey;
    // On failure the members free the session and the pair; the transport stays open.
    SslConnect();
}

SslConnectionImpl::~SslConnectionImpl() {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionImpl Destructor");
    try {
        Close();
    } catch (const std::exception& e) {
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "SslConnectionImpl: Close while destroying failed: " << e.what());
    }
}

void SslConnectionImpl::SslConnect() {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionImpl::SslConnect()");
    pump_.SetStreams(transport_.GetInputStream(), transport_.GetOutputStream());
    QMSEC_TRACE(kSslArea.operation, kLevelOperation, "SslConnectionImpl: SSL connecting ... ");
    if (!pump_.Attach(CreateSslSession()))
        QMSEC_THROW_MSG(kSslArea, SecSslException, 112, << ossl::ErrorText());
    SSL* ssl = pump_.Ssl();

    eOp op = eAccept;
    if (!server_) {
        op = eConnect;
        // Lets a TLS 1.3 server ask for the client's certificate after the handshake.
        SSL_set_post_handshake_auth(ssl, 1);
        if (SslContext::GetInstance().IsSessionCaching()) {
            sessionTarget_.key = &sessionKey_;
            SslContext::SetSessionTarget(ssl, &sessionTarget_);
            if (ossl::SslSession session = SslSessionCache::GetInstance().GetSession(sessionKey_)) {
                if (SSL_set_session(ssl, session.get()) == 1) {
                    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                                "SslConnectionImpl: SslConnect(): Using session from cache");
                } else {
                    ossl::DiscardErrors();
                    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                                "SslConnectionImpl: SslConnect(): Error when trying to use session "
                                "from cache");
                }
            }
        }
    }
    int status = 0;
    // Only a completed handshake connects: a peer that ended it (result 0) is a failure too.
    if (SslOp(op, nullptr, nullptr, 0, status) == 1) return;

    int reason = ERR_GET_REASON(ERR_peek_error());
    long verifyResult = SSL_get_verify_result(ssl);
    if ((reason == SSL_R_CERTIFICATE_VERIFY_FAILED || reason == SSL_R_NO_CERTIFICATES_RETURNED ||
         reason == SSL_R_PEER_DID_NOT_RETURN_A_CERTIFICATE) &&
        verifyResult != X509_V_OK) {
        ossl::DiscardErrors();
        QMSEC_THROW_MSG(kSslArea, SecSslIOException, 113,
                        << policy::VerificationText(verifyResult));
    }
    std::string text = ossl::ErrorQueueText();
    if (text.empty()) text = "the peer ended the handshake";
    QMSEC_THROW_MSG(kSslArea, SecSslIOException, 114, << text.c_str());
}

ossl::Ssl SslConnectionImpl::CreateSslSession() {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionImpl::CreateSslSession()");
    SslContext& context = SslContext::GetInstance();
    if (!context.GetCtx()) QMSEC_THROW_MSG(kSslArea, SecSslException, 105, << ossl::ErrorText());
    // Without certificate caching every connection sees the trust as it is now.
    if (!context.IsCertificateCaching()) context.ReloadTrustedCertificates();
    ossl::Ssl ssl = context.NewSsl(server_);
    if (!ssl) QMSEC_THROW_MSG(kSslArea, SecSslException, 105, << ossl::ErrorText());

    if (options_.UsesKeyStore()) {
        QmXplSync::MutexLock_t lock(SslCertificateCache::GetInstance().LoadLock());
        LoadCertAndPrivKeyFromKeyStore(ssl.get());
    } else {
        LoadCertAndPrivKeyFromFile(ssl.get());
    }

    if (options_.GetClientVerificationMode() == SslConnection::eAnonymous) {
        SSL_set_verify(ssl.get(), SSL_VERIFY_NONE, nullptr);
        QMSEC_TRACE(
            kSslArea.operation, kLevelOperation,
            "SslConnectionImpl: Client Verification Mode is: No Client Certificate required");
    } else {
        SSL_set_verify(ssl.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "SslConnectionImpl: Client Verification Mode is: Client Certificate required");
    }
    static const char* const kLevelTexts[] = {
        "SslConnectionImpl: Using NO encryption",
        "SslConnectionImpl: Using encryption with export restricted keylength",
        "SslConnectionImpl: Using encryption with full keylength",
        "SslConnectionImpl: Using best encryption level = full or export restricted keylength"};
    if (!policy::ApplyEncryptionLevel(ssl.get(), options_.GetEncryptionLevel(), kLevelTexts,
                                      policy::kContextLevel))
        QMSEC_THROW_MSG(kSslArea, SecSslException, 105, << ossl::ErrorText());
    return ssl;
}

void SslConnectionImpl::LoadCertAndPrivKeyFromKeyStore(SSL* ssl) {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionImpl::LoadCertAndPrivKeyFromKeyStore()");
    const String_t alias = options_.GetAlias();
    const String_t& group = options_.GetResourceGroup();
    SslCertificateCache& cache = SslCertificateCache::GetInstance();
    QmSecCore::X509Certificate certificate;
    QmSecCore::Key key;
    if (SslContext::GetInstance().IsCertificateCaching() &&
        cache.Get(group, alias, certificate, key)) {
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "SslConnectionImpl: Using cached certificate and private key for alias '"
                        << alias << "' ...");
    } else {
        QMSEC_TRACE(
            kSslArea.operation, kLevelOperation,
            "SslConnectionImpl: Getting certificate and private key from KeyStore using alias '"
                << alias << "' ...");
        try {
            QmSecCore::KeyStore keyStore;
            keyStore.GetCertificate(alias, certificate);
            keyStore.GetPrivateKey(alias, key);
        } catch (const QmXplMsg::Exception_t& e) {
            if (!server_) {
                // A client without a certificate still talks to servers that ask for none.
                QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                            "SslConnectionImpl: No certificate for alias '"
                                << alias << "'; connecting without one: " << e.what());
                return;
            }
            QmXplMsg::Message_t message = CatalogMessage(certificate.IsNull() ? 106 : 107) << alias;
            message.AddDetails(e.GetMessageList());
            QMSEC_THROW(kSslArea, SecSslException, message);
        }
        cache.Put(group, alias, certificate, key);
    }
    if (SSL_use_certificate(ssl, ossl::Get0X509(certificate)) != 1)
        QMSEC_THROW_MSG(kSslArea, SecSslException, 108, << alias << ossl::ErrorText().c_str());
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "SslConnectionImpl: Using certificate (alias: " << alias << ") from KeyStore.");
    if (SSL_use_PrivateKey(ssl, ossl::Get0PKey(key)) != 1)
        QMSEC_THROW_MSG(kSslArea, SecSslException, 109, << alias << ossl::ErrorText().c_str());
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "SslConnectionImpl: Using private key (alias: " << alias << ") from KeyStore.");
}

void SslConnectionImpl::LoadCertAndPrivKeyFromFile(SSL* ssl) {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionImpl::LoadCertAndPrivKeyFromFile()");
    std::string certificateFile = policy::FileName(options_.GetCertificateFile());
    std::string keyFile = policy::FileName(options_.GetPrivateKeyFile());
    if (SSL_use_certificate_file(ssl, certificateFile.c_str(), SSL_FILETYPE_PEM) != 1)
        QMSEC_THROW_MSG(kSslArea, SecSslException, 110,
                        << certificateFile.c_str() << ossl::ErrorText().c_str());
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "SslConnectionImpl: Using certificate file: " << certificateFile.c_str());
    // The password travels as this session's own callback data: no lock around a shared
    // context, and it is copied only into OpenSSL's buffer, then wiped here.
    SSL_set_default_passwd_cb(ssl, &policy::PasswordCallback);
    SSL_set_default_passwd_cb_userdata(ssl,
                                       const_cast<CharArray_t*>(&options_.GetPrivateKeyPassword()));
    int loaded = SSL_use_PrivateKey_file(ssl, keyFile.c_str(), SSL_FILETYPE_PEM);
    SSL_set_default_passwd_cb_userdata(ssl, nullptr);
    options_.ForgetPassword();
    if (loaded != 1)
        QMSEC_THROW_MSG(kSslArea, SecSslException, 111,
                        << keyFile.c_str() << ossl::ErrorText().c_str());
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "SslConnectionImpl: Using private key file: " << keyFile.c_str());
}

int SslConnectionImpl::SslOp(eOp op, const char* writeBuffer, char* readBuffer, int length,
                             int& status) {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionImpl::SslOp()");
    if (op < eConnect || op > eShutdown)
        QMSEC_THROW_MSG(kSslArea, QmXplMsg::IllegalArgumentError_t, 115, );
    if (op == eShutdown && !server_ && SslContext::GetInstance().IsSessionCaching())
        AddSessionToCache();
    int r = 0;
    SslBioPump::Outcome outcome =
        pump_.Run(static_cast<SslBioPump::Op>(op), writeBuffer, readBuffer, length, r);
    if (outcome == SslBioPump::kEnded) QMSEC_THROW_MSG(kSslArea, SecSslIOException, 116, );
    if (outcome == SslBioPump::kRefused) QMSEC_THROW_MSG(kSslArea, SecSslIOException, 117, );
    status = outcome == SslBioPump::kFailed ? 3 : 0;
    return r;
}

int SslConnectionImpl::SslConnectionHandling(bool wantRead) {
    SslBioPump::Outcome outcome = pump_.Pump(wantRead);
    if (outcome == SslBioPump::kRefused) QMSEC_THROW_MSG(kSslArea, SecSslIOException, 117, );
    return outcome == SslBioPump::kEnded ? 3 : 0;
}

void SslConnectionImpl::TakeArrivedTickets() {
    SSL* ssl = pump_.Ssl();
    if (SSL_version(ssl) != TLS1_3_VERSION) return;
    try {
        pump_.TakeAvailable();
        // Processes the records taken in (tickets go to the cache through the context's
        // callback); application data stays in OpenSSL for the next read.
        char probe;
        ERR_clear_error();
        SSL_peek(ssl, &probe, 1);
        ossl::DiscardErrors();
    } catch (const std::exception& e) {
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "SslConnectionImpl: no session tickets taken: " << e.what());
    }
}

void SslConnectionImpl::AddSessionToCache() {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionImpl::AddSessionToCache()");
    // Records that already arrived first: tickets, and a close_notify that tells Close the peer
    // has gone. A session of this connection that reached the cache as it arrived is the newest
    // one there is.
    TakeArrivedTickets();
    if (sessionTarget_.stored) return;
    ossl::SslSession current(SSL_get1_session(pump_.Ssl()));
    if (!current || !SSL_SESSION_is_resumable(current.get())) return;
    SslSessionCache::GetInstance().SetSession(sessionKey_, std::move(current));
}

void SslConnectionImpl::ShutdownOutput() {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionImpl::ShutdownOutput()");
    if (shutDown_) return;
    shutDown_ = true;
    int status = 0;
    int r = SslOp(eShutdown, nullptr, nullptr, 0, status);
    if (status == 3 || r < 0)
        QMSEC_THROW_MSG(kSslArea, SecSslIOException, 118, << ossl::ErrorText());
}

void SslConnectionImpl::Close() {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionImpl::Close()");
    if (closed_) return;
    closed_ = true;
    // The transport is closed whatever the shutdown says; its failure is reported afterwards.
    std::exception_ptr failure;
    try {
        ShutdownOutput();
    } catch (const QmXplIo::IOException_t& e) {
        // A peer that already ended the session has no use for our close_notify: it may have
        // closed its transport too.
        if (SSL_get_shutdown(pump_.Ssl()) & SSL_RECEIVED_SHUTDOWN)
            QMSEC_TRACE(
                kSslArea.operation, kLevelOperation,
                "SslConnectionImpl: close_notify not delivered to a peer that ended: " << e.what());
        else
            failure = std::current_exception();
    } catch (...) {
        failure = std::current_exception();
    }
    pump_.Output().Close();
    pump_.Input().Close();
    transport_.Close();
    if (failure) std::rethrow_exception(failure);
}

void SslConnectionImpl::FlushTransport() { pump_.Output().Flush(); }

int SslConnectionImpl::Pending() const { return SSL_pending(pump_.Ssl()); }

QmXplIo::InputStream_t SslConnectionImpl::GetInputStream() {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionImpl::GetInputStream()");
    return SslConnectionInputStream(new SslConnectionInputStreamImpl(this));
}

QmXplIo::OutputStream_t SslConnectionImpl::GetOutputStream() {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionImpl::GetOutputStream()");
    return SslConnectionOutputStream(new SslConnectionOutputStreamImpl(this));
}

String_t SslConnectionImpl::ExtractId(X509* certificate) {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionImpl::ExtractId()");
    return String_t(policy::CommonName(certificate));
}

String_t SslConnectionImpl::GetOwnId() const {
    SSL* ssl = pump_.Ssl();
    return ssl ? ExtractId(SSL_get_certificate(ssl)) : String_t("");
}

String_t SslConnectionImpl::GetPeerId() const {
    if (!pump_.Ssl()) return String_t("");
    ossl::X509Ptr peer(SSL_get1_peer_certificate(pump_.Ssl()));
    return ExtractId(peer.get());
}

void SslConnectionImpl::Renegotiate() {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionImpl: Renegotiate()");
    SSL* ssl = pump_.Ssl();
    SSL_set_verify(ssl, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    ERR_clear_error();
    if (SSL_version(ssl) >= TLS1_3_VERSION) {
        // TLS 1.3 has no renegotiation: the server asks for the certificate after the handshake.
        if (!server_ || SSL_verify_client_post_handshake(ssl) != 1) {
            QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                        "SslConnectionImpl: Renegotiate: SSL_verify_client_post_handshake failed");
            ossl::DiscardErrors();
            return;
        }
    } else {
        // Another session id context: the new handshake cannot resume the first one.
        static const unsigned char kRenegotiationContext = 0x02;
        SSL_set_session_id_context(ssl, &kRenegotiationContext, 1);
        if (SSL_renegotiate(ssl) != 1) {
            QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                        "SslConnectionImpl: Renegotiate: SSL_renegotiate failed");
            ossl::DiscardErrors();
            return;
        }
    }
    // Sends the request now; the rest of the handshake runs inside the next reads and writes.
    int r = SSL_do_handshake(ssl);
    int e = SSL_get_error(ssl, r);
    if (r < 1 && e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE)
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "SslConnectionImpl: Renegotiate: SSL_do_handshake failed");
    ossl::DiscardErrors();
    pump_.DeliverAlert();
}

bool SslConnectionImpl::IsSsl(QmXplIo::BufferedInputStream_t& in) {
    QMSEC_BLOCK(kSslArea.proc, "SslConnectionImpl::IsSsl()");
    unsigned char b[11] = {};
    int m = 0;
    try {
        m = in.Peek(reinterpret_cast<char*>(b), sizeof b);
    } catch (const std::exception&) {
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "SslConnectionImpl::Got Exception in IsSsl()");
        return false;
    }
    // An SSL 2.0 CLIENT-HELLO, or a TLS handshake record that starts a ClientHello.
    bool ssl = (m >= 3 && (b[0] & 0x80) && b[2] == 0x01) ||
               (m >= 10 && b[0] == 0x16 && b[1] == 0x03 && b[5] == 0x01 &&
                ((b[3] == 0x00 && static_cast<signed char>(b[4]) < 5) || b[9] == 0x03));
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                (ssl ? "SslConnectionImpl::IsSsl(): Detected SSL connection."
                     : "SslConnectionImpl::IsSsl(): Detected NON-SSL connection."));
    return ssl;
}

}  // namespace QmSecSsl
