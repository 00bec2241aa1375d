// The body of SslSocketDefaultConfig: the one TLS context of all SSL sockets.
#pragma once

#include "OpenSsl.h"
#include "QmSecSsl/SslSocketConfig.h"
#include "SslSocketConfigImpl.h"

namespace QmSecSsl {

// Owns the SSL_CTX of every SslSocket, its trust anchors and the private-key password, and
// makes each socket's session with the socket's own configuration applied over it. OpenSSL 3
// locks internally, so no lock table is installed (replacing one while other threads hold its
// locks would break them). Every member may be called from any thread: changes of the context
// and the making of sessions are serialised by the body's lock.
class SslSocketDefaultConfigImpl : public SslSocketConfigImpl {
  public:
    // RuntimeException_t with OpenSSL's text when the context cannot be made.
    SslSocketDefaultConfigImpl();
    ~SslSocketDefaultConfigImpl() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kSslArea.proc, "SslSocketDefaultConfigImpl::DestroyThis()")

    int SetOwnCertificateFilename(const QmXplArray::CharArray_t& fileName) override;
    int SetPrivateKeyFilename(const QmXplArray::CharArray_t& fileName) override;
    int SetEncryptionLevel(int level) override;
    int SetClientVerificationMode(int mode) override;
    int ReadConfig(const QmXplConfig::Configuration_t& config) override;

    int SetCACertificateFilename(const QmXplArray::CharArray_t& fileName);
    int SetPrivateKeyPassword(const QmXplArray::CharArray_t& password);
    QmXplArray::CharArray_t GetPrivateKeyPassword() const;
    unsigned long FeedRandomFile(const QmXplArray::CharArray_t& fileName, unsigned long maxBytes);
    QmXplArray::CharArray_t GetLastRandomFilename() const;
    // Feeds the clock, the host's name and address, a random UUID and rand() values to the
    // random generator; returns the bytes fed.
    int SeedRandomGenerator();

    // A new session on the context with socketConfig's settings over the default ones.
    // RuntimeException_t with OpenSSL's text when the session, a file or a cipher list fails.
    QmSecCore::ossl::Ssl CreateSslSession(const SslSocketConfig& socketConfig);

    // The context (tests pin its protocol versions).
    SSL_CTX* GetCtx() const noexcept { return ctx_.get(); }

  private:
    QmSecCore::ossl::SslCtx ctx_;
    QmXplArray::CharArray_t password_;  // the callback's data for every key file
    QmXplArray::CharArray_t lastRandomFile_;
    QmXplArray::CharArray_t caFile_;
    // Kept beside the context: every session takes a reference of its own, so that a new CA
    // file replaces the trust without pulling it from under a handshake on another thread.
    QmSecCore::ossl::X509Store trust_;
    QmSecCore::ossl::NameStack caNames_;
    int securityLevel_ = 0;  // the context's as built
};

}  // namespace QmSecSsl
