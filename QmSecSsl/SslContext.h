// The process-wide TLS context behind every SslServerConnection and SslClientConnection.
#pragma once

#include <atomic>

#include "OpenSsl.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/ConfigChangeHandler_i.h"
#include "QmXpl/RwLock_t.h"
#include "QmXpl/String_t.h"

namespace QmSecSsl {

// The process's TLS context: protocol versions (TLS 1.2 and 1.3), the default cipher list, the
// verification policy, the server's session store and the trust anchors, configured from
// "sec.core.ssl" when first used. It holds one SSL_CTX per role, alike but for their sessions:
// the server's keeps its sessions in its own store; the client's keeps none (they go to
// SslSessionCache by session key). Within one process both ends of a connection hold a session
// with one id, and a shared store would hand the server the client's view of it. The trust
// anchors come from the key store's trusted entries, or from a PEM file; they are kept beside
// the contexts and every new session takes a reference of its own, so that replacing them never
// pulls them from under a handshake on another thread. Watches "sec.cm.certificates": a new own
// certificate drops the cached certificate and the sessions; a new trusted certificate reloads
// the anchors. Every member may be called from any thread; the fields are guarded by one
// reader/writer lock.
class SslContext {
  public:
    // The one instance, built on first use (building never throws: a failure is traced and
    // leaves the context as far as it got).
    static SslContext& GetInstance();

    // A new TLS session object on the shared context with the current trust anchors (and, for a
    // server, the names of the authorities it accepts). Null (with the OpenSSL error queued) when
    // the context could not be built or OpenSSL is out of memory.
    QmSecCore::ossl::Ssl NewSsl(bool server);
    // The SSL_CTX of the server role, and of the client role (owned by the context; null when
    // it could not be built).
    SSL_CTX* GetCtx();
    SSL_CTX* GetClientCtx();
    bool IsCertificateCaching();
    bool IsSessionCaching();
    bool IsTrustedFromKeyStore() const noexcept { return trustedFromKeyStore_.load(); }

    // Setters used while building; each under the write lock.
    void SetSessionCaching(bool enabled);
    void SetSessionTimeout(int seconds);
    void SetSessionCacheSize(int entries);
    // Feeds at most bytes bytes of fileName to the random generator; returns how many it took.
    int FeedRandomFile(const QmXplStr::String_t& fileName, int bytes);

    // Trust anchors from a PEM file; from then on the context is in file mode.
    // SecSslException 147 (no certificate in the file) or 148 (OpenSSL refused it); the anchors
    // in use then stay.
    void LoadTrustedCertificates(const QmXplArray::CharArray_t& fileName);
    // Trust anchors from the trusted entries of the default key store (none: an empty trust).
    // SecSslException 145 when memory runs out; exceptions of the key store pass through.
    void LoadTrustedCertificatesFromKeyStore();
    // Reloads from whichever source is in use.
    void ReloadTrustedCertificates();
    // The server side forgets its sessions, so that no client resumes a session made under
    // certificates or trust that changed.
    void ForgetServerSessions();

    // Where a client's new sessions go as they arrive (TLS 1.3 tickets come after the
    // handshake): to SslSessionCache under key; stored tells that one went there.
    struct SessionTarget {
        const QmXplArray::CharArray_t* key = nullptr;
        bool stored = false;
    };
    // target must outlive ssl; null: nothing is cached.
    static void SetSessionTarget(SSL* ssl, SessionTarget* target);

    // Registered with "sec.cm.certificates".
    class ConfigChangeHandler : public QmXplConfig::ConfigChangeHandler_i {
      public:
        void Update(const QmXplConfig::ChangedConfiguration_t& changes) override;
    };

  private:
    SslContext();
    void Build();
    void InstallTrust(QmSecCore::ossl::X509Store store, QmSecCore::ossl::NameStack names);
    static int NewSessionCallback(SSL* ssl, SSL_SESSION* session);

    QmXplSync::RwLock_t lock_;
    QmSecCore::ossl::SslCtx ctx_;
    QmSecCore::ossl::SslCtx clientCtx_;
    bool certificateCaching_ = true;
    bool sessionCaching_ = true;
    int sessionTimeout_ = 7200;
    int sessionCacheSize_ = 100;
    std::atomic<bool> trustedFromKeyStore_{true};
    QmXplArray::CharArray_t trustedFile_;
    QmSecCore::ossl::X509Store trust_;
    QmSecCore::ossl::NameStack caNames_;
    ConfigChangeHandler handler_;
};

}  // namespace QmSecSsl
