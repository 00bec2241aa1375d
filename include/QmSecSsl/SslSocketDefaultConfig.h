// The process-wide configuration behind every SslSocket.
#pragma once

#include "QmSecSsl/SslSocketConfig.h"

namespace QmSecSsl {

class SslSocketDefaultConfigImpl;

// Owns the one TLS context (TLS 1.2 and 1.3) from which every SslSocket's session is made: the
// own certificate and key, the trusted CA file, the private-key password, the encryption level
// and the verification mode (peers must present a certificate until told otherwise). Each
// setter changes the context for sockets made afterwards. Get it with
// SslSocketConfig::GetDefaultConfig(). Any thread may use it; calls are serialised.
class QMSEC_API SslSocketDefaultConfig : public SslSocketConfig {
  public:
    // Configuration keys of the default only.
    static const QmXplArray::CharArray_t SSL_PRIVATE_KEY_PASSWORD;
    static const QmXplArray::CharArray_t SSL_RANDOM_FILENAME;
    static const QmXplArray::CharArray_t SSL_CA_CERTIFICATE_FILENAME;

    // An empty handle.
    SslSocketDefaultConfig() noexcept = default;
    // A new default body with its own context (the argument is not used). RuntimeException_t
    // with OpenSSL's text when OpenSSL cannot make the context.
    explicit SslSocketDefaultConfig(bool);
    SslSocketDefaultConfig(const SslSocketDefaultConfig&) = default;
    SslSocketDefaultConfig& operator=(const SslSocketDefaultConfig&) = default;
    ~SslSocketDefaultConfig() override;

    // SSL_PRIVATE_KEY_PASSWORD first (so that an encrypted key file opens), then the keys of
    // SslSocketConfig::ReadConfig, then SSL_RANDOM_FILENAME (at most 1024 bytes fed) and
    // SSL_CA_CERTIFICATE_FILENAME. Failures as for the setters.
    int ReadConfig(const QmXplConfig::Configuration_t& config) override;
    // RuntimeException_t 160 when OpenSSL refuses the certificate file.
    int SetOwnCertificateFilename(const QmXplArray::CharArray_t& fileName) override;
    // RuntimeException_t with OpenSSL's text when the key cannot be read (wrong password) or
    // does not match the certificate. Set the password first.
    int SetPrivateKeyFilename(const QmXplArray::CharArray_t& fileName) override;
    // Exception_t 161 for a mode other than 0, 1, 2.
    int SetClientVerificationMode(ClientVerificationMode mode) override;
    // Trust anchors and the CA names sent with certificate requests, replacing the earlier
    // ones. RuntimeException_t 159 when the file holds no certificate, with OpenSSL's text when
    // OpenSSL refuses it; the earlier trust then stays.
    virtual int SetCACertificateFilename(const QmXplArray::CharArray_t& fileName);
    // The password of the private-key file(s). Never traced; the earlier one is wiped.
    virtual int SetPrivateKeyPassword(const QmXplArray::CharArray_t& password);
    QmXplArray::CharArray_t GetPrivateKeyPassword() const;
    // Feeds at most maxBytes bytes of fileName to the random generator; returns how many it
    // took (0 for a missing file, whose name is still kept as the last random file).
    unsigned long FeedRandomFile(const QmXplArray::CharArray_t& fileName, unsigned long maxBytes);
    QmXplArray::CharArray_t GetLastRandomFilename() const;

    // The body (library internal).
    SslSocketDefaultConfigImpl* operator->() const;

  private:
    friend class SslSocketConfig;
    explicit SslSocketDefaultConfig(SslSocketDefaultConfigImpl* body) noexcept;
    SslSocketDefaultConfigImpl* DefaultImpl(const char* className) const;
};

}  // namespace QmSecSsl
