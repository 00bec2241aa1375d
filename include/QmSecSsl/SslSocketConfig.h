// How one SslSocket deviates from the process-wide default configuration.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Object.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/Configuration_t.h"

namespace QmSecSsl {

class SslSocketConfigImpl;
class SslSocketDefaultConfig;

// The own certificate and private key files of a socket, its encryption level and whether the
// peer must present a certificate; what is not set (empty, 0) comes from the default
// configuration (GetDefaultConfig), which makes every socket's TLS session. Copies share one
// body. Every member but the constructors, IsNull and GetDefaultConfig throws
// IllegalStateError_t ("SslSocketConfig") on a handle without a body. File names are PEM files;
// a name may end in a zero byte.
class QMSEC_API SslSocketConfig : public QmSecCore::Object {
  public:
    // Configuration keys and their keywords (compared without regard to case).
    static const QmXplArray::CharArray_t SSL_ENCRYPTION_LEVEL;  // "SSL_ENCRYPTION_LEVEL"
    static const QmXplArray::CharArray_t SSL_EL_NONE;           // "NONE", level 1
    static const QmXplArray::CharArray_t SSL_EL_EXPORT;         // "EXPORT", level 2
    static const QmXplArray::CharArray_t SSL_EL_FULL;           // "FULL", level 3
    static const QmXplArray::CharArray_t SSL_EL_BEST;           // "BEST", level 4
    static const QmXplArray::CharArray_t SSL_CLIENT_VERIFICATION_MODE;
    static const QmXplArray::CharArray_t SSL_CVM_ANONYMOUS;           // "ANONYMOUS", mode 1
    static const QmXplArray::CharArray_t SSL_CVM_REQUIRECERTIFICATE;  // "REQUIRECERTIFICATE"
    static const QmXplArray::CharArray_t SSL_OWN_CERTIFICATE_FILENAME;
    static const QmXplArray::CharArray_t SSL_PRIVATE_KEY_FILENAME;

    // 0 means "not set" for both.
    enum EncryptionLevel : int {
        eEncryptionNone = 1,    // integrity only (both ends must choose it)
        eEncryptionExport = 2,  // no export suites exist any more: the full list is used
        eEncryptionFull = 3,
        eEncryptionBest = 4,
    };
    enum ClientVerificationMode : int {
        eAnonymous = 1,           // the peer need not present a certificate
        eRequireCertificate = 2,  // the peer must present one that verifies
    };

    // An empty handle.
    SslSocketConfig() noexcept = default;
    // A new body with nothing set (the argument is not used).
    explicit SslSocketConfig(bool);
    // A new body, then ReadConfig(config).
    explicit SslSocketConfig(const QmXplConfig::Configuration_t& config);
    SslSocketConfig(const SslSocketConfig&) = default;
    SslSocketConfig& operator=(const SslSocketConfig&) = default;
    ~SslSocketConfig() override;

    // The body (library internal).
    SslSocketConfigImpl* operator->() const;

    // Setters return 0; failures (of the default configuration) are exceptions.
    virtual int SetOwnCertificateFilename(const QmXplArray::CharArray_t& fileName);
    QmXplArray::CharArray_t GetOwnCertificateFilename() const;
    virtual int SetPrivateKeyFilename(const QmXplArray::CharArray_t& fileName);
    QmXplArray::CharArray_t GetPrivateKeyFilename() const;
    virtual int SetEncryptionLevel(EncryptionLevel level);
    EncryptionLevel GetEncryptionLevel() const;
    virtual int SetClientVerificationMode(ClientVerificationMode mode);
    ClientVerificationMode GetClientVerificationMode() const;
    // Sets what config names: SSL_OWN_CERTIFICATE_FILENAME, SSL_ENCRYPTION_LEVEL,
    // SSL_CLIENT_VERIFICATION_MODE, SSL_PRIVATE_KEY_FILENAME in this order. Absent or empty keys
    // leave their setting; an unknown keyword is traced and ignored.
    virtual int ReadConfig(const QmXplConfig::Configuration_t& config);

    // The process-wide default, made on first use (safe from several threads at once) and kept
    // for the life of the process; its owner configures it with ReadConfig or the setters.
    static SslSocketDefaultConfig GetDefaultConfig();

  protected:
    explicit SslSocketConfig(SslSocketConfigImpl* body) noexcept;
    SslSocketConfigImpl* Impl(const char* className) const;
};

}  // namespace QmSecSsl
