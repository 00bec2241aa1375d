#include "SslSocketDefaultConfigImpl.h"

#include <openssl/rand.h>

#include <climits>
#include <string>

#include "Initializer.h"
#include "QmSecSsl/SslSocketDefaultConfig.h"
#include "SslPolicy.h"
#include "Throw.h"

namespace QmSecSsl {

namespace ossl = QmSecCore::ossl;
using QmSecCoreTrc::kLevelOperation;
using QmSecCoreTrc::kLevelProc;
using QmSecCoreTrc::kSslArea;
using QmXplArray::CharArray_t;
using QmXplStr::String_t;
using QmXplSync::MutexLock_t;

namespace {

const char* const kLevelTexts[] = {
    "SslSocketDefaultConfigImpl: No encryption selected",
    "SslSocketDefaultConfigImpl: Encryption with export keylength selected",
    "SslSocketDefaultConfigImpl: Encryption with full keylength selected",
    "SslSocketDefaultConfigImpl: Best encryption level = full or export keylength selected"};
const char* const kOverrideLevelTexts[] = {
    "SslSocketDefaultConfigImpl: (override) No encryption selected",
    "SslSocketDefaultConfigImpl: (override) Encryption with export keylength selected",
    "SslSocketDefaultConfigImpl: (override) Encryption with full keylength selected",
    ("SslSocketDefaultConfigImpl: (override) Best encryption level = full or export keylength "
     "selected")};

const int kRequirePeer = SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT;

}  // namespace

SslSocketDefaultConfigImpl::SslSocketDefaultConfigImpl() {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketDefaultConfigImpl constructor");
    QmSecCore::Initializer::Ensure();
    ctx_ = policy::NewContext();
    if (!ctx_) policy::ThrowOpenSslFailure();
    securityLevel_ = SSL_CTX_get_security_level(ctx_.get());
    // Every key file of the context and of its sessions is opened with this body's password.
    SSL_CTX_set_default_passwd_cb_userdata(ctx_.get(), &password_);
    // Sockets keep no sessions: nothing to resume, on either side.
    SSL_CTX_set_session_cache_mode(ctx_.get(), SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(ctx_.get(), SSL_OP_NO_TICKET);
    SSL_CTX_set_num_tickets(ctx_.get(), 0);
    QMSEC_TRACE(kSslArea.init, kLevelProc,
                "SslSocketDefaultConfigImpl: using full keylength ciphers");
    SetClientVerificationMode(SslSocketConfig::eRequireCertificate);
    SeedRandomGenerator();
}

SslSocketDefaultConfigImpl::~SslSocketDefaultConfigImpl() {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketDefaultConfigImpl destructor");
    password_.Wipe();
}

int SslSocketDefaultConfigImpl::SetOwnCertificateFilename(const CharArray_t& fileName) {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketDefaultConfigImpl::SetOwnCertificateFilename()");
    std::string name = policy::FileName(fileName);
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "SslSocketDefaultConfigImpl: using own certificate from " << name.c_str());
    MutexLock_t lock(lock_);
    ownCertificateFile_ = fileName;
    if (SSL_CTX_use_certificate_file(ctx_.get(), name.c_str(), SSL_FILETYPE_PEM) != 1)
        QMSEC_THROW_MSG(kSslArea, QmXplMsg::RuntimeException_t, 160,
                        << ossl::ErrorText().c_str() << name.c_str());
    return 0;
}

int SslSocketDefaultConfigImpl::SetPrivateKeyFilename(const CharArray_t& fileName) {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketDefaultConfigImpl::SetPrivateKeyFilename()");
    std::string name = policy::FileName(fileName);
    MutexLock_t lock(lock_);
    privateKeyFile_ = fileName;
    if (SSL_CTX_use_PrivateKey_file(ctx_.get(), name.c_str(), SSL_FILETYPE_PEM) != 1)
        policy::ThrowOpenSslFailure();
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "SslSocketDefaultConfigImpl: using private key from " << name.c_str());
    return 0;
}

int SslSocketDefaultConfigImpl::SetPrivateKeyPassword(const CharArray_t& password) {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketDefaultConfigImpl::SetPrivateKeyPassword()");
    MutexLock_t lock(lock_);
    password_.Wipe();
    password_ = password;
    return 0;
}

CharArray_t SslSocketDefaultConfigImpl::GetPrivateKeyPassword() const {
    MutexLock_t lock(lock_);
    return password_;
}

int SslSocketDefaultConfigImpl::SetEncryptionLevel(int level) {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketDefaultConfigImpl::SetEncryptionLevel()");
    MutexLock_t lock(lock_);
    level_ = level;
    if (!policy::ApplyEncryptionLevel(ctx_.get(), level, kLevelTexts, securityLevel_))
        policy::ThrowOpenSslFailure();
    return 0;
}

int SslSocketDefaultConfigImpl::SetClientVerificationMode(int mode) {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketDefaultConfigImpl::SetClientVerificationMode()");
    if (mode < 0 || mode > SslSocketConfig::eRequireCertificate)
        QMSEC_THROW_MSG(kSslArea, QmXplMsg::Exception_t, 161, );
    MutexLock_t lock(lock_);
    mode_ = mode;
    if (mode == SslSocketConfig::eAnonymous) {
        SSL_CTX_set_verify(ctx_.get(), SSL_VERIFY_NONE, nullptr);
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "SslSocketDefaultConfigImpl: set SSL to No Client Certificate required");
    } else if (mode == SslSocketConfig::eRequireCertificate) {
        SSL_CTX_set_verify(ctx_.get(), kRequirePeer, nullptr);
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "SslSocketDefaultConfigImpl: set SSL to Client Certificate required");
    }
    return 0;
}

int SslSocketDefaultConfigImpl::SetCACertificateFilename(const CharArray_t& fileName) {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketDefaultConfigImpl::SetCACertificateFilename()");
    std::string name = policy::FileName(fileName);
    ossl::X509Store store;
    ossl::NameStack names;
    switch (policy::LoadTrustFile(name.c_str(), store, names)) {
        case policy::TrustLoad::kNoCertificate:
            QMSEC_THROW_MSG(kSslArea, QmXplMsg::RuntimeException_t, 159, );
        case policy::TrustLoad::kRefused:
            policy::ThrowOpenSslFailure();
        case policy::TrustLoad::kLoaded:
            break;
    }
    {
        MutexLock_t lock(lock_);
        caFile_ = fileName;
        std::swap(trust_, store);
        std::swap(caNames_, names);
    }
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "SslSocketDefaultConfigImpl: using CA certificate from " << name.c_str());
    return 0;
}

unsigned long SslSocketDefaultConfigImpl::FeedRandomFile(const CharArray_t& fileName,
                                                         unsigned long maxBytes) {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketDefaultConfigImpl::FeedRandomFile()");
    std::string name = policy::FileName(fileName);
    {
        MutexLock_t lock(lock_);
        lastRandomFile_ = fileName;
    }
    // RAND_load_file reads a whole file for -1: a maximum is never allowed to become that.
    long most = static_cast<long>(std::min<unsigned long>(maxBytes, LONG_MAX));
    int fed = most > 0 ? RAND_load_file(name.c_str(), most) : 0;
    if (fed < 0) {
        ossl::DiscardErrors();
        fed = 0;
    }
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "SslSocketDefaultConfigImpl: Put " << fed << " bytes into Rand_seed from file "
                                                   << name.c_str());
    return static_cast<unsigned long>(fed);
}

CharArray_t SslSocketDefaultConfigImpl::GetLastRandomFilename() const {
    MutexLock_t lock(lock_);
    return lastRandomFile_;
}

int SslSocketDefaultConfigImpl::SeedRandomGenerator() {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketDefaultConfigImpl::SeedRandomGenerator()");
    return QmSecCore::Initializer::SeedRandomGenerator(kSslArea.operation, kLevelOperation,
                                                       "SslSocketDefaultConfigImpl");
}

int SslSocketDefaultConfigImpl::ReadConfig(const QmXplConfig::Configuration_t& config) {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketDefaultConfigImpl::ReadConfig()");
    // The password first, so that an encrypted key file named below opens.
    CharArray_t password = ReadFileName(config, SslSocketDefaultConfig::SSL_PRIVATE_KEY_PASSWORD);
    if (!password.IsEmpty()) {
        // Without its terminating zero byte: the password is the text itself.
        password.Resize(password.GetSize() - 1);
        SetPrivateKeyPassword(password);
        password.Wipe();
    }
    SslSocketConfigImpl::ReadConfig(config);
    CharArray_t random = ReadFileName(config, SslSocketDefaultConfig::SSL_RANDOM_FILENAME);
    if (!random.IsEmpty()) FeedRandomFile(random, 1024);
    CharArray_t ca = ReadFileName(config, SslSocketDefaultConfig::SSL_CA_CERTIFICATE_FILENAME);
    if (!ca.IsEmpty()) SetCACertificateFilename(ca);
    return 0;
}

ossl::Ssl SslSocketDefaultConfigImpl::CreateSslSession(const SslSocketConfig& socketConfig) {
    QMSEC_BLOCK(kSslArea.proc, "SslSocketDefaultConfigImpl::CreateSslSession()");
    // Read before the lock is taken: the socket's configuration may be this very body.
    std::string certificate, key;
    int mode = 0, level = 0;
    if (!socketConfig.IsNull()) {
        certificate = policy::FileName(socketConfig->GetOwnCertificateFilename());
        key = policy::FileName(socketConfig->GetPrivateKeyFilename());
        mode = socketConfig->GetClientVerificationMode();
        level = socketConfig->GetEncryptionLevel();
    }
    MutexLock_t lock(lock_);
    ossl::Ssl ssl = policy::NewSsl(ctx_.get(), trust_.get(), caNames_.get());
    if (!ssl) policy::ThrowOpenSslFailure();
    if (!certificate.empty()) {
        if (SSL_use_certificate_file(ssl.get(), certificate.c_str(), SSL_FILETYPE_PEM) != 1)
            policy::ThrowOpenSslFailure();
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "SslSocketDefaultConfigImpl: (override) using own certificate from "
                        << certificate.c_str());
    }
    if (!key.empty()) {
        // The session took the context's password callback and data when it was made.
        if (SSL_use_PrivateKey_file(ssl.get(), key.c_str(), SSL_FILETYPE_PEM) != 1)
            policy::ThrowOpenSslFailure();
        QMSEC_TRACE(
            kSslArea.operation, kLevelOperation,
            "SslSocketDefaultConfigImpl: (override) using private key from " << key.c_str());
    }
    if (mode == SslSocketConfig::eAnonymous) {
        SSL_set_verify(ssl.get(), SSL_VERIFY_NONE, nullptr);
        QMSEC_TRACE(
            kSslArea.operation, kLevelOperation,
            "SslSocketDefaultConfigImpl: (override) set SSL to No Client Certificate required");
    } else if (mode == SslSocketConfig::eRequireCertificate) {
        SSL_set_verify(ssl.get(), kRequirePeer, nullptr);
        QMSEC_TRACE(
            kSslArea.operation, kLevelOperation,
            "SslSocketDefaultConfigImpl: (override) set SSL to Client Certificate required");
    }
    if (!policy::ApplyEncryptionLevel(ssl.get(), level, kOverrideLevelTexts, 0))
        policy::ThrowOpenSslFailure();
    return ssl;
}

}  // namespace QmSecSsl
