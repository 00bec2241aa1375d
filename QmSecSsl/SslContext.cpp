#include "SslContext.h"

#include <openssl/rand.h>

#include <climits>

#include "QmSecCore/KeyStore.h"
#include "QmSecCore/StringCollection.h"
#include "QmSecSsl/SecSslException.h"
#include "QmSecSsl/SslNames.h"
#include "QmXpl/ChangedConfiguration_t.h"
#include "QmXpl/ConfigNamespace_t.h"
#include "SslCertificateCache.h"
#include "SslPolicy.h"
#include "SslSessionCache.h"
#include "Throw.h"

namespace QmSecSsl {

namespace ossl = QmSecCore::ossl;
using QmSecCoreTrc::kLevelOperation;
using QmSecCoreTrc::kLevelProc;
using QmSecCoreTrc::kSslArea;
using QmXplArray::CharArray_t;
using QmXplStr::String_t;

namespace {

const char* const kCertificates = kCertificatesNamespace;
// The session id context of every session of the shared context: sessions made with client
// verification resume only in the context they were made in.
const unsigned char kSessionIdContext = 0x31;

int SessionKeyIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

}  // namespace

SslContext& SslContext::GetInstance() {
    // Built once, never destroyed: handshakes on other threads and the configuration service's
    // thread may use it while the process ends.
    static SslContext* instance = new SslContext();
    return *instance;
}

SslContext::SslContext() {
    QMSEC_BLOCK(kSslArea.proc, "SslContext::SslContext()");
    try {
        Build();
    } catch (const QmXplMsg::Exception_t& e) {
        QMSEC_TRACE(
            kSslArea.init, kLevelProc,
            "Failure while initializing SSL Context object (Exception '" << e.what() << "')");
    }
}

void SslContext::Build() {
    QmSecCore::Initializer::Ensure();
    QmXplConfig::Configuration_t config =
        QmXplConfig::ConfigNamespace_t::Open(String_t(kSslNamespace));

    ossl::SslCtx ctx = policy::NewContext(), clientCtx = policy::NewContext();
    if (!ctx || !clientCtx) {
        QMSEC_TRACE(kSslArea.init, kLevelProc,
                    "Failure while initializing SSL Context object (Exception '"
                        << ossl::ErrorText() << "')");
        return;
    }
    // The server's own Renegotiate still works; only clients may not start one.
    QMSEC_TRACE(kSslArea.init, kLevelProc, "SSL context: Using full keylength ciphers");
    for (SSL_CTX* role : {ctx.get(), clientCtx.get()})
        SSL_CTX_set_verify(role, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    QMSEC_TRACE(kSslArea.init, kLevelProc,
                "SSL context: Setting Client Verification Mode to RequireCertificate");
    SSL_CTX_sess_set_new_cb(clientCtx.get(), &SslContext::NewSessionCallback);
    {
        QmXplSync::WriteLock_t lock(lock_);
        ctx_ = std::move(ctx);
        clientCtx_ = std::move(clientCtx);
    }

    String_t trustedFile = config.GetValue(String_t("TRUSTED_CERTIFICATES_FILENAME"));
    try {
        if (!trustedFile.IsNull() && !trustedFile.IsEmpty()) {
            std::string name = trustedFile.ToUtf8();
            LoadTrustedCertificates(CharArray_t(name.c_str(), static_cast<int>(name.size() + 1)));
        } else {
            trustedFromKeyStore_ = true;
            LoadTrustedCertificatesFromKeyStore();
        }
    } catch (const QmXplMsg::RuntimeException_t& e) {
        QMSEC_TRACE(kSslArea.init, kLevelProc, "No valid trusted certificates found. " << e.what());
    }

    bool caching = policy::ReadSwitch(config, "CERTIFICATE_CACHING", true);
    {
        QmXplSync::WriteLock_t lock(lock_);
        certificateCaching_ = caching;
    }
    SetSessionCaching(policy::ReadSwitch(config, "SESSION_CACHING", true));
    SetSessionTimeout(policy::ReadNumber(config, "SESSION_TIMEOUT", 7200, 1));
    SetSessionCacheSize(policy::ReadNumber(config, "SESSION_CACHE_SIZE", 100, 1));
    String_t randomFile = config.GetValue(String_t("RANDOM_FILENAME"));
    if (!randomFile.IsNull() && !randomFile.IsEmpty())
        FeedRandomFile(randomFile,
                       policy::ReadNumber(config, "RANDOM_FILE_BYTES_TO_READ", 1024, 1));

    QmXplConfig::ConfigNamespace_t(String_t(kCertificates)).Register(&handler_);
}

ossl::Ssl SslContext::NewSsl(bool server) {
    QmXplSync::ReadLock_t lock(lock_);
    if (!ctx_) return nullptr;
    // Only a server sends the names (in its certificate request); a client would copy them for
    // nothing on every connection.
    if (server) return policy::NewSsl(ctx_.get(), trust_.get(), caNames_.get());
    return policy::NewSsl(clientCtx_.get(), trust_.get(), nullptr);
}

SSL_CTX* SslContext::GetCtx() {
    QmXplSync::ReadLock_t lock(lock_);
    return ctx_.get();
}

SSL_CTX* SslContext::GetClientCtx() {
    QmXplSync::ReadLock_t lock(lock_);
    return clientCtx_.get();
}

bool SslContext::IsCertificateCaching() {
    QmXplSync::ReadLock_t lock(lock_);
    return certificateCaching_;
}

bool SslContext::IsSessionCaching() {
    QmXplSync::ReadLock_t lock(lock_);
    return sessionCaching_;
}

void SslContext::SetSessionCaching(bool enabled) {
    QmXplSync::WriteLock_t lock(lock_);
    sessionCaching_ = enabled;
    if (!ctx_) return;
    if (enabled) {
        // A client's sessions reach NewSessionCallback and go to SslSessionCache by session key;
        // its context keeps none of its own.
        SSL_CTX_set_session_cache_mode(clientCtx_.get(),
                                       SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_set_session_cache_mode(ctx_.get(), SSL_SESS_CACHE_SERVER);
        SSL_CTX_set_session_id_context(ctx_.get(), &kSessionIdContext, 1);
        // The server keeps its sessions in its own store, which SESSION_CACHE_SIZE and
        // SESSION_TIMEOUT govern, instead of handing them out sealed in tickets: resuming then
        // looks a session up, where a ticket would have to be decrypted and its session, the
        // client's certificate with it, parsed again (a third of a resumed TLS 1.3 handshake on
        // OpenSSL 3). A TLS 1.3 ticket becomes a handle to a stored session, good for one
        // resumption; each resumption brings the next one.
        SSL_CTX_set_options(ctx_.get(), SSL_OP_NO_TICKET);
        // A client keeps one session per session key: a second ticket would be made, sent and
        // stored for nothing.
        SSL_CTX_set_num_tickets(ctx_.get(), 1);
        QMSEC_TRACE(kSslArea.init, kLevelProc, "SSL context: Set SslSessionCaching to: enabled");
    } else {
        SSL_CTX_set_session_cache_mode(clientCtx_.get(), SSL_SESS_CACHE_OFF);
        SSL_CTX_set_session_cache_mode(ctx_.get(), SSL_SESS_CACHE_OFF);
        SSL_CTX_set_options(ctx_.get(), SSL_OP_NO_TICKET);
        SSL_CTX_set_num_tickets(ctx_.get(), 0);
        QMSEC_TRACE(kSslArea.init, kLevelProc, "SSL context: Set SslSessionCaching to: disabled");
    }
}

void SslContext::SetSessionTimeout(int seconds) {
    QmXplSync::WriteLock_t lock(lock_);
    sessionTimeout_ = seconds;
    if (ctx_) SSL_CTX_set_timeout(ctx_.get(), seconds);
    if (clientCtx_) SSL_CTX_set_timeout(clientCtx_.get(), seconds);
    QMSEC_TRACE(kSslArea.init, kLevelProc, "SSL context: Set SslSessionTimeOut to: " << seconds);
}

void SslContext::SetSessionCacheSize(int entries) {
    QmXplSync::WriteLock_t lock(lock_);
    sessionCacheSize_ = entries;
    if (ctx_) SSL_CTX_sess_set_cache_size(ctx_.get(), entries);
    QMSEC_TRACE(kSslArea.init, kLevelProc, "SSL context: Set SslSessionCacheSize to: " << entries);
}

int SslContext::FeedRandomFile(const String_t& fileName, int bytes) {
    QmXplSync::WriteLock_t lock(lock_);
    int fed = RAND_load_file(fileName.ToUtf8().c_str(), bytes);
    if (fed < 0) {
        ossl::DiscardErrors();
        fed = 0;
    }
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "SslConnectionImpl: Put " << fed << " bytes into Rand_seed from file " << fileName);
    return fed;
}

void SslContext::InstallTrust(ossl::X509Store store, ossl::NameStack names) {
    // The old anchors are released outside the lock; sessions made before keep their own
    // reference until they end.
    QmXplSync::WriteLock_t lock(lock_);
    std::swap(trust_, store);
    std::swap(caNames_, names);
}

void SslContext::LoadTrustedCertificates(const CharArray_t& fileName) {
    std::string name = policy::FileName(fileName);
    trustedFile_ = fileName;
    trustedFromKeyStore_ = false;
    ossl::X509Store store;
    ossl::NameStack names;
    switch (policy::LoadTrustFile(name.c_str(), store, names)) {
        case policy::TrustLoad::kNoCertificate:
            QMSEC_THROW_MSG(kSslArea, SecSslException, 147, << name.c_str());
        case policy::TrustLoad::kRefused:
            QMSEC_THROW_MSG(kSslArea, SecSslException, 148, << ossl::ErrorText());
        case policy::TrustLoad::kLoaded:
            break;
    }
    InstallTrust(std::move(store), std::move(names));
    QMSEC_TRACE(kSslArea.init, kLevelProc,
                "SSL global context: Using Trusted Certificates from file " << name.c_str());
}

void SslContext::LoadTrustedCertificatesFromKeyStore() {
    ossl::X509Store store(X509_STORE_new());
    ossl::NameStack names(sk_X509_NAME_new_null());
    if (!store || !names) QMSEC_THROW_MSG(kSslArea, SecSslException, 145, );
    QmSecCore::KeyStore keyStore;
    QmSecCore::StringCollection aliases;
    keyStore.Aliases(aliases);
    for (aliases.MoveFirst(); !aliases.IsAtEnd(); aliases.Next()) {
        String_t alias = aliases.GetCurrent();
        if (!keyStore.IsTrustedCertEntry(alias)) continue;
        QmSecCore::X509Certificate certificate;
        keyStore.GetCertificate(alias, certificate);
        X509* x509 = ossl::Get0X509(certificate);
        if (X509_STORE_add_cert(store.get(), x509) != 1) ossl::DiscardErrors();  // a duplicate
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "SSLContext: Using certificate with alias '" << certificate.GetSubjectCN()
                                                                 << "' as trusted certificate");
        X509_NAME* name = X509_NAME_dup(X509_get_subject_name(x509));
        if (!name || !sk_X509_NAME_push(names.get(), name)) {
            X509_NAME_free(name);
            QMSEC_THROW_MSG(kSslArea, SecSslException, 145, );
        }
    }
    InstallTrust(std::move(store), std::move(names));
}

void SslContext::ReloadTrustedCertificates() {
    if (IsTrustedFromKeyStore()) {
        LoadTrustedCertificatesFromKeyStore();
        return;
    }
    CharArray_t file;
    {
        QmXplSync::ReadLock_t lock(lock_);
        file = trustedFile_;
    }
    LoadTrustedCertificates(file);
}

void SslContext::ForgetServerSessions() {
    QmXplSync::ReadLock_t lock(lock_);
    if (!ctx_) return;
    // Everything in the server's store. The server issues no self-contained tickets (its TLS 1.3
    // tickets name stored sessions), so nothing it handed out resumes after this.
    SSL_CTX_flush_sessions(ctx_.get(), LONG_MAX);
}

void SslContext::SetSessionTarget(SSL* ssl, SessionTarget* target) {
    SSL_set_ex_data(ssl, SessionKeyIndex(), target);
}

int SslContext::NewSessionCallback(SSL* ssl, SSL_SESSION* session) {
    auto* target = static_cast<SessionTarget*>(SSL_get_ex_data(ssl, SessionKeyIndex()));
    if (!target || !target->key || !SSL_SESSION_is_resumable(session)) return 0;
    try {
        // OpenSSL never changes a session it handed out (a later ticket comes in a new one), so
        // the cache shares it by a reference of its own.
        SSL_SESSION_up_ref(session);
        SslSessionCache::GetInstance().SetSession(*target->key, ossl::SslSession(session));
        target->stored = true;
    } catch (const std::exception& e) {
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "SslContext: session not cached: " << e.what());
    }
    return 0;  // OpenSSL keeps (and releases) its own reference
}

void SslContext::ConfigChangeHandler::Update(const QmXplConfig::ChangedConfiguration_t& changes) {
    QMSEC_BLOCK(kSslArea.proc, "SslContext::ConfigChangeHandler::Update()");
    SslContext& context = GetInstance();
    if (changes.HasChanged(String_t(kCertInstalledKey)) ||
        changes.HasChanged(String_t(kLastCertUpdateKey))) {
        SslCertificateCache::GetInstance().Invalidate();
        SslSessionCache::GetInstance().Clear();
        context.ForgetServerSessions();
    }
    if (changes.HasChanged(String_t(kLastTrustedCertUpdateKey)) &&
        context.IsTrustedFromKeyStore()) {
        SslSessionCache::GetInstance().Clear();
        context.ForgetServerSessions();
        try {
            context.LoadTrustedCertificatesFromKeyStore();
        } catch (const QmXplMsg::Exception_t& e) {
            QMSEC_TRACE(kSslArea.init, kLevelProc,
                        "No valid trusted certificates found. " << e.what());
        }
    }
}

}  // namespace QmSecSsl
